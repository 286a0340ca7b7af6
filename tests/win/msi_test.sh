#!/usr/bin/env bash
# The Windows installer under Wine, installed as an administrator pushes it: silently.
#   tests/win/msi_test.sh PAVO.msi OLDER.msi PROBE.exe
# PAVO.msi is the package under test, OLDER.msi the same with a lower version, PROBE.exe
# tests/win/probe.cpp. From the environment: WINEPREFIX, a booted 32-bit prefix that has
# never seen pavo, and DISPLAY, an X server on which the program's window is clicked.
#   1. OLDER.msi, then PAVO.msi, each with msiexec /i /qn: one entry under installed
#      programs afterwards, PAVO.msi's, with name, version, publisher and icon
#   2. the files under Program Files\pavo, those of the package; the Start menu entry:
#      its target, icon and working folder, read from the installed shortcut and checked
#      against the package's tables
#   3. the installed program started from the entry, running in that working folder,
#      and closed with its exit button: exit status 0
#   4. msiexec /x /qn: the program, its folder, the entry and the registration gone, an
#      RFID.txt in the working folder kept
set -euo pipefail

[ $# -eq 3 ] || { echo "usage: $0 PAVO.msi OLDER.msi PROBE.exe" >&2; exit 2; }
msi=$(realpath "$1")
older=$(realpath "$2")
probe_exe=$(realpath "$3")
: "${WINEPREFIX:?a booted Wine prefix}" "${DISPLAY:?an X server}"
export WINEDEBUG=${WINEDEBUG:--all}

logs=$(mktemp -d "${TMPDIR:-/tmp}/msi-test.XXXXXX")
source "$(dirname "$0")/pavo_process.sh"
trap kill_pavo EXIT
fail() {
  echo "msi_test: $*" >&2
  echo "msi_test: logs in $logs" >&2
  exit 1
}
expect() { # what, got, wanted
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}

# What the packages say of themselves.
table() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }
property() { table "$1" Property | awk -F '\t' -v name="$2" '$1 == name { print $2 }'; }
product=$(property "$msi" ProductCode)
version=$(property "$msi" ProductVersion)
older_product=$(property "$older" ProductCode)
older_version=$(property "$older" ProductVersion)
[ "$(property "$msi" UpgradeCode)" = "$(property "$older" UpgradeCode)" ] ||
  fail "the two packages have different upgrade codes"
[ "$product" != "$older_product" ] || fail "the two packages have the same product code"
[ "$(printf '%s\n' "$older_version" "$version" | sort -V | head -n 1)" = "$older_version" ] &&
  [ "$older_version" != "$version" ] || fail "$older_version is not lower than $version"
# The shortcut's row: folder, name, target, icon, working folder (a property's name).
IFS=$'\t' read -r link_folder link_name link_target link_icon workdir_property < <(
  table "$msi" Shortcut | cut -f 2,3,5,9,12)
# A folder of the package's own would be resolved while installing, for the installing
# account; the working folder must be a value that each user's Windows expands.
workdir_value=$(property "$msi" "$workdir_property")
[ -n "$workdir_value" ] ||
  fail "the shortcut's working folder $workdir_property is resolved while installing, not per user"
expect "the shortcut's folder" "$link_folder" ProgramMenuFolder
expect "the shortcut's target" "$link_target" "[#pavo.exe]"
mkdir -p "$logs/package"
msiextract -C "$logs/package" "$msi" >/dev/null
msiinfo extract "$msi" "Icon.$link_icon" >"$logs/package/$link_icon"

win() { wine "$@" 2>>"$logs/wine.log" | tr -d '\r'; }
unix_path() { winepath -u "$1" 2>>"$logs/wine.log"; }
# The installed programs named pavo: their keys under Uninstall (the product codes).
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
pavo_entries() {
  win reg query "$uninstall_key" /s | awk '
    /^HKEY_/ { key = $0; sub(/.*\\/, "", key) }
    $1 == "DisplayName" && $2 ~ /^REG_/ { name = $0; sub(/^ *DisplayName +REG_[A-Z_]+ +/, "", name)
                                          if (name == "pavo") print key }'
}
entry_value() { # key, value name
  win reg query "$uninstall_key\\$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
msiexec() { # log name, arguments...
  local name=$1 status=0
  shift
  timeout 300 wine msiexec "$@" >"$logs/$name.log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "msiexec $* ended with status $status"
}

echo "== msi: $(basename "$older") installed silently, then $(basename "$msi") over it"
msiexec install-older /i "$older" /qn
expect "entries after installing $older_version" "$(pavo_entries)" "$older_product"
expect "installed version" "$(entry_value "$older_product" DisplayVersion)" "$older_version"
msiexec install /i "$msi" /qn
expect "entries after the upgrade" "$(pavo_entries)" "$product"
expect "DisplayVersion" "$(entry_value "$product" DisplayVersion)" "$version"
expect "Publisher" "$(entry_value "$product" Publisher)" "the pavo developers"
# Installed programs show an installer's product icon from its registration, under the
# product code written as Windows Installer packs it: the first three groups reversed, then
# the two digits of each byte swapped.
hex=$(tr -d '{}-' <<<"$product")
packed=$(rev <<<"${hex:0:8}")$(rev <<<"${hex:8:4}")$(rev <<<"${hex:12:4}")$(
  sed 's/\(.\)\(.\)/\2\1/g' <<<"${hex:16}")
registration="HKLM\\Software\\Classes\\Installer\\Products\\$packed"
icon=$(win reg query "$registration" /v ProductIcon | sed -n 's/^ *ProductIcon *REG_SZ *//p') ||
  fail "$product is not registered as $registration"
[ -n "$icon" ] && cmp -s "$(unix_path "$icon")" "$logs/package/$link_icon" ||
  fail "the installed programs' icon '$icon' is not the package's"

echo "== msi: the files and the Start menu entry"
program_files=$(win cmd /c echo '%ProgramFiles%')
installdir="$program_files\\pavo"
for file in pavo.exe README.txt LICENSE.txt; do
  packed_file=$(find "$logs/package" -path '*/pavo/*' -name "$file" -type f)
  cmp -s "$(unix_path "$installdir\\$file")" "$packed_file" ||
    fail "$installdir\\$file is not the package's"
done
# A per-machine entry goes to the Start menu of all users; Wine puts it in the installing
# user's, so either counts, but only one.
links=()
for variable in ProgramData APPDATA; do
  link="$(win cmd /c echo "%$variable%")\\Microsoft\\Windows\\Start Menu\\Programs\\$link_name.lnk"
  [ -f "$(unix_path "$link")" ] && links+=("$link")
done
[ ${#links[@]} -eq 1 ] || fail "${#links[@]} Start menu entries named $link_name"
link=${links[0]}
echo "Start menu entry: $link"
# The shortcut as Windows reads it, through Debian's lnkinfo (liblnk-utils).
lnkinfo "$(unix_path "$link")" | tr -d '\r' >"$logs/lnkinfo.txt" || fail "lnkinfo cannot read $link"
# Newer lnkinfo versions (Debian 13's) write each backslash of a path doubled, older ones
# (Debian 12's) once; a field is compared as the path it names either way.
link_field() { sed -n "s/^\t$1[[:space:]]*: //p" "$logs/lnkinfo.txt" | sed 's/\\\\/\\/g'; }
expect "the entry's target" "$(link_field 'Local path')" "$installdir\\pavo.exe"
expect "the entry's working folder" "$(link_field 'Working directory')" "$workdir_value\\"
expect "the entry's icon" "$(link_field 'Icon location')" "$icon"

echo "== msi: the installed program started from the entry, in its working folder"
# Windows expands the working folder for whoever starts the entry.
workdir=$(win cmd /c echo "$workdir_value")
case "$workdir" in *%*) fail "the working folder $workdir_value does not expand" ;; esac
case "$workdir" in "$program_files"*) fail "the working folder $workdir is under Program Files" ;; esac
workdir_unix=$(unix_path "$workdir")
[ -d "$workdir_unix" ] && [ -w "$workdir_unix" ] || fail "the working folder $workdir is not writable"
probe() { wine "$probe_exe" "$@" 2>>"$logs/probe.log" | tr -d '\r'; }
# start /wait opens the shortcut as Explorer does.
wine start /wait /unix "$(unix_path "$link")" >"$logs/pavo.log" 2>&1 &
pavo_pid=$!
probe wait 30000 >/dev/null || fail "the program started from the entry showed no window"
# The program's process: this prefix's, started as the installed pavo.exe.
program=
for process in /proc/[0-9]*; do
  if tr '\0' '\n' 2>/dev/null <"$process/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
    [ "$(tr '\0' '\n' 2>/dev/null <"$process/cmdline" | head -n 1)" = "$installdir\\pavo.exe" ]; then
    program=$process
  fi
done
[ -n "$program" ] || fail "no process runs $installdir\\pavo.exe"
expect "the program's working folder" "$(readlink "$program/cwd")" "$(realpath "$workdir_unix")"
# The exit status from the program's own process: start /wait passes it on for a program
# but not for a shortcut under Wine 10 (it ends with 4 whatever the program's status).
# Its output straight to the file, which is read as it comes (through a pipe, "held"
# would wait in the pipe's reader until the probe ends).
wine "$probe_exe" exit 30000 >"$logs/exit.txt" 2>>"$logs/probe.log" &
exit_probe=$!
exit_probe_says() { tr -d '\r' <"$logs/exit.txt" | sed -n "$1p"; }
for _ in $(seq 300); do
  [ "$(exit_probe_says 1)" = held ] && break
  kill -0 "$exit_probe" 2>/dev/null || break
  sleep 0.1
done
[ "$(exit_probe_says 1)" = held ] || fail "the probe could not hold the program's process"
point=$(probe where Button4) || fail "no exit button"
xdotool mousemove $point click 1
wait "$exit_probe" || fail "the program still runs after its exit button"
wait_for_pavo_exit || fail "start /wait still runs after the program ended"
expect "the program's exit status" "$(exit_probe_says 2)" 0

echo "== msi: uninstalled silently, the readings kept"
readings="$workdir_unix/RFID.txt"
[ ! -e "$readings" ] || fail "$readings is there before the test"
printf 'E004015012345678     12/7/2026     10:00:00\r\n' >"$readings"
msiexec uninstall /x "$msi" /qn
expect "entries after the uninstall" "$(pavo_entries)" ""
[ ! -e "$(unix_path "$installdir")" ] || fail "$installdir is still there"
[ ! -e "$(unix_path "$link")" ] || fail "the Start menu entry is still there"
win reg query "$registration" >/dev/null 2>&1 && fail "the product is still registered"
[ "$(cat "$readings" 2>/dev/null)" = $'E004015012345678     12/7/2026     10:00:00\r' ] ||
  fail "the uninstall did not keep $readings"
rm -f "$readings"
rm -rf "$logs"
echo "msi_test: installed, upgraded from $older_version, started, closed and uninstalled silently"
