# Wine as the tests and the demo use it; sourced, not run.
#
# One kind of prefix serves both builds of Setup.exe: a 64-bit prefix made and served by the
# wine64 loader, so that wineserver, services and explorer run natively. A 32-bit program in it
# is handed to the 32-bit loader, an i386 program; where the kernel cannot run those, binfmt_misc
# gives them to qemu-i386 (scripts/install-deps.sh registers it).

VO_WINE64=/usr/lib/wine/wine64
VO_WINE32=/usr/lib/wine/wine
VO_WINESERVER=/usr/lib/wine/wineserver64
VO_BINFMT=/proc/sys/fs/binfmt_misc
# qemu-user before 10 ignores MAP_FIXED_NOREPLACE, and Wine's reservation of its address space
# then loops for many minutes in every 32-bit process.
VO_QEMU_MIN_VERSION=10

# The version of the qemu-i386 that binfmt_misc starts, or nothing.
vo_qemu_version() {
  local interpreter
  interpreter=$(sed -n 's/^interpreter //p' "$VO_BINFMT/qemu-i386" 2>/dev/null)
  # Under its *-binfmt-P name qemu refuses to run from a command line.
  interpreter=$(readlink -f "$interpreter" 2>/dev/null)
  [ -n "$interpreter" ] && [ -x "$interpreter" ] || return 0
  "$interpreter" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9][0-9.]*\).*/\1/p'
}

# Prints why Wine cannot run BITS-bit (32 or 64) Windows programs here, or nothing when it can.
vo_wine_reason() {
  local bits=$1
  if [ ! -x "$VO_WINE64" ]; then
    echo "the wine64 package is not installed (scripts/install-deps.sh installs it, as root)"
    return
  fi
  [ "$bits" = 64 ] && return
  if [ ! -x "$VO_WINE32" ]; then
    echo "the wine32:i386 package is not installed (scripts/install-deps.sh installs it, as root)"
    return
  fi
  local qemu
  qemu=$(vo_qemu_version)
  if [ -n "$qemu" ] && [ "${qemu%%.*}" -lt "$VO_QEMU_MIN_VERSION" ]; then
    echo "binfmt_misc runs 32-bit programs with qemu-i386 $qemu, which hangs in Wine's address" \
         "space reservation; qemu-user $VO_QEMU_MIN_VERSION or later is needed" \
         "(scripts/install-deps.sh installs it from backports, as root)"
    return
  fi
  "$VO_WINE32" --version >/dev/null 2>&1 && return
  if [ ! -e "$VO_BINFMT/status" ]; then
    echo "the kernel cannot run 32-bit x86 programs and binfmt_misc is not mounted, so" \
         "qemu-i386 cannot stand in (scripts/install-deps.sh mounts it, as root)"
  elif [ -z "$qemu" ]; then
    echo "the kernel cannot run 32-bit x86 programs and qemu-i386 is not registered with" \
         "binfmt_misc (scripts/install-deps.sh registers it, as root)"
  else
    echo "the 32-bit Wine loader does not start: $("$VO_WINE32" --version 2>&1 | head -1)"
  fi
}

# Sets the environment of every Wine call that follows to the prefix in DIR.
vo_wine_use() {
  export WINEPREFIX=$1 WINELOADER=$VO_WINE64 WINESERVER=$VO_WINESERVER WINEDEBUG=-all
  # No Mono nor Gecko: the prefix is made offline, and nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

vo_wine() { "$VO_WINE64" "$@"; }

# Waits until the prefix's wineserver and every program in it have ended.
vo_wine_stop() { "$VO_WINESERVER" -w 2>/dev/null; }

# Makes a fresh prefix in DIR (about 25 s); fails when wineboot does not finish.
vo_wine_make_prefix() {
  rm -rf "$1"
  mkdir -p "$(dirname "$1")"
  vo_wine_use "$1"
  WINEARCH=win64 timeout 300 "$VO_WINE64" wineboot -i >/dev/null 2>&1 && vo_wine_stop &&
    [ -d "$1/drive_c/windows/syswow64" ]
}

# Copies the prefix TEMPLATE to DIR. The system folders, over a gigabyte of DLLs that no run
# writes, are hard links; everything else, the registry among it, is a copy of its own.
vo_wine_copy_prefix() {
  local template=$1 dir=$2 big=(system32 syswow64 winsxs) excludes=() folder
  for folder in "${big[@]}"; do excludes+=(--exclude="./drive_c/windows/$folder"); done
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$template" && tar -cf - "${excludes[@]}" .) | (cd "$dir" && tar -xf -) || return 1
  for folder in "${big[@]}"; do
    cp -al "$template/drive_c/windows/$folder" "$dir/drive_c/windows/$folder" || return 1
  done
}

# Windows and Unix forms of a path, as the programs in the current prefix see it.
vo_winepath() { "$VO_WINE64" winepath "$@" 2>/dev/null; }
