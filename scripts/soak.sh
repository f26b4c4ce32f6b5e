#!/usr/bin/env bash
# Soak test: runs the demo headless for FRAMES frames, sampling its resident memory, and
# fails when memory after warm-up grows beyond a slack over its highest value during the
# warm-up: the first quarter of the run, at least 5 s and at least one whole swing of the
# camera's height (3279 frames at the default clock), so every kind of view is drawn
# before the judging starts.
#
# Usage: soak.sh [--engine PATH] [--slack MB] [--frame-time S] [--driver-threads] [--samples FILE]
#                [--allocator] FRAMES
#   --engine PATH     the engine to run (default: build/release/engine, else build/debug/engine)
#   --slack MB        allowed growth after warm-up (default 16)
#   --frame-time S    the fixed frame clock (default 1/60). 0 freezes the camera and the
#                     light while the animation clock still runs: the driver's memory then
#                     settles at once, so a short run shows the engine's own growth.
#   --driver-threads  keeps llvmpipe's rasterizer threads (see below)
#   --samples FILE    keeps the samples: ms, resident KB, and on every tenth line the
#                     heap, other anonymous and file-backed KB of it
#   --allocator       also watches the allocator (tools/memwatch, built with cc) and prints
#                     the floor of the bytes in use late in the warm-up and late in the run:
#                     live memory, which a leak raises and the heap's high-water mark does not
# Prints the samples' summary; exit status 0 ok, 1 bad arguments or a failed run, 2 growth.
#
# By default the run sets LP_NUM_THREADS=0, so llvmpipe rasterizes each binned scene on
# the engine's thread when it flushes it. With its threads, the scenes of one frame (about
# 47 MB of 64 KB bin blocks on average, up to some 60 MB for the depth pass alone) stay
# allocated while the next passes are binned, and how many are alive at once depends on how
# far the threads lag, which is the machine's load: the heap's high-water mark then climbs
# in steps for as long as the run lasts (a 20 000-frame run: 19 MB after warm-up), while
# the floor of the bytes in use stays where it was. Without threads a frame's driver memory
# depends on the frame alone, and the clock is fixed, so growth that is left is real.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
engine=""
slack=16
frames=""
frame_time=0.0166666667
driver_threads=0
samples_out=""
allocator=0
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --engine) engine="$2"; shift 2 ;;
    --slack) slack="$2"; shift 2 ;;
    --frame-time) frame_time="$2"; shift 2 ;;
    --driver-threads) driver_threads=1; shift ;;
    --samples) samples_out="$(realpath -m "$2")"; shift 2 ;;
    --allocator) allocator=1; shift ;;
    *) frames="$1"; shift ;;
  esac
done
if ! [[ "$frames" =~ ^[1-9][0-9]*$ ]] || ! [[ "$slack" =~ ^[0-9]+$ ]] ||
  ! [[ "$frame_time" =~ ^[0-9]*\.?[0-9]+$ ]]; then
  echo "soak: usage: soak.sh [--engine PATH] [--slack MB] [--frame-time S] [--driver-threads] [--samples FILE]" \
    "[--allocator] FRAMES" >&2
  exit 1
fi
if [ -z "$engine" ]; then
  engine="$root/build/release/engine"
  [ -x "$engine" ] || engine="$root/build/debug/engine"
fi
[ -x "$engine" ] || { echo "soak: no engine at $engine" >&2; exit 1; }
engine="$(cd "$(dirname "$engine")" && pwd)/$(basename "$engine")"

# The camera (app/Engine.cpp) circles once every 4 pi s and its height swings once every
# 2 pi / (0.5 * 0.23) s = 54.64 s; the two line up again only after 400 pi s (75 398 frames
# at 1/60), too long to wait for, so the warm-up covers one height swing.
warm_frames=$(awk -v t="$frame_time" 'BEGIN { print (t > 0) ? int(54.64 / t) + 1 : 0 }')

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$root/data" "$work/data"
cd "$work"
extra=(LP_NUM_THREADS=0)
[ "$driver_threads" = 1 ] && extra=()
if [ "$allocator" = 1 ]; then
  cc -O2 -shared -fPIC -o memwatch.so "$root/tools/memwatch/memwatch.c" -lpthread ||
    { echo "soak: cannot build tools/memwatch/memwatch.c" >&2; exit 1; }
  extra+=(LD_PRELOAD="$work/memwatch.so" MEMWATCH_OUT="$work/allocator" MEMWATCH_SECONDS=5)
fi
env -u DISPLAY -u WAYLAND_DISPLAY LUMARET_HEADLESS_FRAMES="$frames" LUMARET_NO_MESSAGE_BOX=1 \
  LUMARET_FRAME_TIME="$frame_time" "${extra[@]}" "$engine" >engine.out 2>&1 &
pid=$!
start=$(date +%s%N)
: >samples
# Every tenth sample also splits the resident set: the allocator's main heap, other
# anonymous memory (thread arenas, the driver's own mappings) and mapped files.
n=0
while kill -0 "$pid" 2>/dev/null; do
  now=$((($(date +%s%N) - start) / 1000000))
  if [ $((n % 10)) -eq 0 ]; then
    awk -v t="$now" '
      /^[0-9a-f]+-[0-9a-f]+ / { kind = ($6 == "[heap]") ? "heap" : ($6 == "" || $6 ~ /^\[/) ? "anon" : "file"; next }
      /^Rss:/ { rss[kind] += $2; total += $2 }
      END { if (total) print t, total, rss["heap"] + 0, rss["anon"] + 0, rss["file"] + 0 }' \
      "/proc/$pid/smaps" >>samples 2>/dev/null || true
  else
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$rss" ] && echo "$now $rss" >>samples
  fi
  n=$((n + 1))
  sleep 0.5
done
if ! wait "$pid"; then
  echo "soak: the engine failed:" >&2
  tail -n 20 engine.out >&2
  exit 1
fi
[ -z "$samples_out" ] || cp samples "$samples_out"

awk -v slack_kb=$((slack * 1024)) -v frames="$frames" -v warm_frames="$warm_frames" \
  -v threads="$([ "$driver_threads" = 1 ] && echo "llvmpipe's threads" || echo "LP_NUM_THREADS=0")" '
  { t[NR] = $1 / 1000; m[NR] = $2; if (NF == 5) { split_t = t[NR]; heap = $3; anon = $4; file = $5 } }
  END {
    if (NR < 4) { printf "soak: %d frames, too short to judge (%d samples)\n", frames, NR; exit 0 }
    # Frames come at a steady rate after start-up, so the share of frames is the share of time.
    total = t[NR]; warm = total / 4
    if (warm < total * warm_frames / frames) warm = total * warm_frames / frames
    if (warm < 5) warm = 5
    base = 0; peak = 0; n = 0
    for (i = 1; i <= NR; ++i) {
      if (t[i] <= warm) { if (m[i] > base) base = m[i] }
      else { n++; if (m[i] > peak) peak = m[i] }
    }
    if (n == 0) {
      printf "soak: %d frames in %.1f s, all within warm-up (%d frames at least; peak %.1f MB)\n",
             frames, total, warm_frames, base / 1024
      exit 0
    }
    printf "soak: %d frames in %.1f s (%s); resident %.1f MB after warm-up (%.0f s), peak %.1f MB later (slack %d MB)\n",
           frames, total, threads, base / 1024, warm, peak / 1024, slack_kb / 1024
    printf "soak: at %.0f s: heap %.1f MB, other anonymous %.1f MB, files %.1f MB\n",
           split_t, heap / 1024, anon / 1024, file / 1024
    print warm > "warm"
    if (peak > base + slack_kb) { print "soak: memory grew beyond the slack"; exit 2 }
  }' samples || status=$?
# The lowest bytes in use over the last quarter of the warm-up (past start-up) and of the
# run (memwatch's lines: seconds, then key=value fields).
if [ "$allocator" = 1 ] && [ -s allocator ] && [ -s warm ]; then
  awk -v warm="$(cat warm)" '
    { for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      t[NR] = $1; low[NR] = v["inuse_low_kb"]; held[NR] = v["arena_kb"] }
    END {
      end = t[NR]; a = -1; b = -1
      for (i = 1; i <= NR; ++i) {
        if (t[i] <= warm && t[i] > warm * 3 / 4 && t[i] > 10 && (a < 0 || low[i] < a)) a = low[i]
        if (t[i] > warm && t[i] > end - (end - warm) / 4 && (b < 0 || low[i] < b)) b = low[i]
      }
      if (a < 0 || b < 0) { print "soak: allocator: the run is too short to compare floors"; exit }
      printf "soak: allocator: lowest bytes in use %.2f MB late in warm-up, %.2f MB late in the run; arenas hold %.1f MB\n",
             a / 1024, b / 1024, held[NR] / 1024
    }' allocator
fi
exit "${status:-0}"
