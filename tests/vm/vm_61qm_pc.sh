#!/usr/bin/env bash
# lromup, both builds, on a pc machine (i440FX host bridge 0x12378086, nothing
# at the LPC bridge's address 0:31:0) whose firmware calls itself 61QM41A: the
# GPIO base reads as all ones, so an update, the bank change and the EEPROM
# line changes are refused before any port write, never writing the firmware
# flash.
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

BAD_GPIO='err: The chipset'"'"'s GPIO base (PCI 0:31:0 register 0x48) reads 0xFFFFFFFF: 0, all ones or outside 0x100-0xFF80, so the registers behind it are not where the updater would write; nothing was written'
expect_both p 10 'out: Open /tmp/new.bin successful!!' "$BAD_GPIO"
expect_both chg 10 "$BAD_GPIO"
expect_both lock 10 "$BAD_GPIO"
expect_both unlock 10 "$BAD_GPIO"
flash_unchanged pc
finish
