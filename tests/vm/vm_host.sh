#!/usr/bin/env bash
# The host object's IPMI fallback and USB drive access on a real kernel. With
# no service-processor library installed, opening the SP6 bridge loads the
# IPMI driver modules, makes /dev/ipmi0 and checks the kernel release (the
# probe has the kernel report a 2.6 release: the release rule refuses every
# modern kernel); Get
# Device ID then reaches the emulated BMC. A USB stick found by its INQUIRY
# identity is written raw from byte 0, and its disk file on this side holds
# the pattern afterwards.
# Usage: vm_host.sh ROOT PROBE (the vm_host_probe program)
. "$(dirname "$0")/lib_vm.sh" "$@"
probe=${2:?vm_host_probe}

stick=$VM_WORK/stick.img
head -c 1048576 /dev/zero >"$stick"
vm_files_wanted=("$probe")
vm_modules_wanted=(ipmi_msghandler ipmi_devintf ipmi_si xhci_pci usb_storage sd_mod)
vm_boot host q35 \
    -device ipmi-bmc-sim,id=bmc,device_rev=3,fwrev1=1,fwrev2=0x11,mfg_id=0x1234,product_id=0x5678 \
    -device isa-ipmi-kcs,bmc=bmc \
    -drive "if=none,id=stick,format=raw,file=$stick" -device qemu-xhci -device usb-storage,drive=stick \
    <<'CASE' || finish
# The probe's modprobe looks for the modules under the 2.6 name the kernel
# gives this release ("6.1.0-57-amd64" becomes "2.6.61-57-amd64").
release=$(uname -r); numbers=${release%%[!0-9.]*}; minor=${numbers#*.}; minor=${minor%%.*}
ln -s "$release" "/lib/modules/2.6.$((minor + 60))${release#$numbers}"
run ipmi vm_host_probe ipmi
run ipmidev ls /dev/ipmi0
modprobe xhci_pci; modprobe usb_storage; modprobe sd_mod
for second in 1 2 3 4 5 6 7 8 9 10; do [ -b /dev/sda ] && break; sleep 1; done
run usb vm_host_probe usb QEMU "QEMU HARDDISK"
CASE

# Get Device ID: device id, revision 3, firmware 1.11, IPMI 2.0, support
# bits, manufacturer 0x001234, product 0x5678.
expect ipmi 0 'out: Enter IPMI sub-function.' 'out: Initiating OpenIPMI connection' 'out: open: 0' \
    'out: send: 0' 'out: completion: 0x00' 'out: data: 20 03 01 11 02 07 34 12 00 78 56' 'out: close: 0'
expect ipmidev 0 'out: /dev/ipmi0'
expect usb 0 'out: open: 1' 'out: write: 1' 'out: close: 1'
yes 'lromup raw write' | head -c 4096 | cmp -s - <(head -c 4096 "$stick") ||
    fail "the stick's first 4096 bytes are not the pattern: $(head -c 40 "$stick" | od -c | head -2)"
cmp -s <(tail -c +4097 "$stick") <(head -c $((1048576 - 4096)) /dev/zero) ||
    fail "the stick changed past the pattern"
finish
