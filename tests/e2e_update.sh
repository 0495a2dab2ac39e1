#!/usr/bin/env bash
# Whole updates of simulated Moro 310, 320 and 330 machines: the bank written
# holds the image with the machine's identity carried into the blocks that are
# written and its old bytes elsewhere, the other bank is untouched, and the
# protections are re-armed.
. "$(dirname "$0")/lib_e2e.sh"

# Moro 310 (PCH, region image at 0x600000): the blocks below 0x7A0000 are
# written, the top (where the identity blocks lie) keeps the old bytes.
ID310=(--serial S42 --mtm 4157X9Z --uuid 00112233-4455-6677-8899-aabbccddeeff
       --asset ABCDEFGHIJKLMNOPQRSTUVWXYZ012345 --oem "OEM text of this board")
machine m310 moro310 "${ID310[@]}"
"$SIM" image m310 i310.bin --seed 3 >/dev/null
imgcheck dirty i310.bin
tool 0 run m310 -- /p i310.bin
expect_err "[MXIC MX25L6445E] / [MXIC MX25L6406E]"
expect_last_err "Flash process completed successfully"
bank_is_new m310 moro310 primary i310.bin "${ID310[@]}"
bank_is_old m310 backup
expect_locked m310 moro310 primary primary
expect_show m310 last_run.erased_bytes=$((0x190000)) last_run.programmed_bytes=$((0x190000))

# Moro 320 (ICH, whole 2 MiB image from address 0), its own identity; the
# part line comes once per identification, exactly.
machine m320 moro320
"$SIM" image m320 i320.bin --seed 4 >/dev/null
imgcheck dirty i320.bin
tool 0 run m320 -- /bblk /p i320.bin
part=$'\xFB [WINBOND W25Q16BVSIG]\n\n'
grep -av '^Summary: wrote the primary bank' err.txt |
    cmp -s - <(printf '%s%sFlash process completed successfully\n' "$part" "$part") ||
    fail "stderr is $(od -An -c err.txt | tr -s ' \n' ' ')"
bank_is_new m320 moro320 primary i320.bin --bblk
bank_is_old m320 backup
expect_locked m320 moro320 primary primary

# Moro 330 (ICH, 62QM region image at 0x3000): the identity blocks are in
# the range written without /bblk. Primary and backup in one run, each from
# its own file: the primary first, the backup bank stays active and both banks
# carry the identity.
ID330=(--serial 12345AB --mtm MT3 --uuid 0a0b0c0d-1122-3344-5566-778899aabbcc
       --asset "tag 330" --oem "Moro OEM line")
machine d330 moro330 "${ID330[@]}"
"$SIM" image d330 i330.bin --seed 5 >/dev/null
"$SIM" image d330 j330.bin --seed 6 >/dev/null
imgcheck dirty i330.bin
tool 0 run d330 -- /bb j330.bin /p i330.bin
order="Current Active BIOS is Primary BIOS/i330.bin: 3000 [180000]/"
[ "$(grep -E 'Current Active BIOS|^[ij]330.bin: ' out.txt | tr '\n' /)" = "$order${order//i330/j330}" ] ||
    fail "primary is not written before backup: $(tr '\n' / <out.txt)"
expect_err "Flash process completed successfully"
expect_err "Backup  BIOS flashed successfully"
bank_is_new d330 moro330 primary i330.bin "${ID330[@]}"
bank_is_new d330 moro330 backup j330.bin "${ID330[@]}"
expect_locked d330 moro330 backup backup
expect_show d330 status_register.primary=0xBC

# A machine without asset and OEM blocks leaves the image's own texts.
machine n330 moro330 --asset none --oem none
tool 0 run n330 -- /p i330.bin
bank_is_new n330 moro330 primary i330.bin --asset none --oem none

finish
