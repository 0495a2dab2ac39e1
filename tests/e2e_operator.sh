#!/usr/bin/env bash
# The operator's switches on simulated Moro 320 and 330 machines: /info and
# /verify write nothing, /dump saves the active bank as an image file, /report
# tells what a run changed (refusals included), an update ends with a summary
# line, and refusals explain themselves on the next line.
. "$(dirname "$0")/lib_e2e.sh"

# Per model: the family, and where an image file of the family lies in the flash.
declare -A FAMILY=([moro320]=61QM [moro330]=62QM) START=([moro320]=0 [moro330]=$((0x3000)))
declare -A SIZE=([moro320]=$((0x200000)) [moro330]=$((0x180000)))
# The boot block lies outside a 62QM image file: /bblk has nothing to write there.
declare -A BBLK=([moro320]=/bblk [moro330]=)
images 320 330
# key JSON PATH: one value of the run report.
key() { jq -r "$2" "$1" 2>/dev/null; }
expect_key() { [ "$(key "$1" "$2")" = "$3" ] || fail "$1 $2 is '$(key "$1" "$2")', expected '$3'"; }
# range_of DIR BANK MODEL: the bank's bytes where an image file of the model lies.
range_of() {
    read_bank "$1" "$2" now
    tail -c +$((START[$3] + 1)) "$1.$2.now" | head -c "${SIZE[$3]}"
}

for model in moro320 moro330; do
    m=${model#moro}; image=i$m.bin bblk=${BBLK[$model]}

    # /info, alone and beside an update: its lines, and no bank or line touched by it.
    machine "i$m" "$model"
    tool 0 run "i$m" -- /info
    for line in "product: Moro $m" "family: ${FAMILY[$model]}" "active_bank: primary" \
                "flash_wp: low (WP# asserted)" "bioswe: 0" "eeprom_wp: high (locked)"; do
        expect_out "$line"
    done
    grep -q '^status_register.backup: 0x[0-9A-F]\{2\} (' out.txt || fail "no backup status register line"
    bank_is_old "i$m" primary backup
    expect_show "i$m" active_bank=primary eeprom_wp=high flash_wp=low
    tool 0 run "i$m" -- /info /bb "$image" $bblk
    expect_out "active_bank: primary"
    expect_show "i$m" active_bank=backup

    # /dump alone and before an update: the active bank as it was, as an image file
    # (an output refused before the run, as /report's is: the switch-scan unit test).
    machine "d$m" "$model" --active-bank backup
    for args in "/dump d1.bin" "/dump d2.bin /p $image" "/dump d3.bin /bb $image $bblk"; do
        # shellcheck disable=SC2086
        tool 0 run "d$m" -- $args
    done
    tail -c +$((START[$model] + 1)) "d$m.backup.old" | head -c "${SIZE[$model]}" >want.bin
    cmp -s d1.bin want.bin || fail "d1.bin is not the backup bank's image range"
    cmp -s d2.bin want.bin || fail "the dump before /p is not the bank as found"
    range_of "d$m" primary "$model" >want.bin
    cmp -s d3.bin want.bin || fail "d3.bin is not the primary bank /p wrote"

    # /verify: a difference before the update, a match after it, each bank
    # and the boot block alone; nothing written by the comparison.
    machine "v$m" "$model"
    while read -r update verify want; do
        [ "$update" = - ] || tool 0 run "v$m" -- ${update//,/ }
        "$SIM" show "v$m" | grep '^sha256\.' | sed 's/: /=/' >"v$m.banks"
        # shellcheck disable=SC2086
        tool "$want" run "v$m" -- ${verify//,/ }
        [ "$want" = 0 ] || grep -q '^first difference at flash address 0x[0-9A-F]*, [0-9]* bytes differ$' err.txt ||
            fail "no difference line (stderr: $(errs))"
        # shellcheck disable=SC2046
        expect_show "v$m" $(cat "v$m.banks") active_bank="$(key r.json .active_bank 2>/dev/null || echo primary)"
    done <<ROWS
-              /verify,$image,/report,r.json                11
/p,$image      /verify,$image,/report,r.json                0
-              /verify,/bb,$image,/report,r.json            11
/bb,$image,$bblk /verify,/bb,$image,$bblk,/report,r.json    0
ROWS
    expect_key r.json .bank backup
    expect_key r.json .verify ok

    # /report: what changed, the same image twice, counts as the twin saw them.
    machine "r$m" "$model"
    tool 0 run "r$m" -- /p "$image" /report r.json
    grep -q "^Summary: wrote the primary bank; the primary bank will boot; blocks erased [1-9][0-9]*, programmed [1-9][0-9]*, unchanged [0-9]*; 64 KiB erases [0-9]*, fallbacks [0-9]*; verify ok; [0-9.]* s$" err.txt ||
        fail "no summary line (stderr: $(errs))"
    expect_last_err "Flash process completed successfully"
    expect_key r.json .status 0
    expect_key r.json .changed true
    expect_key r.json .machine.family "${FAMILY[$model]}"
    expect_key r.json .image.sha256 "$(sha256sum <"$image" | cut -d' ' -f1)"
    expect_show "r$m" "last_run.erased_bytes=$(key r.json .erased_bytes)" \
        "last_run.programmed_bytes=$(key r.json .programmed_bytes)"
    tool 0 run "r$m" -- /p "$image" /report r.json
    expect_key r.json .changed false
    expect_key r.json .erased_bytes 0
    expect_key r.json .programmed_bytes 0
    [ "$(key r.json .unchanged_blocks)" -gt 0 ] || fail "no unchanged block counted"
    tool 0 run "r$m" -- /chg /report r.json
    expect_key r.json .changed true
    expect_key r.json .active_bank backup
done

# Refusals: the message, then a line with the reason, also in the report.
machine x320 moro320
head -c 100 i320.bin >short.bin
touch unreadable.bin && chmod 000 unreadable.bin
while IFS='|' read -r args want out err; do
    # shellcheck disable=SC2086
    tool "$want" run x320 -- $args /report r.json
    [ -z "$out" ] || expect_out "$out"
    expect_err "$err"
    expect_key r.json .status "$want"
    expect_key r.json .message "$err"
    expect_key r.json .changed false
done <<'ROWS'
/p short.bin|4|Corrupt BIOS file, exiting|short.bin is 0x64 bytes; an image file of this family is 0x200000 bytes: use the image made for this machine
/p none.bin|3|Open none.bin error.|none.bin cannot be opened: No such file or directory
/x|2|Usage: lromup <mode> <file>|The switch '/x' is not understood (switches are case-sensitive); lromup(8) lists every switch
ROWS
bank_is_old x320 primary backup
# Runs that end the process from deep inside still leave their report: an
# unknown flash part (255), and the real binary on a host without /dev/mem (1).
machine u320 moro320 --part unknown
tool 255 run u320 -- /p i320.bin /report r.json
expect_key r.json .status 255
expect_show u320 active_bank=primary flash_wp=low bios_write_enable=0 status_register.primary=0xBC
if [ ! -e /dev/mem ]; then
    last_cmd="lromup /info /report r.json"
    timeout 20 "$LROMUP" /info /report r.json >out.txt 2>err.txt
    status=$?
    expect_status 1
    expect_key r.json .status 1
fi
# A report that cannot be written safely refuses the run before it starts.
mkdir rdir
tool 12 run x320 -- /chg /report rdir
expect_show x320 active_bank=primary
# One that fails as it is written: the run did its work, its status says so.
tool 12 run x320 -- /chg /report /dev/full
expect_err "The run report /dev/full could not be written: cannot write /dev/full: No space left on device"
expect_show x320 active_bank=backup
finish
