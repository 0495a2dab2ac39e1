#!/usr/bin/env bash
# Builds everything with g++ and with clang++ (warnings are errors in both) and
# runs every test: the unit tests, the end-to-end tests of the binaries and a
# short bounded run of each fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build -j "$jobs"

cmake -S . -B build-clang -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DLROMUP_FUZZ=ON >/dev/null
cmake --build build-clang -j "$jobs"

# Fuzzers (clang build) first; then every test of the g++ build.
(cd build-clang && ctest --output-on-failure -L fuzz)
(cd build && ctest --output-on-failure -j "$jobs" -LE bench)
# Tests that could not run on this machine say why (tests/vm/).
grep -h '^SKIPPED:' build/Testing/Temporary/LastTest.log 2>/dev/null | sort -u || true
