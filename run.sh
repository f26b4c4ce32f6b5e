#!/usr/bin/env bash
# Installs what is missing, builds the engine, the viewer and the tools, then runs the demo
# from the repository root, or with a model file the viewer on it:
#   ./run.sh               the demo (640 x 480)
#   ./run.sh --1024x768    the demo at 1024 x 768
#   ./run.sh MODEL         the viewer on MODEL (any file Assimp reads, or an SRX file)
# With a display the program opens its window (Escape or closing it ends the run); without
# one, or when the display named by DISPLAY / WAYLAND_DISPLAY cannot be opened, it runs
# headless (the demo LUMARET_HEADLESS_FRAMES frames, default 300; the viewer 60) and saves
# the last frame to screenshot.png. Builds land in build/release.
set -euo pipefail
model=""
if [ $# -gt 0 ] && [ "$1" != "--1024x768" ]; then
  # Named from the caller's folder; the run itself happens at the repository root.
  model="$(realpath -m -- "$1")"
fi
cd "$(dirname "$0")"

bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMARET_TESTS=OFF -DLUMARET_BENCH=OFF >/dev/null
cmake --build build/release -j2 --target engine engine_1024x768 display_probe viewer srxconvert srxdump hlslfront

program=(build/release/engine)
[ "${1:-}" = "--1024x768" ] && program=(build/release/engine_1024x768)
[ -n "$model" ] && program=(build/release/tools/viewer/viewer "$model")

# Decided by opening the display, not by whether a variable is set: the probe tries it
# the way the engine will (and says on stderr why a named display does not open).
if ! build/release/platform/display_probe; then
  export LUMARET_SCREENSHOT="${LUMARET_SCREENSHOT:-screenshot.png}"
  if [ -n "$model" ]; then
    program=(build/release/tools/viewer/viewer --frames "${LUMARET_HEADLESS_FRAMES:-60}" "$model")
    echo "No display: showing $model for ${LUMARET_HEADLESS_FRAMES:-60} frames headless."
  else
    export LUMARET_HEADLESS_FRAMES="${LUMARET_HEADLESS_FRAMES:-300}"
    echo "No display: running $LUMARET_HEADLESS_FRAMES frames headless."
  fi
fi
status=0
"${program[@]}" || status=$?
[ -n "${LUMARET_SCREENSHOT:-}" ] && [ -f "$LUMARET_SCREENSHOT" ] && echo "Last frame: $(realpath -- "$LUMARET_SCREENSHOT")"
echo "Log: $PWD/log.txt"
exit $status
