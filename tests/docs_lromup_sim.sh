#!/usr/bin/env bash
# The manual page and the README name every command, option, fault and exit
# status of lromup-sim that its usage (printed from its option table) names.
# Usage: docs_lromup_sim.sh <path of lromup-sim> <source dir>
set -uo pipefail
sim=$1 src=$2
usage=$("$sim" --help) || { echo "FAIL: $sim --help"; exit 1; }
man=$(sed 's/\\-/-/g; s/\\f[BIRP]//g' "$src/man/lromup-sim.1")
man_status=$(awk '/^\.SH EXIT STATUS/ { on = 1; next } /^\.SH/ { on = 0 } on' <<<"$man")
readme=$(awk '/^## Simulated machine/ { on = 1; next } /^## / { on = 0 } on' "$src/README.md")
readme_status=$(awk '/^- Statuses of the tool/ { on = 1 } on && /^$/ { on = 0 } on' <<<"$readme")

missing=0
lacks() { echo "$1 does not name $2"; missing=$((missing + 1)); }
has() { grep -qE -- "$2" <<<"$1"; }

while read -r command; do
    has "$man" "(lromup-sim|^\.BI?) +$command( |\"|$)" || lacks "man/lromup-sim.1" "command '$command'"
    has "$readme" "(lromup-sim |\`)$command( |\`)" || lacks "README.md" "command '$command'"
done < <(sed -n 's/^  lromup-sim \([a-z]*\( image\)\{0,1\}\) .*/\1/p' <<<"$usage")

# Options and faults: each a word of its own in both.
while read -r kind name; do
    has "$man" "(^|[^a-z-])$name([^a-z-]|$)" || lacks "man/lromup-sim.1" "$kind $name"
    has "$readme" "(^|[^a-z-])$name([^a-z-]|$)" || lacks "README.md" "$kind $name"
done < <(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$usage" | sort -u | sed 's/^/option /'
         sed -n 's/^Faults of [a-z]*: //p' <<<"$usage" | tr ',' '\n' | sed 's/@.*//; s/ //g; s/^/fault /')

while read -r status; do
    has "$man_status" "(^|[^0-9])$status([^0-9]|$)" || lacks "man/lromup-sim.1 (EXIT STATUS)" "status $status"
    has "$readme_status" "(^|[^0-9])$status([^0-9]|$)" || lacks "README.md (statuses of the tool)" "status $status"
done < <(sed -n '/^Exit status/,$ s/^  \([0-9]*\) .*/\1/p' <<<"$usage")

((missing == 0)) || { echo "FAIL: $missing name(s) missing"; exit 1; }
echo "man page and README name everything lromup-sim --help names"
