#!/usr/bin/env bash
# The family report, both builds, on real SMBIOS tables written by SeaBIOS: a
# 62QM BIOS version gives 62, SeaBIOS's own version is refused naming the
# product of the type 1 structure.
. "$(dirname "$0")/lib_vm.sh" "$@"

vm_boot plat62 pc -smbios type=0,version=62QM17C <<'CASE' || finish
run plat lromup /plat
run plat32 lromup-i386 /plat
CASE
# The pc machine's GPIO base reads all ones: the chipset is left alone, the
# family is still reported.
expect_both plat 62 'err: The chipset'"'"'s GPIO base (PCI 0:31:0 register 0x48) reads 0xFFFFFFFF: 0, all ones or outside 0x100-0xFF80, so the registers behind it are not where the updater would write; nothing was written'

vm_boot other pc <<'CASE' || finish
run plat lromup /plat
run plat32 lromup-i386 /plat
CASE
expect_both plat 5 'err: This flash utility is not meant to run on this system.' \
    'err: Please visit the support website and download the appropriate update for ' \
    'err: Standard PC (i440FX + PIIX, 1996)'
finish
