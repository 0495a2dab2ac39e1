#!/usr/bin/env bash
# Updates refused before anything is written: an update that would write no
# block, an image that cannot boot or is no BIOS of this family, an image
# shorter than the range it names (image names that are no regular file:
# e2e_files), an identity that would be lost. Each ends with its message and
# status, and after each both banks, the boot bank and every guard stay as the
# machine had them. Then the guards after every kind of run, on every part.
. "$(dirname "$0")/lib_e2e.sh"

images 310 320 330
"$SIM" image img320 r320.bin --region >/dev/null

# Images that cannot boot, judged on the bytes written: every one of them one
# value (a region image erased but for its mark: the guards below), or a blank
# reset vector (the 14 bytes below the image checksum) in a range that writes it.
head -c $((0x200000)) /dev/zero | tr '\0' '\377' >erased320.bin
cp i310.bin vector310.bin
head -c 14 /dev/zero | tr '\0' '\377' | dd of=vector310.bin bs=1 seek=$((0x200000 - 16)) conv=notrunc 2>/dev/null
imgcheck seal vector310.bin
# Images that are no BIOS of this family, so that the machine's identity could
# not be carried into them: a firmware volume of random bytes, a valid image
# whose checksum does not hold, one whose BIOS version names the other family.
volume >volume.bin
cp i320.bin badsum320.bin
printf '\125' | dd of=badsum320.bin bs=1 seek=$((0x100000)) conv=notrunc 2>/dev/null
python3 - i320.bin other320.bin <<'PYEOF'
import sys
img = open(sys.argv[1], "rb").read().replace(b"\x0061QM", b"\x0062QM")
open(sys.argv[2], "wb").write(img)
PYEOF
imgcheck seal other320.bin
# A Moro 330 image without the region mark: shorter than the range it names.
cp i330.bin short330.bin
printf '\0' | dd of=short330.bin bs=1 seek=16 conv=notrunc 2>/dev/null

machine u310 moro310
machine u320 moro320
machine u330 moro330
same="every byte it would write has the same value (the region mark aside)"
vector="the 16 bytes where the processor fetches its first instruction are blank"
while IFS='|' read -r dir args want reason; do
    image=${args##* }
    # shellcheck disable=SC2086
    tool "$want" run "$dir" -- $args
    case $want in
    6) expect_err "No block of $image would be written: every 4 KiB block of its flash range 0x3000 to 0x182FFF is one this update (boot block only) leaves alone; nothing was written and the active bank was not changed" ;;
    7) expect_err "$image cannot boot: $reason; nothing was written" ;;
    9) expect_err "$image is not a BIOS for this machine: $reason; nothing was written and the active bank was not changed."
       grep -q '^Note: a BIOS image for this machine ends with a trailer' err.txt || fail "no note on what an image looks like" ;;
    3) expect_err "Error reading $image" ;;
    esac
    expect_not_err "successfully"
    expect_not_out "Current Active BIOS"
    lock=0xBC; [ "$dir" = u310 ] && lock=0x94
    bank_is_old "$dir" primary backup
    expect_show "$dir" active_bank=primary flash_wp=low bios_write_enable=0 \
        "status_register.primary=$lock" "status_register.backup=$lock"
done <<ROWS
u330|/bblk /p i330.bin|6
u320|/bblk /bb r320.bin|6
u320|/bb erased320.bin|7|$same
u310|/bblk /p vector310.bin|7|$vector
u320|/p volume.bin|9|its trailer (the last 32 bytes) does not point at a VPD block in its top 64 KiB, so the machine's serial number, type/model and UUID cannot be carried into it
u320|/bb badsum320.bin|9|its image checksum (the last two bytes) does not hold
u320|/bblk /p other320.bin|9|its BIOS version names the other family
u330|/bb short330.bin|3
ROWS
# The same blank vector outside the range written is no reason to refuse.
tool 0 run u310 -- /p vector310.bin
bank_is_new u310 moro310 primary vector310.bin

# A boot-block update cut in its trailer on both banks, with the running
# BIOS's copy of the identity blank too: the rerun names the lost block, is
# refused, writes nothing and switches nothing (cuts after which an intact copy
# is carried: the life test).
# The cut point: the last operation of a boot-block update, which programs the
# sector that holds the trailer (counted from a whole run on a twin machine:
# one per erase of either size and one per 64 bytes programmed).
machine ops moro310
tool 0 run ops -- /bblk /p i310.bin
"$SIM" show ops >ops.show
n310=$(($(sed -n 's/^last_run.erases_4k: //p' ops.show) + $(sed -n 's/^last_run.erases_64k: //p' ops.show) +
        $(sed -n 's/^last_run.programmed_bytes: //p' ops.show) / 64))
cp ops/legacy.bin shadow.bin  # an update leaves the running BIOS's copy alone
head -c 6 /dev/zero | tr '\0' '\377' | dd of=shadow.bin bs=1 seek=$((0xFFE2)) conv=notrunc 2>/dev/null
machine x310 moro310 --legacy-area shadow.bin
tool 99 run x310 --fault "power-cut@$n310" -- /bblk /bb i310.bin
tool 99 run x310 --fault "power-cut@$n310" -- /bblk /p i310.bin
read_bank x310 primary cut
"$SIM" show x310 | grep '^active_bank' >x310.bank
tool 8 run x310 -- /bblk /p i310.bin
expect_err "The asset-tag block of the BIOS bank being replaced is damaged (an earlier update was interrupted?) and neither the running BIOS nor the other bank holds an intact copy; nothing was written, so that the machine's identity is not lost"
expect_err "Error during flash process"
read_bank x310 primary new
cmp -s x310.primary.cut x310.primary.new || fail "the refused update changed the primary bank"
expect_show x310 flash_wp=low bios_write_enable=0 "$(sed 's/: /=/' x310.bank)"

# The guards around the flash after every kind of run: each part's status
# register (non-volatile), the flash write-protect line and BIOSWE end as the
# run found them, except the part an update wrote, which ends locked (after an
# update: expect_locked in e2e_update; after a failed one: e2e_update_faults).
# Every refusal on each of the six parts, the part in the model whose map it
# fits (the 4 MiB parts fit none and are refused for their size instead):
# both status registers, the line and BIOSWE end as the machine was made,
# the banks untouched (and, for the locked setups, the boot bank as found).
# The AT26DF321 takes global protect/unprotect.
head -c $((0x1FFFFF)) i310.bin >short.bin
{ head -c 16 /dev/zero | tr '\0' '\377'; printf '\331\124'
  head -c $((0x200000 - 18)) /dev/zero | tr '\0' '\377'; } >erased.bin
for row in MX25L1606E:moro320:i320.bin W25Q16BV:moro320:i320.bin MX25L3205D:moro320:i320.bin \
           AT26DF321:moro320:i320.bin MX25L6445E:moro310:i310.bin W25Q64:moro310:i310.bin; do
    IFS=: read -r part model image <<<"$row"
    fits=1; case $part in MX25L3205D | AT26DF321) fits=0 ;; esac
    for setup in "" --ble "--flockdn --firmware-menu read-only"; do
        dir=p$part${setup%% *}
        # shellcheck disable=SC2086
        machine "$dir" "$model" --part "$part" $setup
        "$SIM" show "$dir" | grep '^status_register' | sed 's/: /=/' >"$dir.found"
        # The locked setups refuse /bb after switching: the bank goes back.
        [ -z "$setup" ] || echo active_bank=primary >>"$dir.found"
        case $setup in
        "") runs=("61 /plat" "4 /p short.bin" "$((fits ? 7 : 249)) /p erased.bin"
                  "$((fits ? 9 : 249)) /bb volume.bin" "0 /chg" "0 /lockEEP /unlockEEP" "61") ;;
        --ble) runs=("$((fits ? 248 : 249)) /bb $image") ;;
        *) runs=("$((fits ? 250 : 249)) /bb $image") ;;
        esac
        for run in "${runs[@]}"; do
            read -r want args <<<"$run"
            # shellcheck disable=SC2086
            tool "$want" run "$dir" -- $args
            expect_not_err "could not be put back"
            # shellcheck disable=SC2046
            expect_show "$dir" flash_wp=low bios_write_enable=0 $(cat "$dir.found")
        done
        bank_is_old "$dir" primary backup
    done
done

finish
