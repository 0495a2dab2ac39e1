#!/usr/bin/env bash
# The modes around an update on simulated machines: boot-bank change, EEPROM
# line, platform report, a run without arguments, and the refusals (wrong-sized
# image, foreign machine, unknown flash part). None of them writes either bank
# (the runs without an image are checked for that by e2e_update_guards.sh).
# Usage: e2e_update_modes.sh <path of lromup> <build dir>
set -u
LROMUP=$1 BUILD=$2
. "$(dirname "$0")/lib_e2e.sh"

images 310 330

# Boot-bank change, both directions; the line names the direction.
machine c310 moro310
run_sim c310 -- /chg
expect_status 0
expect_seq out.txt "Booting BIOS will be changed/The booting BIOS change from Primay to Backup BIOS/"
expect_not_err "rror"
expect_show c310 active_bank=backup
run_sim c310 -- /chg
expect_status 0
expect_out "The booting BIOS change from Backup to Primary BIOS"
expect_show c310 active_bank=primary

# EEPROM line, on its ICH pin and on its PCH pin: unlock, then lock.
for model in moro320 moro310; do
    machine "e$model" "$model"
    run_sim "e$model" -- /unlockEEP
    expect_status 0
    expect_seq out.txt "EEPROM will be unlock!!/"
    expect_show "e$model" eeprom_wp=low active_bank=primary
    run_sim "e$model" -- /lockEEP
    expect_status 0
    expect_seq out.txt "EEPROM will be locked!!/"
    expect_show "e$model" eeprom_wp=high
done

# Platform report: the family through the status, nothing flashed.
for pair in moro310:61 moro320:61 moro330:62; do
    model=${pair%:*}
    machine "p$model" "$model"
    run_sim "p$model" -- /plat /p i310.bin
    expect_status "${pair#*:}"
    expect_not_out "The ROM file name is"
done

# No argument: bank toggled, EEPROM locked then unlocked (the order of both
# switches in one run), family as status.
machine z330 moro330
run_sim z330 --
expect_status 62
expect_seq out.txt "Booting BIOS will be changed/The booting BIOS change from Primay to Backup BIOS/EEPROM will be locked!!/EEPROM will be unlock!!/"
expect_show z330 active_bank=backup eeprom_wp=low

# Images of the wrong size, for the primary and the backup: refused with
# status 4 before any flash write.
head -c $((0x1FFFFF)) i310.bin >short.bin
cat i310.bin - <<<"" >long.bin
machine s310 moro310
machine s330 moro330
for row in "s310 /p short.bin" "s310 /bb short.bin" "s310 /p long.bin" "s330 /p i310.bin"; do
    read -r dir args <<<"$row"
    # shellcheck disable=SC2086
    run_sim "$dir" -- $args
    expect_status 4
    plat="Moro 310 or Moro 320"; [ "$dir" = s330 ] && plat="Moro 330"
    expect_out "The platform is $plat"
    expect_out "Corrupt BIOS file, exiting"
    expect_not_out "Current Active BIOS"
    bank_is_old "$dir" primary backup
done
expect_out "The file size is 0x200000h bytes"  # of the 310 image on the 330

# A machine of another family: refused with its product name, also /plat.
machine f999 moro310 --bios-version 63QM01A --product "Moro 999"
for args in "/p i310.bin" "/plat"; do
    # shellcheck disable=SC2086
    run_sim f999 -- $args
    expect_status 5
    expect_seq err.txt "This flash utility is not meant to run on this system./Please visit the support website and download the appropriate update for /Moro 999/"
done
bank_is_old f999 primary backup

# An unknown flash part: the chipset is not identified, status 255, found
# before the bank is switched; the part's status, the line and BIOSWE as found.
machine u310 moro310 --part unknown
"$SIM" show u310 | grep '^status_register' | sed 's/: /=/' >u310.found
for args in "/p i310.bin" "/bb i310.bin"; do
    # shellcheck disable=SC2086
    run_sim u310 -- $args
    expect_status 255
    expect_out "Chipset ID incorrect! 00 00 00"
    expect_last_err "Flash chipset could not be identified"
    # shellcheck disable=SC2046
    expect_show u310 active_bank=primary flash_wp=low bios_write_enable=0 $(cat u310.found)
done
bank_is_old u310 primary backup

# The real binary on this host (no /dev/mem): a clear refusal, no hang.
last_cmd="lromup /plat"
timeout 20 "$LROMUP" /plat >out.txt 2>err.txt
status=$?
expect_status 1
expect_err "Error opening /dev/mem"

finish
