#!/usr/bin/env bash
# The modes around an update on simulated machines: boot-bank change, EEPROM
# line, platform report, a run without arguments, and the refusals (wrong-sized
# image, foreign machine). None of them writes either bank
# (the runs without an image are checked for that by e2e_update_refused.sh).
. "$(dirname "$0")/lib_e2e.sh"

images 310 330

# Boot-bank change, both directions; the line names the direction (from the
# primary: the run without arguments below).
machine c310 moro310
tool 0 run c310 -- /chg
expect_show c310 active_bank=backup
tool 0 run c310 -- /chg
expect_out "The booting BIOS change from Backup to Primary BIOS"
expect_show c310 active_bank=primary

# EEPROM line, on its ICH pin and on its PCH pin: unlock, then lock (the
# lines they print: the run without arguments below).
for model in moro320 moro310; do
    machine "e$model" "$model"
    tool 0 run "e$model" -- /unlockEEP
    expect_show "e$model" eeprom_wp=low active_bank=primary
    tool 0 run "e$model" -- /lockEEP
    expect_show "e$model" eeprom_wp=high
done

# Platform report: the family through the status, nothing flashed (61 on
# every part: e2e_update_refused). No argument: bank toggled, EEPROM locked then
# unlocked (the order of both switches in one run), family as status.
machine z330 moro330
tool 62 run z330 -- /plat /p i310.bin
expect_not_out "The ROM file name is"
tool 62 run z330 --
expect_seq out.txt "Booting BIOS will be changed/The booting BIOS change from Primay to Backup BIOS/EEPROM will be locked!!/EEPROM will be unlock!!/"
expect_show z330 active_bank=backup eeprom_wp=low

# Images of the wrong size: refused with status 4 before any flash write
# (a 61QM image on the 62QM board; short images: e2e_operator, e2e_update_refused).
head -c $((0x1FFFFF)) i310.bin >short.bin
machine s310 moro310
machine s330 moro330
for row in "s310 /bb short.bin:Moro 310 or Moro 320" "s330 /p i310.bin:Moro 330"; do
    read -r dir args <<<"${row%%:*}"
    # shellcheck disable=SC2086
    tool 4 run "$dir" -- $args
    image=${args#* }
    expect_seq out.txt "Open $image successful!!/The ROM file name is: $image/The file size is 0x$(printf %x "$(stat -c %s "$image")")h bytes/The platform is ${row#*:}/Corrupt BIOS file, exiting/"
    bank_is_old "$dir" primary backup
done

# A machine of another family: refused with its product name, also /plat.
machine f999 moro310 --bios-version 63QM01A --product "Moro 999"
for args in "/p i310.bin" "/plat"; do
    # shellcheck disable=SC2086
    tool 5 run f999 -- $args
    expect_seq err.txt "This flash utility is not meant to run on this system./Please visit the support website and download the appropriate update for /Moro 999/"
done
bank_is_old f999 primary backup

finish
