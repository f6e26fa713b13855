#!/usr/bin/env bash
# Installs and sets up what the build and the tests need, only what is missing. Safe to run
# again: with everything in place it only checks and returns.
#
# Needed to build: the compilers and libraries. Without root, a missing one stops the script
# with the command to run. Wanted by the tests: the peers and Wine, with qemu-i386 standing in
# for a kernel that cannot run 32-bit programs. Without them the tests that need them skip,
# saying why; the script says so too and goes on.
set -euo pipefail
source "$(dirname "$0")/wine.sh"

needed=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
        libcli11-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 gzip help2man dpkg-dev)
wanted=(lhasa jlha-utils osslsigncode openssl wine wine64 wine32:i386)
# A package can be listed as installed while a file it needs is gone: reinstall it then.
files=(i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix
       x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
       i686-w64-mingw32-ar:binutils-mingw-w64-i686 lhasa:lhasa jlha:jlha-utils)

is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
can_install() { [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; }
say() { echo "install-deps: $*"; }

missing_of() {
  local p
  for p in "$@"; do is_installed "$p" || echo "$p"; done
}

# The qemu-user that binfmt_misc needs: one of the machine's suites if new enough, else the
# release's backports, from the mirror the machine already uses.
qemu_installed() {
  local version
  version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null) || return 1
  is_installed qemu-user && dpkg --compare-versions "$version" ge "1:$VO_QEMU_MIN_VERSION"
}

add_backports() {
  local codename mirror list=/etc/apt/sources.list.d/voinstall-backports.sources
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  mirror=$(grep -rhoE 'https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d 2>/dev/null |
           grep -v security | head -1 | tr -d ' ')
  mirror=${mirror:-http://deb.debian.org/debian}
  if [ ! -f "$list" ]; then
    say "adding $codename-backports from $mirror to apt's sources" >&2
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: %s\n' \
      "$mirror" "$codename" /usr/share/keyrings/debian-archive-keyring.gpg >"$list"
  fi
  echo "$codename-backports"
}

# 32-bit programs: natively where the kernel runs them, else through qemu-i386 registered with
# binfmt_misc. The registration lasts until the machine restarts.
register_qemu() {
  local binfmt=$VO_BINFMT conf=/usr/share/qemu/binfmt.d/qemu-i386.conf
  [ -z "$(vo_wine_reason 32)" ] && return 0
  [ -x /usr/libexec/qemu-binfmt/i386-binfmt-P ] && [ -f "$conf" ] || return 0
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 0
  fi
  # An older interpreter registered under the same name is replaced.
  [ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
  # The interpreter's *-binfmt-P name keeps argv[0]; the flags are the package's own (POF).
  cat "$conf" >"$binfmt/register"
  say "registered qemu-i386 with binfmt_misc for 32-bit programs"
}

apt_update() {
  # A mirror's release files may be older than their validity date.
  apt-get update -qq -o Acquire::Check-Valid-Until=false
}

mapfile -t missing_needed < <(missing_of "${needed[@]}")
mapfile -t missing_wanted < <(missing_of "${wanted[@]}")
reinstall=()
for pair in "${files[@]}"; do
  command -v "${pair%%:*}" >/dev/null 2>&1 || reinstall+=("${pair#*:}")
done
qemu_missing=0
qemu_installed || qemu_missing=1
# qemu-user is wanted only where the kernel cannot run 32-bit programs itself.
if [ $qemu_missing -eq 1 ] && [ -x "$VO_WINE32" ] && "$VO_WINE32" --version >/dev/null 2>&1 &&
   [ -z "$(vo_qemu_version)" ]; then
  qemu_missing=0
fi

if [ ${#missing_needed[@]} -gt 0 ] || [ ${#missing_wanted[@]} -gt 0 ] ||
   [ ${#reinstall[@]} -gt 0 ] || [ $qemu_missing -eq 1 ]; then
  listed=("${missing_needed[@]}" "${missing_wanted[@]}" "${reinstall[@]}")
  [ $qemu_missing -eq 0 ] || listed+=("qemu-user (>= $VO_QEMU_MIN_VERSION)")
  say "missing: ${listed[*]}"
  if ! can_install; then
    if [ ${#missing_needed[@]} -gt 0 ] || [ ${#reinstall[@]} -gt 0 ]; then
      echo "install-deps: the build cannot go on without them, and installing needs root and" \
           "apt-get; run as root:" >&2
      echo "  apt-get update && apt-get install -y ${missing_needed[*]} ${reinstall[*]}" >&2
      exit 1
    fi
    say "not root: the tests that need what is missing will skip, saying why"
  else
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
    apt_update
    install=("${missing_needed[@]}" "${missing_wanted[@]}")
    [ ${#install[@]} -eq 0 ] ||
      apt-get install -y -qq --no-install-recommends "${install[@]}" >/dev/null
    [ ${#reinstall[@]} -eq 0 ] || apt-get install -y -qq --reinstall "${reinstall[@]}" >/dev/null
    if [ $qemu_missing -eq 1 ]; then
      if ! dpkg --compare-versions "$(apt-cache policy qemu-user | sed -n 's/ *Candidate: //p')" \
             ge "1:$VO_QEMU_MIN_VERSION"; then
        suite=$(add_backports) && apt_update
        apt-get install -y -qq --no-install-recommends -t "$suite" qemu-user >/dev/null
      else
        apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
      fi
    fi
    say "installed what was missing"
  fi
fi

if [ -n "$(vo_wine_reason 32)" ] && can_install; then register_qemu; fi
for bits in 32 64; do
  reason=$(vo_wine_reason $bits)
  if [ -n "$reason" ]; then
    say "the Wine tests of the $bits-bit Setup.exe will skip: $reason"
  fi
done
say "everything the build needs is installed"
