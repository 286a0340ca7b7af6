# shellcheck shell=bash
# Sourced by scenario.sh: a null-modem pair of COM ports, COMa for pavo.exe and COMb for
# reader-sim.exe, what one writes the other reads.
#   Windows: com0com's pair 0, made before the tests run (the CI workflow: setupc install 0
#            PortName=COMa,PlugInMode=yes PortName=COMb). In plug-in mode COMa is there
#            only while COMb is open: the program cannot take its port before the reader
#            has its end. setupc is looked for in COM0COM_DIR (the folder it was installed
#            to), which it must run in.
#   Wine:    the prefix's COMa and COMb lead to STATE/pair/COMa and STATE/pair/COMb, links to
#            the two ends of a pseudo-terminal pair that socat joins. socat lives on when
#            either side closes its end, so the reader cannot see the program close its
#            port. Plug-in mode is played here: COMa's link is put in place once the
#            reader's trace says COMb is open (pair_reveal).
#   pair_init STATE A B   pair_start   pair_reveal   pair_unplug   pair_plug   pair_stop
# pair_unplug takes the whole pair away, as an adapter pulled from its socket: whoever has
# a port open is left with a handle that fails, and the ports are not there to open until
# pair_plug makes the pair again.
pair_a=
pair_b=
pair_dir=
pair_socat=
pair_unplugged=0

pair_init() {
  pair_dir=$1/pair
  pair_a=$2
  pair_b=$3
  if on_windows; then
    [ -x "${COM0COM_DIR:-}/setupc.exe" ] || {
      echo "pair: no setupc.exe in COM0COM_DIR ('${COM0COM_DIR:-}'): install com0com" >&2
      return 1
    }
    return 0
  fi
  command -v socat >/dev/null || { echo "pair: socat is not installed (scripts/setup windows)" >&2; return 1; }
  local port
  for port in "$pair_a" "$pair_b"; do
    grep -qxF "\"COM$port\"=\"$pair_dir/COM$port\"" "$1/prefix/system.reg" || {
      echo "pair: the prefix's COM$port does not lead to $pair_dir/COM$port (wine.sh create-prefix)" >&2
      return 1
    }
  done
}

setupc() {
  (cd "$COM0COM_DIR" && MSYS2_ARG_CONV_EXCL='*' ./setupc.exe --silent "$@")
}

pair_start() {
  on_windows && return 0
  mkdir -p "$pair_dir"
  rm -f "$pair_dir/COM$pair_a" "$pair_dir/COM$pair_b" "$pair_dir/.COM$pair_a"
  socat pty,raw,echo=0,link="$pair_dir/.COM$pair_a" pty,raw,echo=0,link="$pair_dir/COM$pair_b" \
    </dev/null >>"$pair_dir/socat.log" 2>&1 &
  pair_socat=$!
  local _
  for _ in $(seq 100); do
    [ -L "$pair_dir/.COM$pair_a" ] && [ -L "$pair_dir/COM$pair_b" ] && return 0
    sleep 0.05
  done
  echo "pair: socat made no pair:" >&2
  cat "$pair_dir/socat.log" >&2
  return 1
}

pair_reveal() {
  on_windows && return 0
  mv -T "$pair_dir/.COM$pair_a" "$pair_dir/COM$pair_a"
}

pair_unplug() {
  pair_unplugged=1
  if on_windows; then
    setupc remove 0
    return
  fi
  # The links go first: a pseudo-terminal's number is given to the next one made, which a
  # link left behind would lead to.
  rm -f "$pair_dir/COM$pair_a" "$pair_dir/COM$pair_b" "$pair_dir/.COM$pair_a"
  pair_stop
}

pair_plug() {
  pair_unplugged=0
  if on_windows; then
    setupc install 0 "PortName=COM$pair_a,PlugInMode=yes" "PortName=COM$pair_b"
    return
  fi
  pair_start
}

pair_stop() {
  if on_windows; then
    # A test that ended with the pair taken away leaves it there for the next one.
    [ "$pair_unplugged" -eq 0 ] || pair_plug
    return 0
  fi
  if [ -n "$pair_socat" ]; then
    kill "$pair_socat" 2>/dev/null
    wait "$pair_socat" 2>/dev/null
    pair_socat=
  fi
  rm -f "$pair_dir/COM$pair_a" "$pair_dir/COM$pair_b" "$pair_dir/.COM$pair_a"
}
