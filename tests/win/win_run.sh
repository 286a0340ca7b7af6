# shellcheck shell=bash
# Sourced by the Windows tests: runs Windows programs the same way under Wine (tests/win/
# wine.sh, in the prefix and on the X server of STATE) and on Windows itself, from Git Bash
# or MSYS2, so that a test is the same lines with the same arguments in both places.
#   win_init STATE             before the rest. STATE: under Wine wine.sh's folder (prefix,
#                              X server), on Windows a scratch folder of the test run
#   win_run PROGRAM [ARGS...]  runs a Windows program (a .exe, or one of the system's such
#                              as cmd, reg, msiexec) in the current folder and passes its
#                              status on; its output with Unix line ends
#   win_start OUT PROGRAM [ARGS...]   the same in the background, its output going straight
#                              to the file OUT (line ends as written); its process, to wait
#                              for or to end, is $win_pid
#   win_path PATH              PATH as Windows programs take it (C:\..., Z:\... under Wine)
#   unix_path PATH             a Windows path as this shell takes it
#   on_windows                 true on Windows itself
win_state=
win_pid=
win_wine_sh=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine.sh

on_windows() {
  case "$(uname -s)" in
    MINGW* | MSYS* | CYGWIN*) return 0 ;;
  esac
  return 1
}

win_init() {
  win_state=$1
  mkdir -p "$win_state" || return 1
  if ! on_windows && [ ! -f "$win_state/prefix/system.reg" ]; then
    echo "win_run: no Wine prefix in $win_state (tests/win/wine.sh create-prefix makes it)" >&2
    return 1
  fi
}

# Arguments go to a Windows program as they are: Git Bash and MSYS2 would otherwise take
# "/c" or "/qn" for paths and rewrite them.
win_run() {
  [ -n "$win_state" ] || { echo "win_run: win_init was not called" >&2; return 2; }
  if on_windows; then
    MSYS_NO_PATHCONV=1 MSYS2_ARG_CONV_EXCL='*' "$@" </dev/null | tr -d '\r'
  else
    bash "$win_wine_sh" run "$win_state" "$@"
  fi
}

win_start() {
  [ -n "$win_state" ] || { echo "win_run: win_init was not called" >&2; return 2; }
  local out=$1
  shift
  if on_windows; then
    MSYS_NO_PATHCONV=1 MSYS2_ARG_CONV_EXCL='*' "$@" </dev/null >"$out" 2>&1 &
  else
    bash "$win_wine_sh" run-to "$win_state" "$out" "$@" </dev/null >/dev/null 2>&1 &
  fi
  win_pid=$!
}

win_path() {
  if on_windows; then
    cygpath -w "$1"
  else
    bash "$win_wine_sh" with "$win_state" winepath -w "$1" 2>/dev/null | tr -d '\r'
  fi
}

unix_path() {
  if on_windows; then
    cygpath -u "$1"
  else
    bash "$win_wine_sh" with "$win_state" winepath -u "$1" 2>/dev/null | tr -d '\r'
  fi
}
