#!/usr/bin/env bash
# Updates on simulated machines whose hardware fails: hung SPI cycles, a
# refused erase, an unknown host bridge, a cell or a page program the flash
# does not take (only a read-back sees those; a part that stays protected: the
# chipset fault unit test). Each run ends (never hangs) with a clear message
# and status, no success line, the other bank untouched and the guards back as
# the machine had them. Power cuts, bank changes and the updates after them are
# the life test's.
. "$(dirname "$0")/lib_e2e.sh"

images 310 320

# One row per fault: the machine, the fault, the run, its status (- for any
# failure), the stderr line naming the fault, and the run's closing line.
while IFS='|' read -r dir setup fault args want message closing; do
    # shellcheck disable=SC2086
    machine "$dir" $setup
    # shellcheck disable=SC2086
    sim run "$dir" ${fault:+--fault "$fault"} -- $args
    case $want$status in -0 | -124) fail "status $status, expected a failure" ;; -*) ;; *) expect_status "$want" ;; esac
    expect_err "$message"
    [ -z "$closing" ] || expect_err "$closing"
    expect_not_err "successfully"
    # A hung controller cannot write the status register back either (the run says so).
    lock=0xBC; case $setup in moro310*) lock=0x94 ;; esac
    guards=("status_register.primary=$lock" "status_register.backup=$lock")
    [ "${fault%hang}" = "$fault" ] || guards=()
    expect_show "$dir" flash_wp=low bios_write_enable=0 "${guards[@]}"
    case $args in /bb*) bank_is_old "$dir" primary ;; *) bank_is_old "$dir" backup ;; esac
    # Nothing is written before the chipset is known, nor where no flash range is.
    [ "$want" != 255 ] || bank_is_old "$dir" primary
    # A cycle that never completes is given up within a few seconds of simulated time.
    ms=$("$SIM" show "$dir" | sed -n 's/^last_run.virtual_ms: //p')
    [ "${fault%hang}" = "$fault" ] || [ "${ms:-999999}" -le 10000 ] || fail "$dir took ${ms:-?} ms of simulated time"
done <<'ROWS'
h310|moro310|hw-cycle-hang|/p i310.bin|-|SPI hardware write cycle at flash address 0x610000 did not complete|Error during flash process
w320|moro320|sw-cycle-hang|/p i320.bin|255|Flash chipset could not be identified|
r320|moro320|fcerr@0x100000|/p i320.bin|-|SPI 64 KiB erase at flash address 0x100000 was refused by the controller|Error during flash process
n310|moro310 --host-bridge 0x12378086||/p i310.bin|255|No flash range is known for i310.bin on this machine; nothing was written|Error during flash process
c310|moro310|bad-cell@0x700010|/p i310.bin|247|Flash verify failed: first difference at flash address 0x700010, 1 byte(s) differ from the image|Error during flash process
d320|moro320|drop-program@100|/bb i320.bin|247|Flash verify failed: first difference at flash address 0x0148C0, 64 byte(s) differ from the image|Error flashing backup BIOS 
ROWS
# Nothing is written by the refused erase at or above its block.
read_bank r320 primary new
cmp -s <(tail -c +$((0x100001)) r320.primary.old) <(tail -c +$((0x100001)) r320.primary.new) ||
    fail "primary changed at or above the refused block"
finish
