#!/usr/bin/env bash
# Read before write and verify, end to end: a flash that silently fails to
# take the data fails the update with the guards left open; the same image a
# second time writes nothing; an update cut by a power loss is completed by
# running the same command again, which erases only what the first run did
# not reach.
# Usage: e2e_update_rewrite.sh <path of lromup> <build dir>
set -u
LROMUP=$1 BUILD=$2
. "$(dirname "$0")/lib_e2e.sh"

images 310 320

show_value() { "$SIM" show "$1" | sed -n "s/^$2: //p"; }

# A byte that keeps its erased bits, and a page program the part drops: both
# only a read-back can see. The update fails with status 247, the first
# differing address named, no success line; as after any failed write the
# guards go back as they were found.
machine c310 moro310
run_sim c310 --fault bad-cell@0x700010 -- /p i310.bin
expect_status 247
expect_err "Flash verify failed: first difference at flash address 0x700010, 1 byte(s) differ from the image"
expect_err "Error during flash process"
expect_not_err "successfully"
expect_show c310 flash_wp=low status_register.primary=0x94
bank_is_old c310 backup
machine d320 moro320
run_sim d320 --fault drop-program@100 -- /bb i320.bin
expect_status 247
grep -qE "^Flash verify failed: first difference at flash address 0x0[0-9A-F]{5}, 64 byte\(s\) differ from the image$" err.txt ||
    fail "no verify failure naming a dropped page (got: $(errs))"
expect_not_err "successfully"
expect_show d320 flash_wp=low status_register.backup=0xBC
bank_is_old d320 primary

# The same image a second time: every block is already equal, nothing is
# erased or programmed, and the run still ends locked.
machine s320 moro320
run_sim s320 -- /p i320.bin
expect_status 0
run_sim s320 -- /p i320.bin
expect_status 0
expect_last_err "Flash process completed successfully"
expect_show s320 last_run.erased_bytes=0 last_run.programmed_bytes=0
bank_is_new s320 moro320 primary i320.bin
expect_locked s320 moro320 primary primary

# Resume: a twin machine updated in one go gives the work a whole update
# needs; the cut run and the rerun of the same command together erase exactly
# that much, the rerun alone less, and the bank ends as the twin's.
machine w320 moro320
run_sim w320 -- /p i320.bin
whole=$(show_value w320 last_run.erased_bytes)
machine r320 moro320
run_sim r320 --fault power-cut@3000 -- /p i320.bin
expect_status 99
first=$(show_value r320 last_run.erased_bytes)
run_sim r320 -- /p i320.bin
expect_status 0
expect_last_err "Flash process completed successfully"
second=$(show_value r320 last_run.erased_bytes)
[ "$first" -gt 0 ] && [ $((first + second)) -eq "$whole" ] ||
    fail "erased $first then $second bytes; a whole update erases $whole"
bank_is_new r320 moro320 primary i320.bin
bank_is_old r320 backup
expect_locked r320 moro320 primary primary

finish
