#!/usr/bin/env bash
# Network library figures, as medians of alternating runs in one invocation:
# the library's transfer against a bare WinINet read loop and against curl,
# each writing a file; Md5CalFile against md5sum and a bare BCrypt loop; and
# the peak working set for a big file against a 1 MiB one. Each line ends
# with "ratio X.XX".
#   bash scripts/bench-net.sh [SIZE_MB [ROUNDS]]     (default 300 MiB, 7 rounds)
# BASELINE_BIN=<other build>/bin adds that build's library to the rotation
# and a line comparing the two transfers.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-300}
rounds=${2:-7}
build=${BUILD_DIR:-build}
bash scripts/setup.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target netbench >/dev/null
scripts/winebed.sh "$build/winebed" python3 tests/netlib/bench/bench_net.py --bin "$build/bin" \
  --size-mb "$size_mb" --rounds "$rounds" ${BASELINE_BIN:+--baseline-bin "$BASELINE_BIN"}
