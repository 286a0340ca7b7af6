#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "tools/reader-sim/line_watch.h"

namespace readersim {

LineWatch::~LineWatch() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

bool LineWatch::Start(const std::string& path) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    return false;
  }
  if (inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

LineWatch::Events LineWatch::Take() {
  Events events;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t size = fd_ < 0 ? -1 : read(fd_, buffer, sizeof buffer);
    if (size <= 0) {
      break;
    }
    for (ssize_t at = 0; at < size;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      if (event.mask & IN_OPEN) {
        ++events.opens;
      }
      if (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
        ++events.closes;
      }
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  const int ownOpens = std::min(own_.opens, events.opens);
  const int ownCloses = std::min(own_.closes, events.closes);
  events.opens -= ownOpens;
  events.closes -= ownCloses;
  own_.opens -= ownOpens;
  own_.closes -= ownCloses;
  return events;
}

}  // namespace readersim
