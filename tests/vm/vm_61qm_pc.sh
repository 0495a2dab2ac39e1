#!/usr/bin/env bash
# lromup, both builds, on a pc machine (i440FX host bridge 0x12378086, nothing
# at the LPC bridge's address 0:31:0) whose firmware calls itself 61QM41A: the
# SPI controller reads as all ones, so an update fails and the bank change and
# EEPROM line changes end, all without writing the firmware flash.
. "$(dirname "$0")/lib_vm.sh" "$@"

vm_boot pc pc -smbios type=0,version=61QM41A <<'CASE' || finish
image /tmp/new.bin 2097152
for bin in lromup lromup-i386; do
    tag=; [ "$bin" = lromup ] || tag=32
    run p$tag $bin /p /tmp/new.bin
    run chg$tag $bin /chg
    run lock$tag $bin /lockEEP
    run unlock$tag $bin /unlockEEP
done
CASE

expect_both p 255 'out: Open /tmp/new.bin successful!!' "${NO_FLASH_ID[@]}" \
    'out: The ROM file name is: /tmp/new.bin' 'out: The file size is 0x200000h bytes' \
    'out: Current Active BIOS is Primary BIOS' "${NO_FLASH_ID[@]}" \
    "$NO_ID_MENU" "$NO_ID_MENU" "$NO_ID_MENU" "$NO_ID_MENU" \
    'err: Flash chipset could not be identified'
expect_both chg 0 "${NO_FLASH_ID[@]}" 'out: Booting BIOS will be changed' \
    'out: The booting BIOS change from Primay to Backup BIOS' "$NO_ID_MENU" "$NO_ID_MENU"
expect_both lock 0 "${NO_FLASH_ID[@]}" 'out: EEPROM will be locked!!' "$NO_ID_MENU" "$NO_ID_MENU"
expect_both unlock 0 "${NO_FLASH_ID[@]}" 'out: EEPROM will be unlock!!' "$NO_ID_MENU" "$NO_ID_MENU"
flash_unchanged pc
finish
