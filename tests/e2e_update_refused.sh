#!/usr/bin/env bash
# Updates refused before anything is touched: an image name that is no
# regular file, an update that would write no block, an image that cannot
# boot. Each ends with its message and status, never blocking; both banks,
# the boot bank and every guard stay as the machine had them.
# Usage: e2e_update_refused.sh <path of lromup> <build dir>
set -u
LROMUP=$1 BUILD=$2
. "$(dirname "$0")/lib_e2e.sh"

"$SIM" new img310 >/dev/null && "$SIM" image img310 i310.bin >/dev/null
"$SIM" new img320 --model moro320 >/dev/null && "$SIM" image img320 i320.bin >/dev/null &&
    "$SIM" image img320 r320.bin --region >/dev/null
"$SIM" new img330 --model moro330 >/dev/null && "$SIM" image img330 i330.bin >/dev/null

# untouched DIR LOCK: banks as made, the primary active, both parts locked
# with LOCK, the write-protect line low and BIOS writes disabled.
untouched() {
    bank_is_old "$1" primary backup
    expect_show "$1" active_bank=primary flash_wp=low bios_write_enable=0 \
        "status_register.primary=$2" "status_register.backup=$2"
}

# A directory, a FIFO (no writer: opening it would wait for ever), a device
# and a socket: named for what they are at the switch scan, status 3.
machine n330 moro330
mkdir dir.bin && mkfifo fifo.bin
python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("sock.bin")'
for row in "/p dir.bin directory" "/bb fifo.bin FIFO" "/p /dev/zero character device" \
           "/p sock.bin socket"; do
    read -r switch name kind <<<"$row"
    RUN_TIMEOUT=10 run_sim n330 -- "$switch" "$name"
    expect_status 3
    expect_err "$name is a $kind, not an image file; an image must be a regular file."
    expect_not_out "successful!!"
done
untouched n330 0xBC

# Boot block only where the image does not reach the boot block (a Moro 330,
# a Moro 320 given a region image): nothing would be written, so the run is
# refused before the bank is switched, for the backup as for the primary.
machine b330 moro330
machine b320 moro320
for row in "b330 /p i330.bin" "b330 /bb i330.bin" "b320 /p r320.bin" "b320 /bb r320.bin"; do
    read -r dir switch image <<<"$row"
    run_sim "$dir" -- /bblk "$switch" "$image"
    expect_status 6
    expect_err "No block of $image would be written: every 4 KiB block of its flash range 0x3000 to 0x182FFF is one this update (boot block only) leaves alone; nothing was written and the active bank was not changed"
    expect_not_err "successfully"
    expect_not_out "Current Active BIOS"
done
untouched b330 0xBC
untouched b320 0xBC

# Images that cannot boot: every byte one value, or a blank reset vector (the
# 16 bytes below 4 GiB) in a range that writes it.
head -c $((0x180000)) /dev/zero >zero330.bin
head -c $((0x200000)) /dev/zero | tr '\0' '\377' >erased320.bin
blank_vector() {  # IMAGE BYTE OUT: IMAGE with its last 16 bytes set to BYTE
    cp "$1" "$3"
    head -c 16 /dev/zero | tr '\0' "$2" | dd of="$3" bs=1 seek=$(($(stat -c %s "$1") - 16)) \
        conv=notrunc 2>/dev/null
}
blank_vector i310.bin '\377' vector310.bin
blank_vector i320.bin '\0' vector320.bin
machine u310 moro310
machine u320 moro320
machine u330 moro330
same="every byte of the image has the same value"
vector="the 16 bytes where the processor fetches its first instruction are blank"
for row in "u330 /p zero330.bin:$same" "u320 /bb erased320.bin:$same" \
           "u310 /bblk /p vector310.bin:$vector" "u320 /bblk /bb vector320.bin:$vector"; do
    read -r dir args <<<"${row%%:*}"
    # shellcheck disable=SC2086
    run_sim "$dir" -- $args
    expect_status 7
    expect_err "${args##* } cannot boot: ${row#*:}; nothing was written"
    expect_not_out "Current Active BIOS"
done
untouched u310 0x94
untouched u320 0xBC
untouched u330 0xBC
# The same blank vector outside the range written is no reason to refuse.
run_sim u310 -- /p vector310.bin
expect_status 0
bank_is_new u310 moro310 primary vector310.bin

finish
