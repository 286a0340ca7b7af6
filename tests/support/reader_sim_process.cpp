#include "tests/support/reader_sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace fake {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

ReaderSimProcess::ReaderSimProcess(const fs::path& directory, std::vector<std::string> args,
                                   const std::string& traceName)
    : directory_(directory), trace_(directory / traceName), errors_(directory / "sim-errors.txt") {
  // Everything the child needs is prepared here: between fork and exec only
  // async-signal-safe calls are allowed in a process that has threads.
  args.insert(args.begin(), READER_SIM_PATH);
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  const std::string dir = directory.string();
  const std::string out = trace_.string();
  const std::string err = errors_.string();

  pid_ = fork();
  if (pid_ == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(dir.c_str()) != 0 || outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 ||
        dup2(errFd, 2) < 0) {
      _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) {
    exitCode_ = 127;
  }
}

ReaderSimProcess::~ReaderSimProcess() {
  Stop();
}

void ReaderSimProcess::Reap() {
  int status = 0;
  if (!exitCode_ && pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
}

bool ReaderSimProcess::Running() {
  Reap();
  return !exitCode_;
}

bool ReaderSimProcess::WaitForLink(const std::string& name) {
  const bool seen = WaitUntil([&] {
    std::error_code error;
    const fs::path target = fs::read_symlink(directory_ / name, error);
    const bool ready =
        !error && target.string().rfind("/dev/pts/", 0) == 0 && fs::exists(target, error);
    return ready || !Running();
  });
  return seen && Running();
}

std::optional<int> ReaderSimProcess::WaitForExit(milliseconds limit) {
  WaitUntil([&] { return !Running(); }, limit);
  return exitCode_;
}

void ReaderSimProcess::Stop() {
  if (!Running()) {
    return;
  }
  kill(pid_, SIGTERM);
  if (!WaitForExit()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    exitCode_ = 128 + SIGKILL;
  }
}

std::string ReaderSimProcess::Trace() const {
  return ReadText(trace_);
}
std::string ReaderSimProcess::Errors() const {
  return ReadText(errors_);
}

bool ReaderSimProcess::WaitForTrace(const std::string& part, milliseconds limit) {
  return WaitUntil([&] { return Trace().find(part) != std::string::npos; }, limit);
}

std::size_t ReaderSimProcess::CountInTrace(const std::string& part) const {
  const std::string trace = Trace();
  std::size_t count = 0;
  for (std::size_t at = trace.find(part); at != std::string::npos;
       at = trace.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

}  // namespace fake
