#!/usr/bin/env bash
# lromup, both builds, on pc machines (i440FX host bridge 0x12378086, nothing
# at the LPC bridge's address 0:31:0). With a firmware that calls itself
# 61QM41A the GPIO base reads as all ones, so an update is refused before any
# port write, never writing the firmware flash. With SeaBIOS's own version the
# family report refuses the machine, naming the product of the type 1 structure.
. "$(dirname "$0")/lib_vm.sh" "$@"

vm_boot pc pc -smbios type=0,version=61QM41A <<'CASE' || finish
image /tmp/new.bin 2097152
run p lromup /p /tmp/new.bin
run p32 lromup-i386 /p /tmp/new.bin
CASE
expect_both p 10 'out: Open /tmp/new.bin successful!!' 'err: The chipset'"'"'s GPIO base (PCI 0:31:0 register 0x48) reads 0xFFFFFFFF: 0, all ones or outside 0x100-0xFF80, so the registers behind it are not where the updater would write; nothing was written'
flash_unchanged pc

vm_boot other pc <<'CASE' || finish
run plat lromup /plat
run plat32 lromup-i386 /plat
CASE
expect_both plat 5 'err: This flash utility is not meant to run on this system.' \
    'err: Please visit the support website and download the appropriate update for ' \
    'err: Standard PC (i440FX + PIIX, 1996)'
finish
