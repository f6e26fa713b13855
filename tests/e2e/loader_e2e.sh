#!/usr/bin/env bash
# End-to-end runs of the loader. Each flow builds a self-extracting setup from the stub, runs
# it in a folder of its own (under Wine: in a fresh Wine prefix) and checks what it left.
#   loader_e2e.sh native|wine STUB TEST_INSTALLER MAKE_SETUP WORK_DIR [FLOW...]
# Exits 77, the skip code, when Wine cannot start a 32-bit program on this machine.
set -uo pipefail
mode=$1 stub=$2 installer=$3 make_setup=$4 work=$5
shift 5
flows=("$@")
[ ${#flows[@]} -gt 0 ] ||
  flows=(good nopayload fallback cut badsum badsumfallback missing blanks norichedit)
readonly kSkip=77
failures=0

fail() { echo "FAIL [$flow]: $*"; failures=$((failures + 1)); }

# Under Wine every path the programs see is a Windows path.
to_windows() { if [ "$mode" = wine ]; then winepath -w "$1" 2>/dev/null; else echo "$1"; fi; }
to_unix() { if [ "$mode" = wine ]; then winepath -u "$1" 2>/dev/null; else echo "$1"; fi; }

fresh_prefix() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  timeout 300 wineboot -i >/dev/null 2>&1
}

probe_wine() {
  if [ ! -f "$stub" ] || [ ! -f "$installer" ]; then
    echo "SKIP: $stub or $installer has not been built (cmake --preset win32)"; exit $kSkip
  fi
  if ! command -v wine >/dev/null; then
    echo "SKIP: wine is not installed"; exit $kSkip
  fi
  local probe="$work/wine/probe"
  rm -rf "$probe"; mkdir -p "$probe"
  fresh_prefix "$probe/prefix"
  VOINSTALL_RECORD="$(to_windows "$probe/record")" timeout 120 wine "$installer" >/dev/null 2>&1
  if [ ! -f "$probe/record" ]; then
    echo "SKIP: wine cannot start a 32-bit Windows program on this machine"; exit $kSkip
  fi
}

# Makes the folders of one flow: dir, win (Windows folder), tmp (temp folder), setup.
start_flow() {
  flow=$1
  dir="$work/$mode/$flow"
  rm -rf "$dir"; mkdir -p "$dir"
  if [ "$mode" = wine ]; then
    fresh_prefix "$dir/prefix"
    win="$WINEPREFIX/drive_c/windows"
    tmp=""  # the prefix's own; found from the record or by a search
  else
    win="$dir/windows"; tmp="$dir/temp"
    mkdir -p "$win/system32" "$tmp"
    : >"$win/system32/RichEd32.dll"
  fi
  setup="$dir/$( [ "$mode" = wine ] && echo Setup.exe || echo setup )"
}

# make_setup KIND: the setup of this flow, and its archive in $dir/archive.
make_setup() {
  "$make_setup" "$stub" "$setup" "$dir/archive" "$1" "$installer" || fail "cannot build the setup"
  chmod +x "$setup"
}

# run_setup [EXIT_CODE_OF_THE_INSTALLER]: runs the setup with some arguments it must ignore.
run_setup() {
  local code=${1:-0}
  if [ "$mode" = wine ]; then
    DISPLAY='' VOINSTALL_RECORD="$(to_windows "$dir/record")" VOINSTALL_EXIT_CODE=$code \
      timeout 120 wine "$setup" /ignored "an argument" >"$dir/stdout" 2>"$dir/stderr"
  else
    WINDIR="$win" TMPDIR="$tmp" VO_BEEP_LOG="$dir/beeps" VOINSTALL_RECORD="$dir/record" \
      VOINSTALL_EXIT_CODE=$code timeout 120 "$setup" /ignored "an argument" \
      >"$dir/stdout" 2>"$dir/stderr"
  fi
  status=$?
}

temp_archives() {
  if [ "$mode" = wine ]; then
    find "$WINEPREFIX/drive_c" -name 'VoI*.tmp' 2>/dev/null
  else
    find "$tmp" -name 'VoI*.tmp'
  fi
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit code $status, expected $1"; }
expect_stderr() {
  [ "$mode" = wine ] || grep -qF -- "$1" "$dir/stderr" || fail "no '$1' on standard error"
}

# The installer ran with exactly the two arguments, and was given the copied archive.
expect_installer_run() {
  local record="$dir/record"
  if [ ! -f "$record" ]; then fail "the installer did not run"; return; fi
  local count source data
  count=$(sed -n 1p "$record"); source=$(sed -n 2p "$record"); data=$(sed -n 3p "$record")
  [ "$count" = 2 ] || fail "the installer got $count arguments"
  [ "$source" = "/SOURCE=$(to_windows "$setup")" ] || fail "first argument '$source'"
  case "$data" in /DATA=*) ;; *) fail "second argument '$data'" ;; esac
  data_path=$(to_unix "${data#/DATA=}")
  cmp -s "$data_path" "$dir/archive" || fail "the temporary archive does not hold the archive"
  installed="$(dirname "$data_path")/VoInstall.exe"
  [ "$1" = windows ] && installed="$win/VoInstall.exe"
  cmp -s "$installed" "$installer" || fail "$installed is not the installer"
}

expect_nothing_started() {
  [ ! -f "$dir/record" ] || fail "an installer was started"
}

# A run that failed has removed the temporary archive and any installer file it made.
expect_nothing_left() {
  local left
  left=$(temp_archives)
  [ -z "$left" ] || fail "a temporary archive was left: $left"
  if [ "$mode" = wine ]; then
    left=$(find "$WINEPREFIX/drive_c" -type f -name VoInstall.exe 2>/dev/null)
  else
    left=$(find "$win" "$tmp" -type f -name VoInstall.exe)
  fi
  [ -z "$left" ] || fail "an installer file was left: $left"
}

# What a failed flow leaves to look at: what the setup said, its beeps, and the room left on
# the disk (a full disk cuts the setups short, and a cut setup runs as one without a payload).
show_flow() {
  local file
  for file in "$dir/stderr" "$dir/stdout" "$dir/beeps"; do
    [ -s "$file" ] && { echo "--- $file:"; head -c 2000 "$file"; echo; }
  done
  if [ -f "$setup" ]; then
    local at
    at=$(grep -obUaF 'VoI_SIZE' "$setup" | head -1 | cut -d: -f1)
    echo "--- $setup: $(stat -c %s "$setup") bytes, stamp at ${at:-none}:" \
      "$( [ -n "$at" ] && od -An -tx1 -j $((at + 8)) -N 4 "$setup")"
  fi
  echo "--- free space: $(df -Ph "$dir" | awk 'NR == 2 { print $4 " of " $2 }')"
  echo "--- user $(id -u), ASAN_OPTIONS='${ASAN_OPTIONS:-}', LD_PRELOAD='${LD_PRELOAD:-}'"
}

run_flow() {
  local failed_before=$failures
  start_flow "$1"
  case "$flow" in
    good)
      make_setup good; run_setup 5
      expect_status 0; expect_installer_run windows ;;
    nopayload)
      cp "$stub" "$setup"; chmod +x "$setup"; run_setup
      expect_status 0; expect_nothing_started
      [ -z "$(temp_archives)" ] || fail "a temporary file was made"
      [ ! -e "$win/VoInstall.exe" ] || fail "an installer file was made"
      [ "$mode" = wine ] || [ "$(cat "$dir/beeps" 2>/dev/null)" = "MessageBeep 0" ] ||
        fail "no single default beep" ;;
    fallback)
      mkdir -p "$win/VoInstall.exe"  # a folder in the way: the file cannot be created
      make_setup good; run_setup
      expect_status 0; expect_installer_run temp ;;
    cut)
      make_setup cut; run_setup
      expect_status 1; expect_nothing_started; expect_nothing_left
      expect_stderr "Application Error: Exception EReadError in module" ;;
    badsum)
      make_setup badsum; run_setup
      expect_status 1; expect_nothing_started; expect_nothing_left
      expect_stderr "Exception EBadChecksum" ;;
    badsumfallback)
      mkdir -p "$win/VoInstall.exe"  # the installer goes beside the temporary archive
      make_setup badsum; run_setup
      expect_status 1; expect_nothing_started; expect_nothing_left
      expect_stderr "Exception EBadChecksum" ;;
    missing)
      make_setup missing; run_setup
      expect_status 1; expect_nothing_started; expect_nothing_left
      expect_stderr "Archive entry not found: Installer\\VoInstall.exe." ;;
    blanks)
      mkdir -p "$dir/a folder"; setup="$dir/a folder/Set up.exe"
      if [ "$mode" = native ]; then tmp="$dir/temp dir"; mkdir -p "$tmp"; fi
      make_setup good; run_setup
      expect_status 0; expect_installer_run windows ;;
    norichedit)
      [ "$mode" = native ] || return 0  # Wine brings the library with it
      rm "$win/system32/RichEd32.dll"; make_setup good; run_setup
      expect_status 1; expect_nothing_started
      expect_stderr "Error: The DLL 'RichEd32.dll' cannot be located on this system."
      [ -z "$(temp_archives)" ] || fail "a temporary file was made" ;;
    *) fail "unknown flow" ;;
  esac
  [ "$failures" -eq "$failed_before" ] || show_flow
  echo "flow $flow: done"
}

[ "$mode" = wine ] && probe_wine
for f in "${flows[@]}"; do run_flow "$f"; done
if [ $failures -gt 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "every flow passed ($mode)"
