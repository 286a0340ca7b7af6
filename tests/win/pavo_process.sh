# Sourced by the Windows tests that start pavo.exe in the background and end it with its
# exit button: the process is $pavo_pid, killed if the test ends before it does.
pavo_pid=
kill_pavo() {
  if [ -n "$pavo_pid" ]; then
    kill "$pavo_pid" 2>/dev/null || true
    wait "$pavo_pid" 2>/dev/null || true
  fi
}
# Waits up to 30 s for the program to end, then sets pavo_status to its exit status; fails
# (returns 1) while it still runs.
pavo_status=
wait_for_pavo_exit() {
  for _ in $(seq 300); do
    kill -0 "$pavo_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pavo_pid" 2>/dev/null && return 1
  pavo_status=0
  wait "$pavo_pid" || pavo_status=$?
  pavo_pid=
}
