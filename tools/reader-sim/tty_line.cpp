#include "tools/reader-sim/tty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "tools/reader-sim/serve.h"
#include "tools/reader-sim/stop.h"

namespace readersim {
namespace {

// While the terminal is away, it is looked for this often.
constexpr Millis kReopenInterval = 1000;
// Before the hangup scenario drops the line: the longest wait for the output to go out.
constexpr Millis kDrainLimit = 2000;
constexpr Millis kDrainCheckInterval = 20;

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Whether `path` leads to the slave side of a pseudo-terminal.
bool IsPseudoTerminal(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  const bool pseudo = real != nullptr && std::strncmp(real, "/dev/pts/", 9) == 0;
  std::free(real);
  return pseudo;
}

}  // namespace

TtyLine::TtyLine(std::string path) : path_(std::move(path)) {}

TtyLine::~TtyLine() {
  CloseTerminal();
}

bool TtyLine::Open(std::string* error) {
  pseudo_ = IsPseudoTerminal(path_);
  return OpenTerminal(error);
}

bool TtyLine::OpenTerminal(std::string* error) {
  fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    *error = ErrnoText("cannot open " + path_);
    return false;
  }
  termios settings{};
  if (tcgetattr(fd_, &settings) != 0) {
    *error = errno == ENOTTY ? path_ + " is not a terminal"
                             : ErrnoText("cannot read the settings of " + path_);
    CloseTerminal();
    return false;
  }
  // Raw 9600 8N1 as the reader's UART: no echo, no line editing, no character translation,
  // no flow control, modem lines ignored (a hangup on them must not end the line).
  cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
    *error = ErrnoText("cannot set " + path_ + " to 9600 8N1 raw");
    CloseTerminal();
    return false;
  }
  // What came in before the reader was there would not have reached a real one.
  tcflush(fd_, TCIOFLUSH);
  return true;
}

void TtyLine::CloseTerminal() {
  hangupSeen_ = false;
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

std::string TtyLine::Where() const {
  return "terminal " + path_;
}

std::string TtyLine::Remark() const {
  return " (no link made; the line counts as open from the start: the program's opening "
         "and closing of its end cannot be seen on a terminal)";
}

void TtyLine::Lost(const std::string& why) {
  CloseTerminal();
  closedSince_ = true;
  if (pseudo_) {
    // The emulator or bridge that held the other side has closed it: that pseudo-terminal
    // is gone, and its number may later go to another program's terminal.
    Trace(path_ + " went away (" + why + "): its other side was closed; stopping");
    lost_ = true;
    return;
  }
  Trace(path_ + " went away (" + why + "); opening it again once it is back");
  nextTry_ = SteadyNow() + kReopenInterval;
  lastFailure_.clear();
}

void TtyLine::TryReopen() {
  if (fd_ >= 0 || lost_ || SteadyNow() < nextTry_) {
    return;
  }
  std::string error;
  if (OpenTerminal(&error)) {
    Trace(path_ + " is back");
    return;
  }
  if (error != lastFailure_) {
    Trace(error + "; trying again every " + std::to_string(kReopenInterval) + " ms");
    lastFailure_ = error;
  }
  nextTry_ = SteadyNow() + kReopenInterval;
}

Line::State TtyLine::Look() {
  TryReopen();
  State state;
  state.open = fd_ >= 0;
  state.closedSince = closedSince_;
  state.lost = lost_;
  closedSince_ = false;
  return state;
}

std::size_t TtyLine::Read(std::uint8_t* data, std::size_t size) {
  if (fd_ < 0) {
    return 0;
  }
  const ssize_t got = read(fd_, data, size);
  if (got > 0) {
    return static_cast<std::size_t>(got);
  }
  if (got == 0) {
    Lost("end of file");
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    Lost(ErrnoText("read"));
  } else if (hangupSeen_) {
    Lost("hangup");  // nothing left to read after it: the poll would report it for ever
  }
  return 0;
}

std::size_t TtyLine::Write(const std::uint8_t* data, std::size_t size) {
  if (fd_ < 0) {
    return 0;
  }
  const ssize_t written = write(fd_, data, size);
  if (written > 0) {
    return static_cast<std::size_t>(written);
  }
  if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    Lost(ErrnoText("write"));
  }
  return 0;
}

void TtyLine::AwaitDrain() {
  // Closing the terminal may throw away what it has not sent yet.
  const Millis start = SteadyNow();
  while (fd_ >= 0 && SteadyNow() - start < kDrainLimit) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0 || StopArrived(kDrainCheckInterval)) {
      return;
    }
  }
}

void TtyLine::Wait(Millis timeout, bool, bool writing) {
  if (closedSince_) {
    timeout = 0;  // the loop hears of it at once
  } else if (fd_ < 0) {
    timeout = lost_ ? 0 : std::clamp<Millis>(nextTry_ - SteadyNow(), 0, timeout);
  }
  const short events = static_cast<short>(POLLIN | (writing ? POLLOUT : 0));
  pollfd fds[2] = {{StopDescriptor(), POLLIN, 0}, {fd_, events, 0}};
  poll(fds, 2, static_cast<int>(timeout));
  hangupSeen_ = fd_ >= 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  // What still waits is read first: the read that finds nothing more ends the line.
  if (hangupSeen_ && (fds[1].revents & POLLIN) == 0) {
    Lost((fds[1].revents & POLLHUP) != 0 ? "hangup" : "error");
  }
}

bool TtyLine::Unplug(std::string*) {
  CloseTerminal();
  return true;
}

bool TtyLine::Replug(std::string* back, std::string* error) {
  if (!OpenTerminal(error)) {
    return false;
  }
  *back = path_ + " open again";
  return true;
}

std::string TtyLine::Close() {
  CloseTerminal();
  return "line closed, " + path_ + " given up; end";
}

}  // namespace readersim
