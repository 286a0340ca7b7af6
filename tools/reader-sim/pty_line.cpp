#include "tools/reader-sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "tools/reader-sim/serve.h"
#include "tools/reader-sim/stop.h"

namespace readersim {
namespace {

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// The target of a symbolic link, or "" when `path` is none.
std::string LinkTarget(const std::string& path) {
  char buffer[4096];
  const ssize_t size = readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (size < 0) {
    return {};
  }
  return std::string(buffer, static_cast<std::size_t>(size));
}

}  // namespace

Pty::~Pty() {
  Close();
}

bool Pty::Open(std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    *error = ErrnoText("cannot open a pseudo-terminal");
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    *error = ErrnoText("cannot unlock the pseudo-terminal");
    Close();
    return false;
  }
  const char* name = ptsname(master_);
  if (name == nullptr) {
    *error = ErrnoText("cannot name the pseudo-terminal");
    Close();
    return false;
  }
  slavePath_ = name;
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = ErrnoText("cannot make the pseudo-terminal non-blocking");
    Close();
    return false;
  }
  // The settings stay with the pseudo-terminal after this descriptor is closed: without
  // raw mode the slave would echo what the simulator writes straight back to it.
  const int slave = open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) {
    *error = ErrnoText(std::string("cannot open ") + name);
    Close();
    return false;
  }
  termios settings{};
  bool raw = tcgetattr(slave, &settings) == 0;
  if (raw) {
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    raw = tcsetattr(slave, TCSANOW, &settings) == 0;
  }
  if (!raw) {
    *error = ErrnoText(std::string("cannot set ") + name + " raw");
  }
  close(slave);
  if (!raw) {
    Close();
  }
  return raw;
}

void Pty::Close() {
  if (master_ >= 0) {
    close(master_);
    master_ = -1;
  }
}

bool Pty::SlaveOpen() const {
  pollfd pollMaster{master_, 0, 0};
  return poll(&pollMaster, 1, 0) >= 0 && (pollMaster.revents & POLLHUP) == 0;
}

namespace {

// The bytes waiting to be read on the slave side, or -1 when that cannot be told.
// Bytes written to the master reach the slave's queue a moment later, through the
// terminal's input buffer; a poll on an empty queue moves whatever is on its way there
// first, so the count takes in every byte written so far.
long Waiting(int slave) {
  pollfd queue{slave, POLLIN, 0};
  poll(&queue, 1, 0);
  int waiting = 0;
  return ioctl(slave, FIONREAD, &waiting) == 0 ? waiting : -1;
}

// Opens the slave for a moment: counts what waits there unread and, if `discard`, drops it.
long UnreadOnSlave(const std::string& path, bool discard) {
  const int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) {
    return -1;
  }
  const long waiting = Waiting(slave);
  if (discard) {
    tcflush(slave, TCIFLUSH);
  }
  close(slave);
  return waiting;
}

}  // namespace

long Pty::Unread() const {
  return UnreadOnSlave(slavePath_, false);
}

long Pty::DiscardUnread() const {
  return UnreadOnSlave(slavePath_, true);
}

bool PortLink::Create(const std::string& name, const std::string& target, bool* replaced,
                      std::string* error) {
  *replaced = false;
  struct stat entry = {};
  if (lstat(name.c_str(), &entry) == 0) {
    const std::string oldTarget = S_ISLNK(entry.st_mode) ? LinkTarget(name) : std::string();
    struct stat targetEntry = {};
    const bool leftover = oldTarget.rfind("/dev/pts/", 0) == 0 &&
                          stat(oldTarget.c_str(), &targetEntry) != 0 && errno == ENOENT;
    if (!leftover) {
      *error = name + " already exists here and is not a leftover link of a simulator; " +
               "remove it or choose another --port";
      return false;
    }
    if (unlink(name.c_str()) != 0) {
      *error = ErrnoText("cannot remove the leftover link " + name);
      return false;
    }
    *replaced = true;
  }
  if (symlink(target.c_str(), name.c_str()) != 0) {
    *error = ErrnoText("cannot create " + name);
    return false;
  }
  name_ = name;
  target_ = target;
  return true;
}

bool PortLink::Retarget(const std::string& target, std::string* error) {
  // Made beside it and renamed over it, so that the name never goes missing in between.
  const std::string fresh = name_ + ".new";
  unlink(fresh.c_str());
  if (symlink(target.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), name_.c_str()) != 0) {
    *error = ErrnoText("cannot point " + name_ + " at " + target);
    unlink(fresh.c_str());
    return false;
  }
  target_ = target;
  return true;
}

void PortLink::Remove() {
  if (!name_.empty() && LinkTarget(name_) == target_) {
    unlink(name_.c_str());
  }
  name_.clear();
}

namespace {

// How long the loop sleeps at most while it looks for the program opening the line.
constexpr Millis kLineCheckInterval = 20;

// Where the link points while the reader is unplugged: the system names pseudo-terminals
// by number only, so nothing ever appears here.
const char kUnpluggedTarget[] = "/dev/pts/unplugged";

// Before the hangup scenario drops the line, the program reads what was sent: closing the
// master throws away whatever still waits on the slave side. The wait ends when that queue
// is empty or the program has closed the line. Only when the queue cannot be looked at
// (the program holds the line exclusively against a simulator without the rights to
// override that) is the wait bounded by time instead.
constexpr Millis kDrainLimitUnseen = 2000;

}  // namespace

bool PtyLine::Open(std::string* error) {
  if (!pty_.Open(error) || !link_.Create(linkName_, pty_.SlavePath(), &replaced_, error)) {
    return false;
  }
  watch_ = std::make_unique<LineWatch>();
  watch_->Start(pty_.SlavePath());
  return true;
}

std::string PtyLine::Where() const {
  return "link " + link_.Name() + " -> " + pty_.SlavePath();
}

std::string PtyLine::Remark() const {
  return replaced_ ? " (replaced a leftover " + link_.Name() + ")" : "";
}

Line::State PtyLine::Look() {
  State state;
  state.closedSince = watch_->Take().closes > 0 || hangupSeen_;
  hangupSeen_ = false;
  state.open = pty_.SlaveOpen();
  return state;
}

std::size_t PtyLine::Read(std::uint8_t* data, std::size_t size) {
  const ssize_t got = read(pty_.Master(), data, size);
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t PtyLine::Write(const std::uint8_t* data, std::size_t size) {
  const ssize_t written = write(pty_.Master(), data, size);
  return written > 0 ? static_cast<std::size_t>(written) : 0;
}

long PtyLine::DiscardUnread() {
  const long unread = pty_.DiscardUnread();
  if (unread >= 0) {
    watch_->Own();  // the slave was opened and closed for this
  }
  return unread;
}

void PtyLine::AwaitDrain() {
  const Millis start = SteadyNow();
  for (;;) {
    const long unread = pty_.SlaveOpen() ? pty_.Unread() : 0;
    if (unread == 0 || (unread < 0 && SteadyNow() - start >= kDrainLimitUnseen) ||
        StopArrived(kLineCheckInterval)) {
      return;
    }
  }
}

void PtyLine::Wait(Millis timeout, bool open, bool writing) {
  if (!open && !watch_->active()) {
    timeout = std::min(timeout, kLineCheckInterval);
  }
  // A closed line keeps the master reporting a hangup, so the master is left out of the
  // wait then (poll skips negative descriptors).
  const short masterEvents = static_cast<short>(POLLIN | (writing ? POLLOUT : 0));
  pollfd fds[3] = {{StopDescriptor(), POLLIN, 0},
                   {watch_->Fd(), POLLIN, 0},
                   {open ? pty_.Master() : -1, masterEvents, 0}};
  poll(fds, 3, static_cast<int>(timeout));
  hangupSeen_ = open && (fds[2].revents & (POLLHUP | POLLERR)) != 0;
}

bool PtyLine::Unplug(std::string* error) {
  // Unplugged: the old terminal goes for good, and a new one takes its name later. The
  // link dangles meanwhile, pointing where no terminal is ever made: left pointing at the
  // old one, it would lead the program to whatever terminal the system hands out next
  // under that number, another program's line.
  if (!link_.Retarget(kUnpluggedTarget, error)) {
    return false;
  }
  watch_.reset();
  pty_.Close();
  return true;
}

bool PtyLine::Replug(std::string* back, std::string* error) {
  if (!pty_.Open(error) || !link_.Retarget(pty_.SlavePath(), error)) {
    link_.Remove();
    return false;
  }
  watch_ = std::make_unique<LineWatch>();
  watch_->Start(pty_.SlavePath());
  *back = Where();
  return true;
}

std::string PtyLine::Close() {
  // The link goes first, so that it never points at a terminal number already given back.
  const std::string name = link_.Name();
  link_.Remove();
  watch_.reset();
  pty_.Close();
  return "line closed, " + name + " removed; end";
}

}  // namespace readersim
