#!/usr/bin/env bash
# The Windows installer installed as an administrator pushes it: silently. The same lines
# run under Wine and on Windows itself (win_run.sh).
#   tests/win/msi_test.sh STATE PAVO.msi OLDER.msi PROBE.exe
# STATE: under Wine tests/win/wine.sh's folder, whose prefix has never seen pavo; on Windows
# a scratch folder, on a machine without pavo (the tests run as an administrator). PAVO.msi
# is the package under test, OLDER.msi the same with a lower version, PROBE.exe
# tests/win/probe.cpp. msiinfo and msiextract (msitools) read the packages.
#   1. OLDER.msi, then PAVO.msi, each with msiexec /i /qn: one entry under installed
#      programs afterwards, PAVO.msi's, with name, version, publisher and icon
#   2. the files under Program Files\pavo, those of the package; the Start menu entry:
#      its target, icon and working folder, read through the shell's own shortcut object
#      and checked against the package's tables
#   3. the installed program started from the entry, running in that working folder,
#      and closed with its exit button: exit status 0
#   4. msiexec /x /qn: the program, its folder, the entry and the registration gone, an
#      RFID.txt in the working folder kept
set -euo pipefail

[ $# -eq 4 ] || { echo "usage: $0 STATE PAVO.msi OLDER.msi PROBE.exe" >&2; exit 2; }
state=$1
msi=$(realpath "$2")
older=$(realpath "$3")
probe_exe=$(realpath "$4")
source "$(dirname "$0")/win_run.sh"
win_init "$state"

logs=$(mktemp -d "${TMPDIR:-/tmp}/msi-test.XXXXXX")
source "$(dirname "$0")/pavo_process.sh"
probe() { win_run "$probe_exe" "$@" 2>>"$logs/probe.log"; }
cleanup() {
  # The program by its window first: on Windows ending the shell's process alone would
  # leave it running.
  [ -z "$pavo_pid" ] || probe close >/dev/null 2>&1 || true
  kill_pavo
}
trap cleanup EXIT
fail() {
  echo "msi_test: $*" >&2
  echo "msi_test: logs in $logs" >&2
  exit 1
}
expect() { # what, got, wanted
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}
# Windows compares paths without regard to case, and a folder with or without its last
# backslash.
same_path() {
  local a=${1%\\} b=${2%\\}
  [ "${a,,}" = "${b,,}" ]
}

# What the packages say of themselves.
. "$(dirname "$0")/../lib/msi-tables.sh"
product=$(msi_property "$msi" ProductCode)
version=$(msi_property "$msi" ProductVersion)
older_product=$(msi_property "$older" ProductCode)
older_version=$(msi_property "$older" ProductVersion)
[ "$(msi_property "$msi" UpgradeCode)" = "$(msi_property "$older" UpgradeCode)" ] ||
  fail "the two packages have different upgrade codes"
[ "$product" != "$older_product" ] || fail "the two packages have the same product code"
[ "$(printf '%s\n' "$older_version" "$version" | sort -V | head -n 1)" = "$older_version" ] &&
  [ "$older_version" != "$version" ] || fail "$older_version is not lower than $version"
# The shortcut's row: folder, name, target, icon, working folder (a property's name).
IFS=$'\t' read -r link_folder link_name link_target link_icon workdir_property < <(
  msi_table "$msi" Shortcut | cut -f 2,3,5,9,12)
# A folder of the package's own would be resolved while installing, for the installing
# account; the working folder must be a value that each user's Windows expands.
workdir_value=$(msi_property "$msi" "$workdir_property")
[ -n "$workdir_value" ] ||
  fail "the shortcut's working folder $workdir_property is resolved while installing, not per user"
expect "the shortcut's folder" "$link_folder" ProgramMenuFolder
expect "the shortcut's target" "$link_target" "[#pavo.exe]"
mkdir -p "$logs/package"
msiextract -C "$logs/package" "$msi" >/dev/null
msiinfo extract "$msi" "Icon.$link_icon" >"$logs/package/$link_icon"

win() { win_run "$@" 2>>"$logs/windows.log"; }
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
  local name=$1 status=0 i
  shift
  win_start "$logs/$name.log" msiexec "$@"
  for ((i = 0; i < 3000; i++)); do
    kill -0 "$win_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$win_pid" 2>/dev/null; then
    kill "$win_pid"
    fail "msiexec $* still runs after 300 s"
  fi
  wait "$win_pid" || status=$?
  [ "$status" -eq 0 ] || fail "msiexec $* ended with status $status"
}

echo "== msi: $(basename "$older") installed silently, then $(basename "$msi") over it"
msiexec install-older /i "$(win_path "$older")" /qn
expect "entries after installing $older_version" "$(pavo_entries)" "$older_product"
expect "installed version" "$(entry_value "$older_product" DisplayVersion)" "$older_version"
msiexec install /i "$(win_path "$msi")" /qn
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
# The shortcut as the shell reads it: target, working folder (as stored, for each user's
# Windows to expand), icon.
probe link "$link" >"$logs/link.txt" || fail "the shell cannot read $link"
link_field() { sed -n "$1p" "$logs/link.txt"; }
same_path "$(link_field 1)" "$installdir\\pavo.exe" ||
  fail "the entry's target: got '$(link_field 1)', expected '$installdir\\pavo.exe'"
same_path "$(link_field 2)" "$workdir_value" ||
  fail "the entry's working folder: got '$(link_field 2)', expected '$workdir_value'"
same_path "$(link_field 3)" "$icon" ||
  fail "the entry's icon: got '$(link_field 3)', expected '$icon'"

echo "== msi: the installed program started from the entry, in its working folder"
# Windows expands the working folder for whoever starts the entry.
workdir=$(win cmd /c echo "$workdir_value")
case "$workdir" in *%*) fail "the working folder $workdir_value does not expand" ;; esac
case "$workdir" in "$program_files"*) fail "the working folder $workdir is under Program Files" ;; esac
workdir_unix=$(unix_path "$workdir")
[ -d "$workdir_unix" ] && [ -w "$workdir_unix" ] || fail "the working folder $workdir is not writable"
# start /wait opens the shortcut as Explorer does.
win_start "$logs/pavo.log" cmd /c start "" /wait "$link"
pavo_pid=$win_pid
probe wait 30000 >/dev/null || fail "the program started from the entry showed no window"
# The program's process: the installed pavo.exe, in the working folder.
probe process >"$logs/process.txt" || fail "the probe cannot read the program's process"
same_path "$(sed -n 1p "$logs/process.txt")" "$installdir\\pavo.exe" ||
  fail "the window's process runs $(sed -n 1p "$logs/process.txt"), not $installdir\\pavo.exe"
same_path "$(sed -n 2p "$logs/process.txt")" "$workdir" ||
  fail "the program runs in $(sed -n 2p "$logs/process.txt"), not in $workdir"
# The exit status from the program's own process, held by the probe before it clicks the
# exit button: start /wait passes it on for a program but not for a shortcut under Wine 10
# (it ends with 4 whatever the program's status).
status=$(probe exit 30000) || fail "the program still runs after its exit button"
wait_for_pavo_exit || fail "start /wait still runs after the program ended"
expect "the program's exit status" "$status" 0

echo "== msi: uninstalled silently, the readings kept"
readings="$workdir_unix/RFID.txt"
[ ! -e "$readings" ] || fail "$readings is there before the test"
printf 'E004015012345678     12/7/2026     10:00:00\r\n' >"$readings"
msiexec uninstall /x "$(win_path "$msi")" /qn
expect "entries after the uninstall" "$(pavo_entries)" ""
[ ! -e "$(unix_path "$installdir")" ] || fail "$installdir is still there"
[ ! -e "$(unix_path "$link")" ] || fail "the Start menu entry is still there"
win reg query "$registration" >/dev/null 2>&1 && fail "the product is still registered"
[ "$(cat "$readings" 2>/dev/null)" = $'E004015012345678     12/7/2026     10:00:00\r' ] ||
  fail "the uninstall did not keep $readings"
rm -f "$readings"
rm -rf "$logs"
echo "msi_test: installed, upgraded from $older_version, started, closed and uninstalled silently"
