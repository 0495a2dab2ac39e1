#!/usr/bin/env bash
# Builds the .deb with CPack, unpacks it into a scratch root as dpkg would
# install it, and runs what was installed: lromup's usage text and both man
# pages. The virtual-machine tests boot that root.
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

for file in usr/sbin/lromup usr/bin/lromup-sim usr/share/man/man8/lromup.8 usr/share/man/man1/lromup-sim.1; do
    [ -f "$ROOT/$file" ] || fail "the package has no /$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in *libc6*libstdc++6*) ;; *) fail "Depends is '$depends'" ;; esac

usage=$("$ROOT/usr/sbin/lromup" -? | head -2)
[ "$usage" = "Varn Tessel OS-based flash update utility 1.11
Usage: $ROOT/usr/sbin/lromup <mode> <file>" ] || fail "installed lromup -? printed '$usage'"

# man -l formats the page as a reader sees it; warnings of the formatter
# (bad requests, lines that cannot be set) fail the test.
for page in man8/lromup.8:"EXIT STATUS" man1/lromup-sim.1:"lromup-sim run m"; do
    file=$ROOT/usr/share/man/${page%%:*}
    text=$(MANWIDTH=80 MAN_KEEP_FORMATTING= man --warnings -l "$file" 2>"$ROOT.warn" | col -b)
    grep -qF -- "${page#*:}" <<<"$text" || fail "man -l ${page%%:*} lacks '${page#*:}'"
    [ ! -s "$ROOT.warn" ] || fail "man -l ${page%%:*} warns: $(head -3 "$ROOT.warn")"
done
rm -f "$ROOT.warn"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checks passed"
