#!/usr/bin/env bash
# The upgrade companion's main job, end to end, with one command:
#   bash scripts/demo.sh [--headless] [demo options, see scripts/demo/demo.py --help]
#
# Installs what is missing, builds the programs the demo needs into build/,
# and runs the demo in the Wine test bed (state in build/demo-bed). With a
# display of your own (DISPLAY set and reachable) the windows appear on it and
# you click the prompt yourself; otherwise, or with --headless, it runs on a
# private Xvfb and answers the prompt itself. Screenshots land in out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

headless=0
args=()
for arg in "$@"; do
  if [ "$arg" = --headless ]; then headless=1; else args+=("$arg"); fi
done

bash scripts/setup.sh
build=${BUILD_DIR:-build}
mkdir -p "$build"
echo "Building the companion, its two libraries, the console tool and the demo setup in $build/ ..."
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release --no-warn-unused-cli >/dev/null
if ! cmake --build "$build" -j"$(nproc)" --target DazuvuVevUpgrade DazuvuVevUpgradeCtl DemoSetup uiskin \
     >"$build/demo-build.log" 2>&1; then
  grep -E -A3 'error|Error' "$build/demo-build.log" | head -60
  echo "demo: the build failed; the whole output is in $build/demo-build.log" >&2
  exit 1
fi

if [ "$headless" = 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "Using your display $DISPLAY: click the prompt when it appears."
  export KEEP_DISPLAY=1
  args=(--interactive "${args[@]}")
else
  echo "No display of your own: running on a private Xvfb; the demo answers the prompt itself."
  export KEEP_DISPLAY=0
fi
echo "Starting the Wine test bed (the first start boots a Wine prefix, about 15 s) ..."
scripts/winebed.sh "$build/demo-bed" python3 scripts/demo/demo.py --bin "$build/bin" --out out/demo "${args[@]}"
