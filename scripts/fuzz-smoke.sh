#!/usr/bin/env bash
# Runs every built fuzz target for a short time on its committed seeds. New inputs go to a
# scratch folder, so the committed corpus stays small.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/fuzz/fuzz"
seconds="${FUZZ_SECONDS:-15}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "$bin"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$scratch/$name"
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 \
      -artifact_prefix="$scratch/" "$scratch/$name" "$top/fuzz/corpus/$name" \
      >"$scratch/$name.log" 2>&1; then
    echo "fuzz: $name FAILED"; tail -n 40 "$scratch/$name.log"; status=1
  fi
done
exit $status
