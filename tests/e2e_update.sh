#!/usr/bin/env bash
# Whole updates of simulated Moro 310, 320 and 330 machines through lromup-sim:
# the bank written holds the new image with the machine's identity carried
# into the blocks that are written and its old bytes everywhere else, the
# other bank is untouched, and the protections are re-armed.
# Usage: e2e_update.sh <path of lromup> <build dir>
set -u
LROMUP=$1
BUILD=$2
. "$(dirname "$0")/e2e_lib.sh"

# machine DIR MODEL [new options]: a new machine and its banks as they were.
machine() {
    local dir=$1 model=$2; shift 2
    "$SIM" new "$dir" --model "$model" "$@" >/dev/null 2>&1 || fail "new $dir $*"
    read_bank "$dir" primary "$dir.primary.old"
    read_bank "$dir" backup "$dir.backup.old"
}

# check_bank DIR MODEL BANK IMAGE [checker options]: BANK was written with IMAGE.
check_bank() {
    local dir=$1 model=$2 bank=$3 image=$4; shift 4
    read_bank "$dir" "$bank" "$dir.$bank.new"
    local why
    why=$(imgcheck expect "$model" "$dir.$bank.old" "$dir.$bank.new" "$image" "$@") ||
        fail "$last_cmd: $bank bank of $dir: $why"
}

# check_untouched DIR BANK: the bank holds what it held when the machine was made.
check_untouched() {
    read_bank "$1" "$2" "$1.$2.new"
    cmp -s "$1.$2.old" "$1.$2.new" || fail "$last_cmd: $2 bank of $1 changed"
}

# check_locked DIR MODEL BANK ACTIVE: the written part is protected again,
# the flash write-protect line is low and ACTIVE is the boot bank.
check_locked() {
    snap "$1"
    expect_value "$1" "status_register.$3" "$(lock_value "$2")"
    expect_value "$1" flash_wp low
    expect_value "$1" active_bank "$4"
}

# Moro 310 (PCH, region image at 0x600000): the blocks below 0x7A0000 are
# written, the top (where the identity blocks lie) keeps the old bytes.
ID310=(--serial S42 --mtm 4157X9Z --uuid 00112233-4455-6677-8899-aabbccddeeff
       --asset ABCDEFGHIJKLMNOPQRSTUVWXYZ012345 --oem "OEM text of this board")
machine m310 moro310 "${ID310[@]}"
"$SIM" image m310 i310.bin --seed 3 >/dev/null
imgcheck dirty i310.bin
run_sim m310 -- /p i310.bin
expect_status 0
expect_out "Open i310.bin successful!!"
expect_out "The ROM file name is: i310.bin"
expect_out "The file size is 0x200000h bytes"
expect_out "Current Active BIOS is Primary BIOS"
expect_out "Chipset: PCH"
expect_out "i310.bin: 600000 [200000]"
[ "$(grep -m1 '%$' out.txt)" = "75%" ] || fail "$last_cmd: first progress is not 75%"
[ "$(grep '%$' out.txt | tail -1)" = "100%" ] || fail "$last_cmd: last progress is not 100%"
expect_err "[MXIC MX25L6445E] / [MXIC MX25L6406E]"
[ "$(tail -1 err.txt)" = "Flash process completed successfully" ] ||
    fail "$last_cmd: last stderr line is '$(tail -1 err.txt)'"
check_bank m310 moro310 primary i310.bin "${ID310[@]}"
check_untouched m310 backup
check_locked m310 moro310 primary primary
snap m310
expect_value m310 last_run.erased_bytes $((0x190000))
expect_value m310 last_run.programmed_bytes $((0x190000))

# /bblk writes only the top 0x60000, which carries the identity.
machine b310 moro310 "${ID310[@]}"
run_sim b310 -- /bblk /p i310.bin
expect_status 0
expect_err "Flash process completed successfully"
check_bank b310 moro310 primary i310.bin --bblk "${ID310[@]}"
check_untouched b310 backup
check_locked b310 moro310 primary primary

# A machine running from its backup bank is switched to the primary first;
# the upper-case switch is the same switch.
machine a310 moro310 --active-bank backup
run_sim a310 -- /bblk /P i310.bin
expect_status 0
expect_out "Current Active BIOS is Backup BIOS"
check_bank a310 moro310 primary i310.bin --bblk
check_untouched a310 backup
check_locked a310 moro310 primary primary

# A backup update on a machine already running from its backup bank: no
# switch, the backup bank is written and stays active.
machine k310 moro310 --active-bank backup --serial KK1
run_sim k310 -- /bblk /bb i310.bin
expect_status 0
expect_out "Current Active BIOS is Backup BIOS"
expect_err "Backup  BIOS flashed successfully"
check_bank k310 moro310 backup i310.bin --bblk --serial KK1
check_untouched k310 primary
check_locked k310 moro310 backup backup

# Moro 320 (ICH, whole 2 MiB image from address 0), its own identity.
machine m320 moro320
"$SIM" image m320 i320.bin --seed 4 >/dev/null
imgcheck dirty i320.bin
run_sim m320 -- /bblk /p i320.bin
expect_status 0
expect_out "Chipset: ICH"
expect_out "i320.bin: 0 [200000]"
[ "$(grep -m1 '%$' out.txt)" = "0%" ] || fail "$last_cmd: first progress is not 0%"
part=$'\xFB [WINBOND W25Q16BVSIG]\n\n'
cmp -s err.txt <(printf '%s%sFlash process completed successfully\n' "$part" "$part") ||
    fail "$last_cmd: stderr is $(od -An -c err.txt | tr -s ' \n' ' ')"
check_bank m320 moro320 primary i320.bin --bblk
check_untouched m320 backup
check_locked m320 moro320 primary primary

# Backup update: the backup bank becomes and stays the active one.
machine k320 moro320 --serial BK00001
run_sim k320 -- /bb i320.bin
expect_status 0
expect_out "Current Active BIOS is Primary BIOS"
expect_out "i320.bin: 0 [200000]"
expect_err "Backup  BIOS flashed successfully"
expect_not_err "Flash process completed successfully"
check_bank k320 moro320 backup i320.bin --serial BK00001
check_untouched k320 primary
check_locked k320 moro320 backup backup

# Moro 330 (ICH, 62QM region image at 0x3000): the identity blocks are in
# the range written without /bblk.
ID330=(--serial 12345AB --mtm MT3 --uuid 0a0b0c0d-1122-3344-5566-778899aabbcc
       --asset "tag 330" --oem "Moro OEM line")
machine m330 moro330 "${ID330[@]}"
"$SIM" image m330 i330.bin --seed 5 >/dev/null
imgcheck dirty i330.bin
run_sim m330 -- /p i330.bin
expect_status 0
expect_out "The file size is 0x180000h bytes"
expect_out "i330.bin: 3000 [180000]"
[ "$(grep '%$' out.txt | tail -1)" = "75%" ] || fail "$last_cmd: last progress is not 75%"
expect_err "Flash process completed successfully"
check_bank m330 moro330 primary i330.bin "${ID330[@]}"
check_untouched m330 backup
check_locked m330 moro330 primary primary

# Without running asset and OEM blocks the image keeps its own texts.
machine n330 moro330 --asset none --oem none
run_sim n330 -- /p i330.bin
expect_status 0
check_bank n330 moro330 primary i330.bin --asset none --oem none
check_locked n330 moro330 primary primary

# Without a running VPD block the image is written exactly as read.
machine v330 moro330 --no-vpd
run_sim v330 -- /p i330.bin
expect_status 0
check_bank v330 moro330 primary i330.bin --no-carry

# Primary and backup in one run, each from its own file; the backup bank
# stays active and both banks carry the identity.
"$SIM" image m330 j330.bin --seed 6 >/dev/null
machine d330 moro330 "${ID330[@]}"
run_sim d330 -- /bb j330.bin /p i330.bin
expect_status 0
[ "$(grep -n 'Current Active BIOS' out.txt | cut -d: -f2 | tr '\n' '/')" = \
  "Current Active BIOS is Primary BIOS/Current Active BIOS is Primary BIOS/" ] ||
    fail "$last_cmd: bank reports $(grep 'Current Active' out.txt | tr '\n' '/')"
[ "$(grep -E '^[ij]330.bin: ' out.txt | tr '\n' '/')" = \
  "i330.bin: 3000 [180000]/j330.bin: 3000 [180000]/" ] ||
    fail "$last_cmd: primary is not written before backup"
expect_err "Flash process completed successfully"
expect_err "Backup  BIOS flashed successfully"
check_bank d330 moro330 primary i330.bin "${ID330[@]}"
check_bank d330 moro330 backup j330.bin "${ID330[@]}"
check_locked d330 moro330 backup backup
expect_value d330 status_register.primary 0xBC

finish
