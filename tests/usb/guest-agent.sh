#!/bin/bash
# Runs in the guest, in the host's root (read-only) with the stage's work folder WORK
# writable at the same path: takes the jobs the host puts in WORK/jobs, one at a time in
# the order of their names. A job NAME.sh is run with bash; its output goes to NAME.out and,
# once it has ended, its exit status to NAME.rc (written whole, by a rename). A job that
# starts something to keep running (the program, the reader's X server) leaves it in the
# background. WORK/jobs/agent.ready says that the agent has started.
#   guest-agent.sh WORK
set -uo pipefail
work=$1
jobs=$work/jobs
mkdir -p "$HOME" "$jobs" || {
  echo "guest-agent: cannot make $HOME or $jobs"
  exit 1
}
# A job list is read from the host ten times a second, with the shell's own read as the
# pause: no process is started for it.
mkfifo /tmp/agent-tick
exec 9<>/tmp/agent-tick
echo "kernel $(uname -r), $(nproc) processors" >"$jobs/agent.ready"
echo "guest-agent: taking jobs from $jobs"
while :; do
  for job in "$jobs"/*.sh; do
    [ -e "$job" ] || continue
    name=${job%.sh}
    [ -e "$name.rc" ] && continue
    status=0
    # A job that hangs would hold up every job after it: 15 minutes is more than any takes.
    (cd "$work" && exec timeout -k 10 900 bash "$job") >"$name.out" 2>&1 </dev/null || status=$?
    echo "$status" >"$name.rc.new"
    mv "$name.rc.new" "$name.rc"
    [ ! -e "$jobs/halt" ] || exit 0
  done
  read -r -t 0.1 -u 9 || true
done
