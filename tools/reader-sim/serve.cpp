#include "tools/reader-sim/serve.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "tools/reader-sim/line.h"
#include "tools/reader-sim/options.h"
#include "tools/reader-sim/simulator.h"
#include "tools/reader-sim/stop.h"

namespace readersim {

void Trace(const std::string& text) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  std::printf("%s.%03d %s\n", stamp, static_cast<int>(millis), text.c_str());
  // Whoever reads the trace (a test, an operator's console) sees each line as it happens.
  std::fflush(stdout);
}

Millis SteadyNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

std::string TagList(const std::vector<TagId>& tags) {
  std::string text;
  for (const TagId& tag : tags) {
    text += (text.empty() ? "" : ",") + TagText(tag);
  }
  return text;
}

// The longest sleep of the loop when nothing is due.
constexpr Millis kIdleWait = 1000;

enum class Ending {
  kStopped,  // a stop request came
  kDropped,  // the hangup scenario dropped the line
  kLost,     // the line went away for good
};

Ending Serve(const Options& options, Line& line) {
  Simulator simulator(options, Trace);
  Bytes out;  // taken from the simulator, not yet written
  std::string outWhat;
  bool open = false;
  std::uint8_t buffer[512];

  for (;;) {
    const Millis now = SteadyNow();
    // A close seen since the last pass ends the session even when the program has opened
    // the line again in the meantime: the next session starts clean.
    const Line::State state = line.Look();
    if (open && (state.closedSince || !state.open)) {
      open = false;
      simulator.LineClosed(out.size());
      out.clear();
      // The chatty reader plays a line that keeps what the program left unread.
      const long unread = options.scenario == Scenario::kChatty ? 0 : line.DiscardUnread();
      if (unread > 0) {
        Trace("discarded " + std::to_string(unread) + " bytes the program left unread");
      }
    }
    if (state.lost) {
      return Ending::kLost;
    }
    if (!open && state.open) {
      open = true;
      simulator.LineOpened();
    }

    if (open) {
      for (;;) {
        const std::size_t got = line.Read(buffer, sizeof buffer);
        if (got == 0) {
          break;  // nothing waiting, or the line closed: seen on the next pass
        }
        simulator.Receive(buffer, got, now);
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
      const std::size_t written = line.Write(out.data(), out.size());
      if (written == 0) {
        break;  // the line is full, or closed
      }
      Trace("tx " + std::to_string(written) + (written == 1 ? " byte: " : " bytes: ") +
            HexBytes(out.data(), written) + " (" + outWhat + ")");
      out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(written));
      if (!out.empty()) {
        outWhat += ", continued";
      }
    }

    if (simulator.HangupDue() && out.empty()) {
      Trace("hangup after " + std::to_string(simulator.BytesHandedOut()) +
            " bytes sent: dropping the line once the program has read them");
      line.AwaitDrain();
      return Ending::kDropped;
    }

    Millis timeout = kIdleWait;
    if (const auto wake = simulator.NextWakeUp()) {
      timeout = std::clamp<Millis>(*wake - now, 0, kIdleWait);
    }
    line.Wait(timeout, open, !out.empty());
    const std::string stop = TakeStop();
    if (!stop.empty()) {
      Trace(stop + ": stopping");
      return Ending::kStopped;
    }
  }
}

}  // namespace

int Run(int argc, char** argv) {
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
  if (!InstallStopHandlers(&error)) {
    std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
    return 1;
  }
  const std::unique_ptr<Line> line = OpenLine(options, &error);
  if (!line) {
    if (error.empty()) {
      Trace(TakeStop() + " before the line was open: stopping");
      return 0;
    }
    std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
    return 1;
  }
  Trace("reader-sim: " + line->Where() + ", scenario " + ScenarioName(options.scenario) +
        ", tags " + TagList(options.tags) + ", interval " + std::to_string(options.intervalMs) +
        " ms" + line->Remark());

  Options serving = options;
  Ending ending;
  while ((ending = Serve(serving, *line)) == Ending::kDropped && serving.returnAfterMs > 0) {
    if (!line->Unplug(&error)) {
      std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
      return 1;
    }
    Trace("line dropped; back in " + std::to_string(serving.returnAfterMs) + " ms");
    if (StopArrived(serving.returnAfterMs)) {
      Trace("signal while away: stopping");
      break;
    }
    std::string back;
    if (!line->Replug(&back, &error)) {
      if (error.empty()) {  // stopped while the line could not be opened yet
        Trace("signal while away: stopping");
        break;
      }
      std::fprintf(stderr, "reader-sim: %s\n", error.c_str());
      return 1;
    }
    Trace("back: " + back);
    serving.scenario = Scenario::kNormal;
    serving.returnAfterMs = 0;
  }

  Trace(line->Close());
  if (ending == Ending::kLost) {
    std::fprintf(stderr, "reader-sim: the line went away; see the trace\n");
    return 1;
  }
  return 0;
}

}  // namespace readersim
