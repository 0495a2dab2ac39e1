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

# Cut points: the last operations of the update, which erase and program the
# sector that holds the trailer (counted from a whole run on a twin machine:
# one per erase of either size and one per 64 bytes programmed).
ops() {  # MODEL IMAGE: erase and program operations of a boot-block update
    machine "ops$1" "$1"
    run_sim "ops$1" -- /bblk /p "$2"
    "$SIM" show "ops$1" >ops.show
    echo $(($(sed -n 's/^last_run.erases_4k: //p' ops.show) +
            $(sed -n 's/^last_run.erases_64k: //p' ops.show) +
            $(sed -n 's/^last_run.programmed_bytes: //p' ops.show) / 64))
}
n310=$(ops moro310 i310.bin) n320=$(ops moro320 i320.bin)
carried="The identity blocks of the BIOS bank being replaced are damaged; the running BIOS's copy is carried instead"
for row in "moro310 i310.bin $n310 direct" "moro310 i310.bin $n310 chg" \
           "moro320 i320.bin $n320 chg" "moro320 i320.bin $n320 direct"; do
    read -r model image cut how <<<"$row"
    dir=c$model-$how
    machine "$dir" "$model"
    run_sim "$dir" --fault "power-cut@$cut" -- /bblk /p "$image"
    expect_status 99
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
cp ref310/legacy.bin shadow.bin
head -c 6 /dev/zero | tr '\0' '\377' | dd of=shadow.bin bs=1 seek=$((0xFFE2)) conv=notrunc 2>/dev/null
machine x310 moro310 --legacy-area shadow.bin
run_sim x310 --fault "power-cut@$n310" -- /bblk /p i310.bin
expect_status 99
read_bank x310 primary cut
run_sim x310 -- /bblk /p i310.bin
expect_status 8
expect_err "The asset-tag block of the BIOS bank being replaced is damaged (an earlier update was interrupted?) and the running BIOS holds no intact copy; nothing was written, so that the machine's identity is not lost"
expect_err "Error during flash process"
read_bank x310 primary new
cmp -s x310.primary.cut x310.primary.new || fail "the refused update changed the primary bank"
expect_show x310 flash_wp=low bios_write_enable=0

finish
