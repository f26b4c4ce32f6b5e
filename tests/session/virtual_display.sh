# Sourced by the session tests: an X server of each session's own, and the wait for the
# program's window that every session script starts with. Without Xvfb or xdotool the
# session is skipped (CTest's skip status, 77) right here.

if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  echo "Xvfb or xdotool missing: skipped"
  exit 77
fi

# Runs SCRIPT under `timeout SECONDS` with DISPLAY naming a fresh Xvfb. Xvfb takes a free
# display number itself (-displayfd) and is waited for at the end, so sessions running side
# by side or one after another never share a server or meet one that is still going away
# (xvfb-run -a guesses a number from lock files and leaves its server dying behind it).
# -noreset: without it the server resets whenever its last client leaves, and the
# session's own xdotool calls, coming and going while the program starts, would have it
# resetting just as the program connects. The server must answer a client of its own
# before SCRIPT starts; one that does not is replaced (up to three tries), so a failure to
# connect in SCRIPT is the program's own.
on_virtual_display() {
  local seconds="$1" script="$2" fifo number xvfb status try i
  for try in 1 2 3; do
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    xvfb=$!
    number=""
    read -r -t 30 number <"$fifo"
    rm -f "$fifo"
    if [ -n "$number" ]; then
      for i in $(seq 1 50); do
        DISPLAY=":$number" xdotool getdisplaygeometry >/dev/null 2>&1 && break
        sleep 0.1
      done
      if DISPLAY=":$number" xdotool getdisplaygeometry >/dev/null 2>&1; then
        DISPLAY=":$number" timeout "$seconds" "$script"
        status=$?
        kill $xvfb 2>/dev/null
        wait $xvfb 2>/dev/null
        return $status
      fi
    fi
    echo "Xvfb (display :${number:-none}) did not answer; trying another"
    kill $xvfb 2>/dev/null
    wait $xvfb 2>/dev/null
  done
  return 1
}

# Shell text for a session script, after `pid` holds the program's process: waits (up to
# 30 s; the machine may be busy) for its visible window, sets `window`, and gives it the
# keyboard focus, so the keys sent next reach it. Without a window the session fails here,
# saying so, instead of typing into nothing.
await_window_text='window=""
for i in $(seq 1 300); do
  window=$(xdotool search --onlyvisible --name "^engine\$" 2>/dev/null | head -1)
  [ -n "$window" ] && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if [ -z "$window" ]; then echo "no window appeared"; kill $pid 2>/dev/null; exit 1; fi
timeout 10 xdotool windowfocus --sync $window'

# Shell text for the end of a session script, once the program has been told to end: waits
# (up to 10 s) for it, and fails the session when it is still running.
await_exit_text='for i in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then kill $pid; echo "the program did not stop"; exit 1; fi
wait $pid'
