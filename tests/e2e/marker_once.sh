#!/usr/bin/env bash
# A loader stub holds the payload marker exactly once, followed by the unpatched "X".
#   marker_once.sh FILE   (exits 77, the skip code, when FILE has not been built)
set -uo pipefail
file=$1
if [ ! -f "$file" ]; then echo "SKIP: $file has not been built"; exit 77; fi
offsets=$(grep -obUaF 'VoI_SIZE' "$file" | cut -d: -f1)
count=$(printf '%s' "$offsets" | grep -c .)
if [ "$count" -ne 1 ]; then echo "FAIL: $file holds the marker $count times"; exit 1; fi
next=$(dd if="$file" bs=1 skip=$((offsets + 8)) count=1 status=none)
if [ "$next" != X ]; then echo "FAIL: the marker is followed by '$next', not X"; exit 1; fi
echo "$file holds the marker once, at offset $offsets, unpatched ($(stat -c %s "$file") bytes)"
