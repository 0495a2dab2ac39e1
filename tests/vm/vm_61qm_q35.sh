#!/usr/bin/env bash
# lromup on a q35 machine (ICH9 LPC bridge, host bridge 0x29C08086) whose
# firmware calls itself 61QM41A. Its chipset configuration space is plain
# storage, so the flash part never answers: the family is still reported, an
# unprivileged run is refused, an update fails, and the bank change and EEPROM
# line changes end, all without writing the firmware flash.
# Usage: vm_61qm_q35.sh ROOT BINARY (lromup or lromup-i386)
. "$(dirname "$0")/lib_vm.sh" "$@"
bin=${2:?binary}
[ "$bin" = lromup ] || vm_need_i386

vm_boot q35 q35 -smbios type=0,version=61QM41A <<CASE || finish
RUN_SECONDS=45
image /tmp/new.bin 2097152
run plat $bin /plat
run user su -s /bin/sh nobody -c "$bin /plat"
run p $bin /p /tmp/new.bin
run chg $bin /chg
run lock $bin /lockEEP
run unlock $bin /unlockEEP
CASE

expect plat 61 "${NO_FLASH_ID[@]}"
expect user 1 'err: The lock that keeps a second lromup off this machine cannot be taken (Permission denied); nothing was done.' 'err: ' \
    'err: Do you have sufficient privileges?  Try sudo or execute as root'
expect p 255 'out: Open /tmp/new.bin successful!!' "${NO_FLASH_ID[@]}" \
    'out: The ROM file name is: /tmp/new.bin' 'out: The file size is 0x200000h bytes' \
    'out: Current Active BIOS is Primary BIOS' "${NO_FLASH_ID[@]}" \
    'err: Flash chipset could not be identified'
expect chg 0 "${NO_FLASH_ID[@]}" 'out: Booting BIOS will be changed' \
    'out: The booting BIOS change from Primay to Backup BIOS'
expect lock 0 "${NO_FLASH_ID[@]}" 'out: EEPROM will be locked!!'
expect unlock 0 "${NO_FLASH_ID[@]}" 'out: EEPROM will be unlock!!'
flash_unchanged q35
finish
