#!/usr/bin/env bash
# The built lromup binary's usage text and refusals: exit status, exact
# standard output and a quiet standard error. Every case ends in the switch
# scan, so no hardware is touched.
. "$(dirname "$0")/lib_e2e.sh"

# [err=LINE] check STATUS STDOUT ARGS...: standard error is empty, or the one
# line that explains the refusal.
check() {
    local want=$1 text=$2; shift 2
    last_cmd="lromup $*"
    "$LROMUP" "$@" >out.txt 2>err.txt
    status=$?
    expect_status "$want"
    [ "$(cat out.txt)" = "$text" ] || fail "stdout is '$(cat out.txt)', expected '$text'"
    [ "$(cat err.txt)" = "${err:-}" ] || fail "stderr is '$(cat err.txt)', expected '${err:-}'"
}

usage=$(printf '%s\n' "Varn Tessel OS-based flash update utility 1.11" "Usage: $LROMUP <mode> <file>" \
    "  <mode>" $'\t-?: Help' $'\t--help: Help' $'\t/p: Update the Primary BIOS' \
    $'\t/bb: Update the backup BIOS' $'\t/bblk: Update boot block only')

check 0 "$usage" -?
err="The switch '/PLAT' is not understood (switches are case-sensitive); lromup(8) lists every switch" \
    check 2 "$usage" /PLAT
err="/nonexistent/lromup.rom cannot be opened: No such file or directory" check 3 "Open /nonexistent/lromup.rom error.
Please ready the rom file and try again." /p /nonexistent/lromup.rom -?
finish
