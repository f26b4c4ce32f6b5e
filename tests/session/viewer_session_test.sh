#!/usr/bin/env bash
# Drives the viewer in a real window on a virtual X display as a user would: left-drag,
# a turn of the wheel, right-drag, R, Space, '.', ',', ']', Shift+'.' held, F3 (between two
# F12s), N and P, 1, 3 and 7, U, a save of the model's file and a broken one, a resize to a
# wide and to a tall window, then Escape; each must do what the viewer's log says it did, in
# order, and the resized window shows the whole picture unstretched between black bars.
# The model (a copy of tests/data/two_animations.gltf) has two animations.
# Usage: viewer_session_test.sh VIEWER SOURCE_DIR
set -u
viewer="$1"
source_dir="$2"
. "$(dirname "$0")/virtual_display.sh"  # skips the test (77) without Xvfb or xdotool
command -v xwd >/dev/null || { echo "xwd missing: skipped"; exit 77; }

# Found by its title, which names the program and the model.
await_window_text="${await_window_text//^engine/^Lumaret viewer - model.gltf}"
dir="$(mktemp -d)"
ln -s "$source_dir/data" "$dir/data"
cp "$source_dir/tests/data/two_animations.gltf" "$dir/model.gltf"
cat >"$dir/session.sh" <<SCRIPT
#!/usr/bin/env bash
cd "$dir"
LUMARET_NO_MESSAGE_BOX=1 LUMARET_GL_ERRORS_FATAL=1 "$viewer" "$dir/model.gltf" >viewer.out 2>&1 &
pid=\$!
$await_window_text
# Start-up ends with the framing line; then the frame loop runs.
for i in \$(seq 1 300); do
  grep -q '^Viewer: framed' log.txt 2>/dev/null && break
  sleep 0.1
done
sleep 1
act() { xdotool "\$@"; sleep 0.4; }
act mousemove --window \$window 320 240
act mousedown 1
act mousemove_relative -- 120 40
act mouseup 1
act click --repeat 3 --delay 60 4
act mousedown 3
act mousemove_relative -- -60 30
act mouseup 3
act key r
act key space
act key period
act key period
act key comma
act key bracketright
act keydown shift keydown period
act keyup period keyup shift
act key F12
act key F3
act key F12
act key n
act key p
act key 1
act key 3
act key 7
act key u
act key space
# The file changes on disk: shown again; a broken save keeps it on screen with the reason.
await() { for i in \$(seq 1 100); do grep -q "\$1" log.txt && return 0; sleep 0.1; done; return 1; }
await '^Viewer: playing'
echo >> model.gltf
await '^Viewer: reloaded'
echo 'not a model' > model.gltf
await '^Viewer: open failed'
act key F12
# Resized wide, then tall: the picture keeps the back buffer's 4:3 between black bars. The
# window is read until a frame presented at the new size shows (or the tries run out).
for size in 720x360 480x540; do
  xdotool windowsize --sync \$window \${size%x*} \${size#*x}
  echo "\$size: the window could not be read" >letterbox.out
  for i in \$(seq 1 20); do
    xwd -id \$window -silent >window.xwd &&
      python3 "$source_dir/tests/session/letterbox_check.py" window.xwd 640x480 window_\$size.png >letterbox.out && break
    sleep 0.2
  done
  cat letterbox.out >>letterbox.txt
done
act key Escape
$await_exit_text
SCRIPT
chmod +x "$dir/session.sh"
if ! on_virtual_display 90 "$dir/session.sh"; then
  echo "FAIL: the viewer exited badly"; cat "$dir/viewer.out"; exit 1
fi

# The viewer's own lines, in the order of the actions.
actions="$(grep -o '^Viewer: [a-z]\+' "$dir/log.txt" | sed 's/^Viewer: //' | grep -v '^image$' | tr '\n' ' ')"
expected="framed orbit zoom pan reset paused step step step speed scrubbed animation animation front side top up playing loading reloaded loading open "
status=0
if [ "$actions" != "$expected" ]; then
  echo "FAIL: the log's actions are '$actions', not '$expected'"; status=1
fi
# Each action moved what it should: the drag turned the camera, the wheel brought it
# closer, the right-drag moved the target, R put everything back.
framed=$(sed -n 's/^Viewer: framed at distance \([0-9.]*\).*/\1/p' "$dir/log.txt")
orbit=$(grep '^Viewer: orbit:' "$dir/log.txt")
zoom=$(grep '^Viewer: zoom:' "$dir/log.txt" | tail -1 | sed 's/.*distance \([0-9.]*\).*/\1/')
pan=$(grep '^Viewer: pan:' "$dir/log.txt")
# The three notches of one turn of the wheel are one line.
grep -q '^Viewer: zoom: .*, +3 notches$' "$dir/log.txt" || { echo "FAIL: the wheel's turn is not one line of 3 notches"; status=1; }
reset=$(grep '^Viewer: reset:' "$dir/log.txt")
awk -v z="$zoom" -v f="$framed" 'BEGIN { exit !(z < f) }' || { echo "FAIL: zoom $zoom is not closer than $framed"; status=1; }
case "$orbit" in *"yaw 0.000 pitch 0.350"*) echo "FAIL: the drag did not orbit: $orbit"; status=1 ;; esac
case "$pan" in *"target (0.0, 0.0, 0.0)"*) echo "FAIL: the right-drag did not pan: $pan"; status=1 ;; esac
case "$reset" in *"yaw 0.000 pitch 0.350 distance $framed target (0.0, 0.0, 0.0)"*) ;;
  *) echo "FAIL: R did not reset the view: $reset"; status=1 ;; esac
# Paused, the clock holds: the first step starts from the tick it stopped at, the second
# one frame (24 ticks, or 0 past the clock's end at 600) later.
held=$(sed -n 's/^Viewer: paused at tick \([0-9]*\)$/\1/p' "$dir/log.txt")
steps=$(sed -n 's/^Viewer: step from tick \([0-9]*\)$/\1/p' "$dir/log.txt" | tr '\n' ' ')
next=$((held + 24)); [ $next -gt 600 ] && next=0
[ "$steps" = "$held $next " ] || { echo "FAIL: paused at tick $held, steps from ticks $steps"; status=1; }
back=$((next + 24)); [ $back -gt 600 ] && back=0
grep -qx "Viewer: step back from tick $back" "$dir/log.txt" || { echo "FAIL: ',' did not step back from tick $back"; status=1; }
grep -qx "Viewer: speed x2" "$dir/log.txt" || { echo "FAIL: ']' did not double the speed"; status=1; }
grep -q "^Viewer: animation 2 of 2 'turn'" "$dir/log.txt" || { echo "FAIL: N did not switch"; status=1; }
grep -q "^Viewer: animation 1 of 2 'bounce'" "$dir/log.txt" || { echo "FAIL: P did not switch back"; status=1; }
grep -q "^Viewer: top: yaw 0.000 pitch 1.450" "$dir/log.txt" || { echo "FAIL: 7 did not look from the top"; status=1; }
grep -q "^Viewer: up axis z$" "$dir/log.txt" || { echo "FAIL: U did not turn the up axis to z"; status=1; }
if [ ! -f "$dir/letterbox.txt" ] || [ -s "$dir/letterbox.txt" ]; then
  echo "FAIL: the resized window does not keep the picture's shape"; cat "$dir/letterbox.txt"; status=1
fi
grep -q "^Shutting down" "$dir/log.txt" || { echo "FAIL: no shutdown"; status=1; }
# The summary at load, and F3's panel over the paused picture.
# The cube carries no normals: made with sharp edges, its 8 corners become 24 vertices.
for line in "Model: meshes 1  vertices 24  triangles 12" "Model: animations 2: bounce 1.00 s, turn 1.00 s"; do
  grep -qx "$line" "$dir/log.txt" || { echo "FAIL: no line '$line'"; status=1; }
done
if [ ! -f "$dir/screenshot_002.png" ] || cmp -s "$dir/screenshot_001.png" "$dir/screenshot_002.png"; then
  echo "FAIL: F3 shows no summary"; status=1
fi
grep -q "^Viewer: open failed: .*model.gltf.*; still showing .*model.gltf$" "$dir/log.txt" || { echo "FAIL: no failed reload"; status=1; }
if [ ! -f "$dir/screenshot_003.png" ] || cmp -s "$dir/screenshot_002.png" "$dir/screenshot_003.png"; then
  echo "FAIL: the failed reload says nothing on screen"; status=1
fi
if [ $status -ne 0 ]; then grep '^Viewer' "$dir/log.txt"; else echo "ok"; rm -rf "$dir"; fi
exit $status
