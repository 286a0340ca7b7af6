#!/usr/bin/env bash
# Fetches the kernel of the USB-serial stage's guest: the image package that Debian's
# linux-image-amd64 depends on, downloaded with apt and unpacked (not installed) into
#   ${PAVO_USB_CACHE:-/var/tmp/pavo-usb}/kernel/root     boot/vmlinuz-*, its modules
# with the package's name and version in kernel/stamp. Nothing is done while the version
# apt offers is the one there. Called by scripts/setup (group usb).
set -uo pipefail
cache=${PAVO_USB_CACHE:-/var/tmp/pavo-usb}
fail() {
  echo "fetch-kernel: $*" >&2
  exit 1
}
arch=$(dpkg --print-architecture)
[ "$arch" = amd64 ] || fail "the guest is an x86-64 machine; no kernel for $arch"
mkdir -p "$cache" || fail "cannot make $cache"
exec {lock}>"$cache/lock"
flock "$lock" || fail "cannot lock $cache/lock"

image=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }')
[ -n "$image" ] || fail "apt knows no linux-image-amd64 (apt-get update first?)"
version=$(apt-cache policy "$image" | awk '$1 == "Candidate:" { print $2 }')
[ -n "$version" ] && [ "$version" != "(none)" ] || fail "apt offers no version of $image"
stamp="$image $version"
if [ "$(cat "$cache/kernel/stamp" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

echo "fetch-kernel: $stamp into $cache/kernel"
new=$(mktemp -d "$cache/kernel.new.XXXXXX") || fail "cannot make a folder in $cache"
# apt downloads as its own user where there is one; it must be able to write here.
[ "$(id -u)" -ne 0 ] || ! id _apt >/dev/null 2>&1 || chown _apt "$new"
(cd "$new" && apt-get download -q "$image=$version" >download.log 2>&1) ||
  fail "downloading $stamp failed: $(tail -n 5 "$new/download.log")"
deb=$(find "$new" -maxdepth 1 -name "${image}_*.deb" | head -n 1)
[ -n "$deb" ] || fail "apt-get download left no package in $new"
dpkg-deb -x "$deb" "$new/root" || fail "unpacking $deb failed"
ls "$new/root/boot/vmlinuz-"* >/dev/null 2>&1 || fail "$deb has no boot/vmlinuz-*"
rm -f "$deb" "$new/download.log"
echo "$stamp" >"$new/stamp"
rm -rf "$cache/kernel.old"
[ ! -d "$cache/kernel" ] || mv "$cache/kernel" "$cache/kernel.old"
mv "$new" "$cache/kernel" || fail "cannot put the kernel in $cache/kernel"
chmod 755 "$cache/kernel"
rm -rf "$cache/kernel.old"
