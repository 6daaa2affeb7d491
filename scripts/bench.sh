#!/usr/bin/env bash
# All performance figures in one command. Every line is a median of
# alternating runs and ends with its ratio:
#   - the network library's lines from scripts/bench-net.sh (transfer, digest,
#     working set), passed through as it prints them;
#   - end to end (under openbox, as users have a window manager), idle CPU
#     and repaint cost from scripts/bench/perf.py.
#   bash scripts/bench.sh [perf.py options, e.g. --size-mb 100 --runs 5]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { grep -E -A3 'error' "$build/build.log" | head -40; exit 1; }

if [ "${BENCH_SKIP_NET:-0}" != 1 ]; then
  bash scripts/bench-net.sh ${BENCH_NET_ARGS:-}
fi
scripts/winebed.sh "$build/winebed" python3 scripts/bench/perf.py --bin "$build/bin" "$@"
