#!/usr/bin/env bash
# Updates on simulated machines whose hardware fails: hung SPI cycles, a
# refused erase, a stuck write-protect line, an unknown host bridge. Each run
# ends (never hangs) with a clear message and status, the other bank untouched.
# Power cuts, bank changes and the updates after them are the life test's.
# Usage: e2e_update_faults.sh <path of lromup> <build dir>
set -u
LROMUP=$1 BUILD=$2
. "$(dirname "$0")/lib_e2e.sh"

images 310 320

# A hardware cycle that never completes: the first erase or program gives up
# within a few seconds of simulated time with a message naming it, for the
# primary and (naming the bank) the backup.
within_10s() {
    local ms
    ms=$("$SIM" show "$1" | sed -n 's/^last_run.virtual_ms: //p')
    [ "${ms:-999999}" -le 10000 ] || fail "$1 took ${ms:-?} ms of simulated time"
}
machine h310 moro310
run_sim h310 --fault hw-cycle-hang -- /p i310.bin
expect_failed
expect_err "SPI hardware write cycle at flash address 0x610000 did not complete"
expect_err "Error during flash process"
bank_is_old h310 backup
machine h320 moro320
run_sim h320 --fault hw-cycle-hang -- /bb i320.bin
expect_failed
expect_err "SPI hardware erase cycle at flash address 0x013000 did not complete"
expect_err "Error flashing backup BIOS "
bank_is_old h320 primary
within_10s h320

# A software cycle that never completes: the part cannot be identified.
machine w320 moro320
run_sim w320 --fault sw-cycle-hang -- /p i320.bin
expect_status 255
expect_err "Flash chipset could not be identified"
expect_not_out "i320.bin: 0 [200000]"
bank_is_old w320 primary backup
within_10s w320

# The controller refuses every cycle on one block: the failure is reported,
# nothing at or above that block is written, the backup is untouched and no
# guard is left open.
machine r320 moro320
run_sim r320 --fault fcerr@0x100000 -- /p i320.bin
expect_failed
expect_err "SPI 64 KiB erase at flash address 0x100000 was refused by the controller"
expect_err "Error during flash process"
bank_is_old r320 backup
expect_show r320 status_register.primary=0xBC status_register.backup=0xBC flash_wp=low bios_write_enable=0 \
    active_bank=primary
read_bank r320 primary new
cmp -s <(tail -c +$((0x100001)) r320.primary.old) <(tail -c +$((0x100001)) r320.primary.new) ||
    fail "primary changed at or above the refused block"

# The write-protect line held low: the part keeps its protection, so the
# update must fail rather than report success over blocks it never wrote.
machine s310 moro310
run_sim s310 --fault wp-stuck-low -- /p i310.bin
expect_failed
expect_err "Flash block protection could not be cleared (status register 0x94); is the flash write-protect line held low?"
expect_err "Error during flash process"
bank_is_old s310 primary backup

# A host bridge of neither generation has no known flash layout: refused.
machine n310 moro310 --host-bridge 0x12378086
run_sim n310 -- /p i310.bin
expect_status 255
expect_err "No flash range is known for i310.bin on this machine; nothing was written"
expect_err "Error during flash process"
bank_is_old n310 primary backup

finish
