#!/usr/bin/env bash
# The SPI controller and flash parts as firmware really leaves them: stale
# done bits, the firmware's own (possibly locked) opcode menu, BIOS writes
# locked, parts of every kind and size (hung cycles: e2e_update_faults); and
# the machine between runs (warm).
. "$(dirname "$0")/lib_e2e.sh"

images 310 320

# A new board's controller holds FDONE and CDS from the firmware's own
# cycles: neither ends a wait early. The protection is cleared once, by the
# unlock, not before every block; a second update right after (a warm
# machine: the updater's menu still in place, BIOS write enable given back
# as it was found) completes too.
machine c320 moro320
tool 0 run c320 -- /p i320.bin
expect_show c320 last_run.status_writes=4 bios_write_enable=0
"$SIM" image c320 second.bin --seed 7 >/dev/null
tool 0 run c320 -- /p second.bin
expect_show c320 status_register.primary=0xBC

# Every part whose size fits a family's flash map is updated (the default
# parts: e2e_update). Refusals before
# anything is written, each naming its reason: a part of another size than the
# map's (naming the part and the size the map expects), BIOS writes locked by
# the firmware (the lock, not the write-protect line; a menu locked without
# write status: the unit test and e2e_update_refused). Between them, a locked-down firmware menu whose entry 5
# is the 4 KiB erase: every cycle is started from the entry that really holds
# its opcode, so sector 0 survives and the update completes.
while IFS='|' read -r model image want setup message; do
    dir=r$want${setup//[ -]/}
    # shellcheck disable=SC2086
    machine "$dir" "$model" $setup
    tool "$want" run "$dir" -- /p "$image"
    if [ "$want" = 0 ]; then
        bank_is_new "$dir" "$model" primary "$image"
        expect_locked "$dir" "$model" primary primary
        continue
    fi
    expect_err "$message"
    expect_not_err "write-protect line"
    expect_show "$dir" last_run.erased_bytes=0
    bank_is_old "$dir" primary backup
done <<'ROWS'
moro310|i310.bin|0|--part W25Q64|
moro320|i320.bin|0|--part MX25L1606E|
moro320|i320.bin|249|--part MX25L3205D|Flash part MX25L3205DM2I holds 0x400000 bytes, but this machine's flash map is laid out for a 0x200000-byte part; nothing was written
moro310|i310.bin|249|--part W25Q16BV|Flash part W25Q16BVSIG holds 0x200000 bytes, but this machine's flash map is laid out for a 0x800000-byte part; nothing was written
moro310|i310.bin|0|--firmware-menu hostile --flockdn|
moro320|i320.bin|248|--ble|The firmware locks BIOS writes: BIOS write enable does not stay set (BIOS control register 0x02, BIOS lock enable set); nothing was written
ROWS

finish
