#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the debug build (GCC) and its test suite, GL debug output on;
#   2. the sanitizer build (Clang, ASan + UBSan, fuzzer coverage) and the same suite;
#   3. a leak check and a short soak of the whole engine;
#   4. the fuzz smoke run: every libFuzzer target over its corpus for a bounded time;
#   5. the Windows build: engine.exe in both screen configurations, compiled and linked with
#      mingw-w64 against the real Windows, d3d9 and d3dx9 headers and import libraries.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh
jobs=2
# Compiler-cache hits for any checkout of the project, wherever it lies.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fuzz_seconds="${LUMARET_FUZZ_SECONDS:-10}"

echo "== Debug build and tests"
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/debug -j$jobs
ctest --test-dir build/debug -j$jobs --output-on-failure --timeout 300

echo "== Sanitizer build (ASan + UBSan) and tests"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DLUMARET_FUZZ=ON -DLUMARET_BENCH=OFF >/dev/null
cmake --build build/sanitize -j$jobs
# Mesa and SDL keep allocations until exit; leaks are not what this run looks for.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build/sanitize -j$jobs --output-on-failure --timeout 600 -E '^fuzz_'

echo "== Leak check: a whole headless run of the engine under LeakSanitizer"
leak_dir="$(mktemp -d)"
ln -s "$PWD/data" "$leak_dir/data"
engine="$PWD/build/sanitize/engine"
(cd "$leak_dir" && env -u DISPLAY -u WAYLAND_DISPLAY ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
  LUMARET_HEADLESS_FRAMES=10 LUMARET_NO_MESSAGE_BOX=1 LUMARET_GL_ERRORS_FATAL=1 "$engine")
rm -rf "$leak_dir"

echo "== Short soak: 500 frames of the demo, resident memory after warm-up"
bash scripts/soak.sh --engine build/debug/engine --frame-time 0 --slack 16 500

echo "== Fuzz smoke run (${fuzz_seconds}s per target)"
bash scripts/fuzz-smoke.sh build/sanitize "$fuzz_seconds"

echo "== Windows build (mingw-w64: engine.exe, both screen configurations)"
bash scripts/windows-build.sh build/windows
