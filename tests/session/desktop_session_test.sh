#!/usr/bin/env bash
# Runs the engine as a user would, in a real window on a virtual X display: pressing
# Escape, and closing the window with Alt+F4, must end it cleanly with the right log lines;
# F12 saves what is shown, F2 changes it, F1 (twice) puts the full stats panel over it,
# W B V the wireframe, boxes and normals, and a shader file saved while the window is open
# is compiled again.
# Usage: desktop_session_test.sh ENGINE SOURCE_DIR
set -u
engine="$1"
source_dir="$2"
. "$(dirname "$0")/virtual_display.sh"  # skips the test (77) without Xvfb or xdotool

# Writes DIR/session.sh: the engine started in DIR, its window waited for, then BODY.
write_session() {
  local dir="$1" body="$2"
  cat >"$dir/session.sh" <<SCRIPT
#!/usr/bin/env bash
cd "$dir"
LUMARET_NO_MESSAGE_BOX=1 "$engine" >engine.out 2>&1 &
pid=\$!
$await_window_text
sleep 1
$body
SCRIPT
  chmod +x "$dir/session.sh"
}

run_case() {
  local keys="$1" expected="$2"
  local dir
  dir="$(mktemp -d)"
  ln -s "$source_dir/data" "$dir/data"
  write_session "$dir" "xdotool key $keys"'
for i in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then kill $pid; echo "engine did not stop"; exit 1; fi
wait $pid'
  if ! on_virtual_display 60 "$dir/session.sh"; then
    echo "FAIL ($keys): engine exited badly"; cat "$dir/engine.out"; return 1
  fi
  local tail
  tail="$(tail -c ${#expected} "$dir/log.txt")"
  if [ "$tail" != "${expected%$'\n'}" ]; then
    echo "FAIL ($keys): log ends with:"; tail -n 5 "$dir/log.txt"; return 1
  fi
  grep -q "^Resolution: 640x480" "$dir/log.txt" || { echo "FAIL: no resolution line"; return 1; }
  echo "ok ($keys)"
  rm -rf "$dir"
}

# F12, F2 (the normals view), F12 again, F1 F1 (the full stats panel) and F12, W B V (the
# geometry overlays) and F12, then an edit of a pass shader: two different
# screenshots and a reload, all in the log.
inspect_case() {
  local dir
  dir="$(mktemp -d)"
  cp -r "$source_dir/data" "$dir/data"
  write_session "$dir" '# Waits (up to 30 s: the machine may be busy) for a line of the log.
await() { for i in $(seq 1 300); do grep -qx "$1" log.txt 2>/dev/null && return 0; sleep 0.1; done; return 1; }
xdotool key F12
await "Screenshot: screenshot_001.png"
xdotool key F2 F12
await "Screenshot: screenshot_002.png"
xdotool key F1 F1 F12
await "Screenshot: screenshot_003.png"
xdotool key W B V F12
await "Screenshot: screenshot_004.png"
echo "// edited while the window is open" >> data/PassLight.hlsl
await "Shader reloaded: ./data/PassLight.hlsl"
xdotool key Escape
wait $pid'
  if ! on_virtual_display 150 "$dir/session.sh"; then
    echo "FAIL (inspection): engine exited badly"; cat "$dir/engine.out"; tail -n 8 "$dir/log.txt"; return 1
  fi
  for line in "Screenshot: screenshot_001.png" "Debug view: normals" "Screenshot: screenshot_002.png" \
              "Screenshot: screenshot_003.png" "Overlays: wireframe on, bounds on, normals on" \
              "Screenshot: screenshot_004.png" "Shader reloaded: ./data/PassLight.hlsl"; do
    grep -qx "$line" "$dir/log.txt" || { echo "FAIL (inspection): no line '$line'"; tail -n 8 "$dir/log.txt"; return 1; }
  done
  if cmp -s "$dir/screenshot_001.png" "$dir/screenshot_002.png"; then
    echo "FAIL (inspection): the normals view looks like the final image"; return 1
  fi
  if cmp -s "$dir/screenshot_002.png" "$dir/screenshot_003.png"; then
    echo "FAIL (inspection): F1 twice shows no stats panel"; return 1
  fi
  if cmp -s "$dir/screenshot_003.png" "$dir/screenshot_004.png"; then
    echo "FAIL (inspection): W, B and V lay nothing over the picture"; return 1
  fi
  echo "ok (inspection)"
  rm -rf "$dir"
}

status=0
inspect_case || status=1
# Escape: the loop stops at its next test of the key; the window goes at process exit.
run_case Escape $'ESC!\nShutting down...\nEngine: PostFX released.\nWM_DESTROY\n' || status=1
# Closing the window: destroy, quit message, shutdown.
run_case alt+F4 $'WM_DESTROY\nWM_QUIT\nShutting down...\nEngine: PostFX released.\n' || status=1
exit $status
