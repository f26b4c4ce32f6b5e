#!/usr/bin/env bash
# The viewer against the viewer people use instead (Debian's f3d), on the same large
# files: time to a first picture, one process each, exec to exit.
#   f3d --output x.png --resolution 640,480 FILE
#   viewer --frames 1 --screenshot x.png FILE
# It generates a sphere of about a million triangles as binary glTF, binary PLY and OBJ
# (and takes three small real models from Debian's assimp-testmodels), runs the two
# programs interleaved RUNS times per file (default 5), and prints the median seconds of
# each and their ratio (viewer / f3d: below 1 the viewer is faster). Installs f3d when
# it is missing.
# Usage: bench/viewer_peer.sh [--build DIR] [--runs N] [--triangles N]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/release"
runs=5
triangles=1000000
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --triangles) triangles="$2"; shift 2 ;;
    *) echo "usage: viewer_peer.sh [--build DIR] [--runs N] [--triangles N]" >&2; exit 1 ;;
  esac
done
viewer="$build/tools/viewer/viewer"
[ -x "$viewer" ] || { echo "viewer_peer.sh: no $viewer; build it first (./run.sh does)" >&2; exit 1; }
if ! command -v f3d >/dev/null; then
  echo "viewer_peer.sh: f3d is missing; installing Debian's f3d" >&2
  apt-get install -y f3d >/dev/null
fi
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

# A UV sphere of about $triangles triangles with normals, written three ways.
python3 - "$triangles" <<'PY'
import math, struct, sys, json
target = int(sys.argv[1])
rings = max(4, int(math.sqrt(target / 4)))
segments = 2 * rings
positions, normals = [], []
for r in range(rings + 1):
    theta = math.pi * r / rings
    for s in range(segments + 1):
        phi = 2 * math.pi * s / segments
        n = (math.sin(theta) * math.cos(phi), math.cos(theta), math.sin(theta) * math.sin(phi))
        positions.append(n); normals.append(n)
faces = []
row = segments + 1
for r in range(rings):
    for s in range(segments):
        a = r * row + s; b = a + row
        faces.append((a, a + 1, b)); faces.append((a + 1, b + 1, b))
flat = lambda rows: [v for t in rows for v in t]
pos = struct.pack('<%df' % (3 * len(positions)), *flat(positions))
nor = struct.pack('<%df' % (3 * len(normals)), *flat(normals))
idx = struct.pack('<%dI' % (3 * len(faces)), *flat(faces))
# Binary glTF: positions, normals, indices in one buffer.
doc = {"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0}],
       "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1}, "indices": 2}]}],
       "buffers": [{"byteLength": len(pos) + len(nor) + len(idx)}],
       "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": len(pos)},
                       {"buffer": 0, "byteOffset": len(pos), "byteLength": len(nor)},
                       {"buffer": 0, "byteOffset": len(pos) + len(nor), "byteLength": len(idx)}],
       "accessors": [{"bufferView": 0, "componentType": 5126, "count": len(positions), "type": "VEC3",
                      "min": [-1, -1, -1], "max": [1, 1, 1]},
                     {"bufferView": 1, "componentType": 5126, "count": len(normals), "type": "VEC3"},
                     {"bufferView": 2, "componentType": 5125, "count": 3 * len(faces), "type": "SCALAR"}]}
text = json.dumps(doc).encode()
text += b' ' * (-len(text) % 4)
binary = pos + nor + idx
with open('sphere.glb', 'wb') as f:
    f.write(struct.pack('<4sII', b'glTF', 2, 12 + 8 + len(text) + 8 + len(binary)))
    f.write(struct.pack('<I4s', len(text), b'JSON')); f.write(text)
    f.write(struct.pack('<I4s', len(binary), b'BIN\0')); f.write(binary)
with open('sphere.ply', 'wb') as f:
    f.write(('ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\nproperty float y\n'
             'property float z\nproperty float nx\nproperty float ny\nproperty float nz\nelement face %d\n'
             'property list uchar int vertex_indices\nend_header\n' % (len(positions), len(faces))).encode())
    f.write(b''.join(struct.pack('<6f', *p, *n) for p, n in zip(positions, normals)))
    f.write(b''.join(struct.pack('<B3i', 3, *t) for t in faces))
with open('sphere.obj', 'w') as f:
    f.write(''.join('v %.6f %.6f %.6f\n' % p for p in positions))
    f.write(''.join('vn %.6f %.6f %.6f\n' % n for n in normals))
    f.write(''.join('f %d//%d %d//%d %d//%d\n' % (a + 1, a + 1, b + 1, b + 1, c + 1, c + 1) for a, b, c in faces))
print('sphere: %d vertices, %d triangles' % (len(positions), len(faces)), file=sys.stderr)
PY

models=/usr/share/assimp/models
files=(sphere.glb sphere.ply sphere.obj "$models/Collada/duck.dae" "$models/3DS/fels.3ds"
       "$models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb")

# Seconds of one run of the command, which must succeed.
seconds() {
  local start end
  start=$(date +%s.%N)
  if ! "$@" >/dev/null 2>&1; then echo "viewer_peer.sh: failed: $*" >&2; exit 1; fi
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-22s %10s %10s %8s %s\n' file f3d_s viewer_s ratio size
for file in "${files[@]}"; do
  : >f3d.times; : >viewer.times
  for ((i = 0; i < runs; i++)); do
    seconds f3d --output f3d.png --resolution 640,480 "$file" >>f3d.times
    seconds "$viewer" --frames 1 --screenshot viewer.png "$file" >>viewer.times
  done
  f=$(median <f3d.times); v=$(median <viewer.times)
  printf '%-22s %10.3f %10.3f %8.2f %s\n' "$(basename "$file")" "$f" "$v" "$(echo "$v / $f" | bc -l)" \
    "$(du -h "$file" | cut -f1)"
done
