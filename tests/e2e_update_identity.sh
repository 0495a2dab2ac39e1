#!/usr/bin/env bash
# A boot-block update cut in its trailer on both banks, with the running
# BIOS's copy of the identity blank too: the rerun names the lost block, is
# refused, writes nothing and switches nothing (cuts after which an intact copy
# is carried: the life test).
. "$(dirname "$0")/lib_e2e.sh"

images 310

# The cut point: the last operation of a boot-block update, which programs the
# sector that holds the trailer (counted from a whole run on a twin machine:
# one per erase of either size and one per 64 bytes programmed).
machine ops moro310
run_sim ops -- /bblk /p i310.bin
"$SIM" show ops >ops.show
n310=$(($(sed -n 's/^last_run.erases_4k: //p' ops.show) + $(sed -n 's/^last_run.erases_64k: //p' ops.show) +
        $(sed -n 's/^last_run.programmed_bytes: //p' ops.show) / 64))
machine ref310 moro310
cp ref310/legacy.bin shadow.bin
head -c 6 /dev/zero | tr '\0' '\377' | dd of=shadow.bin bs=1 seek=$((0xFFE2)) conv=notrunc 2>/dev/null
machine x310 moro310 --legacy-area shadow.bin
run_sim x310 --fault "power-cut@$n310" -- /bblk /bb i310.bin
expect_status 99
run_sim x310 --fault "power-cut@$n310" -- /bblk /p i310.bin
expect_status 99
read_bank x310 primary cut
"$SIM" show x310 | grep '^active_bank' >x310.bank
run_sim x310 -- /bblk /p i310.bin
expect_status 8
expect_err "The asset-tag block of the BIOS bank being replaced is damaged (an earlier update was interrupted?) and neither the running BIOS nor the other bank holds an intact copy; nothing was written, so that the machine's identity is not lost"
expect_err "Error during flash process"
read_bank x310 primary new
cmp -s x310.primary.cut x310.primary.new || fail "the refused update changed the primary bank"
expect_show x310 flash_wp=low bios_write_enable=0 "$(sed 's/: /=/' x310.bank)"

finish
