# shellcheck shell=bash
# Debian release roots, for the stages that try the program on a Debian release as a
# newcomer's machine has it (scripts/test-debian13, scripts/test-package-install).
# Sourced by them, never run. Needs root, debootstrap and util-linux (unshare, setpriv,
# flock).
#
# A base root per suite (bookworm, trixie) is kept between runs in $PAVO_RELEASE_ROOTS
# (default /var/tmp/pavo-roots):
#   SUITE/            the base root: debootstrap's minbase from this machine's Debian
#                     archive, SUITE-updates and SUITE-security in its apt sources, their
#                     updates installed
#   SUITE.stamp       written once SUITE/ is complete; a week later the root is made anew
#   SUITE.new/        a root being made, renamed to SUITE/ only when complete
#   SUITE.lock        held shared while a copy of SUITE/ runs, exclusively while it is made
#   archives/SUITE/   the packages apt and debootstrap downloaded, kept for the next run
#   runs/NAME/        the upper layer of a running copy, removed when the copy has ended
# A command runs in a fresh copy (an overlay on the base root) inside a mount and PID
# namespace of its own, which dies with the stage: no mount and no process outlives it,
# whether the stage ends, fails, is interrupted or is killed.

rr_cache=${PAVO_RELEASE_ROOTS:-/var/tmp/pavo-roots}
rr_lib=$(realpath "${BASH_SOURCE[0]}")
rr_built=0 # set by release_root_ensure: 1 when it made the root
_rr_child='' _rr_hold='' _rr_base='' _rr_reaper='' _rr_err=''

# Inside a release root the stages do not start again; they run on the host.
release_root_nested_check() { # stage name
  if [ -n "${PAVO_IN_RELEASE_ROOT:-}" ]; then
    echo "scripts/$1: runs on the host, not inside a release root (here: $PAVO_IN_RELEASE_ROOT)"
    exit 0
  fi
}

# The Debian archive and its security archive as this machine's apt sources name them
# (deb822 .sources stanzas, one-line "deb URI SUITE ..." entries): the archive whose
# suites are Debian releases, and the one with their -security suites. Sets rr_mirror
# and rr_security (empty when the machine has none). PAVO_DEBIAN_MIRROR overrides.
rr_find_mirrors() {
  local releases uri suite
  releases=" sid unstable testing stable oldstable bookworm trixie forky \
$(. /etc/os-release && echo "${VERSION_CODENAME:-}") "
  rr_mirror=${PAVO_DEBIAN_MIRROR:-} rr_security=''
  while read -r uri suite; do
    uri=${uri%/}
    if [[ $releases == *" $suite "* ]]; then
      [ -n "$rr_mirror" ] || rr_mirror=$uri
    elif [[ $suite == *-security && $releases == *" ${suite%-security} "* ]]; then
      [ -n "$rr_security" ] || rr_security=$uri
    fi
  done < <(
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && cat "$f" && echo
    done | awk '
      function flush(i, j) {
        if (types ~ / deb / && enabled != "no")
          for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++) print uri[i], suite[j]
        types = ""; enabled = ""; nu = 0; ns = 0
      }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      tolower($1) == "types:" { types = " "; for (i = 2; i <= NF; i++) types = types $i " " }
      tolower($1) == "enabled:" { enabled = tolower($2) }
      tolower($1) == "uris:" { for (i = 2; i <= NF; i++) uri[++nu] = $i }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) suite[++ns] = $i }
      END { flush() }'
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk '$1 == "deb" { sub(/\[[^]]*\]/, ""); $0 = $0; print $2, $3 }'
  )
  if [ -z "$rr_mirror" ]; then
    echo "release root: no Debian archive in this machine's apt sources; set PAVO_DEBIAN_MIRROR" >&2
    return 1
  fi
}

# Makes SUITE's base root unless a complete one younger than a week is there.
release_root_ensure() { # suite
  local suite=$1 lock
  mkdir -p "$rr_cache/archives/$suite" "$rr_cache/runs"
  rr_built=0
  # Shared first, so that a check of a fresh root does not wait for the copies running.
  exec {lock}>"$rr_cache/$suite.lock"
  flock -s "$lock"
  if _rr_fresh "$suite"; then exec {lock}>&- && return 0; fi
  exec {lock}>&-
  exec {lock}>"$rr_cache/$suite.lock"
  flock -n -x "$lock" || {
    echo "release root $suite: waiting for the copies of the old root to end"
    flock -x "$lock"
  }
  if _rr_fresh "$suite"; then exec {lock}>&- && return 0; fi # made meanwhile
  local new=$rr_cache/$suite.new log=$rr_cache/$suite.log status=0
  echo "release root $suite: making it in $new (log: $log)"
  rm -rf "$new" # a build that was cut short
  {
    rr_find_mirrors &&
      _rr_contain debootstrap --variant=minbase --cache-dir="$rr_cache/archives/$suite" \
        "$suite" "$new" "$rr_mirror" &&
      rr_finish_root "$suite" "$new"
  } >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 20 "$log" >&2
    echo "release root $suite: making it failed (log: $log)" >&2
    exec {lock}>&-
    return "$status"
  fi
  rm -f "$rr_cache/$suite.stamp"
  rm -rf "$rr_cache/$suite.old"
  [ ! -d "$rr_cache/$suite" ] || mv "$rr_cache/$suite" "$rr_cache/$suite.old"
  mv "$new" "$rr_cache/$suite"
  date -u '+%Y-%m-%d %H:%M:%S UTC' >"$rr_cache/$suite.stamp"
  rm -rf "$rr_cache/$suite.old"
  rr_built=1
  exec {lock}>&-
}

_rr_fresh() { # suite: a complete root, made less than a week ago
  [ -d "$rr_cache/$1" ] && [ -n "$(find "$rr_cache/$1.stamp" -mmin -10080 2>/dev/null)" ]
}

# Gives a freshly bootstrapped root the release's updates and security archives, as an
# installed Debian has them, and installs their updates.
rr_finish_root() { # suite, root
  local suite=$1 root=$2
  rm -f "$root/etc/apt/sources.list"
  {
    printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' \
      "$rr_mirror" "$suite" "$suite"
    printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    if [ -n "$rr_security" ]; then
      printf '\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\n' "$rr_security" "$suite"
      printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    fi
  } >"$root/etc/apt/sources.list.d/debian.sources"
  [ -n "$rr_security" ] || echo "release root $suite: this machine names no security archive"
  # debootstrap leaves its packages in the root; they are in archives/SUITE already.
  find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -delete
  _rr_contain _rr_inside "$root" "" "$rr_cache/archives/$suite" / DEBIAN_FRONTEND=noninteractive -- \
    sh -c 'apt-get update && apt-get -y dist-upgrade'
}

# Runs COMMAND in a fresh copy of SUITE's base root, as root, in DIR (default /root), with
# a clean environment: PATH, HOME, LANG=C.UTF-8 and the NAME=VALUEs given. FUNCTION, when
# given, is called with the copy's upper layer before it is mounted, to put files into
# the copy (at their path in the root, below the layer). Returns COMMAND's exit status.
#   release_root_run SUITE [--prepare FUNCTION] [--env NAME=VALUE]... [--cwd DIR] -- COMMAND...
# The copy has /proc, /sys (read-only), a /dev of its own with the usual devices, a new
# /dev/pts instance (its ptmx for all), tmpfs on /dev/shm, /tmp and /run, this machine's
# resolv.conf, and archives/SUITE at /var/cache/apt/archives.
release_root_run() {
  local suite=$1 prepare='' cwd=/root envs=() run status=0
  shift
  while [ $# -gt 0 ]; do
    case $1 in
      --prepare) prepare=$2; shift 2 ;;
      --env) envs+=("$2"); shift 2 ;;
      --cwd) cwd=$2; shift 2 ;;
      --) shift; break ;;
      *) echo "release_root_run: unknown option $1" >&2; return 2 ;;
    esac
  done
  mkdir -p "$rr_cache/runs"
  # Runs left by a machine that went down meanwhile: nobody holds their lock.
  find "$rr_cache/runs" -maxdepth 1 -name '*.lock' -mmin +10 -print0 2>/dev/null |
    while IFS= read -r -d '' lock; do flock -n -x "$lock" rm -rf "${lock%.lock}" "$lock" || true; done
  find "$rr_cache/runs" -maxdepth 1 -name 'unshare.*' -mmin +1440 -delete
  run=$(mktemp -d "$rr_cache/runs/$suite.XXXXXX")
  # The stage and every process of the copy hold the run's lock (and the base root's,
  # shared); once the last of them is gone, however they ended, the reaper removes the run.
  exec {_rr_hold}>"$run.lock" {_rr_base}>"$rr_cache/$suite.lock"
  flock -s "$_rr_hold"
  flock -s "$_rr_base"
  setsid flock -x "$run.lock" rm -rf "$run" "$run.lock" {_rr_hold}>&- {_rr_base}>&- \
    </dev/null >/dev/null 2>&1 &
  _rr_reaper=$!
  mkdir "$run/upper" "$run/work" "$run/root"
  if [ -n "$prepare" ]; then "$prepare" "$run/upper" || status=$?; fi
  if [ "$status" -eq 0 ]; then
    _rr_contain _rr_inside "$rr_cache/$suite" "$run" "$rr_cache/archives/$suite" "$cwd" \
      "${envs[@]}" -- "$@" || status=$?
  fi
  _rr_release
  return "$status"
}

# Lets go of the run's locks and waits for the reaper to have removed the run.
_rr_release() {
  [ -z "$_rr_hold" ] || exec {_rr_hold}>&-
  [ -z "$_rr_base" ] || exec {_rr_base}>&-
  [ -z "$_rr_reaper" ] || wait "$_rr_reaper" || true
  _rr_hold='' _rr_base='' _rr_reaper=''
}

# Runs a command in new mount and PID namespaces (mounts private to them), as the child of
# this shell. When this shell dies, even by SIGKILL, unshare is killed (its parent-death
# signal), and with it the namespace's first process and so every process in it; the
# namespace's mounts go with its last process. The command keeps this shell's standard
# input and the default handling of SIGINT and SIGQUIT, which a shell's background jobs
# would otherwise lose.
_rr_contain() {
  local status=0
  _rr_err=$rr_cache/runs/unshare.$$.$RANDOM
  setpriv --pdeathsig KILL env --default-signal=INT,QUIT \
    unshare --mount --pid --fork --kill-child=KILL --mount-proc --propagation private -- \
    bash -c 'exec 2>&3 3>&- && . "$0" && "$@"' "$rr_lib" "$@" <&0 3>&2 2>"$_rr_err" &
  _rr_child=$!
  wait "$_rr_child" || status=$?
  _rr_child=''
  _rr_unshare_said
  return "$status"
}

# What unshare itself said, less its complaint that it cannot end itself with the SIGKILL
# that ended the namespace's first process.
_rr_unshare_said() {
  [ -n "$_rr_err" ] || return 0
  grep -v 'sigprocmask unblock failed' "$_rr_err" >&2 || true
  rm -f "$_rr_err"
  _rr_err=''
}

# Interrupted (SIGINT, SIGTERM, SIGHUP): the copy goes at once, its run is removed, and
# the stage ends with 128 + the signal's number.
_rr_interrupted() { # exit status
  trap '' INT TERM HUP
  if [ -n "$_rr_child" ]; then
    # Killed, the namespace's first process takes every other one with it and ends last:
    # once unshare has seen it end, nothing of the namespace is left.
    local first=''
    read -r first _ <"/proc/$_rr_child/task/$_rr_child/children" 2>/dev/null || true
    kill -KILL "${first:-$_rr_child}" 2>/dev/null || true
    wait "$_rr_child" 2>/dev/null || true
  fi
  _rr_unshare_said
  _rr_release
  echo "release root: interrupted" >&2
  exit "$1"
}
trap '_rr_interrupted 130' INT
trap '_rr_interrupted 143' TERM
trap '_rr_interrupted 129' HUP

# In the new namespaces, as their first process: mounts the copy (an overlay on the base
# root, or with no run the root itself, while it is made) and what a running system has,
# then runs the command in it, chrooted.
_rr_inside() { # base, run (or ""), archives, cwd, NAME=VALUE..., --, command...
  set -euo pipefail
  local base=$1 run=$2 archives=$3 cwd=$4 envs=() r node name major minor status=0
  shift 4
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  r=$base
  if [ -n "$run" ]; then
    r=$run/root
    mount -t overlay overlay -o "lowerdir=$base,upperdir=$run/upper,workdir=$run/work" "$r"
  fi
  mount -t proc -o nosuid,nodev,noexec proc "$r/proc"
  mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$r/sys"
  mount -t tmpfs -o mode=755,nosuid tmpfs "$r/dev"
  for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$node"
    mknod -m 666 "$r/dev/$name" c "$major" "$minor"
  done
  ln -s /proc/self/fd "$r/dev/fd"
  ln -s fd/0 "$r/dev/stdin"
  ln -s fd/1 "$r/dev/stdout"
  ln -s fd/2 "$r/dev/stderr"
  mkdir "$r/dev/pts" "$r/dev/shm"
  # A devpts of its own: the copy's pseudo-terminals are not this machine's.
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5,nosuid,noexec devpts "$r/dev/pts"
  ln -s pts/ptmx "$r/dev/ptmx"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$r/dev/shm"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$r/tmp"
  mount -t tmpfs -o mode=755,nosuid,nodev tmpfs "$r/run"
  install -d -m 1777 "$r/run/lock"
  mount --bind "$archives" "$r/var/cache/apt/archives"
  rm -f "$r/etc/resolv.conf"
  cp -L /etc/resolv.conf "$r/etc/resolv.conf"
  chroot "$r" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 "${envs[@]}" /bin/sh -c 'cd "$0" && exec "$@"' "$cwd" "$@" || status=$?
  return "$status"
}
