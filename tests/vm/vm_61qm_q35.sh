#!/usr/bin/env bash
# lromup on a q35 machine (ICH9 LPC bridge, host bridge 0x29C08086) whose
# firmware calls itself 61QM41A. Its GPIO base reads 0: the family is still
# reported, an unprivileged run is refused, and an update is refused before
# any port write (ports 0x00-0x3F would be the DMA and interrupt controllers),
# never writing the firmware flash.
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
CASE

BAD_GPIO='err: The chipset'"'"'s GPIO base (PCI 0:31:0 register 0x48) reads 0x00000000: 0, all ones or outside 0x100-0xFF80, so the registers behind it are not where the updater would write; nothing was written'
expect plat 61 "$BAD_GPIO"
expect user 1 'err: The lock that keeps a second lromup off this machine cannot be taken (Permission denied); nothing was done.' 'err: ' \
    'err: Do you have sufficient privileges?  Try sudo or execute as root'
expect p 10 'out: Open /tmp/new.bin successful!!' "$BAD_GPIO"
flash_unchanged q35
finish
