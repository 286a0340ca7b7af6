// Start-up and memory of the program, each in a fresh process, offscreen:
//  - from just before the process is spawned to its main window exposed, and to its
//    first frame painted, measured with bench_startup_probe: the program's own process
//    entry plus a probe that reports those moments on the shared monotonic clock;
//  - the peak resident memory (VmHWM) of the real program, `pavo`, once it has started
//    and settled, read from /proc/<pid>/status before it is terminated.
// Usage: bench_startup [--tsv] [runs]   (default 20 starts of each)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <filesystem>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"

extern char** environ;

namespace {

using namespace bench;

long long MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

long PeakResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

pid_t Spawn(const char* path, posix_spawn_file_actions_t* actions) {
  char* argv[] = {const_cast<char*>(path), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, path, actions, nullptr, argv, environ) != 0) {
    std::perror(path);
    return -1;
  }
  return pid;
}

struct ProbeRun {
  double exposedMs = -1;
  double paintedMs = -1;
};

ProbeRun StartProbe() {
  int out[2];
  if (pipe(out) != 0) {
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const long long start = MonotonicNs();
  const pid_t pid = Spawn(PAVO_PROBE_PATH, &actions);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  int status = 0;
  if (pid > 0) {
    waitpid(pid, &status, 0);
  }
  long long exposed = 0, painted = 0;
  long peak = 0;
  ProbeRun run;
  if (std::sscanf(text.c_str(), "%lld %lld %ld", &exposed, &painted, &peak) == 3) {
    run.exposedMs = (exposed - start) / 1e6;
    run.paintedMs = (painted - start) / 1e6;
  }
  return run;
}

// Starts the program, waits until its peak memory has not grown for settleMs, and ends it.
long ProgramPeakKb(int settleMs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const pid_t pid = Spawn(PAVO_PROGRAM_PATH, &actions);
  posix_spawn_file_actions_destroy(&actions);
  if (pid <= 0) {
    return -1;
  }
  long peak = -1;
  int steady = 0;
  while (steady * 20 < settleMs) {
    usleep(20000);
    const long now = PeakResidentKb(pid);
    steady = now == peak && now > 0 ? steady + 1 : 0;
    peak = now;
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = RunsArgument(argc, argv, 20);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The program runs in a directory of its own, where its files would go.
  fake::PseudoTerminal line(1);
  // Qt wants its runtime directory private to the user.
  std::filesystem::permissions(line.Directory(), std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", line.Directory().c_str(), 0);

  Figure exposed{"start-up: process spawn to main window exposed", "ms", {}, "goal < 200"};
  Figure painted{"start-up: process spawn to first frame painted", "ms", {}, "goal < 200"};
  Figure memory{"peak resident memory of pavo, started and idle", "MiB", {}, ""};
  int failed = 0;
  for (int i = 0; i < runs; ++i) {
    const ProbeRun run = StartProbe();
    if (run.exposedMs < 0) {
      ++failed;
      continue;
    }
    exposed.samples.push_back(run.exposedMs);
    painted.samples.push_back(run.paintedMs);
  }
  for (int i = 0; i < runs; ++i) {
    const long kb = ProgramPeakKb(300);
    if (kb <= 0) {
      ++failed;
      continue;
    }
    memory.samples.push_back(kb / 1024.0);
  }
  Print({exposed, painted, memory}, TsvRequested(argc, argv));
  if (failed != 0) {
    std::fprintf(stderr, "bench_startup: %d starts reported nothing\n", failed);
  }
  return 0;
}
