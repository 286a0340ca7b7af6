// The POSIX backend of the platform layer: serial ports through termios.
//
// "COMn" is the entry of that name in the current working directory when there is one
// (normally a symbolic link to a tty or pseudo-terminal), else /dev/ttyS<n-1>. Ports are
// held exclusively with flock, which also holds against root, plus TIOCEXCL. POSIX has no
// per-port read time-outs, so this backend keeps them per handle and applies them itself
// with ppoll(2), to the deadline's nanosecond.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <mutex>
#include <string>

#include "platform/append_file.h"
#include "platform/mode_string.h"
#include "platform/platform.h"
#include "platform/termios_settings.h"

namespace platform {
namespace {

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Pauses and read time-outs are a millisecond or a few: the kernel's default timer slack
// for a thread (50 us) would add to every one of them, on top of the wake-up itself. The
// thread that waits asks once for the least slack there is.
void UsePreciseTimers() {
#ifdef __linux__
  thread_local const bool precise = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  static_cast<void>(precise);
#endif
}

// The file behind a port name, or "" for a name that is no port.
std::string ResolvePortName(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) {
    return std::string();
  }
  const std::string digits = name.substr(3);
  if (digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) {
    return std::string();
  }
  for (char c : digits) {
    if (c < '0' || c > '9') {
      return std::string();
    }
  }
  struct stat entry = {};
  if (lstat(name.c_str(), &entry) == 0) {
    return name;
  }
  const int number = std::stoi(digits);
  if (number < 1) {
    return std::string();
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

class PosixPlatform final : public Platform {
 public:
  Handle CreateFile(const std::string& name, std::uint32_t desiredAccess, std::uint32_t,
                    std::uint32_t creationDisposition, std::uint32_t) override {
    // Serial ports are never shared, whatever the share mode asks for.
    if (creationDisposition != OpenExisting) {
      errno = EINVAL;
      return InvalidHandle;
    }
    const std::string path = ResolvePortName(name);
    if (path.empty()) {
      errno = ENOENT;
      return InvalidHandle;
    }
    int access = O_RDWR;
    if ((desiredAccess & (GenericRead | GenericWrite)) == GenericRead) {
      access = O_RDONLY;
    } else if ((desiredAccess & (GenericRead | GenericWrite)) == GenericWrite) {
      access = O_WRONLY;
    }
    // Non-blocking, so that a line without carrier does not hang the open. It stays so:
    // reads and writes wait in ppoll and poll, never in the call itself.
    const int fd = open(path.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      return InvalidHandle;
    }
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = isatty(fd) ? EBUSY : ENOTTY;
      close(fd);
      errno = error;
      return InvalidHandle;
    }
    ioctl(fd, TIOCEXCL);
    std::lock_guard<std::mutex> lock(mutex_);
    ports_[fd] = CommTimeouts{};
    return fd;
  }

  bool GetCommTimeouts(Handle h, CommTimeouts& timeouts) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto port = ports_.find(h);
    if (port == ports_.end()) {
      errno = EBADF;
      return false;
    }
    timeouts = port->second;
    return true;
  }

  bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto port = ports_.find(h);
    if (port == ports_.end()) {
      errno = EBADF;
      return false;
    }
    // The gap between two bytes is not timed here; a caller that relies on it must know.
    if (timeouts.ReadIntervalTimeout != 0) {
      errno = EINVAL;
      return false;
    }
    port->second = timeouts;
    return true;
  }

  bool GetCommState(Handle h, LineSettings& settings) override {
    termios t{};
    if (!IsOpen(h) || tcgetattr(static_cast<int>(h), &t) != 0) {
      return false;
    }
    settings = FromTermios(t);
    settings.Native.assign(reinterpret_cast<const unsigned char*>(&t),
                           reinterpret_cast<const unsigned char*>(&t) + sizeof t);
    return true;
  }

  bool BuildCommDCB(const char* definition, LineSettings& settings) override {
    return ParseModeString(definition, settings);
  }

  bool SetCommState(Handle h, const LineSettings& settings) override {
    if (!IsOpen(h)) {
      errno = EBADF;
      return false;
    }
    const int fd = static_cast<int>(h);
    termios t{};
    if (settings.Native.size() == sizeof t) {
      std::memcpy(&t, settings.Native.data(), sizeof t);
    } else if (tcgetattr(fd, &t) != 0) {
      return false;
    }
    if (!ToTermios(settings, t)) {
      return false;
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
  }

  bool WriteFile(Handle h, const void* data, std::uint32_t count, std::uint32_t& written) override {
    written = 0;
    if (!IsOpen(h)) {
      errno = EBADF;
      return false;
    }
    const int fd = static_cast<int>(h);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (written < count) {
      const ssize_t n = write(fd, bytes + written, count - written);
      if (n > 0) {
        written += static_cast<std::uint32_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, -1);
      } else {
        return false;
      }
    }
    return true;
  }

  // Win32 read time-outs as the program uses them: a total limit of multiplier * count +
  // constant, none when both are 0 (then the read waits until count bytes are there).
  // Interval time-outs are refused by SetCommTimeouts.
  bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t& read) override {
    read = 0;
    CommTimeouts timeouts;
    if (!GetCommTimeouts(h, timeouts)) {
      return false;
    }
    if (count == 0) {
      return true;
    }
    UsePreciseTimers();
    const int fd = static_cast<int>(h);
    auto* bytes = static_cast<unsigned char*>(buffer);
    constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    std::int64_t deadline = kNever;
    if (timeouts.ReadTotalTimeoutMultiplier != 0 || timeouts.ReadTotalTimeoutConstant != 0) {
      const std::int64_t total = std::int64_t{timeouts.ReadTotalTimeoutMultiplier} * count +
                                 timeouts.ReadTotalTimeoutConstant;
      deadline = MonotonicNanoseconds() + total * 1000000;
    }

    for (;;) {
      // Up to the deadline itself: poll's whole milliseconds, rounded up so as never to end
      // early, overshot it by up to a millisecond after a wake-up between two.
      timespec wait{};
      if (deadline != kNever) {
        const std::int64_t left = std::max<std::int64_t>(deadline - MonotonicNanoseconds(), 0);
        wait.tv_sec = static_cast<time_t>(left / 1000000000);
        wait.tv_nsec = static_cast<long>(left % 1000000000);
      }
      pollfd p{fd, POLLIN, 0};
      const int ready = ppoll(&p, 1, deadline != kNever ? &wait : nullptr, nullptr);
      if (ready < 0) {
        if (errno == EINTR) {
          continue;
        }
        return false;
      }
      if (ready == 0) {
        if (deadline != kNever && MonotonicNanoseconds() < deadline) {
          continue;  // woke early: the wait was cut short
        }
        return true;
      }
      if (p.revents & POLLIN) {
        const ssize_t n = ::read(fd, bytes + read, count - read);
        if (n > 0) {
          read += static_cast<std::uint32_t>(n);
          if (read == count) {
            return true;
          }
          continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
          continue;
        }
        // n == 0 or EIO: the other side hung up.
      }
      // Hung up (or broken): the read fails, but only once its time-out has passed, so
      // that a caller polling on the time-out does not spin.
      SleepUntil(deadline);
      return false;
    }
  }

  bool PurgeComm(Handle h, std::uint32_t flags) override {
    if (!IsOpen(h)) {
      errno = EBADF;
      return false;
    }
    return (flags & PurgeRxClear) == 0 || tcflush(static_cast<int>(h), TCIFLUSH) == 0;
  }

  bool CloseHandle(Handle h) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (ports_.erase(h) == 0) {
        errno = EBADF;
        return false;
      }
    }
    const int fd = static_cast<int>(h);
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    return close(fd) == 0;
  }

  void Sleep(std::uint32_t milliseconds) override {
    UsePreciseTimers();
    SleepUntil(MonotonicNanoseconds() + std::int64_t{milliseconds} * 1000000);
  }

  std::uint32_t TimeGetTime() override {
    return static_cast<std::uint32_t>(MonotonicNanoseconds() / 1000000);
  }

 private:
  bool IsOpen(Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.count(h) != 0;
  }

  static void SleepUntil(std::int64_t deadline) {
    if (deadline == std::numeric_limits<std::int64_t>::max()) {
      return;
    }
    timespec at{static_cast<time_t>(deadline / 1000000000),
                static_cast<long>(deadline % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
  }

  std::mutex mutex_;
  std::map<Handle, CommTimeouts> ports_;
};

}  // namespace

Platform& OperatingSystem() {
  // Never destroyed: a process that ends from inside the window's event loop (its display
  // gone) still closes its port on the way out, after static destructors may have run.
  static PosixPlatform* const instance = new PosixPlatform;
  return *instance;
}

// Non-blocking, so that a FIFO without a reader fails at once (ENXIO) instead of holding
// the window until some program opens it, and a write that would wait fails (EAGAIN).
std::FILE* OpenForAppend(const char* name, std::string& whyNot) {
  const mode_t everyone_rw = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
  const int fd =
      open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, everyone_rw);
  std::FILE* file = fd >= 0 ? fdopen(fd, "a") : nullptr;
  if (file == nullptr) {
    const int error = errno;
    struct stat status;
    if (error == ENXIO && stat(name, &status) == 0 && S_ISFIFO(status.st_mode)) {
      whyNot = "it is a pipe that no program reads";
    } else {
      whyNot = std::strerror(error);
    }
    if (fd >= 0) {
      close(fd);
    }
  }
  return file;
}

bool TruncateFile(std::FILE* file, long size) {
  return ftruncate(fileno(file), size) == 0;
}

}  // namespace platform
