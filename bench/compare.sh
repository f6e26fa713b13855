#!/usr/bin/env bash
# Times voarc against the peers on the same data, side by side in one run, and prints each ratio
# of median times (ours / peer) with its target. Run from the source tree after building the
# default preset:  bench/compare.sh [RUNS]
# VO_EXE_CORPUS and VO_TEXT_CORPUS override the corpus files.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
voarc=${VOARC:-$here/build/default/tools/voarc/voarc}
runs=${1:-7}
[ -x "$voarc" ] || { echo "compare: build voarc first ($voarc)" >&2; exit 1; }
for tool in lhasa gzip python3; do
  command -v "$tool" >/dev/null || { echo "compare: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)

# Two CPU-bound processes beside the runs, as when other programs keep the machine busy. Each
# stays on a processor of its own (the first two), so that the runs always share theirs with
# exactly one of them instead of with none or both as the scheduler moves them about.
busy=()
start_busy() {
  for cpu in 0 1; do
    if command -v taskset >/dev/null; then
      taskset -c "$cpu" bash -c 'while :; do :; done' &
    else
      (while :; do :; done) &
    fi
    busy+=($!)
  done
}
stop_busy() {
  if [ ${#busy[@]} -gt 0 ]; then
    kill "${busy[@]}" 2>/dev/null || true
    wait "${busy[@]}" 2>/dev/null || true
  fi
  busy=()
}
trap 'stop_busy; rm -rf "$work"' EXIT

exe=${VO_EXE_CORPUS:-/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll}
[ -f "$exe" ] || { echo "compare: no executable corpus at $exe (install wine32)" >&2; exit 1; }
text=${VO_TEXT_CORPUS:-}
if [ -z "$text" ]; then
  # The package copyright notices, in a fixed order: plain English text, on every Debian machine.
  text=$work/copyright.txt
  (set +o pipefail
   find /usr/share/doc -name copyright -type f | LC_ALL=C sort | xargs cat 2>/dev/null |
     head -c 1048576 >"$text")
  text_origin="the first 1 MB of /usr/share/doc/*/copyright, in sorted order"
else
  text_origin=$text
fi
[ "$(stat -c %s "$text")" -ge 409600 ] || { echo "compare: text corpus under 400 KB" >&2; exit 1; }

echo "executable corpus: $exe ($(stat -c %s "$exe") bytes)"
echo "text corpus:       $text_origin ($(stat -c %s "$text") bytes)"
echo "peers:             $(dpkg-query -W -f='lhasa ${Version}' lhasa 2>/dev/null || echo lhasa)," \
  "$(gzip --version | head -1)"
pin=()
cpu=${VO_BENCH_CPU:-$(taskset -pc $$ 2>/dev/null | sed 's/.*: //; s/[,-].*//')}
if command -v taskset >/dev/null && [ -n "$cpu" ]; then
  pin=(taskset -c "$cpu")
  placement="single-threaded runs on processor $cpu"
else
  placement="runs not pinned (no taskset)"
fi
echo "median of $runs runs each, ours and the peer's alternating; $(nproc) processors;" \
  "$placement"
echo

# Wraps a raw stream in a level-0 archive of one member, which lhasa reads.
wrap_lha() {  # method raw_stream plain_file archive
  python3 - "$@" <<'EOF'
import struct, sys
method, raw, plain, out = sys.argv[1:5]
packed = open(raw, 'rb').read()
data = open(plain, 'rb').read()
table = []
for i in range(256):
    c = i
    for _ in range(8):
        c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    table.append(c)
crc = 0
for b in data:
    crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8)
name = b'member'
body = (method.encode() + struct.pack('<IIIBBB', len(packed), len(data), 0x00210000, 0x20, 0,
                                      len(name)) + name + struct.pack('<H', crc))
header = bytes([len(body), sum(body) & 0xFF]) + body
open(out, 'wb').write(header + packed + b'\0')
EOF
}

# Wall time and processor time (user + system), in seconds, of one run of a command.
run_once() {
  local start end
  start=$EPOCHREALTIME
  /usr/bin/time -f '%U %S' -o "$work/cpu" "$@" || { echo "compare: failed: $*" >&2; return 1; }
  end=$EPOCHREALTIME
  echo "$(echo "$end - $start" | bc -l) $(awk '{print $1 + $2}' "$work/cpu")"
}

# Median wall time and median processor time of the "wall cpu" pairs given.
medians() {
  local mid='{a[NR]=$1} END {print a[int((NR+1)/2)]}'
  echo "$(printf '%s\n' "$@" | awk '{print $1}' | sort -g | awk "$mid")" \
    "$(printf '%s\n' "$@" | awk '{print $2}' | sort -g | awk "$mid")"
}

# Processors of one machine may differ in speed, and their speed may drift while the script
# runs (a virtual machine's often do). So the two commands of a row run alternately, $runs
# times each, and single-threaded runs all go to one processor. The targets are on wall time;
# processor time shows the codec's own cost when other work shares the machine.
# Usage: side_by_side LABEL TARGET PIN OURS PEER, with OURS and PEER shell commands and PIN
# "pin" or "free".
side_by_side() {
  local ours=() peer=() prefix=()
  [ "$3" = pin ] && prefix=("${pin[@]}")
  for ((i = 0; i < runs; i++)); do
    ours+=("$(run_once "${prefix[@]}" sh -c "$4")")
    peer+=("$(run_once "${prefix[@]}" sh -c "$5")")
  done
  row "$1" "$2" "$(medians "${ours[@]}")" "$(medians "${peer[@]}")"
}

row() {  # label target "ours_wall ours_cpu" "peer_wall peer_cpu"
  awk -v l="$1" -v t="$2" -v o="$3" -v p="$4" 'BEGIN {
    split(o, a, " "); split(p, b, " "); r = a[1] / b[1]
    cpu = b[2] > 0 ? sprintf("%.3f", a[2] / b[2]) : "n/a"
    verdict = t == "-" ? "(none)" : sprintf("%.2f %-6s", t, (r <= t ? "met" : "MISSED"))
    printf "%-50s %7.3f s %7.3f s  ratio %.3f  target %-11s  cpu ratio %s\n",
           l, a[1], b[1], r, verdict, cpu
    printf "%.6f\n", r > "/dev/stderr" }' 2>"$work/ratio"
}


printf '%-50s %9s %9s\n' "what (median wall time)" "voarc" "peer"
for corpus in "$exe" "$text"; do
  size=$(stat -c %s "$corpus")
  tag=$([ "$corpus" = "$exe" ] && echo exe || echo text)
  "$voarc" raw compress -m lh5 <"$corpus" >"$work/$tag.lh5"
  "$voarc" raw compress -m lzh <"$corpus" >"$work/$tag.lzh"
  gzip -6 -c "$corpus" >"$work/$tag.gz"
  wrap_lha -lh5- "$work/$tag.lh5" "$corpus" "$work/$tag-lh5.lzh"
  wrap_lha -lh1- "$work/$tag.lzh" "$corpus" "$work/$tag-lh1.lzh"
  # Each peer must read our stream back to the same bytes, or its time means nothing.
  lhasa p "$work/$tag-lh5.lzh" 2>/dev/null | tail -c "$size" | cmp -s - "$corpus" ||
    { echo "compare: lhasa reads our -lh5- member of $tag differently" >&2; exit 1; }
  lhasa p "$work/$tag-lh1.lzh" 2>/dev/null | tail -c "$size" | cmp -s - "$corpus" ||
    { echo "compare: lhasa reads our -lh1- member of $tag differently" >&2; exit 1; }
  # The files just written go to disk now, not in the middle of the first timed runs.
  sync

  lh5x="'$voarc' raw expand -m lh5 -n $size <'$work/$tag.lh5' >'$work/out'"
  lhasa5="lhasa p '$work/$tag-lh5.lzh' >'$work/out' 2>/dev/null"
  gunzip="gzip -dc '$work/$tag.gz' >'$work/out'"
  lzhx="'$voarc' raw expand -m lzh -n $size <'$work/$tag.lzh' >'$work/out'"
  lhasa1="lhasa p '$work/$tag-lh1.lzh' >'$work/out' 2>/dev/null"
  lh5c="'$voarc' raw compress -m lh5 <'$corpus' >'$work/out'"
  lzhc="'$voarc' raw compress -m lzh <'$corpus' >'$work/out'"
  lh5c1="'$voarc' raw compress -j 1 -m lh5 <'$corpus' >'$work/out'"
  lzhc1="'$voarc' raw compress -j 1 -m lzh <'$corpus' >'$work/out'"
  gz6="gzip -6 -c '$corpus' >'$work/out'"

  # The targets are set on the executable; the text rows are shown for comparison only.
  target() { [ "$tag" = exe ] && echo "$1" || echo -; }
  side_by_side "$tag: LH5 expansion vs lhasa p (-lh5-)" "$(target 0.2)" pin "$lh5x" "$lhasa5"
  quiet=$(cat "$work/ratio")
  # The same row with the machine busy: the ratio may grow to 1.3 times its quiet value.
  start_busy
  side_by_side "$tag: LH5 expansion vs lhasa p, 2 busy processes" \
    "$(target "$(echo "1.3 * $quiet" | bc -l | sed 's/^\./0./')")" pin "$lh5x" "$lhasa5"
  stop_busy
  side_by_side "$tag: LH5 expansion vs gzip -dc" "$(target 0.5)" pin "$lh5x" "$gunzip"
  side_by_side "$tag: LZH expansion vs lhasa p (-lh1-)" "$(target 0.35)" pin "$lzhx" "$lhasa1"
  # A compression runs on every processor (-j defaults to their number), so these rows are not
  # pinned; the -j 1 rows, pinned, show what one thread does.
  side_by_side "$tag: LH5 compression vs gzip -6" "$(target 0.6)" free "$lh5c" "$gz6"
  side_by_side "$tag: LZH compression vs gzip -6" "$(target 1.0)" free "$lzhc" "$gz6"
  side_by_side "$tag: LH5 compression -j 1 vs gzip -6" - pin "$lh5c1" "$gz6"
  side_by_side "$tag: LZH compression -j 1 vs gzip -6" - pin "$lzhc1" "$gz6"
done

# Eight 2 MB files cut from the executable, archived on two threads and on one.
mkdir "$work/files"
for i in 0 1 2 3 4 5 6 7; do
  dd if="$exe" of="$work/files/part$i.bin" bs=1M skip=$((i * 1400000)) count=2097152 \
    iflag=skip_bytes,count_bytes status=none
done
cd "$work"
side_by_side "voarc create -j 2 vs -j 1, 8 files of 2 MB" 0.6 free \
  "'$voarc' create -j 2 j.arc files >/dev/null && rm j.arc" \
  "'$voarc' create -j 1 j.arc files >/dev/null && rm j.arc"

# Peak memory of a test and of a create of one 200 MB entry: copies of the executable, each
# with its number in front so that no two are alike.
big="$work/big.bin"
copies=$(( (200 * 1024 * 1024 + $(stat -c %s "$exe") - 1) / $(stat -c %s "$exe") ))
for ((i = 0; i < copies; i++)); do printf 'copy %08d\n' "$i"; cat "$exe"; done >"$big"
truncate -s $((200 * 1024 * 1024)) "$big"
peak_kb() {  # command...: its peak resident memory in KB
  /usr/bin/time -f '%M' -o "$work/peak" "$@" >/dev/null || { echo "compare: failed: $*" >&2; exit 1; }
  cat "$work/peak"
}
memory_row() {  # label target_mb kb
  awk -v l="$1" -v t="$2" -v k="$3" 'BEGIN {
    mb = k / 1024
    verdict = t == "-" ? "(none)" : sprintf("%.0f MB %s", t, (mb <= t ? "met" : "MISSED"))
    printf "%-50s %7.2f MB peak  target %s\n", l, mb, verdict }'
}
# A compression on N threads may hold up to N times 8 MB.
jobs=$(nproc)
create_kb=$(peak_kb "$voarc" create -j "$jobs" big.arc big.bin)
test_kb=$(peak_kb "$voarc" test big.arc)
memory_row "voarc create -j $jobs of one 200 MB entry (LH5)" $((jobs * 8)) "$create_kb"
memory_row "voarc test of one 200 MB entry (LH5)" 8 "$test_kb"
for method in lh5 lzh; do
  memory_row "voarc raw compress -j $jobs -m $method of 200 MB" $((jobs * 8)) \
    "$(peak_kb sh -c "'$voarc' raw compress -j $jobs -m $method <big.bin")"
done
# Entries just under the size that may wait in memory, of noise, which is stored whole: the
# most an archive on several threads can hold in memory.
mkdir noise
for i in 0 1 2 3 4 5 6 7; do head -c 8000000 /dev/urandom >"noise/n$i.bin"; done
memory_row "voarc create -j $jobs of 8 entries of 8 MB of noise" $((jobs * 8)) \
  "$(peak_kb "$voarc" create -j "$jobs" noise.arc noise)"
rm -r noise noise.arc
rm big.arc

# Peak memory of a setup built around a 300 MB installer: the stub, the block and the archive
# stream into the setup, and its test reads the archive back a chunk at a time. The POSIX stub
# of this build stands in for Setup.exe: the tool does the same work for either.
more=$(( (300 * 1024 * 1024 + $(stat -c %s "$exe") - 1) / $(stat -c %s "$exe") ))
for ((i = copies; i < more; i++)); do printf 'copy %08d\n' "$i"; cat "$exe"; done >>"$big"
truncate -s $((300 * 1024 * 1024)) "$big"
sfx_kb=$(peak_kb "$voarc" sfx --stub posix -o setup.bin --installer big.bin)
memory_row "voarc sfx --installer of a 300 MB installer" 64 "$sfx_kb"
