#!/usr/bin/env bash
# The loader program only expands: neither compressor may be linked into it.
#   expand_only.sh FILE   (exits 77, the skip code, when FILE has not been built or nm is missing)
set -uo pipefail
file=$1
if [ ! -f "$file" ]; then echo "SKIP: $file has not been built"; exit 77; fi
if ! command -v nm >/dev/null; then echo "SKIP: nm is missing"; exit 77; fi
symbols=$(nm -C "$file") || { echo "FAIL: nm cannot read $file"; exit 1; }
found=$(grep -E 'vo::Compress(Lzh|Lh5)\(' <<<"$symbols")
if [ -n "$found" ]; then echo "FAIL: $file links a compressor:"; echo "$found"; exit 1; fi
# The symbols must be there to look at: a stripped program would pass whatever it holds.
if ! grep -qF 'vo::ExpandLh5(' <<<"$symbols"; then echo "FAIL: $file shows no codec symbols"; exit 1; fi
echo "$file links the expanders only"
