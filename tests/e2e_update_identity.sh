#!/usr/bin/env bash
# The machine's identity survives every update: a second update after a
# reboot into the first one's image, power lost inside the top sectors of a
# boot-block update (rerun directly, after making the backup the boot bank, or
# after a reboot). The identity comes from the running BIOS, or from an
# intact copy in the bank being replaced or the other bank; with no intact
# copy anywhere the update is refused, writes nothing and switches nothing.
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
carried="The identity blocks of the BIOS bank being replaced are damaged; the copy in the running BIOS's shadowed top 64 KiB is carried instead"
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

# Update, reboot into the new image, update again with the next release:
# every cycle carries the machine's identity, on each model.
for model in moro310 moro320 moro330; do
    dir=l$model
    machine "$dir" "$model"
    "$SIM" image "$dir" r1.bin --seed 11 >/dev/null && "$SIM" image "$dir" r2.bin --seed 12 >/dev/null
    for image in r1.bin r2.bin r1.bin; do
        [ "$model" = moro330 ] && args=(/p "$image") || args=(/bblk /p "$image")
        run_sim "$dir" -- "${args[@]}"
        expect_status 0
        [ "$model" = moro330 ] && bblk=() || bblk=(--bblk)
        bank_is_new "$dir" "$model" primary "$image" "${bblk[@]}"
        cp "$dir.primary.new" "$dir.primary.old"
        "$SIM" reboot "$dir" >/dev/null 2>&1 || fail "reboot $dir"
    done
done

# Both banks cut in their trailers and the running BIOS's copy blank too: the
# update names the lost block, is refused and leaves the boot bank as found.
machine ref310 moro310
cp ref310/legacy.bin shadow.bin
head -c 6 /dev/zero | tr '\0' '\377' | dd of=shadow.bin bs=1 seek=$((0xFFE2)) conv=notrunc 2>/dev/null
machine x310 moro310 --legacy-area shadow.bin
run_sim x310 --fault "power-cut@$n310" -- /bblk /bb i310.bin
expect_status 99
run_sim x310 --fault "power-cut@$n310" -- /bblk /p i310.bin
expect_status 99
read_bank x310 primary cut
"$SIM" show x310 | grep '^active_bank' >x310.bank
run_sim x310 -- /bblk /p i310.bin
expect_status 8
expect_err "The asset-tag block of the BIOS bank being replaced is damaged (an earlier update was interrupted?) and neither the running BIOS nor the other bank holds an intact copy; nothing was written, so that the machine's identity is not lost"
expect_err "Error during flash process"
read_bank x310 primary new
cmp -s x310.primary.cut x310.primary.new || fail "the refused update changed the primary bank"
expect_show x310 flash_wp=low bios_write_enable=0 "$(sed 's/: /=/' x310.bank)"

finish
