#!/usr/bin/env bash
# The modes around an update on simulated machines: boot-bank change, EEPROM
# line, platform report, a run without arguments, and the refusals (wrong-sized
# or missing image, foreign machine, unknown flash part). Each refusal leaves
# both banks as they were.
# Usage: e2e_update_modes.sh <path of lromup> <build dir>
set -u
LROMUP=$1
BUILD=$2
. "$(dirname "$0")/e2e_lib.sh"

# machine DIR MODEL [new options], remembering both banks' hashes.
machine() {
    local dir=$1 model=$2; shift 2
    "$SIM" new "$dir" --model "$model" "$@" >/dev/null 2>&1 || fail "new $dir $*"
    snap "$dir"
    cp "$dir.show" "$dir.show.old"
}
# banks_unchanged DIR: neither bank differs from when the machine was made.
banks_unchanged() {
    snap "$1"
    local bank
    for bank in primary backup; do
        [ "$(sed -n "s/^sha256.$bank: //p" "$1.show.old")" = "$(show_value "$1" "sha256.$bank")" ] ||
            fail "$last_cmd: $bank bank of $1 changed"
    done
}

"$SIM" new img310 >/dev/null && "$SIM" image img310 i310.bin >/dev/null
"$SIM" new img330 --model moro330 >/dev/null && "$SIM" image img330 i330.bin >/dev/null

# Boot-bank change, both directions; the line names the direction.
machine c310 moro310
run_sim c310 -- /chg
expect_status 0
[ "$(out_lines | tr '\n' '/')" = "Booting BIOS will be changed/The booting BIOS change from Primay to Backup BIOS/" ] ||
    fail "$last_cmd: stdout $(tr '\n' '/' <out.txt)"
expect_not_err "rror"
banks_unchanged c310
expect_value c310 active_bank backup
run_sim c310 -- /chg
expect_status 0
expect_out "The booting BIOS change from Backup to Primary BIOS"
snap c310
expect_value c310 active_bank primary

# EEPROM line: unlock, lock, and both in one run (lock first, unlock second).
machine e320 moro320
run_sim e320 -- /unlockEEP
expect_status 0
expect_out "EEPROM will be unlock!!"
snap e320
expect_value e320 eeprom_wp low
run_sim e320 -- /lockEEP
expect_status 0
expect_out "EEPROM will be locked!!"
snap e320
expect_value e320 eeprom_wp high
run_sim e320 -- /unlockEEP /lockEEP
expect_status 0
[ "$(out_lines | tr '\n' '/')" = "EEPROM will be locked!!/EEPROM will be unlock!!/" ] ||
    fail "$last_cmd: stdout $(tr '\n' '/' <out.txt)"
banks_unchanged e320
expect_value e320 eeprom_wp low
expect_value e320 active_bank primary

# The PCH board has the EEPROM line on another pin than the ICH boards.
machine e310 moro310
run_sim e310 -- /unlockEEP
expect_status 0
snap e310
expect_value e310 eeprom_wp low
expect_value e310 active_bank primary
run_sim e310 -- /lockEEP
snap e310
expect_value e310 eeprom_wp high

# Platform report: the family through the status, nothing flashed.
for pair in moro310:61 moro320:61 moro330:62; do
    model=${pair%:*}
    machine "p$model" "$model"
    run_sim "p$model" -- /plat /p i310.bin
    expect_status "${pair#*:}"
    expect_not_out "The ROM file name is"
    banks_unchanged "p$model"
done

# No argument: bank toggled, EEPROM locked then unlocked, family as status.
machine z330 moro330
run_sim z330 --
expect_status 62
[ "$(out_lines | tr '\n' '/')" = "Booting BIOS will be changed/The booting BIOS change from Primay to Backup BIOS/EEPROM will be locked!!/EEPROM will be unlock!!/" ] ||
    fail "$last_cmd: stdout $(tr '\n' '/' <out.txt)"
banks_unchanged z330
expect_value z330 active_bank backup
expect_value z330 eeprom_wp low

# Images of the wrong size: refused with status 4 before any flash write,
# for the primary and for the backup.
head -c $((0x1FFFFF)) i310.bin >short.bin
cat i310.bin - <<<"" >long.bin
machine s310 moro310
for args in "/p short.bin" "/bb short.bin" "/p long.bin"; do
    # shellcheck disable=SC2086
    run_sim s310 -- $args
    expect_status 4
    expect_out "The platform is Moro 310 or Moro 320"
    expect_out "Corrupt BIOS file, exiting"
    expect_not_out "Current Active BIOS"
    banks_unchanged s310
done
machine s330 moro330
run_sim s330 -- /p i310.bin
expect_status 4
expect_out "The file size is 0x200000h bytes"
expect_out "The platform is Moro 330"
expect_out "Corrupt BIOS file, exiting"
banks_unchanged s330

# Missing image, and an image switch without a name.
run_sim s330 -- /p missing.bin
expect_status 3
[ "$(out_lines | tr '\n' '/')" = "Open missing.bin error./Please ready the rom file and try again./" ] ||
    fail "$last_cmd: stdout $(tr '\n' '/' <out.txt)"
run_sim s330 -- /bb
expect_status 2
expect_out "/bb parameter sholud follow a rom file name."
banks_unchanged s330

# A machine of another family: refused with its product name, also /plat.
machine f999 moro310 --bios-version 63QM01A --product "Moro 999"
for args in "/p i310.bin" "/plat"; do
    # shellcheck disable=SC2086
    run_sim f999 -- $args
    expect_status 5
    [ "$(tr '\n' '/' <err.txt)" = "This flash utility is not meant to run on this system./Please visit the support website and download the appropriate update for /Moro 999/" ] ||
        fail "$last_cmd: stderr $(tr '\n' '/' <err.txt)"
done
banks_unchanged f999

# An unknown flash part: the chipset is not identified, status 255.
machine u310 moro310 --part unknown
run_sim u310 -- /p i310.bin
expect_status 255
expect_out "Chipset ID incorrect! 00 00 00"
[ "$(tail -1 err.txt)" = "Flash chipset could not be identified" ] ||
    fail "$last_cmd: last stderr line '$(tail -1 err.txt)'"
expect_not_err "Flash process completed successfully"
banks_unchanged u310

# Boot block only on the 62QM family: its image ends below the boot-block
# blocks, so nothing is written, and the run still succeeds.
machine b330 moro330
run_sim b330 -- /bblk /p i330.bin
expect_status 0
expect_err "Flash process completed successfully"
banks_unchanged b330
expect_value b330 status_register.primary 0xBC
expect_value b330 flash_wp low

# The real binary on this host (no /dev/mem): a clear refusal, no hang.
timeout 20 "$LROMUP" /plat >out.txt 2>err.txt
status=$?
last_cmd="lromup /plat"
expect_status 1
expect_err "Error opening /dev/mem"

finish
