#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and runs all the tests:
#   bash scripts/test.sh [extra ctest arguments, e.g. -R log_tests]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
if ! cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1; then
  grep -E -A3 'error|Error' "$build/build.log" | head -60
  exit 1
fi
scripts/winebed.sh "$build/winebed" ctest --test-dir "$build" --output-on-failure -j4 "$@"
