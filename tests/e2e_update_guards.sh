#!/usr/bin/env bash
# The guards around the flash after every kind of run: each part's status
# register (non-volatile), the flash write-protect line and BIOSWE end as the
# run found them, except the part an update wrote, which ends locked.
# Usage: e2e_update_guards.sh <path of lromup> <build dir>
set -u
LROMUP=$1 BUILD=$2
. "$(dirname "$0")/lib_e2e.sh"

# guarded DIR LOCK [KEY=VALUE...]: both parts locked with LOCK, the line low,
# BIOS writes disabled.
guarded() {
    local dir=$1 lock=$2; shift 2
    expect_show "$dir" "status_register.primary=$lock" "status_register.backup=$lock" \
        flash_wp=low bios_write_enable=0 "$@"
}

# Runs that write nothing, on a PCH and an ICH board; the run without a switch
# toggles the bank, so the part found inactive ends active.
for pair in moro310:0x94 moro320:0xBC; do
    model=${pair%:*} lock=${pair#*:}
    for args in /plat /chg /lockEEP /unlockEEP ""; do
        dir=g$model${args#/}
        machine "$dir" "$model"
        # shellcheck disable=SC2086
        run_sim "$dir" -- $args
        guarded "$dir" "$lock"
        bank_is_old "$dir" primary backup
    done
done

# Updates: the part written ends locked, the other as found, BIOSWE cleared.
"$SIM" new img320 --model moro320 >/dev/null && "$SIM" image img320 i320.bin >/dev/null
machine k320 moro320
run_sim k320 -- /bb i320.bin
expect_status 0
guarded k320 0xBC active_bank=backup
machine d320 moro320
run_sim d320 -- /p i320.bin /bb i320.bin
expect_status 0
guarded d320 0xBC active_bank=backup

# A failed update (the controller refuses an erase) leaves nothing open either.
machine f320 moro320
run_sim f320 --fault fcerr@0x100000 -- /p i320.bin
expect_err "Error during flash process"
guarded f320 0xBC active_bank=primary
bank_is_old f320 backup

finish
