# shellcheck shell=bash
# Helpers for the jobs that run in the guest (sourced by them; the host's scripts send
# "source this, call that"). The desktop, started once per boot, is an X server (Xvfb), a
# session bus with the accessibility bus launcher on it, and udev. pavo runs on it with its
# accessibility on: its texts are read as a screen reader reads them (window-texts.py).
# State lives in WORK/desktop (this job's working directory is WORK).

guest_fail() {
  echo "guest: $*" >&2
  exit 1
}

# Waits up to $1 tenths of a second for the command after it to succeed, by the clock: a
# look may itself take a while in the guest.
guest_within() {
  local end=$((SECONDS + ($1 + 9) / 10))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# Starts the desktop and udev; writes WORK/desktop/env for the jobs after it.
guest_desktop() {
  local d=$PWD/desktop
  rm -rf "$d"
  mkdir -p "$d" /run/user/0 /run/udev
  chmod 700 /run/user/0
  # Tools that refuse to work in a chroot (udevadm) are told that this one is the system.
  export SYSTEMD_IGNORE_CHROOT=1 XDG_RUNTIME_DIR=/run/user/0
  for tool in Xvfb xdotool dbus-daemon /usr/libexec/at-spi-bus-launcher \
    /lib/systemd/systemd-udevd udevadm; do
    command -v "$tool" >/dev/null || guest_fail "$tool is not installed (scripts/setup usb)"
  done
  /lib/systemd/systemd-udevd --daemon >"$d/udevd.log" 2>&1 || guest_fail "udevd did not start"
  udevadm trigger --action=add --subsystem-match=tty --subsystem-match=usb
  udevadm settle --timeout=120 || guest_fail "udev did not settle"
  setsid Xvfb -displayfd 4 -screen 0 640x480x24 -nolisten tcp -noreset 4>"$d/display" \
    </dev/null >"$d/xvfb.log" 2>&1 &
  guest_within 1200 test -s "$d/display" || guest_fail "Xvfb did not start: $(cat "$d/xvfb.log")"
  dbus-daemon --session --fork --print-address=1 >"$d/bus" </dev/null ||
    guest_fail "the session bus did not start"
  {
    echo "export DISPLAY=:$(head -n 1 "$d/display")"
    echo "export DBUS_SESSION_BUS_ADDRESS='$(head -n 1 "$d/bus")'"
    echo "export XDG_RUNTIME_DIR=/run/user/0 SYSTEMD_IGNORE_CHROOT=1"
    echo "export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"
  } >"$d/env.new"
  # shellcheck disable=SC1091
  . "$d/env.new"
  setsid /usr/libexec/at-spi-bus-launcher --launch-immediately </dev/null >"$d/at-spi.log" 2>&1 &
  guest_within 1200 gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.a11y.Bus.GetAddress >/dev/null 2>&1 ||
    guest_fail "the accessibility bus did not start: $(cat "$d/at-spi.log")"
  mv "$d/env.new" "$d/env"
  echo "guest: desktop on $DISPLAY, udev with $(find /dev/serial -type l 2>/dev/null | wc -l) serial links"
}

guest_env() {
  [ -s desktop/env ] || guest_fail "no desktop (guest_desktop first)"
  # shellcheck disable=SC1091
  . desktop/env
}

# Starts pavo in RUN (a folder, made afresh) with a link COM1 to TARGET, through the
# command words given (e.g. faketime ...), and waits for its window and its texts.
guest_start_pavo() { # pavo run target [command words...]
  local pavo=$1 run=$2 target=$3 window=''
  shift 3
  guest_env
  rm -rf "$run"
  mkdir -p "$run"
  ln -s "$target" "$run/COM1"
  (cd "$run" && exec setsid "$@" "$pavo" </dev/null >pavo.out 2>&1) &
  echo $! >"$run/pavo.pid"
  guest_within 1200 eval 'window=$(xdotool search --onlyvisible --name "^Form1$" 2>/dev/null | head -n 1); [ -n "$window" ]' ||
    guest_fail "pavo showed no window: $(cat "$run/pavo.out")"
  echo "$window" >"$run/window"
  guest_texts --limit 120 'Port=01' >/dev/null || guest_fail "pavo's texts cannot be read"
}

guest_texts() {
  guest_env
  "$PAVO_USB_TEXTS" "$@"
}

# Clicks a button of pavo's window in RUN: UID, Start or exit (positions from its layout).
guest_click() { # run button
  local run=$1 x y
  guest_env
  case $2 in
    UID) x=297 y=52 ;;
    Start) x=285 y=108 ;;
    exit) x=256 y=176 ;;
    *) guest_fail "no button $2" ;;
  esac
  xdotool mousemove --window "$(cat "$run/window")" "$x" "$y" click 1
}

# The terminals pavo holds open, one a line (as /proc shows them: "(deleted)" after a node
# that has gone).
guest_held() { # run
  local pid
  pid=$(cat "$1/pavo.pid")
  for fd in /proc/"$pid"/fd/*; do
    readlink "$fd"
  done 2>/dev/null | grep -E '^/dev/(ttyUSB|pts/)' || true
}

# In the background: notes in RUN/watch.txt, in microseconds of the guest's clock, when
# /dev/ttyUSB0 went ("gone T") and when pavo closed the descriptor it had on it
# ("let-go T"). It looks every 5 ms, with the shell's own commands only: a process
# started for each look would take longer than what is measured.
guest_watch_loss() { # run
  local run=$1 pid fd link
  pid=$(cat "$run/pavo.pid")
  for link in /proc/"$pid"/fd/*; do
    [ "$(readlink "$link")" = /dev/ttyUSB0 ] && fd=${link##*/}
  done
  [ -n "${fd:-}" ] || guest_fail "pavo holds no /dev/ttyUSB0"
  setsid bash -c '
    pid=$1 fd=$2
    # The descriptor is the same open file while its inode number is.
    ino() {
      local k v
      inode=""
      while read -r k v; do [ "$k" = ino: ] && inode=$v; done <"/proc/$pid/fdinfo/$fd"
    } 2>/dev/null
    mkfifo /tmp/watch-tick.$$ && exec 9<>/tmp/watch-tick.$$
    ino
    first=$inode
    while [ -e /dev/ttyUSB0 ]; do read -r -t 0.005 -u 9; done
    echo "gone ${EPOCHREALTIME/./}"
    while ino && [ "$inode" = "$first" ]; do read -r -t 0.005 -u 9; done
    echo "let-go ${EPOCHREALTIME/./}"
  ' watch "$pid" "$fd" </dev/null >"$run/watch.txt" 2>&1 &
}

guest_stop_pavo() { # run
  local pid
  pid=$(cat "$1/pavo.pid" 2>/dev/null) || return 0
  kill "$pid" 2>/dev/null
  guest_within 300 eval "! kill -0 $pid 2>/dev/null" || kill -KILL "$pid" 2>/dev/null
  rm -f "$1/pavo.pid"
}
