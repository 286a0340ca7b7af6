// What the benchmarks share: figures with their median, worst and number of runs,
// printed as rows of one table; a pseudo-terminal with a "COMn" link and a reader
// played on a thread of the benchmark; and a platform that forwards to the operating
// system's and notes when the code under measurement sleeps and reads.
#pragma once

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/forwarding_platform.h"
#include "platform/platform.h"
#include "testing/fake_platform.h"
#include "testing/pseudo_terminal.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

double Ms(Clock::duration d);
// CPU time (user + system) of the whole process so far.
double ProcessCpuMs();

// One figure: its samples and what they are compared against.
struct Figure {
  std::string name;
  std::string unit;  // "ms", "MiB", ...
  std::vector<double> samples;
  std::string reference;  // e.g. "floor 100", "goal < 1"; may be empty
};

double Median(std::vector<double> values);
double Worst(const std::vector<double>& values);  // the largest

// Prints figures as rows "name<TAB>unit<TAB>median<TAB>worst<TAB>runs<TAB>reference" when
// tsv is true (scripts/bench joins the rows of every program into one table), else as a
// table with a header.
void Print(const std::vector<Figure>& figures, bool tsv);
// True when the arguments ask for rows only ("--tsv"); the first other argument, if any,
// is a number of runs.
bool TsvRequested(int argc, char** argv);
int RunsArgument(int argc, char** argv, int fallback);

// The reader on the master side of a line, on its own thread: collects frames (the first
// byte is the frame's length) and hands each complete one to respond, whose bytes go back
// at once. respond runs on the reader's thread.
class Reader {
 public:
  using Respond = std::function<Bytes(const Bytes& frame)>;
  Reader(const fake::PseudoTerminal& line, Respond respond);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

 private:
  void Run();
  int master_;
  Respond respond_;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

// The 14-byte reply both commands expect, with a tag identifier in it.
Bytes TagReply();

// Forwards every call to another platform (the operating system's) and notes when the last sleep
// ended, when the last close returned and each read that directly follows a 100 ms sleep (one
// pass of the UID loop).
// Install it with platform::Install(&timing) before the code to measure runs.
class TimingPlatform final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  // Called on the calling thread at the start of each pass, with its number (from 1).
  std::function<void(int pass)> OnPass;
  Clock::time_point LastSleepEnd() const { return lastSleepEnd_; }
  Clock::time_point LastCloseEnd() const { return lastCloseEnd_; }
  void ResetPasses() { passes_ = 0; }

  platform::Handle CreateFile(const std::string& name, std::uint32_t desiredAccess,
                              std::uint32_t shareMode, std::uint32_t creationDisposition,
                              std::uint32_t flagsAndAttributes) override;
  bool WriteFile(platform::Handle h, const void* data, std::uint32_t count,
                 std::uint32_t& written) override;
  bool ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                std::uint32_t& read) override;
  bool CloseHandle(platform::Handle h) override;
  void Sleep(std::uint32_t milliseconds) override;

 private:
  Clock::time_point lastSleepEnd_{};
  Clock::time_point lastCloseEnd_{};
  bool afterPassSleep_ = false;
  int passes_ = 0;
};

}  // namespace bench
