#!/usr/bin/env bash
# Wine for the Windows tests of the cross build: one X server and one prefix that every
# test shares, set up and taken down by CTest fixtures, and the emulator CTest runs each
# Windows test program through. Everything lives in STATE (build/windows/wine).
#   wine.sh start-display STATE   Xvfb on a free display (its number in STATE/display)
#   wine.sh stop-display STATE
#   wine.sh create-prefix STATE   a fresh 32-bit prefix: Wine's desktop window, COM1 and
#                                 COM12 leading to STATE/run, COM5 and COM6 to STATE/pair,
#                                 a short date of M/d/yy
#   wine.sh stop-prefix STATE     ends the prefix's wineserver and the programs left in it
#   wine.sh run STATE PROGRAM [ARGS...]   runs a Windows program there; its output once it
#                                         has ended, with Unix line ends (the tests' scripts
#                                         run programs through win_run.sh, as on Windows)
#   wine.sh run-to STATE FILE PROGRAM [ARGS...]   the same with the output going straight to
#                                         FILE as it is written
#   wine.sh with STATE COMMAND [ARGS...]  runs a command with Wine's environment set so
set -uo pipefail
command=$1
state=$2
shift 2

export WINEPREFIX=$state/prefix
export WINEARCH=win32
# Wine's own messages off, unless a test asks for some (a load trace).
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko downloads; other overrides (a test's own) come first.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="
unset WAYLAND_DISPLAY
[ -s "$state/display" ] && export DISPLAY=":$(head -n 1 "$state/display")"

case "$command" in
  start-display)
    mkdir -p "$state"
    # A server of an earlier run of this STATE (a fixture run again) goes first.
    old=$(cat "$state/xvfb.pid" 2>/dev/null)
    [ -n "$old" ] && [ "$(cat "/proc/$old/comm" 2>/dev/null)" = Xvfb ] && kill "$old"
    rm -f "$state/display" "$state/xvfb.pid"
    # -noreset: without it the server starts afresh whenever its last client leaves, and
    # turns away a client that connects meanwhile. All descriptors go to files: CTest
    # waits for the pipes of a test to close, and the server outlives this one.
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
      3>"$state/display" </dev/null >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 300); do
      [ -s "$state/display" ] && exit 0
      sleep 0.1
    done
    echo "Xvfb did not start:" >&2
    cat "$state/xvfb.log" >&2
    exit 1
    ;;
  stop-display)
    [ -s "$state/xvfb.pid" ] && kill "$(cat "$state/xvfb.pid")" 2>/dev/null
    rm -f "$state/xvfb.pid" "$state/display"
    exit 0
    ;;
  create-prefix)
    # A fresh prefix every time: nothing of an earlier run or of the user's own Wine.
    [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX" "$state/run"
    mkdir -p "$WINEPREFIX" "$state/run"
    log=$state/wineboot.log
    # Wine's output always goes to files: its helper processes keep a pipe open after the
    # program that started them has ended.
    {
      wineboot -i
      # Windows in a desktop window of Wine's own, drawn with their frames and captions as
      # on Windows (there is no window manager).
      wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
      wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f
      # COM1 and COM12 are links that the tests' reader-sim makes in STATE/run. Windows
      # reaches ports above COM9 only through the device namespace (\\.\COM12).
      wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$state/run/COM1" /f
      wine reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$state/run/COM12" /f
      # COM5 and COM6: the two ends of a null-modem pair, the links of the pseudo-terminal
      # pair that socat makes in STATE/pair (pair.sh).
      wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$state/pair/COM5" /f
      wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$state/pair/COM6" /f
      # A user whose short date has a two-digit year: the program shows it with its century.
      wine reg add 'HKCU\Control Panel\International' /v sShortDate /d 'M/d/yy' /f
      wineserver -k
      wineboot
      wineserver -w
    } >"$log" 2>&1 </dev/null
    # The symbols of the caption buttons come from Marlett, which Debian's Wine does not
    # find among its own fonts by itself.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    # One server for the whole run, so that no test pays for starting it.
    wineserver -p </dev/null >"$state/wineserver.log" 2>&1
    [ -f "$WINEPREFIX/system.reg" ] || { cat "$log" >&2; exit 1; }
    exit 0
    ;;
  stop-prefix)
    wineserver -k >/dev/null 2>&1
    exit 0
    ;;
  with)
    exec "$@"
    ;;
  run-to)
    # The program's output straight into a file, to be read while the program runs (a
    # trace), with the line ends the program writes.
    out=$1
    shift
    wine "$@" </dev/null >"$out" 2>&1 &
    child=$!
    trap 'kill "$child" 2>/dev/null; wait "$child"; exit 143' TERM INT
    wait "$child"
    exit
    ;;
  run)
    # The program's output through a file, for the same reason as above; a 32-bit program
    # that cannot start may end with status 0 without a word, which the test's own checks
    # (a GoogleTest program prints its verdict) catch.
    out=$(mktemp)
    wine "$@" </dev/null >"$out" 2>&1 &
    child=$!
    # A test that is stopped stops its program too.
    trap 'kill "$child" 2>/dev/null; wait "$child"; rm -f "$out"; exit 143' TERM INT
    wait "$child"
    status=$?
    tr -d '\r' <"$out"
    rm -f "$out"
    exit "$status"
    ;;
esac
echo "usage: wine.sh start-display|stop-display|create-prefix|stop-prefix|run|run-to|with STATE ..." >&2
exit 2
