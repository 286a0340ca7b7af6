// POSIX systems: signals stop the simulator, and the line is a pseudo-terminal of its own
// or, with --tty, a terminal that exists already.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "tools/reader-sim/line.h"
#include "tools/reader-sim/pty_line.h"
#include "tools/reader-sim/stop.h"
#include "tools/reader-sim/tty_line.h"

namespace readersim {
namespace {

// Written by the signal handler, read by the main loop.
int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  if (write(signalPipe[1], &byte, 1) < 0) {
    // nothing to do: a full pipe already holds a wake-up
  }
  errno = saved;
}

const char* SignalName(int number) {
  switch (number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

}  // namespace

bool InstallStopHandlers(std::string* error) {
  if (pipe(signalPipe) != 0) {
    *error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  for (int fd : signalPipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(number, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
  return true;
}

bool StopArrived(Millis wait) {
  pollfd fd{signalPipe[0], POLLIN, 0};
  return poll(&fd, 1, static_cast<int>(wait)) > 0;
}

std::string TakeStop() {
  char number = 0;
  if (read(signalPipe[0], &number, 1) == 1) {
    return SignalName(number);
  }
  return {};
}

int StopDescriptor() {
  return signalPipe[0];
}

std::unique_ptr<Line> OpenLine(const Options& options, std::string* error) {
  if (!options.tty.empty()) {
    auto line = std::make_unique<TtyLine>(options.tty);
    return line->Open(error) ? std::move(line) : nullptr;
  }
  auto line = std::make_unique<PtyLine>("COM" + std::to_string(options.port));
  return line->Open(error) ? std::move(line) : nullptr;
}

}  // namespace readersim
