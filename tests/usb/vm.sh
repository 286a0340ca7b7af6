# shellcheck shell=bash
# The guest that gives the USB-serial tests a real kernel driver: Debian's own kernel under
# QEMU, with an emulated FTDI adapter (usb-serial) on an emulated xHCI controller, bound by
# the guest's ftdi_sio as /dev/ttyUSB0. The adapter's other end is a pseudo-terminal on
# this machine, where reader-sim plays the reader. The guest sees this machine's root
# read-only and the work folder WORK writable at the same path; it takes jobs from
# WORK/jobs (guest-agent.sh). Sourced by the test scripts, never run:
#   usb_boot WORK            boots the guest (the kernel from scripts/setup usb), waits for
#                            its agent and its ttyUSB0
#   usb_halt WORK            ends it
#   usb_job [--limit S] SCRIPT   runs SCRIPT (bash) in the guest; its output, its status
#   usb_qmp JSON [EVENT]     a QMP command to QEMU, waiting for EVENT when given
#   usb_pull / usb_plug      takes the adapter off the bus / puts a new one on it
# Every wait is for an event, with limits only a fault reaches; QEMU without KVM (TCG) on
# a busy 2-core machine boots in tens of seconds.

usb_dir=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
usb_kernel_dir=${PAVO_USB_KERNEL:-${PAVO_USB_CACHE:-/var/tmp/pavo-usb}/kernel}
# The adapter's serial number, its own as an FTDI chip's is: udev names its by-id link
# after it, whichever socket it is plugged into (QEMU's default names the socket).
usb_serial=PAVO0001
# The drivers the guest loads; their dependencies come along.
usb_modules=(virtio_pci 9pnet_virtio 9p xhci_pci ftdi_sio)

usb_fail() {
  echo "usb: $*" >&2
  return 1
}

# Waits up to $1 tenths of a second for the command after it to succeed, by the clock.
usb_within() {
  local end=$((SECONDS + ($1 + 9) / 10))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

usb_set_work() { # work folder
  usb_work=$(realpath "$1")
  usb_jobs=$usb_work/jobs
}

# The unpacked kernel package: boot/vmlinuz-VERSION and its modules tree.
_usb_find_kernel() {
  local k
  k=$(find "$usb_kernel_dir/root/boot" -maxdepth 1 -name 'vmlinuz-*' 2>/dev/null | sort | tail -n 1)
  [ -n "$k" ] || usb_fail "no kernel in $usb_kernel_dir (scripts/setup usb fetches Debian's)" ||
    return 1
  usb_kernel=$k
  usb_kernel_version=${k##*/vmlinuz-}
  usb_kernel_modules=''
  for d in "$usb_kernel_dir/root/lib/modules/$usb_kernel_version" \
    "$usb_kernel_dir/root/usr/lib/modules/$usb_kernel_version"; do
    [ -d "$d/kernel" ] && usb_kernel_modules=$d && break
  done
  [ -n "$usb_kernel_modules" ] || usb_fail "no modules for $usb_kernel_version in $usb_kernel_dir"
}

# A module file decompressed to stdout.
_usb_module_bytes() { # file
  case $1 in
    *.ko) cat "$1" ;;
    *.ko.xz) xz -dc "$1" ;;
    *.ko.zst) zstd -qdc "$1" ;;
    *.ko.gz) gzip -dc "$1" ;;
    *) return 1 ;;
  esac
}

# Puts a module and what it depends on into DIR, each before what needs it, and appends
# their names to DIR/order.
_usb_add_module() { # dir name
  local dir=$1 name=${2//-/_} file dep deps
  grep -qx "$name" "$dir/order" 2>/dev/null && return 0
  # Built into the kernel (Debian 13's has virtio_pci so): nothing to load.
  if sed 's|.*/||; s|\.ko.*||; s|-|_|g' "$usb_kernel_modules/modules.builtin" 2>/dev/null |
    grep -qx "$name"; then
    return 0
  fi
  file=$(find "$usb_kernel_modules/kernel" -regextype posix-extended \
    -regex ".*/${name//_/[-_]}\.ko(\.xz|\.zst|\.gz)?" | head -n 1)
  [ -n "$file" ] || usb_fail "the kernel has no module $name" || return 1
  _usb_module_bytes "$file" >"$dir/$name.ko.new" || usb_fail "cannot decompress $file" || return 1
  deps=$(strings -a "$dir/$name.ko.new" | sed -n 's/^depends=//p' | head -n 1)
  for dep in ${deps//,/ }; do
    _usb_add_module "$dir" "$dep" || return 1
  done
  mv "$dir/$name.ko.new" "$dir/$name.ko"
  echo "$name" >>"$dir/order"
}

# The initramfs: a static busybox, guest-init as /init, the modules.
_usb_initramfs() { # output file
  local out=$1 root busybox
  busybox=$(command -v busybox) || usb_fail "busybox is not installed (scripts/setup usb)" || return 1
  # The guest has no C library before it mounts this machine's root.
  if ldd "$busybox" >/dev/null 2>&1; then
    usb_fail "$busybox is linked dynamically: the guest needs busybox-static (scripts/setup usb)"
    return 1
  fi
  root=$(mktemp -d "$usb_work/initramfs.XXXXXX")
  mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev" "$root/modules"
  cp "$busybox" "$root/bin/busybox"
  cp "$usb_dir/guest-init" "$root/init"
  chmod 755 "$root/init" "$root/bin/busybox"
  : >"$root/modules/order"
  for m in "${usb_modules[@]}"; do
    _usb_add_module "$root/modules" "$m" || return 1
  done
  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | gzip -1 >"$out" ||
    usb_fail "packing the initramfs failed" || return 1
  rm -rf "$root"
}

# Starts QEMU in the background (its own session, so that the test that boots it may end),
# with KVM or without.
_usb_start_qemu() { # accel (kvm or tcg)
  local accel=$1
  rm -f "$usb_work/qmp.sock" "$usb_work/qemu.pid" "$usb_work/console.log"
  setsid qemu-system-x86_64 \
    -machine q35,accel="$accel" -cpu max -smp 2 -m 1536 \
    -nodefaults -no-user-config -display none -no-reboot \
    -kernel "$usb_kernel" -initrd "$usb_work/initrd.gz" \
    -append "console=ttyS0 panic=-1 loglevel=6 pavo.work=$usb_work pavo.keep=$usb_keep pavo.agent=$usb_dir/guest-agent.sh" \
    -chardev file,id=console,path="$usb_work/console.log" -serial chardev:console \
    -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev local,id=work,path="$usb_work",security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=work,mount_tag=work \
    -device qemu-xhci,id=xhci \
    -chardev pty,id=line \
    -device usb-serial,id=adapter,chardev=line,bus=xhci.0,always-plugged=on,serial="$usb_serial" \
    -qmp unix:"$usb_work/qmp.sock",server=on,wait=off \
    -pidfile "$usb_work/qemu.pid" \
    </dev/null >"$usb_work/qemu.log" 2>&1 &
  echo $! >"$usb_work/qemu.session"
}

_usb_qemu_running() {
  [ -s "$usb_work/qemu.session" ] && kill -0 "$(cat "$usb_work/qemu.session")" 2>/dev/null
}

_usb_stop_qemu() {
  local pid
  [ -s "$usb_work/qemu.session" ] || return 0
  pid=$(cat "$usb_work/qemu.session")
  kill "$pid" 2>/dev/null
  usb_within 300 eval "! kill -0 $pid 2>/dev/null" || kill -KILL "$pid" 2>/dev/null
  rm -f "$usb_work/qemu.session"
}

# KVM where it is there and works: a guest under it prints its first line at once. A KVM
# that hangs the guest (as nested virtualisation can) is given up for TCG.
_usb_boot_with() { # accel
  _usb_start_qemu "$1"
  if [ "$1" = kvm ]; then
    usb_within 150 grep -q 'Linux version' "$usb_work/console.log" 2>/dev/null && return 0
    echo "usb: KVM gave no kernel message in 15 s; falling back to TCG"
    _usb_stop_qemu
    return 1
  fi
}

usb_boot() { # work folder
  local started=$SECONDS accel=tcg
  usb_set_work "$1"
  mkdir -p "$usb_work"
  # The guest has a /tmp of its own; a checkout or a build there is carried over into it
  # (pavo.keep: the tree, and the build above the work folder).
  usb_keep=$(realpath "$usb_dir/../..")
  local build
  build=$(realpath "$usb_work/../..")
  [ "$build" = "$usb_keep" ] || usb_keep+=",$build"
  case $usb_work/ in
    /run/*) usb_fail "$usb_work is under /run, which the guest has of its own; use a folder elsewhere" || return 1 ;;
  esac
  _usb_stop_qemu
  rm -rf "$usb_jobs"
  mkdir -p "$usb_jobs"
  for tool in qemu-system-x86_64 socat cpio strings; do
    command -v "$tool" >/dev/null || usb_fail "$tool is not installed (scripts/setup usb)" || return 1
  done
  _usb_find_kernel || return 1
  _usb_initramfs "$usb_work/initrd.gz" || return 1
  if [ -r /dev/kvm ] && [ -w /dev/kvm ] && _usb_boot_with kvm; then
    accel=kvm
  else
    _usb_boot_with tcg
  fi
  echo "$accel" >"$usb_work/accel"
  echo "usb: kernel $usb_kernel_version, QEMU with $accel, $(cat "$usb_work/initrd.gz" | wc -c) bytes of initramfs"
  usb_within 6000 test -e "$usb_jobs/agent.ready" || {
    _usb_qemu_running || echo "usb: QEMU ended: $(cat "$usb_work/qemu.log")"
    echo "--- guest console"
    tail -n 40 "$usb_work/console.log"
    usb_fail "the guest's agent did not start within 10 minutes"
    return 1
  }
  echo "usb: guest agent up after $((SECONDS - started)) s ($(cat "$usb_jobs/agent.ready"))"
  usb_line=$(usb_line_path) || return 1
  echo "usb: the adapter's other end is $usb_line"
}

usb_halt() { # work folder
  usb_set_work "$1"
  _usb_qemu_running || return 0
  usb_qmp '{"execute":"quit"}' >/dev/null 2>&1 || true
  local pid
  pid=$(cat "$usb_work/qemu.session")
  usb_within 300 eval "! kill -0 $pid 2>/dev/null" || _usb_stop_qemu
  rm -f "$usb_work/qemu.session"
}

# Runs a bash script in the guest (in WORK) and prints its output; its exit status is the
# script's, 124 when it has not ended within the limit (default 600 s).
usb_job() {
  local limit=600 name status
  if [ "$1" = --limit ]; then
    limit=$2
    shift 2
  fi
  name=$usb_jobs/$(date +%s%N).$$
  printf '%s\n' "$1" >"$name.sh.new"
  mv "$name.sh.new" "$name.sh"
  if ! usb_within $((limit * 10)) test -e "$name.rc"; then
    cat "$name.out" 2>/dev/null
    echo "usb: the guest job did not end within $limit s: $1" >&2
    return 124
  fi
  cat "$name.out"
  status=$(cat "$name.rc")
  return "$status"
}

# One QMP command on a connection of its own; prints the answer and, when EVENT is given,
# waits (up to 60 s) for that event and prints it too. Fails on an error answer.
usb_qmp() { # json [event]
  local command=$1 event=${2:-} line got answered=0 seen=0 status=1
  [ -n "$event" ] || seen=1
  coproc QMP { socat -t 5 - UNIX-CONNECT:"$usb_work/qmp.sock" 2>&1; }
  local in=${QMP[0]} out=${QMP[1]}
  printf '%s\n' '{"execute":"qmp_capabilities"}' >&"$out"
  printf '%s\n' "$command" >&"$out"
  local deadline=$((SECONDS + 60))
  while [ $SECONDS -lt $deadline ] && { [ $answered -lt 2 ] || [ $seen -eq 0 ]; }; do
    got=0
    IFS= read -r -t 5 -u "$in" line || got=$?
    # Over 128: the 5 s passed without a line; otherwise the connection has ended.
    [ "$got" -eq 0 ] || { [ "$got" -gt 128 ] && continue; } || break
    line=${line%$'\r'}
    case $line in
      *'"QMP"'*) ;;
      *'"error"'*) echo "$line" && break ;;
      *'"return"'*)
        answered=$((answered + 1))
        [ "$line" = '{"return": {}}' ] || echo "$line"
        ;;
      *'"event"'*) case $line in *"\"$event\""*) echo "$line" && seen=1 ;; esac ;;
    esac
  done
  # Two answers: the capabilities' and the command's.
  [ $answered -ge 2 ] && [ $seen -eq 1 ] && status=0
  exec {out}>&-
  kill "$QMP_PID" 2>/dev/null
  wait "$QMP_PID" 2>/dev/null
  return "$status"
}

# The pseudo-terminal at the adapter's far end, as QEMU tells it.
usb_line_path() {
  local answer
  answer=$(usb_qmp '{"execute":"query-chardev"}') || usb_fail "query-chardev failed: $answer" ||
    return 1
  printf '%s\n' "$answer" | grep -o '"filename": "pty:[^"]*", "label": "line"' |
    sed 's/.*pty:\([^"]*\)".*/\1/'
}

usb_pull() {
  usb_qmp '{"execute":"device_del","arguments":{"id":"adapter"}}' DEVICE_DELETED >/dev/null ||
    usb_fail "device_del of the adapter got no DEVICE_DELETED"
}

usb_plug() {
  usb_qmp '{"execute":"device_add","arguments":{"driver":"usb-serial","id":"adapter","chardev":"line","bus":"xhci.0","always-plugged":true,"serial":"'"$usb_serial"'"}}' >/dev/null ||
    usb_fail "device_add of the adapter failed"
}
