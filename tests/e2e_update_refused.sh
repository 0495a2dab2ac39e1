#!/usr/bin/env bash
# Updates refused before anything is touched: an update that would write no
# block, an image that cannot boot or is no BIOS of this family (image names
# that are no regular file: e2e_files). Each ends with its message and status;
# both banks, the boot bank and every guard stay as the machine had them (the
# guards after each refusal on every part: e2e_update_guards).
. "$(dirname "$0")/lib_e2e.sh"

images 310 320 330
"$SIM" image img320 r320.bin --region >/dev/null

# untouched DIR LOCK: banks as made, the primary active, both parts locked
# with LOCK, the write-protect line low and BIOS writes disabled.
untouched() {
    bank_is_old "$1" primary backup
    expect_show "$1" active_bank=primary flash_wp=low bios_write_enable=0 \
        "status_register.primary=$2" "status_register.backup=$2"
}

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

# Images that cannot boot, judged on the bytes written: every one of them one
# value (a region image's mark D9 54 aside), or a blank reset vector (the 14
# bytes below the image checksum) in a range that writes it.
blank() {  # SIZE BYTE OUT [mark]: SIZE bytes of BYTE, with the region mark if asked
    head -c "$1" /dev/zero | tr '\0' "$2" >"$3"
    [ -z "${4:-}" ] || printf '\331\124' | dd of="$3" bs=1 seek=16 conv=notrunc 2>/dev/null
}
blank $((0x200000)) '\377' erased310.bin mark
blank $((0x180000)) '\377' erased330.bin mark
blank $((0x200000)) '\377' erased320.bin
blank_vector() {  # IMAGE BYTE OUT: IMAGE with the 14 bytes before its checksum set to BYTE
    cp "$1" "$3"
    head -c 14 /dev/zero | tr '\0' "$2" | dd of="$3" bs=1 seek=$(($(stat -c %s "$1") - 16)) \
        conv=notrunc 2>/dev/null
    imgcheck seal "$3"
}
blank_vector i310.bin '\377' vector310.bin
machine u310 moro310
machine u320 moro320
machine u330 moro330
same="every byte it would write has the same value (the region mark aside)"
vector="the 16 bytes where the processor fetches its first instruction are blank"
for row in "u310 /p erased310.bin:$same" "u330 /p erased330.bin:$same" "u320 /bb erased320.bin:$same" \
           "u310 /bblk /p vector310.bin:$vector"; do
    read -r dir args <<<"${row%%:*}"
    # shellcheck disable=SC2086
    run_sim "$dir" -- $args
    expect_status 7
    expect_err "${args##* } cannot boot: ${row#*:}; nothing was written"
    expect_not_out "Current Active BIOS"
done
untouched u320 0xBC
untouched u330 0xBC
# The same blank vector outside the range written is no reason to refuse.
run_sim u310 -- /p vector310.bin
expect_status 0
bank_is_new u310 moro310 primary vector310.bin

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
machine f320 moro320
for row in "/p volume.bin:its trailer (the last 32 bytes) does not point at a VPD block in its top 64 KiB, so the machine's serial number, type/model and UUID cannot be carried into it" \
           "/bb badsum320.bin:its image checksum (the last two bytes) does not hold" \
           "/bblk /p other320.bin:its BIOS version names the other family"; do
    read -r -a args <<<"${row%%:*}"
    run_sim f320 -- "${args[@]}"
    expect_status 9
    expect_err "${args[-1]} is not a BIOS for this machine: ${row#*:}; nothing was written and the active bank was not changed."
    grep -q '^Note: a BIOS image for this machine ends with a trailer' err.txt || fail "no note on what an image looks like"
done
bank_is_old f320 primary backup

# A refusal after the bank was selected but before anything was written (an
# image shorter than the range it names: a Moro 330 image without the region
# mark) leaves the machine booting the bank it booted. BIOS writes locked and a
# menu without write status are e2e_update_guards' and e2e_chip's.
cp i330.bin short330.bin
printf '\0' | dd of=short330.bin bs=1 seek=16 conv=notrunc 2>/dev/null
machine s330 moro330
run_sim s330 -- /bb short330.bin
expect_status 3
expect_err "Error reading short330.bin"
expect_show s330 active_bank=primary
bank_is_old s330 primary backup

finish
