#!/usr/bin/env bash
# The built lromup binary's command-line refusals and usage text: exit status
# and exact output on each stream. Touches no hardware: every case ends in
# the switch scan.
# Usage: e2e_usage.sh <path of lromup> <build dir>
set -u

LROMUP=${1:?path of lromup}
failures=0
errfile=$(mktemp)
trap 'rm -f "$errfile"' EXIT

# check <name> <expected status> <expected stdout> <expected stderr> -- <args...>
check() {
    local name=$1 want
    want=$(printf 'status %s\nstdout:\n%s\nstderr:\n%s' "$2" "$3" "$4")
    shift 5
    local out status got
    out=$("$LROMUP" "$@" 2>"$errfile")
    status=$?
    got=$(printf 'status %s\nstdout:\n%s\nstderr:\n%s' "$status" "$out" "$(cat "$errfile")")
    [ "$got" == "$want" ] && return
    printf 'FAIL: %s: got\n%s\nexpected\n%s\n' "$name" "$got" "$want"
    failures=$((failures + 1))
}

usage=$(printf '%s\n' "Varn Tessel OS-based flash update utility 1.11" "Usage: $LROMUP <mode> <file>" \
    "  <mode>" $'\t-?: Help' $'\t--help: Help' $'\t/p: Update the Primary BIOS' \
    $'\t/bb: Update the backup BIOS' $'\t/bblk: Update boot block only')

check "help" 0 "$usage" "" -- -?
check "unknown switch" 2 "$usage" "" -- /PLAT
check "/p without a file" 2 "/p parameter should follow a rom file name.
Please type the command lromup(wromup) -? to show the usage." "" -- /p
check "/bblk alone" 2 "$usage" "" -- /bblk
missing=$(mktemp -u /tmp/lromup-e2e-missing-XXXXXX.rom)
check "unopenable image" 3 "Open $missing error.
Please ready the rom file and try again." "" -- /p "$missing" -?

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all usage checks passed"
