#!/usr/bin/env bash
# Every file lromup-sim and the updater inside it open, tried as what a shared
# directory may hold instead: a planted link (the file it points at must not
# change), a FIFO (the run must end within a second), a directory, /dev/zero
# and /dev/full. One table of cases: each with its status and a piece of its
# message. Then outputs that would land on an input or in the machine.
# Usage: e2e_files.sh <path of lromup> <build dir>
set -u
LROMUP=$1
BUILD=$2
. "$(dirname "$0")/lib_e2e.sh"

"$SIM" new m >/dev/null 2>&1 || fail "new m"
"$SIM" image m good.bin >/dev/null 2>&1 || fail "image m good.bin"
"$SIM" sp image app.bin --seed 3 >/dev/null 2>&1 || fail "sp image"
cp app.bin LPCSPFW.BIN && "$SIM" sp m flash >/dev/null 2>&1 || fail "sp flash"
echo "the victim's own text" >victim
# A FIFO must not hold a run: the whole command ends within a second (five
# under the sanitizers, which slow everything else down).
fifo_ms=1000
! nm -C "$SIM" 2>/dev/null | grep -q __asan_init || fifo_ms=5000
victim_sha=$(sha256sum <victim)

# plant KIND NAME: NAME becomes KIND.
plant() {
    rm -rf "$2"
    case $1 in
    link) ln -s victim "$2" ;;
    fifo) mkfifo "$2" ;;
    dir) mkdir "$2" ;;
    zero) ln -s /dev/zero "$2" ;;
    full) ln -s /dev/full "$2" ;;
    esac
}
# The path a case names: a planted name, or the device itself.
path_of() {
    case $1 in
    zero) echo /dev/zero ;;
    full) echo /dev/full ;;
    *) echo planted ;;
    esac
}

NOT_REG="not a regular file"
# Outputs named on the command line: ARGS with @ for the file.
#   kind | status | message
OUTPUT_KINDS="link|1|planted is a symbolic link, $NOT_REG; nothing was written to it
fifo|1|planted is a FIFO, $NOT_REG; nothing was written to it
dir|1|planted is a directory, $NOT_REG; nothing was written to it
zero|0|
full|1|cannot write /dev/full: No space left on device"
OUTPUTS="run m --trace @ -- /chg
sp m compare --trace @
image m @
read m primary @
sp image @"
# Inputs named on the command line, and the fixed names in the working
# directory (planted under that name; devices planted as links to them).
#   command | kind | status | message
INPUTS="run m -- /p @|link|4|
run m -- /p @|fifo|3|planted is a FIFO, not an image file; an image must be a regular file.
run m -- /p @|dir|3|planted is a directory, not an image file
run m -- /p @|zero|3|/dev/zero is a character device, not an image file
run m -- /p @|full|3|/dev/full is a character device, not an image file
new x --legacy-area @|link|1|
new x --legacy-area @|fifo|1|planted is a FIFO, $NOT_REG
new x --legacy-area @|dir|1|planted is a directory, $NOT_REG
new x --legacy-area @|zero|1|/dev/zero is a character device, $NOT_REG
new x --legacy-area @|full|1|/dev/full is a character device, $NOT_REG"
for kind in link fifo dir zero full; do
    k=$kind; [ "$kind" = zero ] || [ "$kind" = full ] && k=link
    INPUTS="$INPUTS
sp m flash=LPCSPFW.BIN|$kind|255|LPCSPFW.BIN is a $( [ $k = link ] && echo symbolic link || { [ $k = fifo ] && echo FIFO || echo directory; }), $NOT_REG
sp m compare=LPCSPFW.BIN|$kind|1|LPCSPFW.BIN is a $( [ $k = link ] && echo symbolic link || { [ $k = fifo ] && echo FIFO || echo directory; }), $NOT_REG
sp m compare=SPROM.ERR|$kind|1|SPROM.ERR is a $( [ $k = link ] && echo symbolic link || { [ $k = fifo ] && echo FIFO || echo directory; }), $NOT_REG; nothing was written to it"
done

# try COMMAND KIND STATUS MESSAGE: COMMAND is "ARGS with @" or "ARGS=FIXEDNAME".
try() {
    local command=$1 kind=$2 want=$3 message=$4 name args start ms
    rm -rf LPCSPFW.BIN SPROM.ERR && cp app.bin LPCSPFW.BIN
    if [ "${command#*=}" != "$command" ]; then
        name=${command#*=}; args=${command%%=*}
        [ "$name" = SPROM.ERR ] && printf 'x' | dd of=LPCSPFW.BIN bs=1 seek=100 conv=notrunc 2>/dev/null
        plant "$kind" "$name"
    else
        name=planted; args=${command//@/$(path_of "$kind")}
        plant "$kind" planted
    fi
    rm -rf x
    last_cmd="lromup-sim $args [$name: $kind]"
    start=$(date +%s%N)
    # shellcheck disable=SC2086
    timeout 10 "$SIM" $args >out.txt 2>err.txt </dev/null
    status=$?
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    expect_status "$want"
    [ -z "$message" ] || grep -qF -- "$message" out.txt err.txt || fail "no message '$message' (got: $(errs))"
    [ "$(sha256sum <victim)" = "$victim_sha" ] || fail "the victim changed"
    [ "$kind" != fifo ] || [ "$ms" -lt "$fifo_ms" ] || fail "a FIFO held it for $ms ms"
    ! ls ./*.tmp[0-9]* >/dev/null 2>&1 || fail "a temporary file was left: $(ls ./*.tmp[0-9]*)"
    printf '%-44s %-12s %-5s %3s  %s\n' "$args" "$name" "$kind" "$status" "$(grep -hF -- "${message:-@@}" out.txt err.txt | head -1)"
}

while IFS= read -r command; do
    while IFS='|' read -r kind want message; do
        try "$command" "$kind" "$want" "$message"
    done <<<"$OUTPUT_KINDS"
done <<<"$OUTPUTS"
while IFS='|' read -r command kind want message; do
    try "$command" "$kind" "$want" "$message"
done <<<"$INPUTS"

# Outputs checked before anything runs: never on the machine, never on a file
# the updater is given. Nothing runs, so the machine is as it was.
"$SIM" show m >before.show
tool 1 run m --trace m/trace.txt -- /chg
grep -qF "the trace m/trace.txt would be written into the machine directory m" err.txt || fail "no machine-directory refusal"
tool 1 sp m flash --trace m/lock
tool 1 read m primary m/primary.bin
tool 1 image m m/new.bin
cp good.bin keep.bin
tool 1 run m --trace keep.bin -- /p keep.bin
grep -qF "the trace keep.bin is keep.bin, a file given to the updater" err.txt || fail "no same-file refusal"
cmp -s good.bin keep.bin || fail "the image was changed"
tool 1 sp m flash --trace LPCSPFW.BIN
"$SIM" show m >after.show
cmp -s before.show after.show || fail "a refused run changed the machine"

# A trace that fails on the way: the reason and a failure status.
(ulimit -f 64; trap '' XFSZ; exec "$SIM" sp m compare --trace big.txt) >/dev/null 2>err.txt
status=$?
last_cmd="sp compare, trace past the file size limit"
expect_status 1
grep -qF "but cannot write big.txt: File too large" err.txt || fail "no reason (got: $(errs))"
[ ! -e big.txt ] || fail "a partial trace was left"
finish
