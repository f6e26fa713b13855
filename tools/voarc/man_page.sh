#!/usr/bin/env bash
# Makes voarc's man page from the program's own help: help2man's page of `voarc --help`, and a
# COMMANDS section with the help of each command (each command of `raw` on its own).
#   man_page.sh VOARC HELP2MAN OUT
set -euo pipefail
voarc=$1 help2man=$2 out=$3

# The commands that `voarc [COMMAND] --help` lists.
commands() { "$voarc" "$@" --help | sed -n '/^Subcommands:/,$ s/^  \([a-z][a-z0-9-]*\) .*/\1/p'; }

# The help of one command as a preformatted block; backslashes and leading dots are the only
# characters of the help that roff would read as its own.
section() {
  echo ".SS \"voarc $*\""
  echo ".nf"
  "$voarc" "$@" --help | sed 's/\\/\\e/g; s/^\([.'"'"']\)/\\\&\1/'
  echo ".fi"
}

include=$(mktemp)
trap 'rm -f "$include"' EXIT
{
  echo "[COMMANDS]"
  for command in $(commands); do
    inner=$(commands "$command")
    if [ -z "$inner" ]; then section "$command"; continue; fi
    for each in $inner; do section "$command" "$each"; done
  done
} >"$include"
"$help2man" --no-info --section 1 --include "$include" --output "$out" \
  --name "build, inspect, test and extract installer archives; make Setup.exe" "$voarc"
