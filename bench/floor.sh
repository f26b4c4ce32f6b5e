#!/usr/bin/env bash
# The GL floor: the demo's frames in a window under Xvfb, against a replay of the same GL
# calls. For each screen configuration the engine runs untraced for SHORT and LONG frames
# (LUMARET_MAX_FRAMES, fixed clock), then traced (apitrace trace --api gl, the GLX path)
# for the same two lengths, and both traces are replayed with glretrace --benchmark.
# Differences between the long and the short runs give steady-state ms per frame, so
# start-up, shader compiles and uploads cancel out. Prints engine ms, replay ms and their
# ratio (the cost of the engine and the Direct3D 9 layer over the GL work itself).
# With --startup it measures start-up instead: the engine's windowed run of one frame, from
# exec to exit (LUMARET_MAX_FRAMES=1), against glretrace replaying that run's own trace as a
# whole process (GL context, shader compiles, uploads and the first frame, none of the
# engine's own work), interleaved, RUNS of each (default 7), with the shader translation
# cache cold (a new cache folder every run) and warm; prints medians and their ratios.
# Usage: bench/floor.sh [--build DIR] [--frames SHORT LONG]   (default build/release, 30 150)
#        bench/floor.sh [--build DIR] --startup [--runs N]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/release"
short=30
long=150
startup=0
runs=7
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --frames) short="$2"; long="$3"; shift 3 ;;
    --startup) startup=1; shift ;;
    --runs) runs="$2"; shift 2 ;;
    *) echo "usage: floor.sh [--build DIR] [--frames SHORT LONG]" >&2; exit 1 ;;
  esac
done
for tool in Xvfb apitrace glretrace; do
  if ! command -v "$tool" >/dev/null; then
    if [ "$tool" = Xvfb ]; then echo "floor.sh: Xvfb is missing (package xvfb)" >&2; exit 1; fi
    echo "floor.sh: $tool is missing; installing Debian's apitrace (trace and replay of GL calls)" >&2
    apt-get install -y apitrace >/dev/null
  fi
done
work="$(mktemp -d /tmp/lumaret-floor-XXXXXX)"
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ln -s "$root/data" "$work/data"
cd "$work"

now() { date +%s.%N; }

# Seconds of wall time of one engine run of $2 frames, traced to $3 when given.
run_engine() {
  local engine="$1" frames="$2" trace="${3:-}" start end
  start=$(now)
  if [ -n "$trace" ]; then
    LUMARET_MAX_FRAMES=$frames LUMARET_FRAME_TIME=0.0166666667 LUMARET_NO_MESSAGE_BOX=1 \
      apitrace trace --api gl -o "$trace" "$engine" >/dev/null 2>&1
  else
    LUMARET_MAX_FRAMES=$frames LUMARET_FRAME_TIME=0.0166666667 LUMARET_NO_MESSAGE_BOX=1 "$engine" >/dev/null 2>&1
  fi
  end=$(now)
  echo "$end - $start" | bc -l
}

# Seconds glretrace reports for replaying a trace.
replay() {
  glretrace --benchmark "$1" 2>/dev/null | sed -n 's/^Rendered \([0-9]*\) frames in \([0-9.]*\) secs.*/\2/p'
}

# The median of the numbers given.
median() { printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

start_display() {
  exec 3<> "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 "${1}x${2}x24" -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$work/displayfd" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n 1 "$work/displayfd")"
  unset WAYLAND_DISPLAY
  exec 3>&-
}

if [ "$startup" = 1 ]; then
  engine="$build/engine"
  [ -x "$engine" ] || { echo "floor.sh: $engine is not built" >&2; exit 1; }
  start_display 640 480
  # Mesa keeps its own cache of compiled programs under XDG_CACHE_HOME too: give it a folder
  # of its own, warm for every run, so that cold and warm differ in the engine's cache only.
  export MESA_SHADER_CACHE_DIR="$work/mesa-cache"
  export XDG_CACHE_HOME="$work/warm-cache"
  run_engine "$engine" 1 "$work/one.trace" >/dev/null   # also warms the cache
  glretrace "$work/one.trace" >/dev/null 2>&1
  cold=() warm=() replays=()
  for i in $(seq "$runs"); do
    replays+=("$(s=$(now); glretrace "$work/one.trace" >/dev/null 2>&1; e=$(now); echo "$e - $s" | bc -l)")
    warm+=("$(run_engine "$engine" 1)")
    cold+=("$(XDG_CACHE_HOME="$work/cold-cache-$i" run_engine "$engine" 1)")
  done
  r=$(median "${replays[@]}") w=$(median "${warm[@]}") c=$(median "${cold[@]}")
  printf "start-up, one frame at 640x480 in a window under Xvfb, medians of %d (load %s)\n" "$runs" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf "%-24s %8.1f ms\n" "glretrace of its trace" "$(echo "$r * 1000" | bc -l)"
  printf "%-24s %8.1f ms   ratio %.3f\n" "engine, warm cache" "$(echo "$w * 1000" | bc -l)" "$(echo "$w / $r" | bc -l)"
  printf "%-24s %8.1f ms   ratio %.3f\n" "engine, cold cache" "$(echo "$c * 1000" | bc -l)" "$(echo "$c / $r" | bc -l)"
  exit 0
fi

printf "%-10s %12s %12s %8s   (ms per steady-state frame, frames %d..%d, window under Xvfb)\n" \
  size engine replay ratio "$short" "$long"
for config in "engine 640 480" "engine_1024x768 1024 768"; do
  set -- $config
  engine="$build/$1"
  [ -x "$engine" ] || { echo "floor.sh: $engine is not built" >&2; exit 1; }
  start_display "$2" "$3"
  a=$(run_engine "$engine" "$short")
  b=$(run_engine "$engine" "$long")
  run_engine "$engine" "$short" "$work/short.trace" >/dev/null
  run_engine "$engine" "$long" "$work/long.trace" >/dev/null
  ra=$(replay "$work/short.trace")
  rb=$(replay "$work/long.trace")
  engine_ms=$(echo "($b - $a) * 1000 / ($long - $short)" | bc -l)
  replay_ms=$(echo "($rb - $ra) * 1000 / ($long - $short)" | bc -l)
  printf "%-10s %12.2f %12.2f %8.3f\n" "${2}x${3}" "$engine_ms" "$replay_ms" "$(echo "$engine_ms / $replay_ms" | bc -l)"
  kill "$xvfb_pid"; wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  rm -f "$work/displayfd" "$work"/*.trace
done
