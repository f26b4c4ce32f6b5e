#!/usr/bin/env bash
# The demo under valgrind's memcheck: a few frames headless, failing on any invalid read or
# write, use of uninitialised memory, bad free, or memory definitely lost at exit. Mesa's own
# "possibly lost" blocks (LLVM's JIT keeps interior pointers) are reported, not failed.
# Slow (minutes for a debug build), so it runs outside ./test.sh.
# Usage: memcheck.sh [--engine PATH] [FRAMES]   (default: build/debug/engine, 3 frames)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
engine="$root/build/debug/engine"
frames=3
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --engine) engine="$2"; shift 2 ;;
    *) frames="$1"; shift ;;
  esac
done
[[ "$frames" =~ ^[1-9][0-9]*$ ]] || { echo "memcheck: FRAMES must be a positive number" >&2; exit 1; }
[ -x "$engine" ] || { echo "memcheck: no engine at $engine" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "memcheck: valgrind is not installed (apt-get install valgrind)" >&2; exit 1; }
engine="$(cd "$(dirname "$engine")" && pwd)/$(basename "$engine")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$root/data" "$work/data"
cd "$work"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY LUMARET_HEADLESS_FRAMES="$frames" LUMARET_NO_MESSAGE_BOX=1 \
  valgrind --tool=memcheck --error-exitcode=9 --leak-check=full --errors-for-leak-kinds=definite \
  --num-callers=30 --log-file=memcheck.txt "$engine" >engine.out 2>&1 || status=$?
grep -E "^==[0-9]+== +((definitely|indirectly|possibly) lost:|ERROR SUMMARY)" memcheck.txt | sed 's/^==[0-9]*== *//'
if [ "$status" -ne 0 ]; then
  echo "memcheck: failed (exit status $status); valgrind's report:" >&2
  cat memcheck.txt >&2
  exit 1
fi
echo "memcheck: clean ($frames frames)"
