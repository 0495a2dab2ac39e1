#!/usr/bin/env bash
# The main job on the simulated machine: a Moro 310 gets a new BIOS in its
# primary bank, carrying its identity over, and we show what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
# The demo's own build directory (LROMUP_DEMO_BUILD to choose another): it is
# configured only when it has never been, and never wiped, so a build
# directory the user made keeps its settings.
demo_build=${LROMUP_DEMO_BUILD:-build-demo}
[ -f "$demo_build/CMakeCache.txt" ] ||
  cmake -S . -B "$demo_build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DLROMUP_TESTS=OFF >/dev/null
cmake --build "$demo_build" -j "$(nproc 2>/dev/null || echo 2)" --target lromup-sim >/dev/null

sim=$(cd "$demo_build" && pwd)/lromup-sim
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$sim" new moro310 --model moro310 --serial S123456 --asset ASSET-0042
"$sim" image moro310 new.rom
"$sim" show moro310 > before.txt

echo "== lromup /p new.rom on a simulated Moro 310"
status=0
"$sim" run moro310 -- /p new.rom > out.txt 2> err.txt || status=$?
# Progress percentages overwrite each other on a terminal; show the last one.
tr '\r' '\n' < out.txt | grep -v '^[0-9]*%$' || true
tr '\r' '\n' < out.txt | grep '%$' | tail -n 1 || true
cat err.txt
echo "exit status: $status"

"$sim" show moro310 > after.txt
"$sim" read moro310 primary bank.bin
echo
echo "== identity carried into the new image"
has() { grep -q -a -F "$1" "$2" && echo yes || echo no; }
for text in S123456 ASSET-0042; do
  printf '%-12s in new.rom: %-3s  in the written primary bank: %s\n' "$text" \
    "$(has "$text" new.rom)" "$(has "$text" bank.bin)"
done
echo
echo "== machine state before -> after"
join -t: -j1 <(sort before.txt) <(sort after.txt) |
  awk -F: '{ b=$2; a=$3; gsub(/^ /,"",b); gsub(/^ /,"",a);
             printf "%-26s %s%s\n", $1, b, (a==b ? "" : "  ->  " a) }'
exit "$status"
