#!/usr/bin/env bash
# Builds the updater and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target lromup
./build/lromup -?
