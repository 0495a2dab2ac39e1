#!/usr/bin/env bash
# Power lost inside the top sectors of a boot-block update leaves the primary
# bank with its identity blocks or its trailer erased. The next update of that
# bank, run directly or after making the backup the boot bank, carries the
# machine's identity from the running BIOS instead of the damaged bank; with
# no intact copy anywhere it is refused and writes nothing.
# Usage: e2e_update_identity.sh <path of lromup> <build dir>
set -u
LROMUP=$1 BUILD=$2
. "$(dirname "$0")/lib_e2e.sh"

"$SIM" new img310 >/dev/null && "$SIM" image img310 i310.bin >/dev/null
"$SIM" new img320 --model moro320 >/dev/null && "$SIM" image img320 i320.bin >/dev/null

# Each 4 KiB block is one erase and 64 programs. Cut points (operation
# numbers): right after the erase of the asset-tag block's sector, of the OEM
# block's sector and of the trailer's sector, and before the trailer's last
# program; on a Moro 310 the boot block is 96 blocks, on a Moro 320 64.
carried="The identity blocks of the BIOS bank being replaced are damaged; the running BIOS's copy is carried instead"
for row in "moro310 i310.bin 5462 direct" "moro310 i310.bin 5527 chg" "moro310 i310.bin 6177 direct" \
           "moro310 i310.bin 6240 chg" "moro320 i320.bin 3382 chg" "moro320 i320.bin 4097 direct"; do
    read -r model image cut how <<<"$row"
    dir=c$model-$cut
    machine "$dir" "$model"
    run_sim "$dir" --fault "power-cut@$cut" -- /bblk /p "$image"
    expect_status 137
    if [ "$how" = chg ]; then
        run_sim "$dir" -- /chg
        expect_status 0
    fi
    run_sim "$dir" -- /bblk /p "$image"
    expect_status 0
    expect_out "$carried"
    bank_is_new "$dir" "$model" primary "$image" --bblk
    bank_is_old "$dir" backup
done

# The running BIOS's copy has a blank trailer too: after the cut the update
# names the lost block and is refused; the bank stays as the cut left it.
machine ref310 moro310
tail -c $((0x10000)) ref310.primary.old >shadow.bin
head -c 6 /dev/zero | tr '\0' '\377' | dd of=shadow.bin bs=1 seek=$((0xFFE2)) conv=notrunc 2>/dev/null
machine x310 moro310 --legacy-area shadow.bin
run_sim x310 --fault power-cut@6177 -- /bblk /p i310.bin
expect_status 137
read_bank x310 primary cut
run_sim x310 -- /bblk /p i310.bin
expect_status 8
expect_err "The asset-tag block of the BIOS bank being replaced is damaged (an earlier update was interrupted?) and the running BIOS holds no intact copy; nothing was written, so that the machine's identity is not lost"
expect_last_err "Error during flash process"
read_bank x310 primary new
cmp -s x310.primary.cut x310.primary.new || fail "the refused update changed the primary bank"
expect_show x310 flash_wp=low bios_write_enable=0

finish
