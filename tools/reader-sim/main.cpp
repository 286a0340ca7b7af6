// reader-sim: a simulated tag reader on a pseudo-terminal. See UsageText() for what it does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/reader-sim/line_watch.h"
#include "tools/reader-sim/options.h"
#include "tools/reader-sim/pty_line.h"
#include "tools/reader-sim/simulator.h"

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

bool InstallSignalHandlers(std::string* error) {
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

Millis SteadyNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// One line on standard output, after the local time as HH:MM:SS.mmm.
void Trace(const std::string& text) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  std::printf("%s.%03d %s\n", stamp, static_cast<int>(millis), text.c_str());
}

std::string TagList(const std::vector<TagId>& tags) {
  std::string text;
  for (const TagId& tag : tags) {
    text += (text.empty() ? "" : ",") + TagText(tag);
  }
  return text;
}

// How long the loop sleeps at most: it looks for the program opening the line this often.
constexpr Millis kLineCheckInterval = 20;
constexpr Millis kIdleWait = 1000;

// Where the link points while the reader is unplugged: the system names pseudo-terminals
// by number only, so nothing ever appears here.
const char kUnpluggedTarget[] = "/dev/pts/unplugged";

// Before the hangup scenario drops the line, the program reads what was sent: closing the
// master throws away whatever still waits on the slave side. The wait ends when that queue
// is empty or the program has closed the line. Only when the queue cannot be looked at
// (the program holds the line exclusively against a simulator without the rights to
// override that) is the wait bounded by time instead.
constexpr Millis kDrainLimitUnseen = 2000;

bool SignalArrived(Millis wait) {
  pollfd fd{signalPipe[0], POLLIN, 0};
  return poll(&fd, 1, static_cast<int>(wait)) > 0;
}

void AwaitDrain(const PtyLine& line) {
  const Millis start = SteadyNow();
  for (;;) {
    const long unread = line.SlaveOpen() ? line.Unread() : 0;
    if (unread == 0 || (unread < 0 && SteadyNow() - start >= kDrainLimitUnseen) ||
        SignalArrived(kLineCheckInterval)) {
      return;
    }
  }
}

// Serves the line until a signal comes (false) or the hangup scenario drops it (true).
bool Serve(const Options& options, PtyLine& line) {
  Simulator simulator(options, Trace);
  LineWatch watch;
  watch.Start(line.SlavePath());
  Bytes out;  // taken from the simulator, not yet written
  std::string outWhat;
  bool open = false;
  bool hangupSeen = false;
  std::uint8_t buffer[512];

  for (;;) {
    const Millis now = SteadyNow();
    // A close seen since the last pass ends the session even when the program has opened
    // the line again in the meantime: the next session starts clean.
    const bool closedSince = watch.Take().closes > 0 || hangupSeen;
    hangupSeen = false;
    if (open && (closedSince || !line.SlaveOpen())) {
      open = false;
      simulator.LineClosed(out.size());
      out.clear();
      // A UART loses its input at the close; the chatty reader plays a line that keeps it.
      const long unread = options.scenario == Scenario::kChatty ? 0 : line.DiscardUnread();
      watch.Own();
      if (unread > 0) {
        Trace("discarded " + std::to_string(unread) + " bytes the program left unread");
      }
    }
    if (!open && line.SlaveOpen()) {
      open = true;
      simulator.LineOpened();
    }

    if (open) {
      for (;;) {
        const ssize_t got = read(line.Master(), buffer, sizeof buffer);
        if (got <= 0) {
          break;  // nothing waiting, or the line closed: seen on the next pass
        }
        simulator.Receive(buffer, static_cast<std::size_t>(got), now);
      }
    }
    simulator.Advance(now);

    while (open) {
      if (out.empty()) {
        Block block = simulator.TakeDue(now);
        if (block.bytes.empty()) {
          break;
        }
        out = std::move(block.bytes);
        outWhat = std::move(block.what);
      }
      const ssize_t written = write(line.Master(), out.data(), out.size());
      if (written <= 0) {
        break;  // the line is full, or closed
      }
      const auto count = static_cast<std::size_t>(written);
      Trace("tx " + std::to_string(count) + (count == 1 ? " byte: " : " bytes: ") +
            HexBytes(out.data(), count) + " (" + outWhat + ")");
      out.erase(out.begin(), out.begin() + written);
      if (!out.empty()) {
        outWhat += ", continued";
      }
    }

    if (simulator.HangupDue() && out.empty()) {
      Trace("hangup after " + std::to_string(simulator.BytesHandedOut()) +
            " bytes sent: dropping the line once the program has read them");
      AwaitDrain(line);
      return true;
    }

    Millis timeout = kIdleWait;
    if (const auto wake = simulator.NextWakeUp()) {
      timeout = std::clamp<Millis>(*wake - now, 0, kIdleWait);
    }
    if (!open && !watch.active()) {
      timeout = std::min(timeout, kLineCheckInterval);
    }
    // A closed line keeps the master reporting a hangup, so the master is left out of the
    // wait then (poll skips negative descriptors).
    const short masterEvents = static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT));
    pollfd fds[3] = {{signalPipe[0], POLLIN, 0},
                     {watch.Fd(), POLLIN, 0},
                     {open ? line.Master() : -1, masterEvents, 0}};
    poll(fds, 3, static_cast<int>(timeout));
    hangupSeen = open && (fds[2].revents & (POLLHUP | POLLERR)) != 0;
    char number = 0;
    if (read(signalPipe[0], &number, 1) == 1) {
      Trace(std::string(SignalName(number)) + ": stopping");
      return false;
    }
  }
}

int Run(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const ParseResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.ok) {
    std::fprintf(stderr, "reader-sim: %s\nTry 'reader-sim --help'.\n", parsed.error.c_str());
    return 2;
  }
  const Options& options = parsed.options;
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }

  std::string error;
  if (!InstallSignalHandlers(&error)) {
    std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
    return 1;
  }
  PtyLine line;
  if (!line.Open(&error)) {
    std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
    return 1;
  }
  PortLink link;
  bool replaced = false;
  if (!link.Create("COM" + std::to_string(options.port), line.SlavePath(), &replaced, &error)) {
    std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
    return 1;
  }
  Trace("reader-sim: link " + link.Name() + " -> " + line.SlavePath() + ", scenario " +
        ScenarioName(options.scenario) + ", tags " + TagList(options.tags) + ", interval " +
        std::to_string(options.intervalMs) + " ms" +
        (replaced ? " (replaced a leftover " + link.Name() + ")" : ""));

  Options serving = options;
  while (Serve(serving, line) && serving.returnAfterMs > 0) {
    // Unplugged: the old terminal goes for good, and a new one takes its name later. The
    // link dangles meanwhile, pointing where no terminal is ever made: left pointing at the
    // old one, it would lead the program to whatever terminal the system hands out next
    // under that number, another program's line.
    if (!link.Retarget(kUnpluggedTarget, &error)) {
      std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
      return 1;
    }
    line.Close();
    Trace("line dropped; back in " + std::to_string(serving.returnAfterMs) + " ms");
    if (SignalArrived(serving.returnAfterMs)) {
      Trace("signal while away: stopping");
      break;
    }
    if (!line.Open(&error) || !link.Retarget(line.SlavePath(), &error)) {
      std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
      link.Remove();
      return 1;
    }
    Trace("back: link " + link.Name() + " -> " + line.SlavePath());
    serving.scenario = Scenario::kNormal;
    serving.returnAfterMs = 0;
  }

  // The link goes first, so that it never points at a terminal number already given back.
  const std::string name = link.Name();
  link.Remove();
  line.Close();
  Trace("line closed, " + name + " removed; end");
  return 0;
}

}  // namespace
}  // namespace readersim

int main(int argc, char** argv) {
  return readersim::Run(argc, argv);
}
