#!/usr/bin/env bash
# End-to-end runs of the loader. Each flow builds a self-extracting setup from the stub, runs
# it in a folder of its own (under Wine: in a copy of one prefix made per run) and checks what
# it left.
#   loader_e2e.sh prefix WORK_DIR
#       makes the Wine prefix that the wine flows of this run copy
#   loader_e2e.sh native|wine32|wine64 STUB TEST_INSTALLER MAKE_SETUP VOARC WORK_DIR [FLOW...]
# Exits 77, the skip code, saying why, when Wine cannot run such programs on this machine.
set -uo pipefail
source "$(dirname "$0")/../../scripts/wine.sh"
readonly kSkip=77

skip() { echo "SKIP: $*"; exit $kSkip; }

# Under Wine, message boxes and beeps are seen in the relay trace of these two calls.
readonly kRelayCalls='user32.MessageBoxA;user32.MessageBeep'

make_prefix() {
  local work=$1 reason32 reason64
  reason64=$(vo_wine_reason 64)
  [ -z "$reason64" ] || skip "$reason64"
  reason32=$(vo_wine_reason 32)
  local template="$work/wine/template"
  if ! vo_wine_make_prefix "$template"; then
    [ -z "$reason32" ] || skip "no Wine prefix can be made here: $reason32"
    echo "FAIL: wineboot could not make a prefix in $template"; exit 1
  fi
  vo_wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d "$kRelayCalls" /f >/dev/null 2>&1
  vo_wine_stop
  echo "made the Wine prefix $template"
  exit 0
}

[ "$1" = prefix ] && make_prefix "$2"

mode=$1 stub=$2 installer=$3 make_setup=$4 voarc=$5 work=$6
shift 6
flows=("$@")
[ ${#flows[@]} -gt 0 ] || flows=(good nopayload fallback cut badsum badsumfallback missing blanks norichedit signed)
failures=0
wine=0
case "$mode" in wine32 | wine64) wine=1 ;; esac

fail() { echo "FAIL [$flow]: $*"; failures=$((failures + 1)); }

# Under Wine every path the programs see is a Windows path: C: is the prefix's drive_c and Z:
# the Unix root, as in a fresh prefix.
to_windows() {
  local path=$1
  if [ $wine -eq 0 ]; then echo "$path"; return; fi
  case "$path" in
    "$WINEPREFIX/drive_c/"*) path="C:/${path#"$WINEPREFIX/drive_c/"}" ;;
    *) path="Z:$path" ;;
  esac
  echo "${path//\//\\}"
}
to_unix() {
  local path=${1//\\//}
  if [ $wine -eq 0 ]; then echo "$1"; return; fi
  case "$path" in
    [Cc]:/*) echo "$WINEPREFIX/drive_c/${path:3}" ;;
    [Zz]:/*) echo "${path:2}" ;;
    *) echo "$path" ;;
  esac
}

probe_wine() {
  [ -f "$stub" ] && [ -f "$installer" ] ||
    skip "$stub or $installer has not been built (cmake --preset ${mode/wine/win})"
  local reason
  reason=$(vo_wine_reason "${mode#wine}")
  [ -z "$reason" ] || skip "$reason"
  [ -d "$work/wine/template" ] || { echo "FAIL: no Wine prefix in $work/wine/template"; exit 1; }
}

# Makes the folders of one flow: dir, win (Windows folder), tmp (temp folder), setup.
start_flow() {
  flow=$1
  dir="$work/$mode/$flow"
  rm -rf "$dir"; mkdir -p "$dir"
  if [ $wine -eq 1 ]; then
    vo_wine_copy_prefix "$work/wine/template" "$dir/prefix" || fail "cannot copy the prefix"
    vo_wine_use "$dir/prefix"
    win="$WINEPREFIX/drive_c/windows"
    tmp=""  # the prefix's own; found from the record or by a search
    setup="$dir/Setup.exe"
  else
    win="$dir/windows"; tmp="$dir/temp"
    mkdir -p "$win/system32" "$tmp"
    : >"$win/system32/RichEd32.dll"
    setup="$dir/setup"
  fi
}

end_flow() { [ $wine -eq 0 ] || "$VO_WINESERVER" -k 2>/dev/null; }

# make_setup KIND: the setup of this flow, and its archive in $dir/archive.
make_setup() {
  "$make_setup" "$stub" "$setup" "$dir/archive" "$1" "$installer" || fail "cannot build the setup"
  chmod +x "$setup"
}

# run_setup [EXIT_CODE_OF_THE_INSTALLER]: runs the setup with some arguments it must ignore.
run_setup() {
  local code=${1:-0}
  if [ $wine -eq 1 ]; then
    DISPLAY='' WINEDEBUG=-all,+relay VOINSTALL_RECORD="$(to_windows "$dir/record")" \
      VOINSTALL_EXIT_CODE=$code timeout 120 "$VO_WINE64" "$setup" /ignored "an argument" \
      >"$dir/stdout" 2>"$dir/relay"
    status=$?
    # What the relay trace saw, in the form the native setup prints it.
    sed -n 's/^[0-9a-f]*:Call user32\.MessageBoxA([0-9a-f]*,[0-9a-f]* "\(.*\)",[0-9a-f]* "\(.*\)",[0-9a-f]*) ret=.*/\2: \1/p' \
      "$dir/relay" | sed 's/\\n/\n/g; s/\\\\/\\/g' >"$dir/stderr"
    sed -n 's/^[0-9a-f]*:Call user32\.MessageBeep(\([0-9a-f]*\)) ret=.*/MessageBeep \1/p' \
      "$dir/relay" | sed 's/MessageBeep 0*\([0-9a-f]\)/MessageBeep \1/' >"$dir/beeps"
  else
    WINDIR="$win" TMPDIR="$tmp" VO_BEEP_LOG="$dir/beeps" VOINSTALL_RECORD="$dir/record" \
      VOINSTALL_EXIT_CODE=$code timeout 120 "$setup" /ignored "an argument" \
      >"$dir/stdout" 2>"$dir/stderr"
    status=$?
  fi
}

temp_archives() {
  if [ $wine -eq 1 ]; then
    find "$WINEPREFIX/drive_c" -name 'VoI*.tmp' 2>/dev/null
  else
    find "$tmp" -name 'VoI*.tmp'
  fi
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit code $status, expected $1"; }
expect_stderr() { grep -qF -- "$1" "$dir/stderr" || fail "no message '$1'"; }
expect_one_beep() {
  [ "$(cat "$dir/beeps" 2>/dev/null)" = "MessageBeep 0" ] || fail "no single default beep"
}

# The installer ran with exactly the two arguments, and was given the copied archive.
expect_installer_run() {
  local record="$dir/record"
  if [ ! -f "$record" ]; then fail "the installer did not run"; return; fi
  local count source data
  count=$(sed -n 1p "$record" | tr -d '\r'); source=$(sed -n 2p "$record" | tr -d '\r')
  data=$(sed -n 3p "$record" | tr -d '\r')
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

# Signs FILE in place with a certificate made for this run; osslsigncode must accept it.
sign() {
  local cert="$work/$mode/certificate"
  if [ ! -f "$cert.pem" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VoInstall test signer" \
      -keyout "$cert.key" -out "$cert.pem" >/dev/null 2>&1 || { fail "openssl made no certificate"; return 1; }
  fi
  osslsigncode sign -certs "$cert.pem" -key "$cert.key" -n "VoInstall test" \
    -in "$1" -out "$1.signed" >"$dir/sign.log" 2>&1 || { fail "osslsigncode cannot sign $1"; return 1; }
  mv "$1.signed" "$1"
  osslsigncode verify -CAfile "$cert.pem" -in "$1" >>"$dir/sign.log" 2>&1 ||
    fail "osslsigncode does not verify the signed $1"
}

# A run that failed has removed the temporary archive and any installer file it made.
expect_nothing_left() {
  local left
  left=$(temp_archives)
  [ -z "$left" ] || fail "a temporary archive was left: $left"
  if [ $wine -eq 1 ]; then
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
  for file in "$dir/stderr" "$dir/stdout" "$dir/beeps" "$dir/sign.log"; do
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
      expect_status 0; expect_nothing_started; expect_one_beep
      [ -z "$(temp_archives)" ] || fail "a temporary file was made"
      [ ! -e "$win/VoInstall.exe" ] || fail "an installer file was made" ;;
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
      [ $wine -eq 1 ] || { tmp="$dir/temp dir"; mkdir -p "$tmp"; }
      make_setup good; run_setup
      expect_status 0; expect_installer_run windows ;;
    norichedit)
      # Wine brings the library in both of its System folders.
      rm -f "$win/system32/RichEd32.dll" "$win/system32/riched32.dll" "$win/syswow64/riched32.dll"
      make_setup good; run_setup
      expect_status 1; expect_nothing_started
      expect_stderr "Error: The DLL 'RichEd32.dll' cannot be located on this system."
      [ -z "$(temp_archives)" ] || fail "a temporary file was made" ;;
    signed)
      # Installers are signed after they are built: the signature lies behind the payload, and
      # the loader still finds the payload through its stamp.
      [ $wine -eq 1 ] || return 0  # the POSIX setup is no Windows image
      "$voarc" -q sfx --stub "$stub" -o "$setup" --installer "$installer" >"$dir/voarc.log" 2>&1 ||
        fail "voarc sfx failed: $(cat "$dir/voarc.log")"
      sign "$setup" && run_setup
      expect_status 0
      [ -f "$dir/record" ] && cmp -s "$win/VoInstall.exe" "$installer" ||
        fail "the signed setup did not expand and start the installer"
      "$voarc" info "$setup" >"$dir/info" 2>&1 || fail "voarc info fails on the signed setup"
      grep -q '^signature: .*certificate table' "$dir/info" || fail "voarc info shows no signature"
      # A signed stub is refused: a payload appended to it would break its signature.
      cp "$stub" "$dir/signed-stub.exe" && sign "$dir/signed-stub.exe"
      if "$voarc" -q sfx --stub "$dir/signed-stub.exe" -o "$dir/never.exe" --installer "$installer" \
           >"$dir/refused.log" 2>&1; then
        fail "voarc sfx attached a payload to a signed stub"
      fi
      grep -q 'sign the setup after building it' "$dir/refused.log" ||
        fail "the refusal does not say to sign after building: $(cat "$dir/refused.log")"
      [ ! -e "$dir/never.exe" ] || fail "the refused setup was written" ;;
    installed)
      # VOARC as installed finds the stub of this mode on its own, and STUB is that stub.
      local kind=()
      case $mode in native) kind=(--stub posix) ;; wine64) kind=(--stub win64) ;; esac
      "$voarc" -q sfx "${kind[@]}" -o "$setup" --installer "$installer" >"$dir/voarc.log" 2>&1 ||
        fail "voarc sfx failed: $(cat "$dir/voarc.log")"
      # The stamp's four bytes are all that may differ from the stub.
      [ "$(cmp -l "$stub" "$setup" 2>/dev/null | wc -l)" -le 4 ] ||
        fail "the setup was not built on $stub"
      run_setup
      expect_status 0
      [ -f "$dir/record" ] && cmp -s "$win/VoInstall.exe" "$installer" ||
        fail "the setup did not expand and start the installer" ;;
    *) fail "unknown flow" ;;
  esac
  end_flow
  [ "$failures" -eq "$failed_before" ] || show_flow
  echo "flow $flow: done"
}

[ $wine -eq 1 ] && probe_wine
for f in "${flows[@]}"; do run_flow "$f"; done
if [ $failures -gt 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "every flow passed ($mode)"
