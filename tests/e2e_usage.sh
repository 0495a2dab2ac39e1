#!/usr/bin/env bash
# The built lromup binary's command-line refusals and usage text: exact
# output on each stream and the exit status. Touches no hardware: every case
# ends in the switch scan.
# Usage: e2e_usage.sh <path of lromup> <build dir>
set -u

LROMUP=${1:?path of lromup}
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# check <name> <expected status> <expected stdout> <expected stderr> -- <args...>
check() {
    local name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 5
    local out err status errfile
    errfile=$(mktemp)
    out=$("$LROMUP" "$@" 2>"$errfile")
    status=$?
    err=$(cat "$errfile")
    rm -f "$errfile"
    [ "$status" -eq "$want_status" ] || fail "$name: status $status, expected $want_status"
    [ "$out" == "$want_out" ] || fail "$name: standard output was:
$out
expected:
$want_out"
    [ "$err" == "$want_err" ] || fail "$name: standard error was:
$err
expected:
$want_err"
}

usage=$(printf '%s\n' \
    "Varn Tessel OS-based flash update utility 1.11" \
    "Usage: $LROMUP <mode> <file>" \
    "  <mode>" \
    $'\t-?: Help' \
    $'\t--help: Help' \
    $'\t/p: Update the Primary BIOS' \
    $'\t/bb: Update the backup BIOS' \
    $'\t/bblk: Update boot block only')

check "help" 0 "$usage" "" -- -?
check "unknown switch" 2 "$usage" "" -- /PLAT
check "/p without a file" 2 \
    "$(printf '%s\n' "/p parameter should follow a rom file name." \
        "Please type the command lromup(wromup) -? to show the usage.")" "" -- /p
check "/bblk alone" 2 "$usage" "" -- /bblk

missing=$(mktemp -u /tmp/lromup-e2e-missing-XXXXXX.rom)
check "unopenable image" 3 \
    "$(printf '%s\n' "Open $missing error." "Please ready the rom file and try again.")" "" \
    -- /p "$missing" -?

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all usage checks passed"
