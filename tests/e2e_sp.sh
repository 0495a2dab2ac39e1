#!/usr/bin/env bash
# The service-processor update through lromup-sim: a machine made with a given
# kernel, "sp DIR flash" and "sp DIR compare" in the directory that holds
# LPCSPFW.BIN, what show reports afterwards, faults, and the trace.
. "$(dirname "$0")/lib_e2e.sh"

app_sha() { sed -n 's/^sha256.sp_application: //p' "$1.show"; }

"$SIM" new m --sp-kernel A8DSP021 --sp-build 0x9D00 >/dev/null 2>&1 || fail "new with a kernel"
expect_show m sp.kernel_revision=A8DSP021 sp.kernel_build=0x9D00 sp.profile=0x01
before=$(app_sha m)
tool 0 sp image LPCSPFW.BIN --seed 7
want=$(sha256sum LPCSPFW.BIN | cut -d' ' -f1)
[ "$before" != "$want" ] || fail "the new machine already holds the image"

# A full update (its messages line by line are the unit tests' business).
tool 0 sp m flash
expect_err "Service Processor Firmware Updated Successfully!"
expect_show m sp.kernel_revision=A8DSP021 sp.kernel_build=0x9D00 sp.profile=0x01 \
    "sha256.sp_application=$want"

tool 0 sp m compare
expect_out "OK. Contents Match."

# A difference in the last word, and the dump of the flash.
printf '\x00' | dd of=LPCSPFW.BIN bs=1 seek=$((0xBFFF)) conv=notrunc 2>/dev/null
tool 1 sp m compare
expect_out "Mismatch found @ offset 0000fffch.  ROM contents written to SPROM.ERR"
[ "$(sha256sum <SPROM.ERR | cut -d' ' -f1)" = "$want" ] || fail "SPROM.ERR is not the flash"

# Faults end as the procedure says.
# (The retries, their bounds and the reset pulse: the unit tests.)
tool 255 sp m flash --fault sp-kernel-silent
expect_last_err "LPC Interface not flashable"
tool 255 sp m flash --fault sp-erase-error
expect_last_err "An error occurred during the erase process, retrying...Failed"
tool 2 sp m flash --fault sp-no-such-fault
finish
