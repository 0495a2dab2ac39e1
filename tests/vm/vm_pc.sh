#!/usr/bin/env bash
# lromup on pc machines (i440FX host bridge 0x12378086, nothing
# at the LPC bridge's address 0:31:0). With a firmware that calls itself
# 61QM41A the GPIO base reads as all ones, so an update is refused before any
# port write, never writing the firmware flash. With SeaBIOS's own version the
# family report refuses the machine, naming the product of the type 1 structure.
# Usage: vm_pc.sh ROOT BINARY (lromup or lromup-i386)
. "$(dirname "$0")/lib_vm.sh" "$@"
bin=${2:?binary}
[ "$bin" = lromup ] || vm_need_i386

vm_boot pc pc -smbios type=0,version=61QM41A <<CASE || finish
image /tmp/new.bin 2097152
run p $bin /p /tmp/new.bin
CASE
expect p 10 'out: Open /tmp/new.bin successful!!' 'err: The chipset'"'"'s GPIO base (PCI 0:31:0 register 0x48) reads 0xFFFFFFFF: 0, all ones or outside 0x100-0xFF80, so the registers behind it are not where the updater would write; nothing was written'
flash_unchanged pc

vm_boot other pc <<CASE || finish
run plat $bin /plat
CASE
expect plat 5 'err: This flash utility is not meant to run on this system.' \
    'err: Please visit the support website and download the appropriate update for ' \
    'err: Standard PC (i440FX + PIIX, 1996)'
finish
