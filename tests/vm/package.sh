#!/usr/bin/env bash
# Builds the .deb with CPack, has lintian check it against Debian policy,
# unpacks it into a scratch root as dpkg would install it, and runs what was
# installed: lromup's usage text, both man pages, and lromup-sim, which ignores
# the tests' kill variable. The virtual-machine tests boot that root.
# Usage: package.sh <build dir> <cpack> <scratch root>
set -u
BUILD=${1:?build dir}
CPACK=${2:?cpack}
ROOT=${3:?scratch root}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$BUILD/package" "$ROOT"
(cd "$BUILD" && "$CPACK" -G DEB >/dev/null) || { echo "FAIL: cpack"; exit 1; }
deb=$(ls "$BUILD"/package/lromup_*.deb)
dpkg-deb -x "$deb" "$ROOT" || { echo "FAIL: dpkg-deb -x $deb"; exit 1; }

for file in usr/sbin/lromup usr/bin/lromup-sim usr/share/man/man8/lromup.8.gz \
    usr/share/man/man1/lromup-sim.1.gz usr/share/doc/lromup/copyright usr/share/doc/lromup/changelog.gz; do
    [ -f "$ROOT/$file" ] || fail "the package has no /$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in *libc6*libstdc++6*) ;; *) fail "Depends is '$depends'" ;; esac

usage=$("$ROOT/usr/sbin/lromup" -? | head -2)
[ "$usage" = "Varn Tessel OS-based flash update utility 1.11
Usage: $ROOT/usr/sbin/lromup <mode> <file>" ] || fail "installed lromup -? printed '$usage'"

# man -l formats the page as a reader sees it; warnings of the formatter
# (bad requests, lines that cannot be set) fail the test.
for page in man8/lromup.8.gz:"EXIT STATUS" man1/lromup-sim.1.gz:"lromup-sim run m"; do
    file=$ROOT/usr/share/man/${page%%:*}
    text=$(MANWIDTH=80 MAN_KEEP_FORMATTING= man --warnings -l "$file" 2>"$ROOT.warn" | col -b)
    grep -qF -- "${page#*:}" <<<"$text" || fail "man -l ${page%%:*} lacks '${page#*:}'"
    [ ! -s "$ROOT.warn" ] || fail "man -l ${page%%:*} warns: $(head -3 "$ROOT.warn")"
done
rm -f "$ROOT.warn"

# Lintian's errors and warnings are what Debian policy rejects; its notes and
# pedantic hints are left alone.
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$ROOT.lintian" 2>&1 ||
        fail "lintian: $(grep -E '^[EW]: ' "$ROOT.lintian" || tail -5 "$ROOT.lintian")"
    rm -f "$ROOT.lintian"
else
    echo "SKIPPED: lintian's policy check: no lintian (scripts/deps.sh installs it)"
fi

# The shipped lromup-sim has no kill hook: a run asked to die at its first
# flash operation completes.
sim=$ROOT/usr/bin/lromup-sim
scratch=$(mktemp -d)
if "$sim" new "$scratch/m" >/dev/null && "$sim" image "$scratch/m" "$scratch/new.bin" >/dev/null; then
    LROMUP_SIM_KILL_AT=op:1 "$sim" run "$scratch/m" -- /p "$scratch/new.bin" >/dev/null 2>&1
    status=$?
    [ $status -eq 0 ] || fail "the installed lromup-sim, told LROMUP_SIM_KILL_AT=op:1, ended with $status"
else
    fail "the installed lromup-sim cannot make a machine"
fi
rm -rf "$scratch"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checks passed"
