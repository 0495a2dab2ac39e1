#!/usr/bin/env bash
# Updates refused before anything is written: an update that would write no
# block, an image that cannot boot or is no BIOS of this family, an image
# shorter than the range it names (image names that are no regular file:
# e2e_files). Each ends with its message and status, and after each both
# banks, the boot bank and every guard stay as the machine had them (the
# guards after refusals on every part: e2e_update_guards).
. "$(dirname "$0")/lib_e2e.sh"

images 310 320 330
"$SIM" image img320 r320.bin --region >/dev/null

# Images that cannot boot, judged on the bytes written: every one of them one
# value (a region image erased but for its mark: e2e_update_guards), or a blank
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
    run_sim "$dir" -- $args
    expect_status "$want"
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
run_sim u310 -- /p vector310.bin
expect_status 0
bank_is_new u310 moro310 primary vector310.bin
finish
