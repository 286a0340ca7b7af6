#!/usr/bin/env bash
# pavo.exe's resources read back with icoutils, as Explorer and Windows read them: the
# manifest, the icon and the version information; and the DLLs it imports.
#   resources_test.sh PAVO_EXE SOURCE_DIR VERSION
set -uo pipefail
exe=$1 source=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: pavo.exe's $*"
  exit 1
}

# Only DLLs that Windows always takes from its system folder (KnownDLLs on Windows 7 to 11):
# any other would be looked for beside pavo.exe first. The rest is loaded at run time from
# the system folder (planted_dll_test.sh).
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort)
for dll in $dlls; do
  case "$dll" in
    ADVAPI32.DLL | COMDLG32.DLL | GDI32.DLL | IMM32.DLL | KERNEL32.DLL | MSVCRT.DLL | OLE32.DLL | \
      OLEAUT32.DLL | RPCRT4.DLL | SHELL32.DLL | SHLWAPI.DLL | USER32.DLL | WS2_32.DLL) ;;
    *) fail "imports $dll, which is no KnownDLL" ;;
  esac
done

# The manifest (type 24, id 1: the process's own), its blanks made single.
manifest=$(wrestool -x --raw --type=24 --name=1 "$exe" | tr -s ' \t\r\n' ' ')
for entry in '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' \
  'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
  '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' \
  '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>' \
  '<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>' \
  '<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>' \
  '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>'; do
  grep -qF "$entry" <<<"$manifest" || fail "manifest lacks $entry"
done

# The first icon group is app/icon/pavo.ico, every size and picture of it.
wrestool -x --type=14 "$exe" >"$work/pavo.ico"
mkdir -p "$work/exe" "$work/source"
icotool -x -o "$work/exe" "$work/pavo.ico"
icotool -x -o "$work/source" "$source/app/icon/pavo.ico"
[ -n "$(ls "$work/source")" ] && diff -r "$work/exe" "$work/source" >/dev/null ||
  fail "icon is not app/icon/pavo.ico"

# The version information: the texts (UTF-16, each name followed by its value) and the
# numeric file and product versions, all the project's version.
wrestool -x --raw --type=16 "$exe" >"$work/version.bin"
version_text() { strings -el -n 1 "$work/version.bin" | grep -x -A1 "$1" | sed -n 2p; }
for pair in "ProductName=pavo" "FileVersion=$version" "ProductVersion=$version" \
  "OriginalFilename=pavo.exe" "InternalName=pavo" \
  "LegalCopyright=Copyright (c) the pavo developers"; do
  [ "$(version_text "${pair%%=*}")" = "${pair#*=}" ] ||
    fail "${pair%%=*} is '$(version_text "${pair%%=*}")', expected '${pair#*=}'"
done
[ -n "$(version_text FileDescription)" ] || fail "version information has no FileDescription"
IFS=. read -r major minor patch tweak _ <<<"$version.0.0.0"
fixed=$(od -An -tx4 -v -w4 "$work/version.bin" | tr -d ' ' | grep -x -A5 feef04bd)
[ "$(sed -n '3p;4p;5p;6p' <<<"$fixed" | tr '\n' ' ')" = "$(printf '%04x%04x %04x%04x ' \
  "$major" "$minor" "${patch:-0}" "${tweak:-0}" "$major" "$minor" "${patch:-0}" "${tweak:-0}")" ] ||
  fail "numeric version is not $version"
echo "pavo.exe: $(stat -c %s "$exe") bytes; imports $(echo $dlls); manifest, icon and version $version"
