#!/usr/bin/env bash
# lromup-sim as a user drives it: make machines, give them images, run the
# updater on them, look at and read back what happened, and its refusals.
. "$(dirname "$0")/lib_e2e.sh"

size_is() { [ "$(stat -c %s "$1")" -eq "$2" ] || fail "$1 is not $2 bytes"; }

# Creation, and what show reports for each model.
tool 0 new m310
expect_show m310 model=moro310 host_bridge=0x01008086 bios_version=61QM41A "jedec_id=c2 20 17" \
    flash_size=0x800000 active_bank=primary flash_wp=low eeprom_wp=high bios_write_enable=0 \
    status_register.primary=0x94 last_run.erased_bytes=0 last_run.programmed_bytes=0
[ "$(sed -n 's/^sha256.primary: //p' m310.show)" != "$(sed -n 's/^sha256.backup: //p' m310.show)" ] ||
    fail "banks of a new machine are identical"
tool 0 new m320 --model moro320 --active-bank backup --serial AB12 \
    --uuid 00112233-4455-6677-8899-aabbccddeeff --sp-kernel A8DSP021 --sp-build 0x9D00
expect_show m320 host_bridge=0x2A408086 flash_part=W25Q16BV active_bank=backup status_register.backup=0xBC \
    sp.kernel_revision=A8DSP021 sp.kernel_build=0x9D00 sp.profile=0x01
tool 0 new m330 --model moro330 --crtm --asset none
expect_show m330 bios_version=62QM17C

# Images of the kind each machine accepts (the region images and the 61QM
# whole ones are taken by the updater in e2e_update), and a whole-flash image.
tool 0 image m330 i330.bin && size_is i330.bin $((0x180000))
tool 0 image m310 w310.bin --whole --seed 5 && size_is w310.bin $((0x800000))

# read: one bank's whole part, as show digests it.
tool 0 read m330 backup b330.bin && size_is b330.bin $((0x200000))
expect_show m330 "sha256.backup=$(sha256sum <b330.bin | cut -d' ' -f1)"

# run: the updater's output and status pass through; a trace is written.
tool 0 run m330 --trace t2.txt -- /p i330.bin
[ "$(wc -l <t2.txt)" -gt 1000 ] || fail "trace of a flash run is short"
grep -qx "out 0xcf8 4 0x80000000" t2.txt || fail "trace lacks the host-bridge selection"

# sp: the service processor's application area takes LPCSPFW.BIN of the
# working directory, its kernel stays; a fault named reaches it (each fault's
# course, a difference found by compare: the unit tests, on the same board).
tool 0 sp image LPCSPFW.BIN --seed 7
want=$(sha256sum <LPCSPFW.BIN | cut -d' ' -f1)
! grep -q "sha256.sp_application: $want" m320.show || fail "the new machine already holds the image"
tool 0 sp m320 flash
expect_err "Service Processor Firmware Updated Successfully!"
expect_show m320 sp.kernel_revision=A8DSP021 sp.kernel_build=0x9D00 sp.profile=0x01 "sha256.sp_application=$want"
tool 0 sp m320 compare
expect_out "OK. Contents Match."
tool 255 sp m320 flash --fault sp-erase-error
expect_last_err "An error occurred during the erase process, retrying...Failed"

# A power cut ends the run at once with status 99 (not a signal status); the machine is saved.
tool 0 new cut --model moro330
tool 99 run cut --fault power-cut@3 -- /p i330.bin
expect_show cut last_run.erased_bytes=4096

# The cut left the primary bank's body written in part: after a reboot it
# does not boot and nothing runs; the bank-select jumper boots the backup (the
# recovery that follows, and the version of a new body: the life test).
damaged="the body is damaged (its byte sum does not hold)"
tool 0 reboot cut
expect_err "lromup-sim: the primary bank does not boot: $damaged; the other bank boots with: lromup-sim reboot cut --bank backup"
expect_show cut "boots=no: $damaged" bios_version=unknown
tool 1 run cut -- /chg
tool 0 reboot cut --bank backup
expect_show cut boots=yes active_bank=backup bios_version=62QM17C

# Refusals: usage errors 2, a missing or damaged machine 1, naming the file.
tool 2 run m310 --fault lightning -- -?
tool 2 sp m320 flash --fault sp-no-such-fault
tool 2 new bad --model moro999
tool 2 read m310 sideways x.bin
tool 2
tool 1 show nowhere
printf 'X' | dd of=m310/primary.bin bs=1 seek=100 conv=notrunc 2>/dev/null
tool 1 show m310
grep -q "primary.bin" err.txt || fail "damage report does not name the file"
finish
