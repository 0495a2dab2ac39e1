#!/usr/bin/env bash
# The built lromup binary's usage text and refusals: exit status, exact
# standard output and a quiet standard error. Every case ends in the switch
# scan, so no hardware is touched.
# Usage: e2e_usage.sh <path of lromup> <build dir>
set -u

LROMUP=${1:?path of lromup}
failures=0
errfile=$(mktemp)
trap 'rm -f "$errfile"' EXIT

# [err=LINE] check <expected status> <expected stdout> <args...>: standard
# error is empty, or the one line that explains the refusal.
check() {
    local want out status got
    want=$(printf 'status %s\nstdout:\n%s\nstderr:\n%s' "$1" "$2" "${err:-}")
    shift 2
    out=$("$LROMUP" "$@" 2>"$errfile")
    status=$?
    got=$(printf 'status %s\nstdout:\n%s\nstderr:\n%s' "$status" "$out" "$(cat "$errfile")")
    [ "$got" == "$want" ] && return
    printf 'FAIL: lromup %s: got\n%s\nexpected\n%s\n' "$*" "$got" "$want"
    failures=$((failures + 1))
}

usage=$(printf '%s\n' "Varn Tessel OS-based flash update utility 1.11" "Usage: $LROMUP <mode> <file>" \
    "  <mode>" $'\t-?: Help' $'\t--help: Help' $'\t/p: Update the Primary BIOS' \
    $'\t/bb: Update the backup BIOS' $'\t/bblk: Update boot block only')

check 0 "$usage" -?
err="The switch '/PLAT' is not understood (switches are case-sensitive); lromup(8) lists every switch" \
    check 2 "$usage" /PLAT
err="/nonexistent/lromup.rom cannot be opened: No such file or directory" check 3 "Open /nonexistent/lromup.rom error.
Please ready the rom file and try again." /p /nonexistent/lromup.rom -?

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all usage checks passed"
