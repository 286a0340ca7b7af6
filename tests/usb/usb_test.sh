#!/usr/bin/env bash
# The USB-serial stage's tests, one case a call, against the guest of vm.sh (booted by the
# boot case, ended by the halt case; the others need it running):
#   usb_test.sh WORK boot
#   usb_test.sh WORK single-read PAVO READER_SIM WINDOW_TEXTS (window-texts.py)
#   usb_test.sh WORK replug ttyUSB0|by-id PAVO READER_SIM WINDOW_TEXTS
#   usb_test.sh WORK posix-port PORT_TEST
#   usb_test.sh WORK halt
# pavo runs in the guest on the adapter's /dev/ttyUSB0 (through its working directory's
# COM1), the reader is reader-sim on this machine at the adapter's far end, and the checks
# look where the operator looks: the window's texts as a screen reader reads them, RFID.txt
# and test.txt, and the bytes the reader received (its trace). Every wait is for an event,
# with a limit only a fault reaches.
set -uo pipefail
here=$(dirname "$(realpath "$0")")
# shellcheck source=tests/usb/vm.sh
. "$here/vm.sh"
[ $# -ge 2 ] || {
  echo "usage: $0 WORK CASE [ARGS...]" >&2
  exit 2
}
usb_set_work "$1"
case_name=$2
shift 2

# A failed case stops the pavo it ran in the guest (in current_run), plugs back an adapter
# it left pulled, and plugs in again one that came back under another name, now that
# nothing holds the old one: the next case finds the adapter as it was.
current_run='' pulled=0 uses_adapter=0
fail() {
  echo "FAIL ($case_name): $*"
  [ -z "$current_run" ] || [ ! -e "$current_run/pavo.pid" ] ||
    usb_job --limit 900 ". '$here/guest.sh' && guest_stop_pavo '$current_run'" >/dev/null
  [ "$pulled" -eq 0 ] || usb_plug
  if [ "$uses_adapter" -eq 1 ]; then
    usb_job --limit 300 '. '"'$here/guest.sh'"' && guest_within 600 test -e /dev/ttyUSB0' >/dev/null ||
      { usb_pull && usb_plug; }
  fi
  exit 1
}

# A job in the guest with the helpers of guest.sh at hand.
guest() {
  usb_job --limit "${limit:-600}" "set -uo pipefail
export PAVO_USB_TEXTS='${texts:-}'
. '$here/guest.sh'
$1"
}

# A process of this script to end with it: reader-sim, or the job the test program runs in.
sim_pid=''
cleanup() {
  [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null; }
}
trap cleanup EXIT

# reader-sim on the adapter's far end, tracing to FILE.
start_reader() { # reader-sim trace-file
  local line
  line=$(usb_line_path) || fail "QEMU does not say where the adapter's far end is"
  "$1" --tty "$line" --frame-gap 60000 >"$2" 2>&1 &
  sim_pid=$!
  usb_within 300 grep -q "$line" "$2" || fail "reader-sim did not take $line: $(cat "$2")"
}

uid_commands() { grep -c "UID command" "$1"; }
at_least() { [ "$("$1" "$2")" -ge "$3" ]; }

case $case_name in
  boot)
    usb_boot "$usb_work" || fail "the guest did not boot"
    started=$SECONDS
    guest guest_desktop || fail "the guest's desktop did not start"
    echo "guest desktop up in $((SECONDS - started)) s"
    ;;

  halt)
    # What the guest said, for the record of a run that went wrong.
    grep -E 'guest-|ttyUSB|ftdi|usb [0-9]' "$usb_work/console.log" | tail -n 40
    usb_halt "$usb_work"
    echo "guest halted"
    ;;

  single-read)
    uses_adapter=1
    # The same single read, at the same frozen clock, over a pseudo-terminal of the guest
    # (reader-sim in the guest makes it) and through the USB driver: the same line in
    # RFID.txt, the same texts on screen, the same frames in test.txt.
    pavo=$1 sim=$2 texts=$3
    frozen="env LC_ALL=en_US.UTF-8 FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f '2000-01-01 23:30:18'"
    base=$usb_work/single-read
    rm -rf "$base"
    mkdir -p "$base/pty-sim"
    # Start, until a reading is recorded; each click is left to end (the window answers
    # again) before the file is looked at. A reply that misses its 500 ms on a loaded
    # machine is rightly no reading; only a fault makes every try fail.
    read_once() { # run folder
      local try
      current_run=$1
      for ((try = 0; try < 20; try++)); do
        guest "guest_click '$1' Start && guest_texts --limit 120 Start >/dev/null" ||
          fail "the window did not answer after Start"
        [ -s "$1/RFID.txt" ] && break
      done
      [ -s "$1/RFID.txt" ] || fail "Start recorded no reading in 20 tries ($1)"
      guest "guest_texts >'$1/texts.txt'
        guest_click '$1' exit && guest_within 600 eval '! kill -0 \$(cat $1/pavo.pid) 2>/dev/null'" ||
        fail "pavo did not end on exit ($1)"
    }

    # Over a pseudo-terminal: reader-sim in the guest, pavo's COM1 a link to its terminal.
    guest "cd '$base/pty-sim' && { setsid '$sim' --frame-gap 60000 </dev/null >sim.txt 2>&1 & echo \$! >sim.pid; }
      guest_within 1200 test -L COM1 || guest_fail \"reader-sim made no COM1: \$(cat sim.txt)\"
      cd '$usb_work' && guest_start_pavo '$pavo' '$base/pty' \"\$(readlink '$base/pty-sim/COM1')\" $frozen" ||
      fail "pavo did not start on the pseudo-terminal"
    read_once "$base/pty"
    guest "kill \$(cat '$base/pty-sim/sim.pid')"
    grep -q "snapshot command" "$base/pty-sim/sim.txt" || fail "the pty reader got no snapshot command"

    # Through the driver: reader-sim here at the adapter's far end.
    start_reader "$sim" "$base/sim.txt"
    guest "guest_start_pavo '$pavo' '$base/usb' /dev/ttyUSB0 $frozen" ||
      fail "pavo did not start on ttyUSB0"
    read_once "$base/usb"
    grep -q "snapshot command" "$base/sim.txt" || fail "the reader got no snapshot command"

    for f in RFID.txt test.txt texts.txt; do
      cmp -s "$base/pty/$f" "$base/usb/$f" ||
        fail "$f differs: over a pty $(od -c "$base/pty/$f" | head -n 5), through USB $(od -c "$base/usb/$f" | head -n 5)"
    done
    [ "$(wc -l <"$base/usb/RFID.txt")" -eq 1 ] || fail "RFID.txt holds more than one line"
    echo "RFID.txt: $(cat "$base/usb/RFID.txt")"
    echo "PASS (single-read): the same line, texts and frames through ttyUSB0 as over a pty"
    ;;

  replug)
    uses_adapter=1
    kind=$1 pavo=$2 sim=$3 texts=$4
    run=$usb_work/replug-$kind
    rm -rf "$run"
    mkdir -p "$run"
    start_reader "$sim" "$run/sim.txt"
    case $kind in ttyUSB0 | by-id) ;; *) fail "no such way to the port: $kind" ;; esac
    if [ "$kind" = by-id ]; then
      # udev's link for the adapter, as an operator would link COM1 to it.
      target=$(guest 'guest_within 600 eval "ls /dev/serial/by-id/*-port0 >/dev/null 2>&1" &&
        ls /dev/serial/by-id/*-port0 | head -n 1') || fail "udev made no /dev/serial/by-id link"
      target=$(printf '%s\n' "$target" | tail -n 1)
    else
      target=/dev/ttyUSB0
    fi
    echo "COM1 -> $target"
    current_run=$run/guest
    guest "guest_start_pavo '$pavo' '$run/guest' '$target'" || fail "pavo did not start"
    guest "guest_click '$run/guest' UID && guest_texts --limit 120 'Tag~^E0[0-9A-F]{14}\$'" ||
      fail "the UID loop showed no tag"
    usb_within 600 at_least uid_commands "$run/sim.txt" 1 || fail "the reader got no UID command"

    # Pulled: the node goes, the identifier is cleared, and pavo lets go of the port. A
    # watcher in the guest notes when the node went and when pavo let go. The adapter is
    # plugged back in any case, as an operator would, and what that finds is told too.
    guest "guest_watch_loss '$run/guest'" || fail "the watcher did not start"
    usb_pull || fail "the adapter could not be pulled"
    pulled=1
    guest "guest_texts --limit 60 'Tag=' >/dev/null || guest_fail 'the tag is still shown 60 s after the pull'
      [ ! -e /dev/ttyUSB0 ] || guest_fail '/dev/ttyUSB0 is still there'" || fail "the pull"
    held=$(guest "guest_within 300 eval '! guest_held \"$run/guest\" | grep -q ttyUSB' || guest_held '$run/guest'")
    watch=$run/guest/watch.txt
    if [ -z "$held" ]; then
      usb_within 300 grep -q let-go "$watch" || fail "the watcher saw no let-go: $(cat "$watch")"
      gone=$(sed -n 's/^gone //p' "$watch") letgo=$(sed -n 's/^let-go //p' "$watch")
      echo "figure: pavo let go of the pulled port $(((letgo - gone) / 1000)) ms after its node went (guest clock; a pass of the loop is 100 ms)"
    fi

    # Plugged back: the same ttyUSB0, the UID command again, tags again.
    usb_plug || fail "the adapter could not be plugged back"
    pulled=0
    back=$(limit=300 guest "guest_within 1200 eval 'ls /dev/ttyUSB* >/dev/null 2>&1'
      ls /dev/ttyUSB* 2>&1")
    [ -z "$held" ] ||
      fail "pavo still held '$held' 30 s after the pull; plugged back, the adapter came as: $back"
    [ "$back" = /dev/ttyUSB0 ] || fail "the adapter came back as: $back"
    guest "guest_within 1200 test -e '$target'" || fail "$target did not come back"
    usb_within 1200 at_least uid_commands "$run/sim.txt" 2 ||
      fail "the UID command did not go out again"
    guest "guest_texts --limit 120 'Tag~^E0[0-9A-F]{14}\$' && guest_held '$run/guest' | grep -qx /dev/ttyUSB0" ||
      fail "no tag shown after the return, or the port is not held"

    # Stopped, the loop closes the port; exit ends the program with status 0.
    guest "guest_click '$run/guest' UID && guest_within 600 eval '[ -z \"\$(guest_held $run/guest)\" ]' &&
      guest_click '$run/guest' exit &&
      guest_within 600 eval '! kill -0 \$(cat $run/guest/pavo.pid) 2>/dev/null'" ||
      fail "pavo did not stop and end"
    echo "PASS (replug $kind): tags, cleared on the pull, ttyUSB0 again, UID command again, tags again"
    ;;

  posix-port)
    uses_adapter=1
    program=$1
    hand=$usb_work/hand
    rm -f "$hand" "$hand.new"
    result=$usb_work/posix-port.txt
    rm -f "$result" "$result.status"
    (guest "PAVO_USB_HAND='$hand' '$program'" >"$result" 2>&1
      echo $? >"$result.status") &
    sim_pid=$!
    # The test asks for the adapter to be pulled and plugged; it has the last word on time.
    while [ ! -e "$result.status" ]; do
      if [ -e "$hand" ]; then
        case $(cat "$hand") in
          pull) usb_pull ;;
          plug) usb_plug ;;
          *) echo "unknown request $(cat "$hand")" ;;
        esac
        rm -f "$hand"
      fi
      sleep 0.1
    done
    cat "$result"
    [ "$(cat "$result.status")" -eq 0 ] || fail "the POSIX backend's cases failed on ttyUSB0"
    ;;

  *)
    echo "usage: $0 WORK boot|halt|single-read|replug|posix-port ..." >&2
    exit 2
    ;;
esac
