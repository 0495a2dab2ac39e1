#!/usr/bin/env bash
# Primary updates of each simulated model, one run each, figures printed (not
# a timed test):
#  (a) a new random image over the factory bank: the simulated hardware time
#      of the run against the datasheet time of the erases and page programs
#      it made, pre-read and verify included (goal: at most 1.06);
#  (b) the same image a second time: its time against the full rewrite every
#      update made before blocks were read first (goal: at most 5%);
#  (c) on a Moro 320, OVMF_VARS.fd + OVMF_CODE.secboot.fd written over
#      OVMF_VARS.fd + OVMF_CODE.fd (Debian's ovmf package; skipped without it):
#      erased blocks, programmed bytes, time and its ratio to the full rewrite.
# Each case also shows the flash status-register writes of the run and the CPU
# time and peak memory of lromup-sim; then the same two figures for reading a
# whole bank back.
# Usage: bench_update.sh <build dir>   (lromup-sim is in the build dir)
set -u
SIM="$(cd "${1:?build dir}" && pwd)/lromup-sim"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

RATIO_GOAL=1.06
REPEAT_GOAL=0.05
OVMF=/usr/share/OVMF

# Per model: datasheet page program (256 B) ms and 4 KiB erase ms of its part,
# and the virtual ms of a whole primary update when every block was erased and
# programmed whatever the flash held (measured before read-before-write).
model_facts() {
    case $1 in
    moro310) echo "1.4 60 38583" ;;  # MX25L6445E
    moro320) echo "0.7 30 23705" ;;  # W25Q16BV
    moro330) echo "0.6 40 23415" ;;  # MX25L1606E
    esac
}

# measure OUT CMD...: runs CMD, writes "cpu_seconds peak_kib" to OUT.
measure() {
    local out=$1; shift
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -v -o time.txt "$@" >/dev/null 2>&1
        awk -F': ' '/User time/ {u=$2} /System time/ {s=$2}
                    /Maximum resident set size/ {m=$2}
                    END {printf "%.2f %d\n", u + s, m}' time.txt >"$out"
    else
        python3 - "$@" >"$out" <<'PYEOF'
import os, subprocess, sys
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
_, _, ru = os.wait4(p.pid, 0)
print("%.2f %d" % (ru.ru_utime + ru.ru_stime, ru.ru_maxrss))
PYEOF
    fi
}

show_value() { "$SIM" show "$1" | sed -n "s/^$2: //p"; }

# row CASE MODEL: one line of figures for the machine's last run.
row() {
    local case=$1 model=$2 page erase full cpu kib
    read -r page erase full < <(model_facts "$model")
    read -r cpu kib <upd.txt
    python3 - "$case" "$model" "$(show_value "$model" last_run.virtual_ms)" \
        "$(show_value "$model" last_run.erased_bytes)" "$(show_value "$model" last_run.programmed_bytes)" \
        "$(show_value "$model" last_run.status_writes)" "$page" "$erase" "$full" "$cpu" "$kib" \
        "$RATIO_GOAL" "$REPEAT_GOAL" <<'PYEOF'
import sys
case, m, virt, erased, prog, writes, page, erase, full, cpu, kib, rgoal, pgoal = sys.argv[1:]
virt, erased, prog, full = int(virt), int(erased), int(prog), int(full)
sheet = erased / 4096 * float(erase) + prog / 256 * float(page)
ratio = virt / sheet if sheet else float("inf")
note = ""
if case == "a" and ratio > float(rgoal):
    note = "  above goal " + rgoal
if case == "b" and virt / full > float(pgoal):
    note = "  above goal %d%%" % round(float(pgoal) * 100)
print("%-2s %-8s %10d %12.0f %6s %7d %10d %7.1f%% %13s %6s %8.1f%s"
      % (case, m, virt, sheet, "%.3f" % ratio if sheet else "-", erased // 4096, prog,
         100.0 * virt / full, writes or "unavailable", cpu, int(kib) / 1024, note))
PYEOF
}

printf '%-2s %-8s %10s %12s %6s %7s %10s %8s %13s %6s %8s\n' case model virtual_ms datasheet_ms ratio \
    erased programmed of_full status_writes cpu_s peak_MiB
dumps=""
for model in moro310 moro320 moro330; do
    "$SIM" new "$model" --model "$model" >/dev/null || exit 1
    "$SIM" image "$model" "$model.bin" >/dev/null || exit 1
    measure upd.txt "$SIM" run "$model" -- /p "$model.bin"
    row a "$model"
    measure upd.txt "$SIM" run "$model" -- /p "$model.bin"
    row b "$model"
    measure dump.txt "$SIM" read "$model" primary "$model.dump"
    read -r dcpu dkib <dump.txt
    dumps="$dumps$(printf '%-8s %-22s %8s %9.1f' "$model" "read primary (whole)" "$dcpu" \
        "$(awk -v k="$dkib" 'BEGIN {print k / 1024}')")"$'\n'
done

if [ -f "$OVMF/OVMF_VARS.fd" ] && [ -f "$OVMF/OVMF_CODE.fd" ] && [ -f "$OVMF/OVMF_CODE.secboot.fd" ]; then
    cat "$OVMF/OVMF_VARS.fd" "$OVMF/OVMF_CODE.fd" >old.fd
    cat "$OVMF/OVMF_VARS.fd" "$OVMF/OVMF_CODE.secboot.fd" >new.fd
    rm -rf moro320
    "$SIM" new moro320 --model moro320 >/dev/null || exit 1
    # The old pair goes in by an update of its own; the new one is measured.
    if "$SIM" run moro320 -- /p old.fd >/dev/null 2>&1; then
        measure upd.txt "$SIM" run moro320 -- /p new.fd
        row c moro320
    else
        echo "c  moro320  skipped: the updater refused $OVMF/OVMF_VARS.fd + OVMF_CODE.fd"
    fi
else
    echo "c  moro320  skipped: $OVMF/OVMF_VARS.fd, OVMF_CODE.fd, OVMF_CODE.secboot.fd not found (apt-get install ovmf)"
fi
echo
printf '%-8s %-22s %8s %9s\n' model dump cpu_s peak_MiB
printf '%s' "$dumps"
