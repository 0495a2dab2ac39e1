#!/usr/bin/env bash
# Helpers of the virtual-machine tests (tests/vm/vm_*.sh), sourced with the
# installed tree as first argument. The machine is qemu-system-x86_64 in
# software emulation with Debian's kernel and an initramfs made of
# busybox-static and that tree; everything privileged happens inside it. A
# test that cannot have qemu, the kernel or busybox-static says so and exits
# 77, which CTest reports as skipped.
set -u

VM_ROOT=${1:?installed tree (from the .deb)}
VM_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
VM_FIRMWARE=/usr/share/seabios/bios-256k.bin
VM_BOOT_SECONDS=${VM_BOOT_SECONDS:-150}
VM_WORK=$(mktemp -d)
vm_pid=
failures=0

vm_teardown() {
    [ -n "$vm_pid" ] && kill "$vm_pid" 2>/dev/null && wait "$vm_pid" 2>/dev/null
    rm -rf "$VM_WORK"
}
trap vm_teardown EXIT
trap 'exit 143' INT TERM

vm_skip() { echo "SKIPPED: $* (scripts/deps.sh installs it)"; exit 77; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
finish() {
    [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
    echo "all checks passed"
}

command -v qemu-system-x86_64 >/dev/null || vm_skip "no qemu-system-x86_64 (package qemu-system-x86)"
[ -r "$VM_FIRMWARE" ] || vm_skip "no $VM_FIRMWARE (package seabios)"
VM_BUSYBOX=/bin/busybox
{ [ -x "$VM_BUSYBOX" ] && ! ldd "$VM_BUSYBOX" >/dev/null 2>&1; } ||
    vm_skip "no static busybox (package busybox-static)"
VM_KERNEL=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -1)
[ -n "$VM_KERNEL" ] && [ -r "$VM_KERNEL" ] || vm_skip "no readable /boot/vmlinuz-* (package linux-image-amd64)"
VM_KVERSION=${VM_KERNEL#/boot/vmlinuz-}
[ -d "/lib/modules/$VM_KVERSION" ] || vm_skip "no modules for $VM_KVERSION (package linux-image-amd64)"
[ -x "$VM_ROOT/usr/sbin/lromup" ] || { echo "FAIL: no installed lromup in $VM_ROOT"; exit 1; }
# The 32-bit rescue build is in the package only when the build was configured
# with the 32-bit C++ libraries; its cases are skipped, with that reason, where
# it is missing.
VM_NO_I386=
[ -x "$VM_ROOT/usr/libexec/lromup/lromup-i386" ] ||
    VM_NO_I386="no lromup-i386 in the package: the build was configured without the 32-bit C++ libraries (g++-multilib); install them and run cmake again"
vm_need_i386() { [ -z "$VM_NO_I386" ] || { echo "SKIPPED: $VM_NO_I386"; exit 77; }; }

# The part of the initramfs every machine shares: busybox with its applets,
# the installed tree and the shared libraries its programs need.
base=$VM_WORK/base
mkdir -p "$base/bin" "$base/proc" "$base/sys" "$base/dev" "$base/tmp"
cp -a "$VM_ROOT/." "$base/"
cp "$VM_BUSYBOX" "$base/bin/busybox"
for applet in $("$VM_BUSYBOX" --list); do
    [ -e "$base/bin/$applet" ] || ln -s busybox "$base/bin/$applet"
done
cp "$VM_HERE/init" "$base/init"
while read -r file; do
    for lib in $(ldd "$file" 2>/dev/null | grep -o '/[^ ]*'); do
        [ -e "$base$lib" ] || cp --parents -L "$lib" "$base"
    done
done < <(find "$VM_ROOT" -type f -perm -u+x)
(cd "$base" && find . | "$VM_BUSYBOX" cpio -o -H newc 2>/dev/null) | gzip -1 >"$VM_WORK/base.cpio.gz"

# Set before a boot: the kernel modules, with those they depend on, that the
# next machine has in /lib/modules for modprobe (the case loads them), and
# host files it has in /usr/local/bin.
vm_modules_wanted=() vm_files_wanted=()

# vm_boot NAME MACHINE [qemu options]: boots a machine whose firmware flash is
# a fresh copy of SeaBIOS in NAME.flash and runs the case script read from
# standard input. The serial console ends up in $VM_WORK/NAME.log.
vm_boot() {
    local name=$1 machine=$2 tree=$VM_WORK/$1.case status module file
    shift 2
    mkdir -p "$tree/usr/local/bin"
    cat >"$tree/case.sh"
    for file in "${vm_files_wanted[@]}"; do cp "$file" "$tree/usr/local/bin/"; done
    for module in "${vm_modules_wanted[@]}"; do
        modprobe -S "$VM_KVERSION" --show-depends "$module" | while read -r verb file _; do
            [ "$verb" = insmod ] && cp --parents "$file" "$tree"
        done
    done
    if [ ${#vm_modules_wanted[@]} -gt 0 ]; then
        cp /lib/modules/"$VM_KVERSION"/modules.{order,builtin,builtin.modinfo} \
            "$tree/lib/modules/$VM_KVERSION/" 2>/dev/null
        depmod -b "$tree" "$VM_KVERSION"
    fi
    vm_modules_wanted=() vm_files_wanted=()
    (cd "$tree" && find . -mindepth 1 | "$VM_BUSYBOX" cpio -o -H newc 2>/dev/null) | gzip -1 >"$tree.cpio.gz"
    cat "$VM_WORK/base.cpio.gz" "$tree.cpio.gz" >"$VM_WORK/$name.initrd"
    cp "$VM_FIRMWARE" "$VM_WORK/$name.flash"

    timeout -k 5 "$VM_BOOT_SECONDS" qemu-system-x86_64 -machine "$machine",accel=tcg -m 256 \
        -nodefaults -display none -no-reboot -serial "file:$VM_WORK/$name.serial" \
        -kernel "$VM_KERNEL" -initrd "$VM_WORK/$name.initrd" \
        -append "console=ttyS0 quiet loglevel=1 panic=-1" \
        -drive "if=pflash,format=raw,file=$VM_WORK/$name.flash" "$@" &
    vm_pid=$!
    wait "$vm_pid"
    status=$?
    vm_pid=
    tr -d '\r' <"$VM_WORK/$name.serial" >"$VM_WORK/$name.log"
    if ! grep -qx '@@ end' "$VM_WORK/$name.log"; then
        fail "$name: the machine did not finish its case (qemu status $status); console ends with:"
        tail -20 "$VM_WORK/$name.log"
        return 1
    fi
    VM_LOG=$VM_WORK/$name.log
}

# expect LABEL STATUS [LINE...]: the command labelled LABEL in the last boot
# printed exactly these lines ("out: TEXT" on standard output, then "err:
# TEXT" on standard error) and ended with STATUS.
expect() {
    local label=$1 status=$2 line want got
    shift 2
    want=$(for line in "$@"; do echo "$line"; done; echo "status: $status")
    got=$(sed -n -e "s|^$label \(out: .*\)$|\1|p" -e "s|^$label \(err: .*\)$|\1|p" \
        -e "s|^$label \(status: .*\)$|\1|p" "$VM_LOG")
    [ "$got" = "$want" ] && return
    fail "$label: got"
    echo "$got"
    echo "expected"
    echo "$want"
}

# flash_unchanged NAME: the machine's firmware flash file still holds SeaBIOS
# byte for byte.
flash_unchanged() {
    cmp -s "$VM_FIRMWARE" "$VM_WORK/$1.flash" || fail "$1: the firmware flash file changed"
}
