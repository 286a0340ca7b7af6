#!/usr/bin/env bash
# The real program on its own X server (Xvfb), a reading recorded and the UID loop running
# against reader-sim, when the display goes away under it:
#   killx        the X server ends
#   windowkill   the client is killed off the display (as xkill does)
#   windowclose  another client destroys the window
# The program must end within a few seconds, not by a signal, with status 1, having
# closed the port (the simulator sees the line close) and left both files whole.
# usage: display_loss_test.sh PAVO READER_SIM CASE; exit 77 (skipped) without Xvfb/xdotool.
set -uo pipefail
pavo=$1 sim=$2 case=$3

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
fail() {
  echo "FAIL ($case): $*"
  echo "--- program output"; cat pavo.out 2>/dev/null
  echo "--- simulator trace"; tail -n 20 sim.txt 2>/dev/null
  exit 1
}
# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
  local n=$1; shift
  for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

Xvfb -displayfd 4 -screen 0 640x480x24 -nolisten tcp 4>display.txt >xvfb.log 2>&1 &
xvfb=$!; pids+=("$xvfb")
within 50 test -s display.txt || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 display.txt)"

"$sim" --interval 200 >sim.txt 2>&1 &
pids+=($!)
within 50 test -e COM1 || fail "reader-sim made no COM1"

QT_QPA_PLATFORM=xcb "$pavo" >pavo.out 2>&1 &
program=$!; pids+=("$program")
window=""
find_window() { window=$(xdotool search --name '^Form1$' 2>/dev/null | head -n1); [ -n "$window" ]; }
within 100 find_window || fail "no window"
sleep 0.5

# A single read ("Start"), then the UID loop ("UID"); positions from the window's layout.
xdotool mousemove --window "$window" 285 108 click 1
within 50 grep -q "snapshot command" sim.txt || fail "no single read"
within 50 test -s RFID.txt || fail "the single read was not recorded"
xdotool mousemove --window "$window" 297 52 click 1
within 50 grep -q "UID command" sim.txt || fail "the UID loop did not start"
sleep 1

case $case in
  killx) kill "$xvfb" ;;
  windowkill) xdotool windowkill "$window" ;;
  windowclose) xdotool windowclose "$window" ;;
  *) fail "unknown case" ;;
esac

within 50 sh -c "! kill -0 $program 2>/dev/null" || fail "still running 5 s after the display went"
wait "$program"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
within 20 grep -q "line closed" sim.txt || fail "the port was left open"
[ "$(wc -l <RFID.txt)" -eq 1 ] && [ "$(tail -c1 RFID.txt | od -An -c | tr -d ' ')" = '\n' ] ||
  fail "RFID.txt is not one whole line"
[ "$(cat test.txt)" = $'len:5\n  len-2:3\nlen:18\n  len-2:16' ] || fail "test.txt: $(cat test.txt)"
echo "PASS ($case): exit status 1, port closed, files whole"
