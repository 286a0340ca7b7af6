// A recording platform with a virtual clock, for tests of everything above the platform
// layer. Time passes only when the code sleeps or when a read waits for its time-out, so
// tests are fast and exact. Every call is recorded in order with its arguments and the
// virtual time at which it was made.
//
//   fake::FakePlatform os;
//   fake::ScopedPlatform use(os);           // installs it, restores the previous one
//   fake::FakePort& com1 = os.AddPort("COM1");
//   com1.OnWrite = [&](fake::FakePort& port, const fake::Bytes& bytes) {
//     port.Receive({0x0E, 0x00 /* ... */}, 5);  // the reader answers 5 ms later
//   };
//   os.At(250, [] { /* runs when the clock reaches 250 ms */ });
//   ... code under test ...
//   EXPECT_EQ(os.Trace({"ReadFile", "TimeGetTime"}), (std::vector<std::string>{...}));
//
// Times are virtual milliseconds since the fake was made ("fake time"); TimeGetTime
// reports StartClock plus fake time, wrapping at 2^32 like the real clock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

// One recorded platform call.
struct Call {
  std::uint64_t time = 0;  // fake time when the call was made (before it waited)
  std::string function;    // "CreateFile", "ReadFile", "Sleep", ...
  // The call as text: "CreateFile(COM1, 0xC0000000, 0, 3, 0)", "Sleep(3)",
  // "WriteFile(COM1, 05 11 1E)", "ReadFile(COM1, 1) = 1E", "ReadFile(COM1, 1) = none",
  // "SetCommTimeouts(COM1, 0/0/1/0/0)", "BuildCommDCB(9600,n,8,1)",
  // "SetCommState(COM1, 9600 N 8 1)", "PurgeComm(COM1, 0x8)", "TimeGetTime() = 1234". A
  // failed call ends in " -> false"; a handle of no port is "#<handle>".
  std::string text;
  std::uint32_t number = 0;  // ReadFile: the count asked for; TimeGetTime: the value
  Bytes bytes;               // WriteFile: the bytes given; ReadFile: the bytes read
};

class FakePlatform;

// A port that exists by name. Its state lives across opens, like a device's.
class FakePort {
 public:
  bool IsOpen() const { return handle_ != platform::InvalidHandle; }
  int OpenCount() const { return opens_; }

  // Time-outs the port carries; set before an open to choose what GetCommTimeouts reads.
  platform::CommTimeouts Timeouts{};
  // Line settings the port carries (what GetCommState reads, SetCommState writes).
  platform::LineSettings Settings;

  // Every byte written to the line so far, across opens.
  const Bytes& Line() const { return line_; }

  // Scripted input: bytes that become readable after `delay` ms from now (0: at once), or
  // at an absolute fake time.
  void Receive(const Bytes& bytes, std::uint64_t delay = 0);
  void ReceiveAt(std::uint64_t time, const Bytes& bytes);
  // Bytes in the input queue, readable now or later, not yet read.
  std::size_t Unread() const { return input_.size(); }

  // Called after each successful write with the bytes written; may call Receive.
  std::function<void(FakePort&, const Bytes&)> OnWrite;

  // From this fake time on, reads fail (after waiting their time-out, as a hung-up line
  // does) and bytes still queued are lost: the reader has gone.
  void FailReadsFrom(std::uint64_t time) { failReadsFrom_ = time; }
  // SetCommTimeouts / SetCommState refuse (return false, change nothing).
  bool RefuseTimeouts = false, RefuseSettings = false;

 private:
  friend class FakePlatform;
  FakePort(FakePlatform& os, std::string name) : os_(os), name_(std::move(name)) {}

  struct Arrival {
    std::uint64_t time;
    std::uint8_t byte;
  };
  FakePlatform& os_;
  std::string name_;
  platform::Handle handle_ = platform::InvalidHandle;
  int opens_ = 0;
  Bytes line_;
  std::deque<Arrival> input_;  // ordered by time
  std::uint64_t failReadsFrom_ = UINT64_MAX;
};

class FakePlatform : public platform::Platform {
 public:
  FakePlatform() = default;
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Makes a port of that name exist ("COM1"); other names fail to open.
  FakePort& AddPort(const std::string& name);
  // Makes a port disappear: it can no longer be opened; an open handle stays usable, and
  // while it is held a port added again under the name does not open.
  void RemovePort(const std::string& name);

  // Fake time in ms since the fake was made.
  std::uint64_t Now() const { return now_; }
  // What TimeGetTime reports at fake time 0 (set before the code reads the clock).
  std::uint32_t StartClock = 0;
  // Runs action when the clock reaches time (during a Sleep or a waiting read). Actions
  // due at the same time run in the order they were added. An action for a time already
  // reached runs at the next Sleep or read.
  void At(std::uint64_t time, std::function<void()> action);
  // Moves the clock on by ms, running what falls due (without recording a call).
  void Advance(std::uint64_t ms) { AdvanceTo(now_ + ms); }

  // The calls made so far.
  const std::vector<Call>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  // Calls as their texts, leaving out the functions named in skip.
  std::vector<std::string> Trace(std::initializer_list<const char*> skip = {}) const;
  // How many calls of function were made.
  std::size_t Count(const std::string& function) const;
  // Recording can be switched off for long loops; the clock and ports work on.
  bool Recording = true;

  // platform::Platform
  platform::Handle CreateFile(const std::string& name, std::uint32_t desiredAccess,
                              std::uint32_t shareMode, std::uint32_t creationDisposition,
                              std::uint32_t flagsAndAttributes) override;
  bool GetCommTimeouts(platform::Handle h, platform::CommTimeouts& timeouts) override;
  bool SetCommTimeouts(platform::Handle h, const platform::CommTimeouts& timeouts) override;
  bool GetCommState(platform::Handle h, platform::LineSettings& settings) override;
  bool BuildCommDCB(const char* definition, platform::LineSettings& settings) override;
  bool SetCommState(platform::Handle h, const platform::LineSettings& settings) override;
  bool WriteFile(platform::Handle h, const void* data, std::uint32_t count,
                 std::uint32_t& written) override;
  bool ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                std::uint32_t& read) override;
  // Drops the bytes that have arrived by now; later ones still come.
  bool PurgeComm(platform::Handle h, std::uint32_t flags) override;
  bool CloseHandle(platform::Handle h) override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t TimeGetTime() override;

 private:
  friend class FakePort;
  struct Action {
    std::uint64_t time, order;
    std::function<void()> action;
  };
  FakePort* Find(platform::Handle h);
  // The read itself: bytes into out as the port's time-outs allow; false when it is lost.
  bool Read(FakePort* port, std::uint8_t* out, std::uint32_t count, std::uint32_t& read);
  // Records function(args) made on handle h (when recording), and returns ok.
  bool Log(const char* function, platform::Handle h, const std::string& args, bool ok);
  // Moves the clock to time, running due actions on the way.
  void AdvanceTo(std::uint64_t time);
  std::uint64_t NextEvent(const FakePort* port) const;

  std::uint64_t now_ = 0;
  platform::Handle nextHandle_ = 0x100;
  std::uint64_t actionOrder_ = 0;
  std::map<std::string, std::unique_ptr<FakePort>> ports_;
  std::vector<std::unique_ptr<FakePort>> removed_;
  std::vector<Action> actions_;
  std::vector<Call> calls_;
};

// Installs a platform for the lifetime of the guard and then puts back the one that was
// current before.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(platform::Platform& platform);
  ~ScopedPlatform() { platform::Install(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  platform::Platform* previous_;
};

}  // namespace fake
