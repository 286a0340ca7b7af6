#include "testing/pseudo_terminal.h"

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

PseudoTerminal::PseudoTerminal(int portNumber) : portNumber_(portNumber) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    Fail("posix_openpt");
  }
  // Held open here so that the line stays up while the program opens and closes it.
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    Fail(std::string("open ") + name);
  }
  std::filesystem::create_symlink(name, directory_.Path() / PortName());
}

PseudoTerminal::~PseudoTerminal() {
  close(slave_);
  HangUp();
}

termios PseudoTerminal::LineSettings() const {
  termios t{};
  if (tcgetattr(slave_, &t) != 0) {
    Fail("tcgetattr");
  }
  return t;
}

Bytes PseudoTerminal::ReadExactly(std::size_t n, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  Bytes got;
  while (got.size() < n && master_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{master_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) {
      break;
    }
    std::uint8_t buffer[256];
    const ssize_t count = read(master_, buffer, std::min(sizeof buffer, n - got.size()));
    if (count <= 0) {
      break;
    }
    got.insert(got.end(), buffer, buffer + count);
  }
  return got;
}

void PseudoTerminal::Write(const Bytes& bytes) {
  if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    Fail("write to pseudo-terminal");
  }
}

void PseudoTerminal::HangUp() {
  if (master_ >= 0) {
    close(master_);
    master_ = -1;
  }
}

}  // namespace fake
