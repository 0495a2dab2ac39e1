#!/usr/bin/env bash
# The service-processor update through lromup-sim: a machine made with a given
# kernel, "sp DIR flash" and "sp DIR compare" in the directory that holds
# LPCSPFW.BIN, what show reports afterwards, and faults.
. "$(dirname "$0")/lib_e2e.sh"

"$SIM" new m --sp-kernel A8DSP021 --sp-build 0x9D00 >/dev/null 2>&1 || fail "new with a kernel"
expect_show m sp.kernel_revision=A8DSP021 sp.kernel_build=0x9D00 sp.profile=0x01
before=$(sed -n 's/^sha256.sp_application: //p' m.show)
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

# A fault named on the command line reaches the service processor (each
# fault's course, a difference found by compare: the unit tests, on the same
# simulated board).
tool 255 sp m flash --fault sp-erase-error
expect_last_err "An error occurred during the erase process, retrying...Failed"
tool 2 sp m flash --fault sp-no-such-fault
finish
