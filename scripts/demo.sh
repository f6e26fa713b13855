#!/usr/bin/env bash
# Shows a self-extracting installer at work: packs the sample installer into a setup, runs it
# natively (and under Wine when Wine can run 32-bit programs here) and tells what happened.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
native="$top/build/default"
win32="$top/build/win32/loader"
demo="$top/build/demo"
make_setup="$native/tests/e2e/vo_make_setup"
installer="$native/loader/voinstall-test"
stub="$native/loader/setup"

for f in "$make_setup" "$installer" "$stub"; do
  [ -x "$f" ] || { echo "demo: $f is missing; run 'make demo' from the top folder"; exit 1; }
done
rm -rf "$demo"
mkdir -p "$demo/windows/system32" "$demo/temp"
: >"$demo/windows/system32/RichEd32.dll"

size() { stat -c %s "$1"; }

echo
echo "== The self-extracting setup, run natively =="
"$make_setup" "$stub" "$demo/setup" "$demo/archive" good "$installer" || exit 1
chmod +x "$demo/setup"
echo "1. The archive writer packed the sample installer ($(size "$installer") bytes) into an" \
     "archive ($(size "$demo/archive") bytes)."
echo "2. The archive was attached to the loader stub ($(size "$stub") bytes), giving the"
echo "   self-extracting program $demo/setup ($(size "$demo/setup") bytes)."
echo "3. Running it, with $demo/windows standing in for the Windows folder..."
WINDIR="$demo/windows" TMPDIR="$demo/temp" VOINSTALL_RECORD="$demo/installer-saw" \
  VOINSTALL_EXIT_CODE=0 "$demo/setup"
status=$?
if [ -f "$demo/installer-saw" ]; then
  source=$(sed -n 2p "$demo/installer-saw"); data=$(sed -n 3p "$demo/installer-saw")
  echo "   - it found the archive inside its own file and copied it to ${data#/DATA=}"
  if cmp -s "${data#/DATA=}" "$demo/archive"; then
    echo "     (the copy is byte for byte the archive that was packed);"
  fi
  echo "   - it expanded the installer into $demo/windows/VoInstall.exe;"
  echo "   - it started the installer, which was told:"
  echo "       where the setup is:      ${source#/SOURCE=}"
  echo "       where its archive is:    ${data#/DATA=}"
  echo "   - it waited for the installer to finish, then ended with exit code $status."
  echo "   Both files stay on disk for the installer to use: after a good run the setup deletes nothing."
else
  echo "   - the installer did not run (exit code $status); see the messages above."
fi

echo
echo "== The Windows Setup.exe =="
if [ ! -f "$win32/Setup.exe" ]; then
  echo "Setup.exe has not been built (cmake --preset win32 && cmake --build --preset win32)."
  exit 0
fi
echo "Setup.exe is a 32-bit Windows program of $(size "$win32/Setup.exe") bytes, with no console window."
"$make_setup" "$win32/Setup.exe" "$demo/Setup.exe" "$demo/archive-win" good "$win32/VoInstall.exe" || exit 1
echo "A self-extracting $demo/Setup.exe ($(size "$demo/Setup.exe") bytes) was packed the same way."
source "$top/scripts/wine.sh"
reason=$(vo_wine_reason 32)
if [ -n "$reason" ]; then
  echo "It is not run here: $reason."
  exit 0
fi
if [ -n "$(vo_qemu_version)" ]; then
  how="Wine, whose 32-bit programs run through qemu-i386 $(vo_qemu_version) on this machine"
else
  how="Wine"
fi
echo "Running it under $how (making a Wine prefix first, about half a minute)..."
if ! vo_wine_make_prefix "$demo/wineprefix"; then
  echo "   Wine could not make a prefix in $demo/wineprefix."
  exit 1
fi
DISPLAY='' VOINSTALL_RECORD="$(vo_winepath -w "$demo/wine-installer-saw")" timeout 120 \
  "$VO_WINE64" "$demo/Setup.exe"
status=$?
vo_wine_stop
if [ -f "$demo/wine-installer-saw" ]; then
  echo "   It found its payload, expanded the installer into C:\\windows\\VoInstall.exe of the"
  echo "   prefix and started it, which was told:"
  sed -n '2,3p' "$demo/wine-installer-saw" | tr -d '\r' | sed 's/^/       /'
  echo "   and ended with exit code $status."
else
  echo "   The installer did not run (exit code $status)."
  exit 1
fi
