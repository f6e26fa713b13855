#!/usr/bin/env bash
# The built Setup.exe, checked as a file: a Windows GUI program for the expected processor,
# holding the payload marker once, importing from system DLLs only, within its size budget.
#   pe_image.sh 32|64 FILE   (exits 77, the skip code, when FILE has not been built)
set -uo pipefail
bits=$1 file=$2
readonly kSystemDlls='kernel32.dll user32.dll shell32.dll msvcrt.dll'
readonly kBudget=163840  # 160 KB
if [ ! -f "$file" ]; then echo "SKIP: $file has not been built (cmake --preset win$bits)"; exit 77; fi
case $bits in
  32) triple=i686-w64-mingw32 format=pei-i386 magic=PE32 ;;
  64) triple=x86_64-w64-mingw32 format=pei-x86-64 magic=PE32+ ;;
  *) echo "FAIL: unknown width $bits"; exit 1 ;;
esac
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$("$triple-objdump" -p "$file" 2>&1) || { echo "FAIL: $triple-objdump cannot read $file"; exit 1; }
grep -q "file format $format\$" <<<"$headers" || fail "not $format: $(head -2 <<<"$headers")"
grep '^Magic' <<<"$headers" | grep -qF "($magic)" || fail "not $magic"
grep -qE '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "not a Windows GUI program"
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || fail "no imports found"
for dll in $dlls; do
  grep -qw -- "$dll" <<<"$kSystemDlls" || fail "imports $dll, which is not a system DLL"
done
"$(dirname "$0")/marker_once.sh" "$file" || failures=$((failures + 1))
size=$(stat -c %s "$file")
[ "$size" -le $kBudget ] || fail "$size bytes, over the budget of $kBudget"
[ $failures -eq 0 ] || exit 1
echo "$file: $magic for $format, Windows GUI, $size bytes, imports: $(echo $dlls)"
