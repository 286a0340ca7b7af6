#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace fake {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::to_string(errno));
}

}  // namespace

PseudoTerminal::PseudoTerminal(int portNumber) : ownDirectory_(new TempWorkingDirectory) {
  Create(portNumber, ownDirectory_->Path());
}

PseudoTerminal::PseudoTerminal(int portNumber, const std::filesystem::path& directory) {
  Create(portNumber, directory);
}

void PseudoTerminal::Create(int portNumber, const std::filesystem::path& directory) {
  portNumber_ = portNumber;
  directory_ = directory;
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    Fail("posix_openpt");
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    Fail("ptsname_r");
  }
  slavePath_ = name;
  // Held open here so that the line stays up while the program opens and closes it.
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    Fail("open " + slavePath_);
  }
  link_ = directory_ / PortName();
  std::filesystem::create_symlink(slavePath_, link_);
}

PseudoTerminal::~PseudoTerminal() {
  Join();
  std::error_code ignored;
  std::filesystem::remove(link_, ignored);
  if (slave_ >= 0) {
    close(slave_);
  }
  if (master_ >= 0) {
    close(master_);
  }
}

termios PseudoTerminal::LineSettings() const {
  termios t{};
  if (tcgetattr(slave_, &t) != 0) {
    Fail("tcgetattr");
  }
  return t;
}

Bytes PseudoTerminal::ReadExactly(std::size_t n, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Bytes got;
  while (got.size() < n && master_ >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      break;
    }
    pollfd p{master_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || !(p.revents & POLLIN)) {
      break;
    }
    std::uint8_t buffer[256];
    const std::size_t want = std::min(sizeof buffer, n - got.size());
    const ssize_t count = read(master_, buffer, want);
    if (count <= 0) {
      break;
    }
    got.insert(got.end(), buffer, buffer + count);
  }
  return got;
}

Bytes PseudoTerminal::ReadAvailable(int quietMs) {
  Bytes got;
  for (;;) {
    Bytes more = ReadExactly(256, quietMs);
    if (more.empty()) {
      return got;
    }
    got.insert(got.end(), more.begin(), more.end());
  }
}

void PseudoTerminal::Write(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = write(master_, bytes.data() + done, bytes.size() - done);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      Fail("write to pseudo-terminal");
    }
    done += static_cast<std::size_t>(count);
  }
}

void PseudoTerminal::HangUp() {
  if (master_ >= 0) {
    close(master_);
    master_ = -1;
  }
}

void PseudoTerminal::Play(std::function<void(PseudoTerminal&)> script) {
  Join();
  failure_.clear();
  reader_ = std::thread([this, script] {
    try {
      script(*this);
    } catch (const std::exception& e) {
      failure_ = e.what();
    }
  });
}

void PseudoTerminal::Join() {
  if (reader_.joinable()) {
    reader_.join();
  }
}

}  // namespace fake
