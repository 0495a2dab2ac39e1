#!/usr/bin/env bash
# Every file lromup-sim and the updater inside it open, tried as what a shared
# directory may hold instead: a planted link (the file it points at must not
# change), a FIFO (the run must end within a second), a directory, /dev/zero
# and /dev/full: each with its status and a piece
# of its message. Then outputs that would land on an input or in the machine.
. "$(dirname "$0")/lib_e2e.sh"

"$SIM" new m >/dev/null 2>&1 || fail "new m"
"$SIM" image m good.bin >/dev/null 2>&1 || fail "image m good.bin"
"$SIM" sp image app.bin --seed 3 >/dev/null 2>&1 || fail "sp image"
cp app.bin LPCSPFW.BIN && "$SIM" sp m flash >/dev/null 2>&1 || fail "sp flash"
echo "the victim's own text" >victim
# A FIFO must not hold a run. An open that waits for a writer never ends (the
# timeout ends it with 124); the bound is loose because a loaded machine or
# the sanitizers stretch a normal run past a second.
fifo_ms=5000
victim_sha=$(sha256sum <victim)

# The kinds a name is planted as, and how the tools name what they find.
KINDS="link fifo dir zero full"
declare -A WHAT=([link]="symbolic link" [fifo]=FIFO [dir]=directory [zero]="character device"
                 [full]="character device")
NOT_REG="not a regular file"
# plant KIND NAME: NAME becomes KIND (a device: a link to it).
plant() {
    rm -rf "$2"
    case $1 in
    link) ln -s victim "$2" ;;
    fifo) mkfifo "$2" ;;
    dir) mkdir "$2" ;;
    *) ln -s "/dev/$1" "$2" ;;
    esac
}

# try COMMAND KIND STATUS MESSAGE: COMMAND is "ARGS with @" or "ARGS=FIXEDNAME".
try() {
    local command=$1 kind=$2 want=$3 message=$4 name args start ms
    rm -rf LPCSPFW.BIN SPROM.ERR && cp app.bin LPCSPFW.BIN
    if [ "${command#*=}" != "$command" ]; then
        name=${command#*=}; args=${command%%=*}
        [ "$name" = SPROM.ERR ] && printf 'x' | dd of=LPCSPFW.BIN bs=1 seek=100 conv=notrunc 2>/dev/null
        plant "$kind" "$name"
    else
        name=planted; args=${command//@/planted}
        case $kind in zero | full) args=${command//@//dev/$kind} ;; esac
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
}

# Outputs named on the command line (@ is the file).
for command in "run m --trace @ -- /chg" "sp m compare --trace @" "image m @" "read m primary @" "sp image @"; do
    for kind in $KINDS; do
        case $kind in
        zero) try "$command" zero 0 "" ;;
        full) # a run's trace failure is told with the updater's own status
            msg="cannot write /dev/full: No space left on device"
            [ "${command%% *}" != run ] || msg="the updater ended with status 0, but $msg"
            try "$command" full 1 "$msg" ;;
        *) try "$command" "$kind" 1 "planted is a ${WHAT[$kind]}, $NOT_REG; nothing was written to it" ;;
        esac
    done
done
# Inputs named on the command line (a link to the victim: too small an image,
# an unusable legacy area), and the fixed names in the working directory
# (devices planted there as links).
for kind in $KINDS; do
    path=planted what=${WHAT[$kind]} fixed=${WHAT[$kind]}
    case $kind in zero | full) path=/dev/$kind fixed=${WHAT[link]} ;; esac
    if [ "$kind" = link ]; then
        try "run m -- /p @" link 4 ""
        try "new x --legacy-area @" link 1 ""
    else
        try "run m -- /p @" "$kind" 3 "$path is a $what, not an image file; an image must be a regular file."
        try "new x --legacy-area @" "$kind" 1 "$path is a $what, $NOT_REG"
    fi
    try "sp m flash=LPCSPFW.BIN" "$kind" 255 "LPCSPFW.BIN is a $fixed, $NOT_REG"
    try "sp m compare=LPCSPFW.BIN" "$kind" 1 "LPCSPFW.BIN is a $fixed, $NOT_REG"
    try "sp m compare=SPROM.ERR" "$kind" 1 "SPROM.ERR is a $fixed, $NOT_REG; nothing was written to it"
done

# Outputs checked before anything runs: never on the machine, never on a file
# the updater is given. Nothing runs, so the machine is as it was.
"$SIM" show m >before.show
tool 1 run m --trace m/trace.txt -- /chg
grep -qF "the trace m/trace.txt would be written into the machine directory m" err.txt || fail "no machine-directory refusal"
tool 1 sp m flash --trace m/lock
tool 1 read m primary m/primary.bin
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
