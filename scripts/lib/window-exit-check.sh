#!/usr/bin/env bash
# Starts an installed pavo on an X server of its own (Xvfb), so that its window must really
# be mapped, waits for the window, clicks its "exit" button and requires that the program
# ends with status 0. The program runs in SCRATCH/run; its output, the server's log and
# the exit status are left in SCRATCH. Every wait is for an event, with limits only a
# fault reaches. scripts/package checks the unpacked package with it,
# scripts/test-package-install the package installed with apt. With READER, a reader-sim,
# the reader plays COM1 first and "Start" is clicked until the single read has recorded its
# line in SCRATCH/run/RFID.txt. FORM_LAYOUT is the build's form-layout (tools/layout): where
# the program's stored layout puts the buttons.
#   scripts/lib/window-exit-check.sh PROGRAM FORM_LAYOUT SCRATCH [READER]
set -euo pipefail
[ $# -eq 3 ] || [ $# -eq 4 ] || { echo "usage: $0 PROGRAM FORM_LAYOUT SCRATCH [READER]" >&2; exit 2; }
program=$1 layout=$2 check=$3 reader=${4:-}
fail() {
  echo "window-exit-check: $*" >&2
  exit 1
}
start_button=$("$layout" Button2) && exit_button=$("$layout" Button4) ||
  fail "form-layout ($layout) did not place the buttons"
mkdir -p "$check/run"
rm -f "$check/display" "$check/pavo.pid" "$check/pavo.status"

xvfb_pid=
reader_pid=
cleanup() {
  [ ! -s "$check/pavo.pid" ] || kill "$(cat "$check/pavo.pid")" 2>/dev/null || true
  [ -z "$reader_pid" ] || kill "$reader_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
Xvfb -displayfd 4 -screen 0 640x480x24 -nolisten tcp -noreset 4>"$check/display" >"$check/xvfb.log" 2>&1 &
xvfb_pid=$!
timeout 60 sh -c "until [ -s '$check/display' ]; do sleep 0.1; done" || fail "Xvfb did not start"
unset WAYLAND_DISPLAY
export DISPLAY=":$(head -n 1 "$check/display")"
if [ -n "$reader" ]; then
  (cd "$check/run" && exec "$reader" --port 1) >"$check/reader.log" 2>&1 &
  reader_pid=$!
  timeout 60 sh -c "until [ -L '$check/run/COM1' ]; do sleep 0.1; done" ||
    fail "reader-sim made no COM1: $(cat "$check/reader.log")"
fi
# The exit status lands in pavo.status when the program has ended.
(
  cd "$check/run"
  QT_QPA_PLATFORM=xcb "$program" >"$check/pavo.out" 2>&1 &
  echo $! >"$check/pavo.pid"
  status=0
  wait $! || status=$?
  echo "$status" >"$check/pavo.status.new"
  mv "$check/pavo.status.new" "$check/pavo.status"
) &
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1) ||
  fail "pavo showed no window: $(cat "$check/pavo.out")"
# "Start", clicked until the reading is recorded, as "exit" below.
if [ -n "$reader" ]; then
  for _ in $(seq 1 60); do
    [ -s "$check/run/RFID.txt" ] && break
    xdotool mousemove --window "$window" $start_button click 1 2>/dev/null || true
    timeout 1 sh -c "until [ -s '$check/run/RFID.txt' ]; do sleep 0.05; done" || true
  done
  [ -s "$check/run/RFID.txt" ] || fail "Start recorded no reading: $(cat "$check/pavo.out")"
fi
# The "exit" button, clicked until the program has ended: a click
# that comes before the window takes input is lost.
for _ in $(seq 1 60); do
  [ -f "$check/pavo.status" ] && break
  xdotool mousemove --window "$window" $exit_button click 1 2>/dev/null || true
  timeout 1 sh -c "until [ -f '$check/pavo.status' ]; do sleep 0.05; done" || true
done
[ -f "$check/pavo.status" ] || fail "pavo did not end on its exit button"
rm -f "$check/pavo.pid"
status=$(cat "$check/pavo.status")
[ "$status" -eq 0 ] || fail "pavo ended with status $status: $(cat "$check/pavo.out")"
echo "pavo showed its window and ended with status 0 on its exit button"
