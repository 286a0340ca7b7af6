#!/usr/bin/env bash
# pavo.exe's start-up under Wine against its floor, a bare themed window with the same
# manifest (bench/win32/bare_window.cpp), and against that window with the main form's
# controls (bare_form.exe, beside it): all started in turn RUNS times (default 40) by
# wine_startup.exe, which times each from its CreateProcess call to the main window being
# visible, in one fresh 32-bit prefix with one wineserver kept running, on an Xvfb server of
# its own, set up as the Windows tests set theirs up (tests/win/wine.sh). Prints the
# benchmarks' rows; timing is never judged here.
#   bench/wine_startup.sh PAVO_EXE BARE_WINDOW_EXE WINE_STARTUP_EXE STATE_DIR [RUNS]
set -uo pipefail
if [ $# -lt 4 ] || [ $# -gt 5 ]; then
  echo "usage: $0 PAVO_EXE BARE_WINDOW_EXE WINE_STARTUP_EXE STATE_DIR [RUNS]" >&2
  exit 2
fi
pavo=$1
bare=$2
driver=$3
state=$4
runs=${5:-40}
wine_sh=$(cd "$(dirname "$0")/../tests/win" && pwd)/wine.sh

fail() {
  echo "wine_startup.sh: $*" >&2
  exit 1
}
form=$(dirname "$bare")/bare_form.exe
for file in "$pavo" "$bare" "$form" "$driver" "$wine_sh"; do
  [ -f "$file" ] || fail "$file is missing"
done
mkdir -p "$state" || fail "cannot make $state"
# Wine wants absolute paths.
state=$(cd "$state" && pwd)
pavo=$(realpath "$pavo")
bare=$(realpath "$bare")
form=$(realpath "$form")
driver=$(realpath "$driver")
for tool in wine wineserver winepath Xvfb; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done

cleanup() {
  bash "$wine_sh" stop-prefix "$state"
  bash "$wine_sh" stop-display "$state"
}
trap cleanup EXIT
bash "$wine_sh" start-display "$state" || fail "no X server for Wine"
bash "$wine_sh" create-prefix "$state" || fail "no Wine prefix in $state/prefix"

# The programs by their Windows paths, each started from its own folder.
windows_path() { bash "$wine_sh" with "$state" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
out=$state/wine_startup.out
bash "$wine_sh" with "$state" wine "$driver" "$runs" "$(windows_path "$pavo")" TForm1 \
  "$(windows_path "$bare")" PavoBareWindow "$(windows_path "$form")" PavoBareForm \
  >"$out" 2>"$state/wine_startup.err"
status=$?
tr -d '\r' <"$out"
grep -v '^[0-9a-f]*:\(fixme\|err\|warn\):' "$state/wine_startup.err" | tr -d '\r' >&2
[ "$status" -eq 0 ] || fail "wine_startup.exe ended with status $status"
[ -s "$out" ] || fail "wine_startup.exe printed no figures"
