#!/usr/bin/env bash
# lromup-sim as a user drives it: make machines, give them images, run the
# updater on them, look at and read back what happened.
# Usage: e2e_sim_tool.sh <path of lromup> <build dir>
set -u
SIM="$(cd "$2" && pwd)/lromup-sim"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_status() {  # expected, then the command
    local want=$1; shift
    "$@" >out.txt 2>err.txt
    local got=$?
    [ "$got" -eq "$want" ] || fail "'$*' exited $got, expected $want: $(head -3 err.txt)"
}
# show once per state of a machine; the values are read from that snapshot.
snap() { "$SIM" show "$1" >"$1.show" 2>&1 || fail "show $1 failed"; }
show_value() { sed -n "s/^$2: //p" "$1.show"; }
expect_value() {  # dir key expected
    local got
    got=$(show_value "$1" "$2")
    [ "$got" = "$3" ] || fail "$1 $2 is '$got', expected '$3'"
}
size_of() { stat -c %s "$1"; }
hex_at() { od -An -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }

# Creation and what show reports for each model.
expect_status 0 "$SIM" new m310
snap m310
expect_value m310 model moro310
expect_value m310 host_bridge 0x01008086
expect_value m310 bios_version 61QM41A
expect_value m310 jedec_id "c2 20 17"
expect_value m310 flash_size 0x800000
expect_value m310 active_bank primary
expect_value m310 flash_wp low
expect_value m310 status_register.primary 0x94
expect_value m310 last_run.erased_bytes 0
expect_status 0 "$SIM" new m320 --model moro320 --active-bank backup --serial AB12 --uuid 00112233-4455-6677-8899-aabbccddeeff
snap m320
expect_value m320 host_bridge 0x2A408086
expect_value m320 flash_part W25Q16BV
expect_value m320 active_bank backup
expect_value m320 status_register.backup 0xBC
expect_status 0 "$SIM" new m330 --model moro330 --crtm --asset none
snap m330
expect_value m330 bios_version 62QM17C
[ "$(show_value m310 sha256.primary)" != "$(show_value m310 sha256.backup)" ] ||
    fail "banks of a new machine are identical"
for key in eeprom_wp bios_write_enable sha256.backup last_run.virtual_ms last_run.programmed_bytes; do
    [ -n "$(show_value m310 $key)" ] || fail "show lacks $key"
done

# Images of the kinds each machine accepts; the region mark only on region images.
expect_status 0 "$SIM" image m310 i310.bin
expect_status 0 "$SIM" image m320 i320.bin
expect_status 0 "$SIM" image m330 i330.bin
expect_status 0 "$SIM" image m310 w310.bin --whole --seed 5
[ "$(size_of i310.bin)" -eq $((0x200000)) ] || fail "moro310 image size"
[ "$(size_of i320.bin)" -eq $((0x200000)) ] || fail "moro320 image size"
[ "$(size_of i330.bin)" -eq $((0x180000)) ] || fail "moro330 image size"
[ "$(size_of w310.bin)" -eq $((0x800000)) ] || fail "whole moro310 image size"
[ "$(hex_at i310.bin 16 2)" = "d954" ] || fail "region image without its mark"
[ "$(hex_at i320.bin 16 2)" != "d954" ] || fail "whole image with the region mark"

# read: one bank's whole part.
snap m330
expect_status 0 "$SIM" read m330 backup b330.bin
[ "$(size_of b330.bin)" -eq $((0x200000)) ] || fail "read size"
[ "$(sha256sum <b330.bin | cut -d' ' -f1)" = "$(show_value m330 sha256.backup)" ] || fail "read content"

# run: the updater's output and status pass through; a trace is written.
expect_status 0 "$SIM" run m310 --trace t1.txt -- -?
grep -q "Usage:" out.txt || fail "run -- -? did not print the usage"
[ -f t1.txt ] || fail "no trace file"
expect_status 3 "$SIM" run m310 -- /p missing.bin
before=$(show_value m330 sha256.primary)
expect_status 0 "$SIM" run m330 --trace t2.txt -- /p i330.bin
snap m330
[ "$(show_value m330 sha256.primary)" != "$before" ] || fail "flash run left the primary bank as it was"
[ "$(show_value m330 last_run.programmed_bytes)" -gt 0 ] || fail "no programmed bytes recorded"
[ "$(wc -l <t2.txt)" -gt 1000 ] || fail "trace of a flash run is short"

# A power cut ends the run at once with status 137 and the machine is saved.
expect_status 0 "$SIM" new cut --model moro330
expect_status 137 "$SIM" run cut --fault power-cut@3 -- /p i330.bin
snap cut
expect_value cut last_run.erased_bytes 4096
expect_status 0 "$SIM" show cut

# Refusals.
expect_status 2 "$SIM" run m310 --fault lightning -- -?
expect_status 2 "$SIM" new bad --model moro999
expect_status 2 "$SIM" read m310 sideways x.bin
expect_status 2 "$SIM"
expect_status 1 "$SIM" show nowhere
printf 'X' | dd of=m310/primary.bin bs=1 seek=100 conv=notrunc 2>/dev/null
expect_status 1 "$SIM" show m310
grep -q "primary.bin" err.txt || fail "damage report does not name the file"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "e2e_sim_tool: all checks passed"
