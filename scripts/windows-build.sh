#!/usr/bin/env bash
# Builds the engine for Windows with mingw-w64: every source of the engine's own folders
# compiled against the real windows.h, d3d9.h and d3dx9.h (warnings are errors), then
# linked against the real d3d9 and d3dx9 import libraries into engine.exe (640 x 480) and
# engine_1024x768.exe. The Linux platform layer is not part of this build. Fails when a
# file does not compile or either executable does not link.
#
# Usage: scripts/windows-build.sh [OUTPUT_DIR]   (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
  echo "windows-build: $compiler is missing (package g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi
out="${1:-build/windows}"
fullscreen="${LUMARET_FULLSCREEN:-1}"
flags=(-std=c++20 -O1 -Wall -Wextra -Werror -I.)
mkdir -p "$out/obj"

# Every engine source but the entry point, two at a time; each object is named after its path.
sources=()
for file in app/*.cpp render/*.cpp resources/*.cpp import/*.cpp scene/*.cpp postfx/*.cpp; do
  [ "$file" = app/WinMain.cpp ] || sources+=("$file")
done
export compiler out
printf '%s\n' "${sources[@]}" | xargs -P 2 -I{} sh -c \
  'obj="$out/obj/$(echo "{}" | tr / _).o"; "$compiler" "$0" "$@" -c "{}" -o "$obj" || { echo "windows-build: {} does not compile" >&2; exit 255; }' \
  "${flags[@]}"
objects=()
for file in "${sources[@]}"; do objects+=("$out/obj/$(echo "$file" | tr / _).o"); done

# One entry point per screen configuration, then the link.
link() {
  local name="$1" width="$2" height="$3"
  "$compiler" "${flags[@]}" -DLUMARET_SCREEN_WIDTH="$width" -DLUMARET_SCREEN_HEIGHT="$height" \
    -DLUMARET_FULLSCREEN="$fullscreen" -c app/WinMain.cpp -o "$out/obj/$name-WinMain.o"
  if ! "$compiler" -static -mwindows -o "$out/$name.exe" "$out/obj/$name-WinMain.o" "${objects[@]}" \
    -ld3d9 -ld3dx9 -luser32 -lgdi32 -lwinmm; then
    echo "windows-build: $name.exe does not link" >&2
    return 1
  fi
  echo "windows-build: $out/$name.exe"
}
link engine 640 480
link engine_1024x768 1024 768
