#!/usr/bin/env bash
# Soak test: runs the demo headless for FRAMES frames, sampling its resident memory, and
# fails when memory after warm-up grows beyond a slack over what it was at the end of the
# warm-up (the first quarter of the run, at least 5 s).
#
# Usage: soak.sh [--engine PATH] [--slack MB] [--frame-time S] FRAMES
#   --engine PATH    the engine to run (default: build/release/engine, else build/debug/engine)
#   --slack MB       allowed growth after warm-up (default 16)
#   --frame-time S   the fixed frame clock (default 1/60). 0 freezes the camera and the
#                    light while the animation clock still runs: the driver's memory then
#                    settles at once, so a short run shows the engine's own growth.
# Prints the samples' summary; exit status 0 ok, 1 bad arguments or a failed run, 2 growth.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
engine=""
slack=16
frames=""
frame_time=0.0166666667
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --engine) engine="$2"; shift 2 ;;
    --slack) slack="$2"; shift 2 ;;
    --frame-time) frame_time="$2"; shift 2 ;;
    *) frames="$1"; shift ;;
  esac
done
if ! [[ "$frames" =~ ^[1-9][0-9]*$ ]] || ! [[ "$slack" =~ ^[0-9]+$ ]]; then
  echo "soak: usage: soak.sh [--engine PATH] [--slack MB] [--frame-time S] FRAMES" >&2
  exit 1
fi
if [ -z "$engine" ]; then
  engine="$root/build/release/engine"
  [ -x "$engine" ] || engine="$root/build/debug/engine"
fi
[ -x "$engine" ] || { echo "soak: no engine at $engine" >&2; exit 1; }
engine="$(cd "$(dirname "$engine")" && pwd)/$(basename "$engine")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$root/data" "$work/data"
cd "$work"
env -u DISPLAY -u WAYLAND_DISPLAY LUMARET_HEADLESS_FRAMES="$frames" LUMARET_NO_MESSAGE_BOX=1 \
  LUMARET_FRAME_TIME="$frame_time" "$engine" >engine.out 2>&1 &
pid=$!
start=$(date +%s%N)
: >samples
while kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$rss" ] && echo "$((($(date +%s%N) - start) / 1000000)) $rss" >>samples
  sleep 0.5
done
if ! wait "$pid"; then
  echo "soak: the engine failed:" >&2
  tail -n 20 engine.out >&2
  exit 1
fi

awk -v slack_kb=$((slack * 1024)) -v frames="$frames" '
  { t[NR] = $1 / 1000; m[NR] = $2 }
  END {
    if (NR < 4) { printf "soak: %d frames, too short to judge (%d samples)\n", frames, NR; exit 0 }
    total = t[NR]; warm = total / 4; if (warm < 5) warm = 5
    base = 0; peak = 0; n = 0
    for (i = 1; i <= NR; ++i) {
      if (t[i] <= warm) { if (m[i] > base) base = m[i] }
      else { n++; if (m[i] > peak) peak = m[i] }
    }
    if (n == 0) { printf "soak: %d frames in %.1f s, all within warm-up (peak %d MB)\n", frames, total, base / 1024; exit 0 }
    printf "soak: %d frames in %.1f s; resident %.1f MB after warm-up, peak %.1f MB later (slack %d MB)\n",
           frames, total, base / 1024, peak / 1024, slack_kb / 1024
    if (peak > base + slack_kb) { print "soak: memory grew beyond the slack"; exit 2 }
  }' samples
