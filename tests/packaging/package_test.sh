#!/usr/bin/env bash
# The Debian package of a build, looked at as a user and a file manager meet it:
#   1. cpack makes it from the build's install rules; its control fields and file list;
#   2. lintian finds no error in it;
#   3. its desktop entry validates, claims only MIME types that shared-mime-info or its own
#      MIME file names, and makes it the default viewer of glTF (xdg-mime); the MIME file
#      builds a database, and its SRX magic is what SRX files start with;
#   4. its icons, man pages (one per program, every option of --help in it) and bash
#      completion (options from --help, model files by extension);
#   5. the command of its own .thumbnailer file, run inside bwrap with no display, no
#      writable home or working directory, on a real model in a folder whose name has a
#      space: a PNG of the requested size with the model in it; broken, oversized and
#      special files and a run past its time limit give no thumbnail, quickly;
#   6. the installed engine, started in an empty folder in the same sandbox, plays the demo
#      from the files installed with it.
# The programs run from the package's extracted tree: they find their helper and data
# relative to themselves, as they do under /usr.
#
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work="$build/package-test"  # not under /tmp, which the sandbox replaces
python=/usr/bin/python3  # Debian's, with python3-pil (not whichever python3 comes first on PATH)
model=/usr/share/assimp/models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb
fail() {
  echo "package_test: FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }
for tool in cpack dpkg-deb lintian desktop-file-validate update-desktop-database update-mime-database xdg-mime \
  bwrap man bash; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -f /usr/share/bash-completion/bash_completion ] || fail "bash-completion is missing (scripts/install-deps.sh)"
[ -f "$model" ] || fail "$model is missing (assimp-testmodels)"
"$python" -c 'import PIL' 2>/dev/null || fail "python3-pil is missing (scripts/install-deps.sh)"
rm -rf "$work"
mkdir -p "$work"

step "cpack -G DEB"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack did not make the package"
fi
debs=("$work"/cpack/lumaret_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one lumaret_*.deb, found: ${debs[*]}"
deb=${debs[0]}
echo "$deb ($(stat -c %s "$deb") bytes)"

step "control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = lumaret ] || fail "Package is $(field Package)"
changelog_version=$(sed -n '1s/^lumaret (\([^)]*\)).*/\1/p' "$source_dir/packaging/changelog")
[ "$(field Version)" = "$changelog_version" ] ||
  fail "Version $(field Version) is not the changelog's $changelog_version"
depends=$(field Depends)
for needed in libc6 libassimp5 libsdl2-2.0-0 libepoxy0 libegl1 libgl1-mesa-dri; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done
[ -n "$(field Description)" ] || fail "no Description"

step "contents"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' >"$work/contents"
expected=(
  usr/bin/lumaret-viewer usr/bin/lumaret-engine usr/bin/lumaret-engine-1024x768 usr/bin/srxconvert usr/bin/srxdump
  usr/lib/lumaret/hlslfront
  usr/share/lumaret/data/PassZN.hlsl usr/share/lumaret/data/Tahoma8.mofo usr/share/lumaret/demo/cylcube01.srx
  usr/share/applications/lumaret-viewer.desktop usr/share/mime/packages/lumaret.xml
  usr/share/thumbnailers/lumaret.thumbnailer
  usr/share/doc/lumaret/copyright usr/share/doc/lumaret/changelog.gz
)
for size in 16 24 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/lumaret.png"); done
for program in lumaret-viewer lumaret-engine lumaret-engine-1024x768 srxconvert srxdump; do
  expected+=("usr/share/man/man1/$program.1.gz")
done
for program in lumaret-viewer srxconvert srxdump; do expected+=("usr/share/bash-completion/completions/$program"); done
for path in "${expected[@]}"; do grep -qx "$path" "$work/contents" || fail "the package lacks /$path"; done
# Nothing but these places, and nothing of the build tree's names in /usr/bin.
unexpected=$(grep -v -E '^usr/(|bin/.*|lib/|lib/lumaret/.*|share/|share/(lumaret|applications|mime|icons|thumbnailers|man|bash-completion|doc)(/.*)?)$' \
  "$work/contents" || true)
[ -z "$unexpected" ] || fail "unexpected paths in the package: $unexpected"
for name in viewer engine engine_1024x768 hlslfront; do
  ! grep -qx "usr/bin/$name" "$work/contents" || fail "/usr/bin/$name is in the package"
done
root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

step "lintian"
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
cat "$work/lintian.log"
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors (status $lintian_status)"

step "desktop entry and MIME types"
desktop="$root/usr/share/applications/lumaret-viewer.desktop"
thumbnailer="$root/usr/share/thumbnailers/lumaret.thumbnailer"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
mime_of() { sed -n 's/^MimeType=//p' "$1" | tr ';' '\n' | sed '/^$/d'; }
[ "$(mime_of "$desktop")" = "$(mime_of "$thumbnailer")" ] || fail "the thumbnailer's MIME types are not the desktop entry's"
[ "$(mime_of "$desktop" | wc -l)" -ge 10 ] || fail "too few MIME types: $(mime_of "$desktop" | tr '\n' ' ')"
for type in model/gltf-binary model/gltf+json model/obj model/stl application/x-lumaret-srx model/x-ply model/x-fbx; do
  mime_of "$desktop" | grep -qx "$type" || fail "the desktop entry does not claim $type"
done
own_mime="$root/usr/share/mime/packages/lumaret.xml"
while read -r type; do
  grep -q "<mime-type type=\"$type\"" /usr/share/mime/packages/freedesktop.org.xml "$own_mime" ||
    fail "$type is named neither by shared-mime-info nor by lumaret.xml"
done < <(mime_of "$desktop")
mkdir -p "$work/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$own_mime" "$work/mime/packages/"
update-mime-database "$work/mime" >"$work/mime.log" 2>&1 || { cat "$work/mime.log"; fail "update-mime-database rejects lumaret.xml"; }
grep -qx 'application/x-lumaret-srx' "$work/mime/types" || fail "the MIME database lacks SRX"
# The SRX type's magic is what SRX files start with, the engine's demo scene among them.
magic=$("$python" - "$own_mime" <<'PY'
import sys, xml.etree.ElementTree as ET
ns = {'m': 'http://www.freedesktop.org/standards/shared-mime-info'}
for t in ET.parse(sys.argv[1]).getroot().findall('m:mime-type', ns):
    if t.get('type') == 'application/x-lumaret-srx':
        print(t.find('m:magic/m:match', ns).get('value'))
PY
)
[ "$(head -c 4 "$source_dir/data/cylcube01.srx")" = "$magic" ] || fail "SRX magic '$magic' is not how SRX files start"
# After installing, glTF opens with the viewer (xdg-mime on the desktop database the
# package's entry makes), for a user with no choices of their own.
mkdir -p "$work/xdg/config" "$work/xdg/data"
cp -r "$root/usr/share/applications" "$work/xdg/applications"
update-desktop-database "$work/xdg/applications"
default=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID \
  XDG_CONFIG_HOME="$work/xdg/config" XDG_DATA_HOME="$work/xdg/data" XDG_DATA_DIRS="$work/xdg:/usr/share" \
  xdg-mime query default model/gltf-binary)
[ "$default" = lumaret-viewer.desktop ] || fail "xdg-mime names '$default' for model/gltf-binary"

step "icons"
"$python" - "$root/usr/share/icons/hicolor" <<'PY' || fail "an icon is not as drawn"
import sys
from PIL import Image
for size in (16, 24, 32, 48, 64, 128, 256):
    image = Image.open(f"{sys.argv[1]}/{size}x{size}/apps/lumaret.png").convert("RGBA")
    assert image.size == (size, size), (size, image.size)
    corner, centre = image.getpixel((0, 0)), image.getpixel((size // 2, size // 2))
    assert corner[3] == 0 and centre[3] == 255, (size, corner, centre)
    assert len(set(image.getdata())) > 8, size
PY

step "man pages"
for program in lumaret-viewer lumaret-engine lumaret-engine-1024x768 srxconvert srxdump; do
  page="$root/usr/share/man/man1/$program.1.gz"
  warnings=$(cd "$root/usr/share/man" && LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "man warns about $program.1: $warnings"
done
for program in lumaret-viewer srxconvert srxdump; do
  text=$(cd "$root/usr/share/man" && MANWIDTH=200 man -l "$root/usr/share/man/man1/$program.1.gz" 2>/dev/null)
  grep -q "^NAME" <<<"$text" || fail "$program.1 has no NAME"
  for option in $("$bin/$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" <<<"$text" || fail "$program.1 lacks $option of $program --help"
  done
done

step "bash completion"
mkdir -p "$work/completion"
touch "$work/completion/box.glb" "$work/completion/Scene.GLTF" "$work/completion/scene.srx" "$work/completion/notes.txt"
completions=$(cd "$work/completion" && LC_ALL=C PATH="$bin:$PATH" bash --norc --noprofile -c '
  source /usr/share/bash-completion/bash_completion
  source "$1/lumaret-viewer"
  ask() {  # the completion of the last word, as bash would ask for it
    local function=$1; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    echo "$function ${*: -1}: $(printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " ")"
  }
  ask _lumaret_viewer lumaret-viewer --th
  ask _lumaret_viewer lumaret-viewer ""
  ask _lumaret_viewer lumaret-viewer --up ""
  ask _lumaret_srxconvert srxconvert --sc
  ask _lumaret_srxconvert srxconvert box.glb ""
  ask _lumaret_srxdump srxdump ""
' _ "$root/usr/share/bash-completion/completions")
echo "$completions"
expect_completion() {
  grep -qxF -- "$1" <<<"$completions" || fail "bash completion gave no '$1'"
}
expect_completion "_lumaret_viewer --th: --thumbnail "
expect_completion "_lumaret_viewer : Scene.GLTF box.glb scene.srx "
expect_completion "_lumaret_viewer : x y z "
expect_completion "_lumaret_srxconvert --sc: --scale "
expect_completion "_lumaret_srxconvert : scene.srx "
expect_completion "_lumaret_srxdump : scene.srx "

# A sandbox as file managers run thumbnailers in: nothing shared, everything read-only but
# the output folder, a fresh /tmp, no display and no home; and a minute at most.
sandbox() {
  local out=$1
  shift
  timeout 60 bwrap --unshare-all --die-with-parent --ro-bind / / --dev /dev --proc /proc --tmpfs /tmp \
    --ro-bind "$work" "$work" --bind "$out" "$out" --chdir / \
    --unsetenv DISPLAY --unsetenv WAYLAND_DISPLAY --unsetenv XAUTHORITY --setenv HOME /nonexistent \
    --setenv PATH "$bin:/usr/bin:/bin" "$@"
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# The .thumbnailer's Exec line, its fields filled in as a file manager fills them.
thumbnail_command() {  # SIZE INPUT OUTPUT -> the words in the array `command`
  local exec
  exec=$(sed -n 's/^Exec=//p' "$thumbnailer")
  read -r -a words <<<"$exec"
  command=()
  for word in "${words[@]}"; do
    case $word in
      %s) command+=("$1") ;;
      %i) command+=("$2") ;;
      %o) command+=("$3") ;;
      *) command+=("$word") ;;
    esac
  done
}
expect_nothing_left() {
  local left
  left=$(ls -A "$1")
  [ -z "$left" ] || fail "$2 left files behind: $left"
}

step "thumbnailer in the sandbox"
mkdir -p "$work/models/My Models" "$work/out"
cp "$model" "$work/models/My Models/Box Textured.glb"
thumbnail_command 256 "$work/models/My Models/Box Textured.glb" "$work/out/thumbnail.png"
echo "${command[*]}"
start=$(now_ms)
sandbox "$work/out" "${command[@]}" || fail "the thumbnailer failed (status $?)"
elapsed=$(($(now_ms) - start))
echo "thumbnail in ${elapsed} ms"
[ "$elapsed" -lt 20000 ] || fail "the thumbnail took ${elapsed} ms"
"$python" - "$work/out/thumbnail.png" <<'PY' || fail "the thumbnail does not show the model"
import sys
from PIL import Image
image = Image.open(sys.argv[1]).convert("RGB")
width, height = image.size
print(f"thumbnail {width} x {height}")
assert max(width, height) == 256 and min(width, height) >= 64, image.size
pixels = list(image.getdata())
background = pixels[0]
model = [p for p in pixels if max(abs(a - b) for a, b in zip(p, background)) > 8]
# BoxTextured's texture: a blue sky and green hills on grey.
blue = [p for p in model if p[2] > p[0] + 20 and p[2] > p[1]]
green = [p for p in model if p[1] > p[0] + 10 and p[1] > p[2] + 10]
print(f"model {len(model) / len(pixels):.2f} of the picture, blue {len(blue)}, green {len(green)}")
assert len(model) > 0.4 * len(pixels), "mostly background"
assert len(blue) > 0.05 * len(pixels) and len(green) > 0.05 * len(pixels), "not the textured box"
PY
rm "$work/out/thumbnail.png"
expect_nothing_left "$work/out" "the thumbnailer"

step "no thumbnail of what is not a model"
mkdir -p "$work/bad"
head -c 4096 /dev/urandom >"$work/bad/noise.glb"
printf 'glTF\002\000\000\000\377\377\377\177' >"$work/bad/cut.glb"
truncate -s 40M "$work/bad/large.glb"
mkfifo "$work/bad/pipe.obj"
mkdir "$work/bad/folder.stl"
for bad in noise.glb cut.glb large.glb pipe.obj folder.stl missing.ply; do
  thumbnail_command 128 "$work/bad/$bad" "$work/out/bad.png"
  start=$(now_ms)
  status=0
  sandbox "$work/out" "${command[@]}" >"$work/bad.log" 2>&1 || status=$?
  elapsed=$(($(now_ms) - start))
  echo "$bad: status $status in ${elapsed} ms: $(tail -1 "$work/bad.log")"
  [ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "$bad: status $status"
  [ "$elapsed" -lt 10000 ] || fail "$bad took ${elapsed} ms"
  expect_nothing_left "$work/out" "$bad"
done

step "a thumbnail past its time limit"
# A mesh of about 1.6 million triangles (binary PLY, 29 MiB: under the size limit) takes
# longer to read than the one second given.
"$python" - "$work/models/grid.ply" <<'PY'
import sys
from array import array
n = 900
vertices = array('f')
for y in range(n + 1):
    for x in range(n + 1):
        vertices.extend((x / n, y / n, ((x * 7 + y * 3) % 11) / 110.0))
corners = array('i')
for y in range(n):
    for x in range(n):
        a = y * (n + 1) + x
        corners.extend((a, a + 1, a + n + 2, a, a + n + 2, a + n + 1))
count, indices = 2 * n * n, corners.tobytes()
faces = bytearray(13 * count)  # a count byte and three little-endian ints a face
faces[0::13] = b'\x03' * count
for k in range(12):
    faces[1 + k::13] = indices[k::12]
with open(sys.argv[1], 'wb') as f:
    f.write(b'ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\nproperty float y\n'
            b'property float z\nelement face %d\nproperty list uchar int vertex_indices\nend_header\n'
            % ((n + 1) ** 2, count))
    vertices.tofile(f)
    f.write(faces)
PY
start=$(now_ms)
status=0
sandbox "$work/out" lumaret-viewer --time-limit 1 --thumbnail 128 --screenshot "$work/out/slow.png" \
  "$work/models/grid.ply" >"$work/slow.log" 2>&1 || status=$?
elapsed=$(($(now_ms) - start))
echo "grid.ply with --time-limit 1: status $status in ${elapsed} ms: $(tail -1 "$work/slow.log")"
[ "$status" -eq 5 ] || fail "the time limit ended the run with status $status, not 5"
[ "$elapsed" -lt 5000 ] || fail "the time limit of 1 s ended the run after ${elapsed} ms"
expect_nothing_left "$work/out" "the run past its time limit"

step "the installed engine in an empty folder"
mkdir -p "$work/empty"
sandbox "$work/empty" env -C "$work/empty" LUMARET_HEADLESS_FRAMES=3 LUMARET_SCREENSHOT="$work/empty/demo.png" \
  LUMARET_NO_MESSAGE_BOX=1 lumaret-engine >"$work/engine.log" 2>&1 || { cat "$work/engine.log"; fail "lumaret-engine failed"; }
grep -q "the demo's files come from $root/usr/share/lumaret/demo" "$work/empty/log.txt" ||
  fail "the engine did not take the installed demo: $(head -20 "$work/empty/log.txt")"
"$python" - "$work/empty/demo.png" <<'PY' || fail "the demo's frame is empty"
import sys
from PIL import Image
image = Image.open(sys.argv[1]).convert("RGB")
assert len(set(image.getdata())) > 1000, len(set(image.getdata()))
PY

echo "package_test: the package $(basename "$deb") passed"
rm -rf "$work"  # kept when a check fails, to look at
