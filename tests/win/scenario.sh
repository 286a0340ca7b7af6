#!/usr/bin/env bash
# pavo.exe clicked through as an operator would, on Windows or under Wine alike, through
# Win32 alone: pavo-probe moves and clicks the mouse and types (SendInput), takes pictures
# of the screen (BitBlt) and reads the controls back (WM_GETTEXT). The reader is played by
#   pty READER_SIM           reader-sim of this machine on a pseudo-terminal that the
#                            prefix's COM1 (COM12 for lost-port) leads to: under Wine only
#   pair READER_SIM_EXE A B  reader-sim.exe on COMb of a null-modem pair whose COMa pavo.exe
#                            opens (pair.sh: com0com on Windows, socat under Wine)
#   scenario.sh STATE PAVO_EXE PROBE_EXE CASE pty READER_SIM
#   scenario.sh STATE PAVO_EXE PROBE_EXE CASE pair READER_SIM_EXE A B
# STATE: under Wine the folder of tests/win/wine.sh (prefix and X server), on Windows a
# scratch folder. The program runs in STATE/run; a failed case leaves its logs and a
# picture of the screen (failure.bmp) in STATE/logs/CASE[.pair].
# CASE: layout, not-a-number, single-read, uid-loop, double-click, lost-port, exit-in-loop,
# failed-read, held-file.
set -uo pipefail
usage() {
  echo "usage: $0 STATE PAVO_EXE PROBE_EXE CASE pty READER_SIM" >&2
  echo "       $0 STATE PAVO_EXE PROBE_EXE CASE pair READER_SIM_EXE PAVO_PORT READER_PORT" >&2
  exit 2
}
[ $# -ge 6 ] || usage
state=$1 pavo_exe=$2 probe_exe=$3 case=$4 reader=$5 sim_bin=$6
case "$reader" in
  pty) [ $# -eq 6 ] || usage ;;
  pair) [ $# -eq 8 ] || usage ;;
  *) usage ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
source "$here/win_run.sh"
source "$here/pair.sh"
name=$case
[ "$reader" = pair ] && name=$case.pair
run=$state/run
logs=$state/logs/$name
win_init "$state" || exit 1
rm -rf "$logs"
mkdir -p "$logs" "$run"
rm -f "$run"/*.txt "$run"/*.held
cd "$run" || exit 1

pids=()
pavo_pid=
cleanup() {
  # The program first, by its window: on Windows ending the shell's process alone would
  # leave it running.
  if [ -n "$pavo_pid" ] && kill -0 "$pavo_pid" 2>/dev/null; then
    probe close >/dev/null 2>&1
    for _ in $(seq 50); do
      kill -0 "$pavo_pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [ "$reader" = pair ] && pair_stop
}
trap cleanup EXIT
fail() {
  echo "FAIL ($name): $*"
  probe picture 0 0 0 0 "$logs/failure.bmp" && echo "screen: $logs/failure.bmp"
  for log in "$logs"/*.log; do
    echo "--- $log"
    tail -n 20 "$log"
  done
  exit 1
}
# Waits up to $1 tenths of a second for the command after it to succeed: a limit that only
# a fault reaches.
within() {
  local n=$1
  shift
  for ((i = 0; i < n; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
probe() { win_run "$probe_exe" "$@" 2>>"$logs/probe.log"; }
expect() { # what, got, wanted
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}
click() { probe click "$@" || fail "could not click $1"; }
text_of() { probe text "$1" | head -n 1; }
# Replaces the port box's text by typing, as the operator would.
type_port() {
  probe type ComboBox1 "$1" || fail "could not type '$1' into the port box"
  expect "port box" "$(text_of ComboBox1)" "$1"
}
sim_count() { grep -c "$2" "$logs/$1.log" 2>/dev/null; }
# Waits until the simulator's log ($1) shows pattern $2 at least $3 times.
sim_saw() {
  local log=$1 pattern=$2 count=$3
  within 300 eval '[ "$(sim_count "$log" "$pattern")" -ge "$count" ]'
}
start_sim() { # name, options...
  local name=$1
  shift
  if [ "$reader" = pty ]; then
    "$sim_bin" "$@" >"$logs/$name.log" 2>&1 &
    pids+=($!)
  else
    win_start "$logs/$name.log" "$sim_bin" "$@"
    pids+=("$win_pid")
  fi
}
start_pavo() {
  win_start "$logs/pavo.log" "$pavo_exe"
  pavo_pid=$win_pid
  pids+=("$pavo_pid")
  probe wait 30000 >"$logs/window.txt" || fail "the window did not come up"
}
# The reply to the snapshot command, as the single read shows it from the left of Edit1.
reply=0E111E00E004015012345678
# After the UID loop was stopped its port is free again: a single read opens it and shows
# the reply (on a pair the reader cannot see the port close, and goes on sending records
# that may come before the reply). The stop takes effect at the loop's next pass, and a
# Start clicked before is refused as during the loop: the operator clicks again.
single_read_after_stop() {
  local try
  for try in 1 2 3 4 5 6 7 8 9 10; do
    click Button2
    probe until Edit1 has $reply 1500 >/dev/null && break
    [ "$try" -lt 10 ] || fail "the loop did not give the port back"
  done
  probe until Button2 is Start 5000 >/dev/null || fail "Button2 did not come back"
}
# What a stop of the UID loop leaves: with a pseudo-terminal the reader sees the port
# closed; on a pair a single read gets the port.
check_stopped() { # simulator's log name, its 'line closed' count before the stop
  if [ "$reader" = pty ]; then
    sim_saw "$1" 'line closed' $(($2 + 1)) || fail "the port stayed open after the stop"
  else
    single_read_after_stop
  fi
}

if [ "$reader" = pty ]; then
  port=1
  start_sim sim --interval 300
  within 300 test -L "$run/COM1" || fail "reader-sim did not start"
else
  pair_init "$state" "$7" "$8" || fail "no pair COM$7-COM$8"
  port=$7
  pair_start || fail "no pair COM$7-COM$8"
  start_sim sim --port "$8" --interval 300
  sim_saw sim "serving COM$8" 1 || fail "reader-sim.exe did not open COM$8"
  pair_reveal || fail "COM$7 could not be put in place"
fi
start_pavo

case "$case" in
  layout)
    read -r win_x win_y win_w win_h < <(sed -n 2p "$logs/window.txt")
    expect "task bar" "$(probe taskbar)" "pavo"
    # The window and every control where the program's own layout table puts them, the
    # controls with their texts.
    probe layout >"$logs/layout.txt" || fail "$(cat "$logs/layout.txt")"
    # The picture for the README (scripts/screenshot makes docs/window-windows.png of it).
    probe picture "$win_x" "$win_y" "$win_w" "$win_h" window.bmp ||
      fail "no picture of the window"
    mv window.bmp "$state/window-windows.bmp"
    ;;

  not-a-number)
    type_port "x1"
    click Button2
    box=$(probe box 5000) || fail "no error box"
    expect "error box caption" "$(sed -n 1p <<<"$box")" "pavo"
    expect "error box buttons" "$(sed -n 2p <<<"$box")" "OK"
    expect "error box text" "$(sed -n 3p <<<"$box")" "'x1' is not a valid integer value"
    click box:OK
    probe until Button2 is Start 5000 >/dev/null || fail "Button2 did not come back"
    [ ! -e "$run/test.txt" ] || fail "a port text that is not a number sent a command"
    ;;

  single-read)
    [ "$reader" = pty ] || type_port "$port"
    click Button2
    edit1=$(probe until Edit1 starts $reply 5000) || fail "no reply in Edit1: '$edit1'"
    expect "first character shown in Edit1" "$(probe text Edit1 | sed -n 2p)" 0
    expect "Edit1 length" "${#edit1}" 500
    edit2=$(text_of Edit2)
    edit3=$(text_of Edit3)
    [[ "$edit3" =~ [0-9]{1,2}:[0-9]{2}:[0-9]{2} ]] || fail "time without seconds: '$edit3'"
    [[ "$edit2" =~ ^[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}$ ]] ||
      fail "no date in the user's M/d/yy with the century: '$edit2'"
    expect "RFID.txt" "$(od -An -c "$run/RFID.txt" | tr -s ' \n' ' ')" \
      "$(printf '%s     %s     %s\r\n' "$edit1" "$edit2" "$edit3" | od -An -c | tr -s ' \n' ' ')"
    expect "test.txt" "$(od -An -c "$run/test.txt" | tr -s ' \n' ' ')" \
      "$(printf 'len:5\r\n  len-2:3\r\n' | od -An -c | tr -s ' \n' ' ')"
    probe until Button2 is Start 5000 >/dev/null || fail "Button2 did not come back"
    # Its caption in the idle green, drawn by the program itself on the themed face.
    read -r bx by < <(probe where Button2)
    probe colours $((bx - 30)) $((by - 7)) 60 14 >"$logs/button2.txt" ||
      fail "no picture of Button2"
    grep -q ' #008000$' "$logs/button2.txt" || fail "Button2's caption is not green"
    ;;

  uid-loop)
    [ "$reader" = pty ] || type_port "$port"
    click Button1
    # The simulator sends its tags over and over: each one is shown in its turn.
    for id in E004015012345678 E0040150AABBCCDD E004015000C0FFEE; do
      probe until Edit1 is "$id" 30000 >/dev/null || fail "identifier $id not shown"
    done
    closes=$(sim_count sim 'line closed')
    click Button1
    check_stopped sim "$closes"
    ;;

  double-click)
    [ "$reader" = pty ] || type_port "$port"
    click Button1 2
    check_stopped sim 0
    expect "UID commands" "$(sim_count sim 'UID command')" 1
    ;;

  lost-port)
    if [ "$reader" = pty ]; then
      # COM12, typed as 12 and opened as \\.\COM12: a reader that hangs up after its reply
      # and four tag records and comes back 3 s later on a new pseudo-terminal under COM12.
      start_sim sim12 --port 12 --interval 300 --scenario hangup --hangup-after 110 \
        --return-after 3000
      within 300 test -L "$run/COM12" || fail "reader-sim on COM12 did not start"
      type_port "12"
      click Button1
      probe until Edit1 starts E0 30000 >/dev/null || fail "no identifier from COM12"
      # From the first identifier on Edit1 is never empty until the line is lost.
      probe until Edit1 is "" 60000 >"$logs/emptied.txt" &
      emptied=$!
      sim_saw sim12 'line dropped' 1 || fail "reader-sim did not hang up"
      wait "$emptied" || fail "Edit1 still shows '$(cat "$logs/emptied.txt")' after the hang-up"
      sim_saw sim12 'back: link COM12' 1 || fail "reader-sim did not come back"
      sim_saw sim12 'UID command' 2 || fail "no UID command after the reader came back"
      probe until Edit1 starts E0 30000 >/dev/null ||
        fail "no identifier after the reader came back"
      closes=$(sim_count sim12 'line closed')
      click Button1
      check_stopped sim12 "$closes"
    else
      # The pair pulled out while the loop reads, as a USB adapter is: both ports go away
      # and the program's reads fail. Put back, the reader opens its end first, then the
      # program finds its port again and sends the UID command.
      type_port "$port"
      click Button1
      probe until Edit1 starts E0 30000 >/dev/null || fail "no identifier from COM$port"
      pair_unplug || fail "the pair could not be taken away"
      probe until Edit1 is "" 30000 >"$logs/emptied.txt" ||
        fail "Edit1 still shows '$(cat "$logs/emptied.txt")' after the pair was taken away"
      sim_saw sim "COM$8 went away" 1 || fail "reader-sim.exe did not see its port go"
      pair_plug || fail "the pair could not be put back"
      sim_saw sim "COM$8 is back" 1 || fail "reader-sim.exe did not open COM$8 again"
      pair_reveal || fail "COM$port could not be put in place"
      sim_saw sim 'UID command' 2 || fail "no UID command after the pair was back"
      probe until Edit1 starts E0 30000 >/dev/null ||
        fail "no identifier after the pair was back"
      click Button1
      check_stopped sim 0
    fi
    ;;

  exit-in-loop)
    [ "$reader" = pty ] || type_port "$port"
    click Button1
    sim_saw sim 'UID command' 1 || fail "the loop did not start"
    click Button4
    within 100 eval '! kill -0 "$pavo_pid" 2>/dev/null' ||
      fail "pavo.exe still runs after exit was clicked during the loop"
    status=0
    wait "$pavo_pid" || status=$?
    expect "exit status" "$status" 0
    if [ "$reader" = pty ]; then
      sim_saw sim 'line closed' 1 || fail "the port stayed open"
    fi
    ;;

  failed-read)
    # A read the system fails while ClearCommError and GetCommState still answer is a lost
    # port (see probe.cpp: a read the port was not opened for).
    expect "the verdict on a read the driver fails" "$(probe read "COM$port")" lost
    ;;

  held-file)
    # RFID.txt held by another program that lets nobody write to it (the probe, as a
    # spreadsheet showing the file would): the reading stays on screen and a box names the
    # cause. Retry once the file is let go writes the line, once and whole.
    [ "$reader" = pty ] || type_port "$port"
    win_start "$logs/hold.log" "$probe_exe" hold RFID.txt 120000
    holder=$win_pid
    pids+=("$holder")
    within 300 test -e "$run/RFID.txt.held" || fail "the probe could not hold RFID.txt"
    click Button2
    box=$(probe box 10000) || fail "no box when RFID.txt could not be written"
    expect "box caption" "$(sed -n 1p <<<"$box")" "pavo"
    expect "box buttons" "$(sed -n 2p <<<"$box")" "Retry Cancel"
    grep -qF 'The reading was not recorded: cannot open "RFID.txt": it is open in another program' \
      <<<"$box" || fail "the box does not name the cause: $(sed -n '3,$p' <<<"$box")"
    edit1=$(probe until Edit1 starts $reply 5000) || fail "the reading is not shown: '$edit1'"
    line=$(printf '%s     %s     %s\r\n' "$edit1" "$(text_of Edit2)" "$(text_of Edit3)" |
      od -An -c | tr -s ' \n' ' ')
    [ ! -s "$run/RFID.txt" ] || fail "RFID.txt was written while it was held"
    rm -f "$run/RFID.txt.held"
    wait "$holder" || fail "the probe did not let RFID.txt go"
    click box:Retry
    within 100 test -s "$run/RFID.txt" || fail "Retry did not write RFID.txt"
    probe until Button2 is Start 5000 >/dev/null || fail "Button2 did not come back"
    ! probe box 0 >/dev/null || fail "a box is still up after the line was written"
    expect "RFID.txt" "$(od -An -c "$run/RFID.txt" | tr -s ' \n' ' ')" "$line"
    ;;

  *)
    echo "scenario.sh: unknown case '$case'" >&2
    exit 2
    ;;
esac
echo "$name: passed"
