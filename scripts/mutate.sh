#!/usr/bin/env bash
# Breaks the product on purpose, one named fault at a time, and runs the tests
# against each: a fault that no test notices is a hole in the tests. Every
# fault is applied to a scratch copy of the tree (never to this one), built
# incrementally (ccache makes the first build cheap) and tested: unit tests
# first, then the end-to-end scripts, stopping at the first failure.
#
#   scripts/mutate.sh [-t REGEX] [-j N] [-k] [-l] [-n] [NAME...]
#     NAME...   only these mutations (default: all)
#     -t REGEX  only the tests whose name matches (ctest -R)
#     -j N      test jobs (default: the number of processors)
#     -k        keep the scratch copy (its path is printed)
#     -l        list the mutations and exit
#     -n        only check that every original text is found once, build nothing
#
# Prints one line per mutation, "caught" (with the test that failed) or
# "NOT CAUGHT", and ends with status 1 when any was not caught or did not
# build. The bench, virtual-machine, package and fuzz tests are never run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# name | file | exact original text | replacement. "\n" in either text stands
# for a line break. Each original text must occur exactly once in its file:
# when the code moves, the mutation stops with an error instead of testing
# nothing.
MUTATIONS=$(cat <<'EOF'
rewrite-equal-skip | chipset/block_rewrite.cpp | return differs ? BlockWork::Program : BlockWork::None; | return differs || true ? BlockWork::Program : BlockWork::None;
rewrite-bit-test | chipset/block_rewrite.cpp | (current[i] & wanted[i]) != wanted[i] | (current[i] & wanted[i]) != current[i]
rewrite-ff-chunk-skip | chipset/block_rewrite.cpp | SPI_FDATA_SIZE) == 0) continue; | SPI_FDATA_SIZE) == 0 && false) continue;
rewrite-erase-skipped | chipset/block_rewrite.cpp | if (work == BlockWork::EraseAndProgram) { | if (work == BlockWork::EraseAndProgram && false) {
verify-247 | chipset/block_rewrite.cpp | if (readBack[i] == expected[i]) continue; | if (readBack[i] == expected[i] || true) continue;
h8-checksum-sign | os/linh8.cpp | return static_cast<unsigned char>(-sum); | return static_cast<unsigned char>(sum);
h8-checksum-check | os/linh8.cpp | if (sum != 0) { | if (sum != 0 && false) {
ipmi-driver-version | os/sp6_openipmi.cpp | numberOf(major) >= IPMI_MIN_DRIVER_MAJOR | numberOf(major) > IPMI_MIN_DRIVER_MAJOR
ipmi-banner-words | os/sp6_openipmi.cpp | std::strcmp(got, word) != 0) | (std::strcmp(got, word) != 0 && false))
sp-erased-block-skip | chipset/splpc.cpp | if (allErased(data, SP_PROGRAM_BLOCK)) { | if (allErased(data, SP_PROGRAM_BLOCK) && false) {
sp-block-verify | chipset/splpc.cpp | return std::memcmp(readBack, data, SP_PROGRAM_BLOCK) == 0 ? 1 : 0; | return 1;
sp-kernel-area | chipset/splpc.cpp | if (address < long(SP_APP_START) || | if (
sp-reerase-between-attempts | chipset/splpc.cpp | if (!failed) break;\n        StartFlash(); | if (!failed) break;
sp-profile-restore | chipset/splpc.cpp | if (savedProfile_ != SP_PROFILE_NONE) SetSpProfile(savedProfile_); | ;
sp-semaphore-release | chipset/splpc.cpp | ClaimSemaphore(false, false);\n    delete[] name; | delete[] name;
sp-compare-address | flash/flashsp.cpp | const unsigned long device = offset + SP_APP_START; | const unsigned long device = offset;
sp-compare-read-address | flash/flashsp.cpp | ReadFirmwareBlock(long(address), | ReadFirmwareBlock(long(address + SP_PROGRAM_BLOCK),
sp-status-255 | flash/flashsp.cpp | EXIT_SP_UPDATE_FAILED = 255; | EXIT_SP_UPDATE_FAILED = 253;
status-1-no-physical-memory | os/linmem.cpp | EXIT_NO_PHYS_MEM = 1; | EXIT_NO_PHYS_MEM = 2;
status-1-lock-not-permitted | flash/machine_lock.cpp | return EXIT_NOT_PRIVILEGED; | return EXIT_MACHINE_LOCKED;
status-2-unknown-switch | flash/switches.cpp | if (row == nullptr) { | if (row == nullptr && false) {
status-3-name-too-long | flash/switches.cpp | const ImageTarget& target, const char* name) {\n    if (std::strlen(name) >= FNAME_SIZE) { | const ImageTarget& target, const char* name) {\n    if (std::strlen(name) > FNAME_SIZE) {
status-3-not-regular | flash/switches.cpp | if (opened.notRegular != nullptr) { | if (opened.notRegular != nullptr && false) {
status-4-size-61qm | flash/runseq.cpp | && length != IMAGE_SIZE_61QM) { | && length != IMAGE_SIZE_61QM && false) {
status-4-size-62qm | flash/runseq.cpp | && length != IMAGE_SIZE_62QM) { | && length != IMAGE_SIZE_62QM && false) {
status-5-foreign-machine | flash/runseq.cpp | if (platform->identify() == 0) { | if (platform->identify() == 0 && false) {
status-6-nothing-to-write | flash/runseq.cpp | return EXIT_NOTHING_TO_WRITE; | return 0;
status-7-cannot-boot | flash/runseq.cpp | return EXIT_IMAGE_CANNOT_BOOT; | return 0;
status-8-identity-lost | platform/vpd.cpp | << "lost" << std::endl;\n        return IDENTITY_LOST; | << "lost" << std::endl;\n        return 0;
status-75-machine-locked | flash/machine_lock.cpp | return EXIT_MACHINE_LOCKED; | return 0;
status-248-bios-locked | chipset/spi_preflight.cpp | if (control & BIOS_CNTL_BIOSWE) return 0; | return 0;
status-249-wrong-part | chipset/spi_preflight.cpp | result = SPI_ERR_WRONG_PART; | result = 0;
status-250-no-write-status | chipset/spi_preflight.cpp | if (!resolveSpiOp(menu, *op, &record)) { | if (!resolveSpiOp(menu, *op, &record) && false) {
status-251-protection-kept | chipset/ich10spi.cpp | return SPI_ERR_PROTECTED; | return 0;
status-252-fcerr | chipset/spi_cycle.cpp | return SPI_ERR_REFUSED; | return 0;
status-254-no-firmware | platform/platform.cpp | EXIT_NO_FIRMWARE_DESCRIPTION = 254; | EXIT_NO_FIRMWARE_DESCRIPTION = 253;
status-255-no-chipset | platform/vpd.cpp | EXIT_NO_CHIPSET = 255; | EXIT_NO_CHIPSET = 253;
guard-after-probe | flash/runseq.cpp | probe.reset(platform->getChipset());\n        restoreFlashGuards(os, found); | probe.reset(platform->getChipset());\n        (void)found;
guard-after-failed-update | flash/runseq.cpp | if (result != 0) {\n        restoreFlashGuards(os, found); | if (result != 0) {
guard-bioswe-after-update | flash/runseq.cpp | } else {\n        restoreBiosControl(os, found); | } else {
guard-bank-back-on-refusal | flash/runseq.cpp | if (refusedBeforeWriting(result) && switched) { | if (refusedBeforeWriting(result) && switched && false) {
guard-status-register | chipset/flash_guards.cpp | restoreStatus(os, found);\n | if (false) restoreStatus(os, found);\n
guard-write-protect-line | chipset/flash_guards.cpp | restoreWriteProtectLine(os, found);\n | if (false) restoreWriteProtectLine(os, found);\n
guard-bios-control | chipset/flash_guards.cpp | restoreBiosControl(os, found);\n} | }
guard-unknown-status-locks | chipset/flash_guards.cpp | LockSPIFlash(os, nullptr); | ;
guard-final-lock | flash/flashbios.cpp | LockSPIFlash(os, platform); | ;
rewrite-group-erase-whole | chipset/block_rewrite.cpp | if (erases == GROUP_BLOCKS) { | if (erases >= GROUP_BLOCKS - 1) {
rewrite-group-erase-readback | chipset/block_rewrite.cpp | *erased = allErased(readBack.data(), GROUP_SIZE); | *erased = allErased(readBack.data(), GROUP_SIZE) || true;
status-9-not-family-image | flash/runseq.cpp | return EXIT_NOT_FAMILY_IMAGE; | return 0;
status-10-bad-chipset-base | chipset/chipset_bases.cpp | if (raw != ALL_ONES && base >= row.lowest && base + row.blockSize <= row.limit) continue; | if (true || (raw != ALL_ONES && base >= row.lowest && base + row.blockSize <= row.limit)) continue;
status-11-verify-differs | flash/inspect.cpp | if (wanted[at + k] == found[at + k]) continue; | if (wanted[at + k] == found[at + k] || true) continue;
status-12-output-refused | flash/switches.cpp | if (!checkOutputPath(name, &why)) { | if (!checkOutputPath(name, &why) && false) {
status-12-report-unwritten | flash/report.cpp | return status != 0 ? status : EXIT_OUTPUT_REFUSED; | return status;
guard-bank-back-on-chipset-refusal | flash/flashbios.cpp | if (result == refused) return true; | if (result == refused) return result == IDENTITY_LOST;
guard-atmel-global-protect | chipset/flash_parts.cpp | if (part == nullptr || !part->globalProtect) return | if (true || part == nullptr || !part->globalProtect) return
vpd-missing-block-from-copy | platform/vpd.cpp | if (copy(i) != nullptr) chosen = i; | if (copy(i) != nullptr && false) chosen = i;
vpd-blank-field-from-copy | platform/vpd.cpp | if (runningIntact && holds(running)) return &running; | if (runningIntact) return &running;
lock-owner-check | os/linlock.cpp | const bool trusted = held.st_uid == ROOT && | const bool trusted = (held.st_uid == ROOT || true) &&
sp-image-size | flash/flashsp.cpp | if (in.size != expected || !readOpenedFile( | if ((in.size != expected && false) || !readOpenedFile(
sp-semaphore-bound | chipset/splpc_transport.cpp | if (sleptMs_ - start >= SEMAPHORE_MS) break; | if (sleptMs_ - start >= 10 * SEMAPHORE_MS) break;
EOF
)

filter="" jobs=$(nproc 2>/dev/null || echo 2) keep=0 list=0 anchors_only=0
while getopts "t:j:klnh" opt; do
    case $opt in
        t) filter=$OPTARG ;;
        j) jobs=$OPTARG ;;
        k) keep=1 ;;
        l) list=1 ;;
        n) anchors_only=1 ;;
        *) sed -n '2,/^set /p' "$0" | sed -n 's/^# \{0,1\}//p'; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

field() { awk -F ' [|] ' -v n="$2" '{ print $n }' <<<"$1"; }

selected=()
while IFS= read -r line; do
    name=$(field "$line" 1)
    if (($# == 0)); then selected+=("$line"); continue; fi
    for want in "$@"; do [[ $want == "$name" ]] && selected+=("$line"); done
done <<<"$MUTATIONS"
if ((list)); then
    for line in "${selected[@]}"; do printf '%-30s %s\n' "$(field "$line" 1)" "$(field "$line" 2)"; done
    exit 0
fi
((${#selected[@]} > 0)) || { echo "mutate.sh: no mutation named $*" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/lromup-mutate.XXXXXX")
if ((keep)); then echo "scratch copy: $work"; else trap 'rm -rf "$work"' EXIT; fi
src=$work/src
mkdir -p "$src"
(cd "$root" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$src"

# Replaces the one occurrence of ORIGINAL in FILE (relative to the scratch
# copy); fails when it occurs zero or several times.
apply() {
    ORIGINAL=$2 REPLACEMENT=$3 perl -0777 -i -pe '
        BEGIN { ($o, $r) = map { s/\\n/\n/gr } @ENV{qw(ORIGINAL REPLACEMENT)} }
        my $n = () = /\Q$o\E/g;
        die "found $n times, not once\n" if $n != 1;
        s/\Q$o\E/$r/;' "$src/$1"
}

# Every anchor is checked before anything is built.
for line in "${selected[@]}"; do
    file=$(field "$line" 2)
    cp "$src/$file" "$work/original"
    if ! apply "$file" "$(field "$line" 3)" "$(field "$line" 4)" 2>"$work/why"; then
        echo "mutate.sh: $(field "$line" 1): the original text in $file $(cat "$work/why")" >&2
        exit 2
    fi
    cp "$work/original" "$src/$file"
done
if ((anchors_only)); then echo "every original text found once"; exit 0; fi

export CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$src" -B "$src/build" -G Ninja -DCMAKE_CXX_COMPILER=g++ "${launcher[@]}" >/dev/null
# What the tests run: the binaries (and the simulator built to be killed at a
# chosen step), the unit-test programs and their stand-ins.
targets=$(ninja -C "$src/build" -t targets all | sed 's/:.*//' |
          grep -xE 'lromup|lromup-sim|lromup-sim-killable|test_[a-z0-9_]+|standin_[a-z0-9_]+' | sort -u)
build() { ninja -C "$src/build" $targets >"$work/build.log" 2>&1; }

# 0 when every selected test passes; unit tests first, as they are quicker.
run_tests() {
    local excluded='vm|package|fuzz|bench' phase
    for phase in "-LE ^(e2e|$excluded)\$" "-L ^e2e\$"; do
        # shellcheck disable=SC2086
        (cd "$src/build" && ctest $phase ${filter:+-R "$filter"} -j "$jobs" --timeout 300 \
            --stop-on-failure -Q >"$work/test.log" 2>&1) || return 1
    done
}

build || { cat "$work/build.log" >&2; echo "mutate.sh: the unmutated tree does not build" >&2; exit 2; }
run_tests || { echo "mutate.sh: tests fail on the unmutated tree" >&2; exit 2; }

printf '%-30s %-11s %-7s %s\n' MUTATION RESULT SECONDS 'CAUGHT BY'
missed=0
for line in "${selected[@]}"; do
    name=$(field "$line" 1) file=$(field "$line" 2)
    cp "$src/$file" "$work/original"
    apply "$file" "$(field "$line" 3)" "$(field "$line" 4)"
    start=$SECONDS
    if ! build; then
        result="NO BUILD"; missed=$((missed + 1))
    elif run_tests; then
        result="NOT CAUGHT"; missed=$((missed + 1))
    else
        result=caught
    fi
    # The test that failed first: the one to keep when trimming.
    by=""
    [[ $result == caught ]] && by=$(sed -n '1{s/^[0-9]*://;s/  # GetParam.*//;p}' "$src/build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null)
    printf '%-30s %-11s %-7d %s\n' "$name" "$result" $((SECONDS - start)) "$by"

    cp "$work/original" "$src/$file"  # a new mtime: the next build compiles it again
done
echo "$missed of ${#selected[@]} mutation(s) not caught or not built"
((missed == 0))
