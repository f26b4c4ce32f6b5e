#!/usr/bin/env bash
# The viewer as an editor's companion, in a real window on a virtual X display: an OBJ
# sphere whose material library and texture are edited while it is shown. The texture
# made red as the viewer starts shows red; the .mtl saved in place (a darker, bluer tint)
# and the image replaced by a move (green) each load the model again and change the
# picture, as does an image the .mtl names that is only written later (blue); F5 loads it by hand; twelve saves of the model's own file leave resident memory
# within a few percent of where the first reload left it; F3's summary leaves a debug
# view's name in sight; a broken save keeps the model with the reason.
# Usage: viewer_reload_test.sh VIEWER SOURCE_DIR
set -u
viewer="$1"
source_dir="$2"
. "$(dirname "$0")/virtual_display.sh"  # skips the test (77) without Xvfb or xdotool
command -v xwd >/dev/null || { echo "xwd missing: skipped"; exit 77; }

files="$source_dir/tests/session/reload_files.py"
await_window_text="${await_window_text//^engine/^Lumaret viewer - model.obj}"
dir="$(mktemp -d)"
python3 "$files" sphere "$dir/model.obj" 120
python3 "$files" png "$dir/sphere_colour_map_for_the_viewer_reload_session.png" 255 255 255
printf 'newmtl m\nKd 1 1 1\nmap_Kd sphere_colour_map_for_the_viewer_reload_session.png\n' >"$dir/model.mtl"
cat >"$dir/session.sh" <<SCRIPT
#!/usr/bin/env bash
cd "$dir"
# llvmpipe draws on the calling thread: its rasterizer threads' queue of triangles holds
# tens of megabytes that vary from run to run, which would drown what a reload leaks.
LP_NUM_THREADS=0 LUMARET_NO_MESSAGE_BOX=1 LUMARET_GL_ERRORS_FATAL=1 "$viewer" --still "$dir/model.obj" >viewer.out 2>&1 &
pid=\$!
# Saved while the viewer starts: whether before or after its read, the red must show.
python3 "$files" png sphere_colour_map_for_the_viewer_reload_session.png 255 0 0
$await_window_text
await() { for i in \$(seq 1 300); do [ "\$(grep -c "\$1" log.txt)" -ge "\$2" ] && return 0; sleep 0.1; done; return 1; }
await '^Viewer: framed' 1
# The window's middle once the frames after a load have reached it.
look() { sleep 1.5; xwd -id \$window -silent >window.xwd && python3 "$files" colour window.xwd >>colours.txt; }
rss() { awk '/^VmRSS:/ { print \$2 }' /proc/\$pid/status >>rss.txt; }
reloads=0
reloaded() { reloads=\$((reloads + 1)); await '^Viewer: reloaded' \$reloads || echo "no reload \$reloads" >>missed.txt; }
# A red texture's start-up save may need a reload of its own: wait for the quiet.
sleep 2
reloads=\$(grep -c '^Viewer: reloaded' log.txt)
look
printf 'newmtl m\nKd 0.3 0.3 1\nmap_Kd sphere_colour_map_for_the_viewer_reload_session.png\n' >model.mtl
reloaded
look
python3 "$files" png colour_map.new 0 255 0
mv colour_map.new sphere_colour_map_for_the_viewer_reload_session.png
reloaded
look
# The .mtl names an image that is not there yet: it shows once it is written.
printf 'newmtl m\nKd 1 1 1\nmap_Kd later.png\n' >model.mtl
reloaded
python3 "$files" png later.png 0 0 255
reloaded
look
xdotool key F5
reloaded
rss
for i in \$(seq 1 12); do
  cp model.obj model.new && cat model.new >model.obj
  reloaded
done
sleep 1
rss
# F3's summary beside a debug view's name: the name stays in sight.
xdotool key F2
sleep 2
xwd -id \$window -silent >label.xwd
xdotool key F3
sleep 1
xwd -id \$window -silent >summary.xwd
python3 "$files" panels label.xwd summary.xwd >panels.txt
echo 'not a model' >model.obj
await '^Viewer: open failed' 1
xdotool key Escape
$await_exit_text
SCRIPT
chmod +x "$dir/session.sh"
if ! on_virtual_display 170 "$dir/session.sh"; then
  echo "FAIL: the viewer exited badly"; cat "$dir/viewer.out"; exit 1
fi

status=0
[ -f "$dir/missed.txt" ] && { echo "FAIL: saves not loaded again:"; cat "$dir/missed.txt"; status=1; }
mapfile -t colours <"$dir/colours.txt"
echo "colours (red, tinted, green, blue): ${colours[*]}"
read -r r1 g1 b1 <<<"${colours[0]:-0 0 0}"
read -r r2 g2 b2 <<<"${colours[1]:-0 0 0}"
read -r r3 g3 b3 <<<"${colours[2]:-0 0 0}"
read -r r4 g4 b4 <<<"${colours[3]:-0 0 0}"
[ "$r1" -gt $((2 * g1 + 20)) ] || { echo "FAIL: the texture saved at start-up does not show red"; status=1; }
[ "$r2" -lt $((r1 * 2 / 3)) ] || { echo "FAIL: the .mtl's darker tint does not show"; status=1; }
[ "$g3" -gt $((2 * r3 + 10)) ] || { echo "FAIL: the texture moved into place does not show green"; status=1; }
[ "$b4" -gt $((2 * r4 + 10)) ] || { echo "FAIL: the missing texture written later does not show blue"; status=1; }
mapfile -t rss <"$dir/rss.txt"
echo "resident memory after the first reloads and after 12 more: ${rss[*]} kB"
if [ "${#rss[@]}" -ne 2 ] || [ "${rss[1]}" -gt $((rss[0] * 105 / 100)) ]; then
  echo "FAIL: resident memory grew by more than 5 % over 12 reloads"; status=1
fi
grep -q '^Viewer: loading .*model.obj again (F5)$' "$dir/log.txt" || { echo "FAIL: F5 did not load again"; status=1; }
grep -q '^Viewer: loading .*model.obj again: .*model.mtl was saved$' "$dir/log.txt" ||
  { echo "FAIL: the .mtl's save is not named"; status=1; }
grep -q '^Viewer: open failed: .*; still showing' "$dir/log.txt" || { echo "FAIL: no failed reload"; status=1; }
[ "$(cat "$dir/panels.txt")" = "label kept, panel shown" ] ||
  { echo "FAIL: F3 over a debug view: $(cat "$dir/panels.txt")"; status=1; }
if [ $status -ne 0 ]; then grep '^Viewer' "$dir/log.txt"; cat "$dir/viewer.out"; else echo "ok"; rm -rf "$dir"; fi
exit $status
