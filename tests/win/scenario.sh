#!/usr/bin/env bash
# pavo.exe clicked through as an operator would, under Wine on the shared X server: real
# mouse clicks with xdotool, the controls read back with pavo-probe, the reader played by
# reader-sim on a pseudo-terminal that the prefix's COM1 (or COM12) leads to.
#   scenario.sh STATE PAVO_EXE PROBE_EXE READER_SIM CASE
# CASE: layout, not-a-number, single-read, uid-loop, double-click, lost-port, exit-in-loop,
# failed-read.
set -uo pipefail
state=$1 pavo_exe=$2 probe_exe=$3 sim_bin=$4 case=$5
wine_sh=$(dirname "$0")/wine.sh
run=$state/run
logs=$state/logs/$case
rm -rf "$logs"
mkdir -p "$logs" "$run"
rm -f "$run"/*.txt

pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
}
trap cleanup EXIT
fail() {
  echo "FAIL ($case): $*"
  export DISPLAY=":$(head -n 1 "$state/display")"
  import -window root "$logs/failure.png" 2>/dev/null && echo "screen: $logs/failure.png"
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
wine_run() { bash "$wine_sh" run "$state" "$@"; }
probe() { wine_run "$probe_exe" "$@" 2>>"$logs/probe.log"; }
expect() { # what, got, wanted
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}
click() {
  local point
  point=$(probe where "$1") || fail "no control $1"
  xdotool mousemove $point click 1
}
text_of() { probe text "$1" | head -n 1; }
# Replaces the port box's text by typing, as the operator would (Ctrl+A does not select
# all in Wine's edit control).
type_port() {
  local x y
  read -r x y < <(probe where ComboBox1)
  xdotool mousemove $((x - 10)) "$y" click 1 key End BackSpace BackSpace BackSpace BackSpace \
    type "$1"
  expect "port box" "$(text_of ComboBox1)" "$1"
}
sim_count() { grep -c "$2" "$logs/$1.log"; }
# Waits until the simulator's log ($1) shows pattern $2 at least $3 times.
sim_saw() {
  local log=$1 pattern=$2 count=$3
  within 300 eval '[ "$(sim_count "$log" "$pattern")" -ge "$count" ]'
}
start_sim() { # name, options...
  local name=$1
  shift
  (cd "$run" && exec "$sim_bin" "$@" >"$logs/$name.log" 2>&1) &
  pids+=($!)
}
start_pavo() {
  (cd "$run" && exec bash "$wine_sh" run "$state" "$pavo_exe" >"$logs/pavo.log" 2>&1) &
  pavo_pid=$!
  pids+=("$pavo_pid")
  probe wait 30000 >"$logs/window.txt" || fail "the window did not come up"
}
export DISPLAY=":$(head -n 1 "$state/display")"

start_sim sim --interval 300
within 300 test -L "$run/COM1" || fail "reader-sim did not start"
start_pavo

case "$case" in
  layout)
    read -r _ _ client_w client_h < <(sed -n 1p "$logs/window.txt")
    read -r win_x win_y win_w win_h < <(sed -n 2p "$logs/window.txt")
    expect "client area" "$client_w x $client_h" "353 x 257"
    expect "task bar" "$(probe taskbar)" "pavo"
    # Every control where the program's own layout table puts it, with its text.
    probe layout >"$logs/layout.txt" || fail "$(cat "$logs/layout.txt")"
    # The picture for the README (scripts/screenshot copies it into docs/).
    import -window root -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage \
      -define png:exclude-chunks=date,time "$state/window-windows.png"
    ;;

  not-a-number)
    type_port "x1"
    click Button2
    box=$(probe box 5000) || fail "no error box"
    expect "error box caption" "$(sed -n 1p <<<"$box")" "pavo"
    expect "error box text" "$(sed -n 2p <<<"$box")" "'x1' is not a valid integer value"
    xdotool mousemove $(sed -n 3p <<<"$box") click 1
    probe until Button2 is Start 5000 >/dev/null || fail "Button2 did not come back"
    [ ! -e "$run/test.txt" ] || fail "a port text that is not a number sent a command"
    ;;

  single-read)
    click Button2
    edit1=$(probe until Edit1 starts 0E111E00E004015012345678 5000) ||
      fail "no reply in Edit1: '$edit1'"
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
    import -window root -crop "60x14+$((bx - 30))+$((by - 7))" +repage "$logs/button2.png"
    convert "$logs/button2.png" -format %c histogram:info: | grep -q '#008000' ||
      fail "Button2's caption is not green"
    ;;

  uid-loop)
    click Button1
    # The simulator sends its tags over and over: each one is shown in its turn.
    for id in E004015012345678 E0040150AABBCCDD E004015000C0FFEE; do
      probe until Edit1 is "$id" 30000 >/dev/null || fail "identifier $id not shown"
    done
    closes=$(sim_count sim 'line closed')
    click Button1
    sim_saw sim 'line closed' $((closes + 1)) || fail "the port stayed open after the stop"
    ;;

  double-click)
    read -r x y < <(probe where Button1)
    xdotool mousemove "$x" "$y" click --repeat 2 --delay 80 1
    sim_saw sim 'line closed' 1 || fail "the second click of a double click was lost"
    expect "UID commands" "$(sim_count sim 'UID command')" 1
    ;;

  lost-port)
    # COM12, typed as 12 and opened as \\.\COM12: a reader that hangs up after its reply and
    # four tag records and comes back 3 s later on a new pseudo-terminal under COM12.
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
    probe until Edit1 starts E0 30000 >/dev/null || fail "no identifier after the reader came back"
    closes=$(sim_count sim12 'line closed')
    click Button1
    sim_saw sim12 'line closed' $((closes + 1)) || fail "the port stayed open after the stop"
    ;;

  exit-in-loop)
    click Button1
    sim_saw sim 'UID command' 1 || fail "the loop did not start"
    click Button4
    within 100 eval '! kill -0 "$pavo_pid" 2>/dev/null' ||
      fail "pavo.exe still runs after exit was clicked during the loop"
    status=0
    wait "$pavo_pid" || status=$?
    expect "exit status" "$status" 0
    sim_saw sim 'line closed' 1 || fail "the port stayed open"
    ;;

  failed-read)
    # A read the system fails while ClearCommError and GetCommState still answer is a lost
    # port (see probe.cpp: a read the port was not opened for).
    expect "the verdict on a read the driver fails" "$(probe read COM1)" lost
    ;;

  *)
    echo "scenario.sh: unknown case '$case'" >&2
    exit 2
    ;;
esac
echo "$case: passed"
