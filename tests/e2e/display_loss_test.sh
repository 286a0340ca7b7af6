#!/usr/bin/env bash
# The real program on its own X server (Xvfb), a reading recorded and the UID loop running
# against reader-sim, when the display goes away under it:
#   killx        the X server ends
#   windowkill   the client is killed off the display (as xkill does)
#   windowclose  another client destroys the window
#   wayland      the same program on Qt's Wayland platform, and its compositor (weston) ends
# The program must end, not by a signal, with status 1, having
# closed the port (the simulator sees the line close) and left both files whole.
# usage: display_loss_test.sh PAVO READER_SIM FORM_LAYOUT CASE; fails, naming it, where Xvfb, xdotool
# (or weston for the wayland case) is missing: a test that cannot run is no pass.
set -uo pipefail
pavo=$1 sim=$2 layout=$3 case=$4

tools=(Xvfb xdotool)
[ "$case" = wayland ] && tools+=(weston weston-debug)
for tool in "${tools[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAILED: $tool is not installed (scripts/setup installs it)"
    exit 1
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
  echo "--- X server"; cat xvfb.log 2>/dev/null
  [ "$case" = wayland ] && { echo "--- compositor"; cat weston.log 2>/dev/null; }
  exit 1
}
# Waits up to $1 tenths of a second for the command after it to succeed. The limits are
# far beyond what a loaded machine needs: only a fault reaches them.
within() {
  local n=$1; shift
  for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

# -noreset: without it the server starts afresh whenever its last client leaves, and a
# client that connects meanwhile is turned away. Other X servers starting on the machine
# look at this one's socket while they pick a display number, which is enough to set that
# off just as the program connects.
Xvfb -displayfd 4 -screen 0 640x480x24 -nolisten tcp -noreset 4>display.txt >xvfb.log 2>&1 &
xvfb=$!; pids+=("$xvfb")
within 300 test -s display.txt || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 display.txt)"

# A long frame gap: a program held up between two bytes of a frame still gets its answer.
"$sim" --interval 200 --frame-gap 60000 >sim.txt 2>&1 &
pids+=($!)
within 300 test -e COM1 || fail "reader-sim made no COM1"

window=""
if [ "$case" = wayland ]; then
  # A headless weston has no input devices: this one shows its output in a window on the X
  # server, and takes the clicks there. The program sees Wayland alone. The kiosk shell
  # shows the window full size at the output's corner, so the layout's positions hold; the
  # compositor's scene graph (--debug, weston-debug) tells when the window is up.
  mkdir -m 700 runtime
  export XDG_RUNTIME_DIR=$work/runtime WAYLAND_DISPLAY=pavo
  weston --backend=x11-backend.so --use-pixman --width=640 --height=480 \
    --shell=kiosk-shell.so --socket=pavo --no-config --idle-time=0 --debug >weston.log 2>&1 &
  compositor=$!; pids+=("$compositor")
  within 300 test -S runtime/pavo || fail "weston did not start"
  env -u DISPLAY QT_QPA_PLATFORM=wayland "$pavo" >pavo.out 2>&1 &
  program=$!; pids+=("$program")
  find_window() {
    weston-debug scene-graph >scene.txt 2>&1 &&
      grep -q "top-level window 'Form1' of pavo" scene.txt &&
      window=$(xdotool search --class '^weston' 2>/dev/null | head -n1) && [ -n "$window" ]
  }
else
  QT_QPA_PLATFORM=xcb "$pavo" >pavo.out 2>&1 &
  program=$!; pids+=("$program")
  # Clicks reach a window only once it is mapped.
  find_window() {
    window=$(xdotool search --onlyvisible --name '^Form1$' 2>/dev/null | head -n1)
    [ -n "$window" ]
  }
fi
within 300 find_window || fail "no window"
# Unmapped and mapped again, as a window manager iconifies and restores a window, the
# window is not lost: the program reads on below. Where the display has no window manager
# to place it, the window is where the stored layout puts it, at its client size (the
# Wayland compositor places windows itself).
if [ "$case" != wayland ]; then
  place=$(xdotool getwindowgeometry --shell "$window" | sed -n 's/^[XYWIDTHEG]*=//p' | xargs)
  [ "$place" = "$("$layout" --form)" ] ||
    fail "the window is at $place (left top width height), not where the layout puts it"
  timeout 30 xdotool windowunmap --sync "$window" && timeout 30 xdotool windowmap --sync "$window" ||
    fail "the window did not come back after an unmap"
fi

# A single read ("Start"), then the UID loop ("UID"), where the stored layout puts them.
# A reply that misses its 500 ms on a heavily loaded machine is rightly no reading: the
# read ends when the simulator sees the line close, and then "Start" is clicked again.
# Only a fault makes every try fail.
closes() { grep -c "line closed" sim.txt; }
closed_since() { [ "$(closes)" -gt "$1" ]; }
log=""
for ((try = 0; try < 20; try++)); do
  before=$(closes)
  xdotool mousemove --window "$window" $("$layout" Button2) click 1
  log+=$'len:5\n  len-2:3\n'
  within 300 closed_since "$before" || fail "no single read"
  [ -s RFID.txt ] && break
done
[ -s RFID.txt ] || fail "the single read was not recorded"
grep -q "snapshot command" sim.txt || fail "the reader saw no snapshot command"
xdotool mousemove --window "$window" $("$layout" Button1) click 1
within 300 grep -q "UID command" sim.txt || fail "the UID loop did not start"
within 300 grep -q "(tag " sim.txt || fail "the reader sent no tag record"

case $case in
  killx) kill "$xvfb" ;;
  windowkill) xdotool windowkill "$window" ;;
  windowclose) xdotool windowclose "$window" ;;
  wayland) kill "$compositor" ;;
  *) fail "unknown case" ;;
esac

within 300 sh -c "! kill -0 $program 2>/dev/null" || fail "still running 30 s after the display went"
wait "$program"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
within 300 grep -q "line closed" sim.txt || fail "the port was left open"
# Closed by the program, not only by the process's end: another program can take the port
# now, which an exclusive line left behind would refuse (to anyone but root: the check runs
# as nobody). Qt 6.4's Wayland platform ends the process from a thread of its own, where
# no code of the program runs; there the kernel alone closes the port.
if [ "$case" != wayland ]; then
  line=$(readlink -f COM1)
  as_other=()
  if [ "$(id -u)" -eq 0 ]; then
    chmod o+rw "$line" && as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  fi
  "${as_other[@]}" sh -c 'exec 3<>"$1"' sh "$line" 2>open.txt ||
    fail "the port was left exclusive: $(cat open.txt)"
fi
[ "$(wc -l <RFID.txt)" -eq 1 ] && [ "$(tail -c1 RFID.txt | od -An -c | tr -d ' ')" = '\n' ] ||
  fail "RFID.txt is not one whole line"
[ "$(cat test.txt)" = "$log"$'len:18\n  len-2:16' ] || fail "test.txt: $(cat test.txt)"
echo "PASS ($case): exit status 1, port closed, files whole"
