#!/usr/bin/env bash
# pavo.exe started from a folder that also holds DLLs named like ones it uses that are not
# among the DLLs Windows always takes from its system folder (winmm, uxtheme, oleacc,
# comctl32), as a Downloads folder might: none of them may be loaded, and the program must
# still work. Each is tests/win/planted_dll.cpp, which leaves a mark beside itself when
# loaded. That the plant is taken at all where a DLL is loaded by its bare name is shown
# first, with the probe in the same folder. The same lines run under Wine and on Windows
# itself (win_run.sh); Wine is made to search as Windows does (the program's own folder
# first) by a native-first override for each name.
# Beside the plant pavo.exe must show its window, give a screen reader the tag box's name
# (oleacc), open a port when Start is clicked (winmm), draw Start on the visual style's face
# (uxtheme) and end through its exit button; under Wine, its load trace must show each of
# these DLLs taken from the Windows folder.
# Wine 10's user32 looks up the visual styles' DLL by its bare name while it starts, before
# any code of the program runs, and so takes the plant where native DLLs come first. What
# Wine takes on its own is shown by a program that only starts and ends (BARE_EXE) in the
# same folder: pavo.exe may take those plants as often as it does, and nothing more. On
# Windows there is no load trace: no mark at all is allowed there.
#   tests/win/planted_dll_test.sh STATE PAVO_EXE PLANTED_DLL PROBE_EXE BARE_EXE
# STATE: under Wine tests/win/wine.sh's folder (prefix, X server), on Windows a scratch
# folder.
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 STATE PAVO_EXE PLANTED_DLL PROBE_EXE BARE_EXE" >&2
  exit 2
fi
state=$1
pavo=$2
planted=$3
probe_exe=$4
bare_exe=$5
names=(winmm uxtheme oleacc comctl32)
source "$(dirname "$0")/win_run.sh"
source "$(dirname "$0")/pavo_process.sh"
win_init "$state"

dir=$(mktemp -d "${TMPDIR:-/tmp}/pavo-planted.XXXXXX")
cleanup() {
  [ -z "$pavo_pid" ] || probe close >/dev/null 2>&1 || true
  kill_pavo
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "planted_dll_test: $*" >&2
  exit 1
}
cp "$pavo" "$dir/pavo.exe"
cp "$probe_exe" "$dir/probe.exe"
cp "$bare_exe" "$dir/bare.exe"
for name in "${names[@]}"; do
  cp "$planted" "$dir/$name.dll"
done
native_first=$(IFS=,; echo "${names[*]}")
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}$native_first=n,b"
# The probe that reads the window is the one from the build folder, run outside the folder
# of the plants: the copy there is the control's.
probe() { win_run "$probe_exe" "$@" 2>/dev/null; }
marks() { find "$dir" -maxdepth 1 -iname "${1:-*}.loaded" -printf '%f '; }
# How often a process took the plant NAME, by Wine's load trace LOG (none on Windows).
planted_loads() { grep -ci "Loaded L\".*\\\\$1\.dll\" at [0-9A-F]*: native" "$2" || true; }
# The most frequent colour in a rectangle of the screen.
colour() { probe colours "$@" | awk 'NR == 1 { print $2 }'; }

# The control: loaded by its bare name from this folder, each planted DLL leaves its mark.
(cd "$dir" && win_run ./probe.exe load "${names[@]/%/.dll}") >/dev/null 2>&1 || true
for name in "${names[@]}"; do
  [ -n "$(marks "$name.dll")" ] ||
    fail "the planted $name.dll was not loaded by its name: this check would prove nothing"
done
rm -f "$dir"/*.loaded
(cd "$dir" && WINEDEBUG=+loaddll win_run ./bare.exe) >"$dir/bare.log" 2>&1 ||
  fail "a program that only starts did not start beside the plants"
rm -f "$dir"/*.loaded

cd "$dir"
WINEDEBUG=+loaddll win_start "$dir/pavo.log" ./pavo.exe
pavo_pid=$win_pid
cd "$OLDPWD"
probe wait 30000 >/dev/null || fail "the window did not come up"
[ "$(probe name Edit1)" = Tag ] || fail "no accessible name for the tag box"
probe click Button2 || fail "could not click Start"
# The port is opened whether or not it exists: the box then changes from its stored text.
probe until Edit1 not Edit1 30000 >/dev/null || fail "Start did nothing"
probe until Button2 is Start 30000 >/dev/null || fail "Start did not come back"
# The classic drawing fills the face with the window's own colour; the visual style's differs.
read -r cx cy _ < <(probe wait 0)
read -r bx by < <(probe where Button2)
face=$(colour $((bx - 10)) $((by + 8)) 20 2)
window=$(colour $((cx + 4)) $((cy + 250)) 1 1)
if [ -z "$face" ] || [ "$face" = "$window" ]; then
  fail "Start is drawn without the visual style (face $face, window $window)"
fi
probe click Button4 || fail "could not click exit"
wait_for_pavo_exit || fail "pavo.exe still runs after exit was clicked"
[ "$pavo_status" -eq 0 ] || fail "pavo.exe ended with status $pavo_status"

wines_own=()
for name in "${names[@]}"; do
  own=$(planted_loads "$name" "$dir/bare.log")
  taken=$(planted_loads "$name" "$dir/pavo.log")
  if [ "$own" -eq 0 ]; then
    [ -z "$(marks "$name.dll")" ] || fail "pavo.exe loaded the $name.dll planted beside it"
  else
    wines_own+=("$name.dll")
  fi
  [ "$taken" -le "$own" ] ||
    fail "pavo.exe took the planted $name.dll $taken times, Wine on its own $own times"
done
[ ${#wines_own[@]} -eq 0 ] ||
  echo "planted_dll_test: Wine itself takes the planted ${wines_own[*]} as any program starts"
if ! on_windows; then
  for name in "${names[@]}"; do
    grep -qi "Loaded L\"C:\\\\\\\\windows\\\\\\\\.*\\\\\\\\$name\\.dll\"" "$dir/pavo.log" ||
      fail "pavo.exe did not load $name.dll from the Windows folder"
  done
fi
echo "planted_dll_test: pavo.exe beside planted ${names[*]}: the program took none, and works"
