#!/usr/bin/env bash
# The viewer against the viewer people use instead (Debian's f3d), on the same large
# files: time to a first picture, one process each, exec to exit.
#   f3d --output x.png --resolution 640,480 FILE
#   viewer --frames 1 --screenshot x.png FILE
# It generates a torus of about a million triangles (peer_models.py) as binary and ASCII
# STL, and as binary PLY, binary glTF and OBJ with and without normals (and takes three
# small real models from Debian's assimp-testmodels), runs the two programs interleaved
# RUNS times per file (default 5), and prints the median seconds and peak resident memory
# (MB, /usr/bin/time's) of each and their ratios (viewer / f3d: below 1 the viewer is
# faster or smaller). Installs f3d and time when they are missing.
# --models DIR keeps the generated files in DIR and takes them from there when they exist.
# Usage: bench/viewer_peer.sh [--build DIR] [--runs N] [--triangles N] [--models DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/release"
runs=5
triangles=1000000
models_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --triangles) triangles="$2"; shift 2 ;;
    --models) mkdir -p "$2"; models_dir="$(cd "$2" && pwd)"; shift 2 ;;
    *) echo "usage: viewer_peer.sh [--build DIR] [--runs N] [--triangles N] [--models DIR]" >&2; exit 1 ;;
  esac
done
viewer="$build/tools/viewer/viewer"
[ -x "$viewer" ] || { echo "viewer_peer.sh: no $viewer; build it first (./run.sh does)" >&2; exit 1; }
if ! command -v f3d >/dev/null; then
  echo "viewer_peer.sh: f3d is missing; installing Debian's f3d" >&2
  apt-get install -y f3d >/dev/null
fi
[ -x /usr/bin/time ] || apt-get install -y time >/dev/null
command -v Xvfb >/dev/null || { echo "viewer_peer.sh: Xvfb is missing (package xvfb)" >&2; exit 1; }
work="$(mktemp -d /tmp/lumaret-peer-XXXXXX)"
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
# f3d's offscreen rendering still wants an X display; the viewer runs headless on EGL (a
# screenshot asks for that), both on Mesa's llvmpipe.
exec 3<>"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/displayfd" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/displayfd")"
unset WAYLAND_DISPLAY

# A torus of about $triangles triangles, half as many distinct vertices, as the files people
# have: binary and ASCII STL, PLY, binary glTF and OBJ each with and without normals.
if [ -n "$models_dir" ]; then
  [ -s "$models_dir/torus_nonormals.obj" ] || python3 "$root/bench/peer_models.py" "$triangles" "$models_dir"
  ln -s "$models_dir"/torus*.* "$work/"
else
  python3 "$root/bench/peer_models.py" "$triangles" "$work"
fi
models=/usr/share/assimp/models
files=(torus.stl torus_ascii.stl torus_nonormals.ply torus_nonormals.glb torus_nonormals.obj
       torus.ply torus.glb torus.obj "$models/Collada/duck.dae" "$models/3DS/fels.3ds"
       "$models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb")

# One run of the command, which must succeed: its seconds and peak resident kilobytes.
measure() {
  if ! /usr/bin/time -f '%e %M' -o run.measure "$@" >/dev/null 2>&1; then
    echo "viewer_peer.sh: failed: $*" >&2
    exit 1
  fi
  cat run.measure
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-22s %8s %8s %6s %8s %8s %6s %s\n' file f3d_s viewer_s ratio f3d_MB viewer_MB ratio size
for file in "${files[@]}"; do
  : >f3d.runs; : >viewer.runs
  for ((i = 0; i < runs; i++)); do
    measure f3d --output f3d.png --resolution 640,480 "$file" >>f3d.runs
    measure "$viewer" --frames 1 --screenshot viewer.png "$file" >>viewer.runs
  done
  f=$(cut -d' ' -f1 f3d.runs | median); v=$(cut -d' ' -f1 viewer.runs | median)
  fm=$(cut -d' ' -f2 f3d.runs | median); vm=$(cut -d' ' -f2 viewer.runs | median)
  printf '%-22s %8.3f %8.3f %6.2f %8.0f %8.0f %6.2f %s\n' "$(basename "$file")" "$f" "$v" "$(echo "$v / $f" | bc -l)" \
    "$(echo "$fm / 1024" | bc -l)" "$(echo "$vm / 1024" | bc -l)" "$(echo "$vm / $fm" | bc -l)" "$(du -hL "$file" | cut -f1)"
done
