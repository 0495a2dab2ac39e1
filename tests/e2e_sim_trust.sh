#!/usr/bin/env bash
# lromup-sim keeps its machines whole and safe: a kill at any step leaves the
# save before or after the run; one run owns a machine at a time; no planted
# link is followed; only regular files are read; the trace is not kept in
# memory; statuses and arguments mean one thing each.
. "$(dirname "$0")/lib_e2e.sh"
# Only the tests' copy of the tool can be killed at a chosen step.
KILLABLE=$(dirname "$SIM")/lromup-sim-killable

shows() { "$SIM" show "$1" >"$2" 2>&1 || fail "show $1: $(head -c 200 "$2")"; }

tool 0 new base --model moro330
tool 0 image base i330.bin
shows base before.show

# A kill at every step of a save leaves the save before the run or the one
# after it, and the next run goes on from there. /chg makes no flash operation,
# so every step of the run is a step of its save.
cp -r base ref && tool 0 run ref -- /chg
shows ref after.show
grep -qx "saved_runs: 1" after.show || fail "show does not count the saved run"
steps=0
for n in $(seq 1 30); do
    rm -rf k && cp -r base k
    last_cmd="run killed at save step $n"
    LROMUP_SIM_KILL_AT=save:$n timeout 20 "$KILLABLE" run k -- /chg >/dev/null 2>&1
    status=$?
    shows k k.show
    if [ $status -ne 137 ]; then
        expect_status 0
        cmp -s k.show after.show || fail "an uninterrupted run saved something else"
        break
    fi
    steps=$n
    cmp -s k.show before.show || cmp -s k.show after.show || fail "neither before nor after"
    tool 0 run k -- /chg
    shows k k2.show
done
[ "$steps" -ge 8 ] || fail "only $steps save steps were killed"
# Kills in the middle of flash operations leave the machine as it was.
for n in 1 40 700; do
    rm -rf k && cp -r base k
    last_cmd="run killed at flash operation $n"
    LROMUP_SIM_KILL_AT=op:$n timeout 60 "$KILLABLE" run k -- /p i330.bin >/dev/null 2>&1
    status=$?
    expect_status 137
    shows k k.show
    cmp -s k.show before.show || fail "a killed run changed the machine"
done

# One run at a time. Run A is stopped while it holds the machine; meanwhile
# B's updater is refused by its machine lock, "new --force" refuses, and show
# sees the machine as it was.
tool 0 new c --model moro330
"$SIM" run c -- /p i330.bin >a.out 2>a.err &
apid=$!
# Watched in /proc/locks: probing with flock would take the lock for a moment
# and could refuse run A itself.
held() { grep -q ":$(stat -c %i c/lock) " /proc/locks; }
for _ in $(seq 6000); do held && break; sleep 0.005; done
kill -STOP $apid
last_cmd="second run while the first holds the machine"
held || fail "run A never locked the machine"
tool 75 run c -- /chg
expect_err "Another lromup is working on this machine; nothing was done. Run again when it has finished."
tool 75 new c --force
expect_show c saved_runs=0  # not the machine the first run has not saved
kill -CONT $apid
wait $apid
status=$?
last_cmd="first run"
expect_status 0
expect_show c saved_runs=1 active_bank=primary
[ "$(grep sha256.primary c.show)" != "$(grep sha256.primary before.show)" ] || fail "run A's update was lost"

# No link is followed: links planted where a save writes its temporary files
# leave their targets alone.
tool 0 new l --model moro330
echo "victim" >victim.txt
for f in primary.bin.new machine.txt.new legacy.bin.new; do ln -s "$PWD/victim.txt" "l/$f"; done
tool 0 run l -- /chg
[ "$(cat victim.txt)" = victim ] || fail "a planted link was followed"
expect_show l saved_runs=1 active_bank=backup

# new never writes over what a directory holds (a user's files, a machine)
# unless told --force.
mkdir u && echo "mine" >u/notes.txt
tool 1 new u
[ "$(cat u/notes.txt)" = mine ] && [ ! -e u/machine.txt ] || fail "new wrote into a user's directory"
tool 0 new l --force --model moro320
expect_show l model=moro320 saved_runs=0

# Only regular files are read, and none without bound; nothing blocks (the
# names given on the command line: e2e_files).
tool 1 new x --legacy-area /proc/self/mem
for f in machine.txt primary.bin; do
    rm -rf q && cp -r base q && rm "q/$f" && mkfifo "q/$f"
    tool 1 show q
    tool 1 run q -- /chg
    grep -q "q/$f is a FIFO, not a regular file" err.txt || fail "the refusal does not name q/$f"
done

# The trace goes to its file as the run makes it: a whole update's trace
# (12 million lines) in 256 MiB of address space. Not under AddressSanitizer,
# which reserves far more address space than that.
if ! nm -C "$SIM" 2>/dev/null | grep -q __asan_init; then
    rm -rf t && cp -r base t
    last_cmd="traced update in 256 MiB"
    (ulimit -v 262144 && exec timeout 120 "$SIM" run t --trace /dev/null -- /p i330.bin) >/dev/null 2>err.txt
    status=$?
    expect_status 0
fi

# A save that fails is reported with the updater's own status (a trace that
# cannot be written: e2e_files).
rm -rf s && cp -r base s
mkdir s/primary.bin.new
tool 1 run s -- /chg
grep -q "the updater ended with status 0, but the machine was not saved: cannot remove" err.txt ||
    fail "the failed save is not reported with the updater's status"

# Arguments: numbers are decimal or 0x-hexadecimal; one fault of each kind;
# no empty values.
for n in 010 10 0xa; do
    tool 0 new "n$n" --sp-build "$n"
    expect_show "n$n" sp.kernel_build=0x000A
done
tool 2 run base --fault power-cut@3 --fault power-cut@5 -- /chg
tool 2 run base --trace '' -- /chg
tool 2 new e1 --bios-version ''
expect_show base saved_runs=0
finish
