#!/usr/bin/env bash
# A headless Wayland compositor (weston) for the window's tests on Qt's Wayland platform,
# started and stopped by CTest fixtures. DIR is its XDG_RUNTIME_DIR; the clients reach it
# by its socket's path, DIR/pavo, in WAYLAND_DISPLAY.
#   wayland.sh start DIR   starts it and waits until its socket is there
#   wayland.sh stop DIR    ends it
set -uo pipefail
command=$1
dir=$2

stop() {
  [ -s "$dir/weston.pid" ] || return 0
  local pid
  pid=$(cat "$dir/weston.pid")
  kill "$pid" 2>/dev/null
  # Gone before the next start lays out the folder anew.
  for _ in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$dir/weston.pid"
}

case "$command" in
  start)
    if ! command -v weston >/dev/null; then
      echo "weston is not installed (scripts/setup installs it)" >&2
      exit 1
    fi
    # A socket's path has room for 107 bytes.
    if [ ${#dir} -gt 100 ]; then
      echo "the path $dir is too long for the compositor's socket" >&2
      exit 1
    fi
    stop  # one left by an interrupted run
    rm -rf "$dir"
    mkdir -p -m 700 "$dir"
    # No weston.ini of the user's; never idle: an idle output stops repainting and so
    # stops the frame callbacks a client's updates wait for. All descriptors go to files:
    # CTest waits for the pipes of a test to close, and the compositor outlives this one.
    XDG_RUNTIME_DIR=$dir setsid weston --backend=headless-backend.so --socket=pavo \
      --no-config --idle-time=0 </dev/null >"$dir/weston.log" 2>&1 &
    echo $! >"$dir/weston.pid"
    for _ in $(seq 300); do
      [ -S "$dir/pavo" ] && exit 0
      kill -0 "$(cat "$dir/weston.pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "weston did not start:" >&2
    cat "$dir/weston.log" >&2
    exit 1
    ;;
  stop)
    stop
    exit 0
    ;;
  *)
    echo "usage: wayland.sh start|stop DIR" >&2
    exit 2
    ;;
esac
