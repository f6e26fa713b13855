#!/usr/bin/env bash
# The command-line tests of voarc, run against voarc.exe under wine64 in a copy of this run's
# prefix. Left out: the tests of links (Wine shows a Unix link as the file it points to) and of
# POSIX signals.
#   voarc_wine.sh E2E_WORK_DIR VOARC_EXE VO_TESTS
set -uo pipefail
source "$(dirname "$0")/../../scripts/wine.sh"
work=$1 exe=$2 tests=$3
readonly kLeftOut='VoarcCli.PlantedLinksAreNeverFollowed:VoarcCli.LinksInAFolderAreStoredAsWhatTheyLeadTo:VoarcCli.InterruptsLeaveNothingBehind'

[ -f "$exe" ] || { echo "SKIP: $exe has not been built (cmake --preset win64)"; exit 77; }
reason=$(vo_wine_reason 64)
[ -z "$reason" ] || { echo "SKIP: $reason"; exit 77; }
prefix="$work/voarc-wine/prefix"
vo_wine_copy_prefix "$work/wine/template" "$prefix" || { echo "FAIL: cannot copy the prefix"; exit 1; }
vo_wine_use "$prefix"
# One wineserver for all the runs, instead of one started and stopped for each.
"$VO_WINESERVER" -p
VO_VOARC_RUN="'$VO_WINE64' '$exe'" "$tests" --gtest_filter="VoarcCli.*:-$kLeftOut"
status=$?
"$VO_WINESERVER" -k
exit $status
