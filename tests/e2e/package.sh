#!/usr/bin/env bash
# The tool as people install it: the Debian package unpacked into a scratch root, and
# `cmake --install` into a prefix that is then moved. From each, voarc builds setups on the
# stubs it finds itself, and they run natively and under Wine.
#   package.sh BUILD_DIR E2E_WORK_DIR POSIX_INSTALLER WIN32_INSTALLER WIN64_INSTALLER MAKE_SETUP
set -uo pipefail
build=$1 e2e_work=$2 posix_installer=$3 win32_installer=$4 win64_installer=$5 make_setup=$6
here=$(cd "$(dirname "$0")" && pwd)
e2e_work=$(cd "$e2e_work" && pwd)
work="$e2e_work/package"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work/wine"
# The Wine flows below copy the prefix that this run made for the loader's flows.
ln -s "$e2e_work/wine/template" "$work/wine/template"

# Runs the `installed` flow of the loader's tests with the voarc and stubs under ROOT.
check_root() {
  local root=$1 mode stub installer code
  for mode in native wine32 wine64; do
    case $mode in
      native) stub="$root/share/voinstall/posix/setup" installer=$posix_installer ;;
      wine32) stub="$root/share/voinstall/win32/Setup.exe" installer=$win32_installer ;;
      wine64) stub="$root/share/voinstall/win64/Setup.exe" installer=$win64_installer ;;
    esac
    "$here/loader_e2e.sh" "$mode" "$stub" "$installer" "$make_setup" "$root/bin/voarc" \
      "$work" installed
    code=$?
    [ $code -eq 0 ] || [ $code -eq 77 ] || fail "the $mode setup built from $root"
  done
}

echo "== the Debian package"
cpack -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack made no package"; exit 1; }
deb=$(ls "$work"/deb/voinstall_*.deb)
dpkg-deb -I "$deb" | sed -n 's/^ \(Package\|Version\|Depends\|Installed-Size\):/  \1:/p'
echo "  $(stat -c %s "$deb") bytes:"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print "   ", $3, $6 }'
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb cannot unpack $deb"
root="$work/root/usr"
"$root/bin/voarc" --version | grep -q '^voarc (VoInstall) [0-9]' || fail "voarc --version"
# The man page names every command that `voarc --help` lists.
page=$(cat "$root/share/man/man1/voarc.1" 2>/dev/null)
[ -n "$page" ] || fail "no man page"
for command in $("$root/bin/voarc" --help | sed -n '/^Subcommands:/,$ s/^  \([a-z]*\) .*/\1/p'); do
  grep -q "voarc $command" <<<"$page" || fail "the man page does not name the command $command"
done
check_root "$root"

echo "== cmake --install into a prefix that is then moved"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
mv "$work/prefix" "$work/moved"
check_root "$work/moved"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "the package and the moved prefix work"
