#!/usr/bin/env bash
# The guards around the flash after every kind of run: each part's status
# register (non-volatile), the flash write-protect line and BIOSWE end as the
# run found them, except the part an update wrote, which ends locked (after an
# update: expect_locked in e2e_update; after a failed one: e2e_update_faults).
. "$(dirname "$0")/lib_e2e.sh"

images 310 320

# Every refusal on each of the six parts, the part in the model whose map it
# fits (the 4 MiB parts fit none and are refused for their size instead):
# both status registers, the line and BIOSWE end as the machine was made,
# the banks untouched (and, for the locked setups, the boot bank as found).
# The AT26DF321 takes global protect/unprotect.
head -c $((0x1FFFFF)) i310.bin >short.bin
{ head -c 16 /dev/zero | tr '\0' '\377'; printf '\331\124'
  head -c $((0x200000 - 18)) /dev/zero | tr '\0' '\377'; } >erased.bin
volume >volume.bin
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
            run_sim "$dir" -- $args
            expect_status "$want"
            expect_not_err "could not be put back"
            # shellcheck disable=SC2046
            expect_show "$dir" flash_wp=low bios_write_enable=0 $(cat "$dir.found")
        done
        bank_is_old "$dir" primary backup
    done
done

finish
