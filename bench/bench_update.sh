#!/usr/bin/env bash
# Primary update of each simulated model: the simulated hardware time of the
# run against the datasheet time of the erases and page programs it made
# (goal: at most 1.05), and the CPU time and peak memory of lromup-sim for
# the update and for a dump of the whole flash.
# Usage: bench_update.sh <build dir>   (lromup-sim is in the build dir)
set -u
SIM="$(cd "${1:?build dir}" && pwd)/lromup-sim"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

GOAL=1.05
WRITE_STATUS_MS=10  # the simulated parts' write-status time

# Datasheet figures of each model's part: page program (256 B) ms, 4 KiB erase ms.
part_times() {
    case $1 in
    moro310) echo "1.4 60" ;;  # MX25L6445E
    moro320) echo "0.7 30" ;;  # W25Q16BV
    moro330) echo "0.6 40" ;;  # MX25L1606E
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

printf '%-8s %10s %12s %6s %14s %10s %8s %9s\n' model virtual_ms datasheet_ms ratio status_writes other_ms cpu_s peak_MiB
rows=""
for model in moro310 moro320 moro330; do
    "$SIM" new "$model" --model "$model" >/dev/null || exit 1
    "$SIM" image "$model" "$model.bin" >/dev/null || exit 1
    measure upd.txt "$SIM" run "$model" -- /p "$model.bin"
    measure dump.txt "$SIM" read "$model" primary "$model.dump"
    virtual=$(show_value "$model" last_run.virtual_ms)
    erased=$(show_value "$model" last_run.erased_bytes)
    programmed=$(show_value "$model" last_run.programmed_bytes)
    read -r page erase < <(part_times "$model")
    read -r cpu kib <upd.txt
    read -r dcpu dkib <dump.txt
    python3 - "$model" "$virtual" "$erased" "$programmed" "$page" "$erase" "$cpu" "$kib" \
        "$WRITE_STATUS_MS" "$GOAL" <<'PYEOF'
import sys
m, virt, erased, prog, page, erase, cpu, kib, ws, goal = sys.argv[1:]
virt, erased, prog = int(virt), int(erased), int(prog)
sheet = erased / 4096 * float(erase) + prog / 256 * float(page)
status_writes = erased / 4096 * int(ws)  # one write-status per erased block
ratio = virt / sheet if sheet else float("inf")
print("%-8s %10d %12.0f %6.3f %14.0f %10.0f %8s %9.1f%s"
      % (m, virt, sheet, ratio, status_writes, virt - sheet - status_writes, cpu,
         int(kib) / 1024, "" if ratio <= float(goal) else "  above goal " + goal))
PYEOF
    rows="$rows$(printf '%-8s %-22s %8s %9.1f' "$model" "read primary (whole)" "$dcpu" \
        "$(awk -v k="$dkib" 'BEGIN {print k / 1024}')")"$'\n'
done
echo
printf '%-8s %-22s %8s %9s\n' model dump cpu_s peak_MiB
printf '%s' "$rows"
