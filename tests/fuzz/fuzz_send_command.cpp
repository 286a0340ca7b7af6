// SendCommand on the fake platform with arbitrary frames, expected counts, clock starts,
// reply bytes and arrival times, and a reader that may go away mid-reply.
//
// Input: [expected count] [frame length N] [4 bytes: clock at start] [hang-up flag and
// time] then (gap in ms, byte) pairs: the reply bytes and how long after the previous
// one each arrives, the first 8 ms before the wait starts (so some wait in the queue).
//
// Invariants, against a model on arrival times measured from the start of the wait:
// - N below 3: false, nothing goes out. Otherwise the frame's N-2 bytes and two more go
//   out, and the frame is read no further than its N-2 bytes (ASan).
// - The result is true exactly when the expected count is 0, or is below 250 and the
//   byte that completes it arrived before the reader went away and before a read found
//   nothing after more than 500 ms; the exchange ends at that moment, or at the first read
//   that finds the reader gone, and has then taken every byte that had come (a model that
//   steps through the reads says which).
// - Bytes that came before the frame went out are discarded, never taken.
// - RxBuffer holds exactly the bytes taken, stored round from index 0, zeros elsewhere,
//   and RxPos points after the last of them; nothing is written outside RxBuffer (ASan).
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "protocol/command_exchange.h"
#include "serial/serial_port.h"
#include "testing/fake_platform.h"
#include "tests/fuzz/fuzz_check.h"

// Code of the harness, not of the program: left out of the coverage that guides libFuzzer.
#ifdef __clang__
#define HARNESS_ONLY __attribute__((no_sanitize("coverage")))
#else
#define HARNESS_ONLY
#endif

namespace {

struct Arrival {
  std::int64_t time;  // ms from the start of the wait; 0 for bytes already waiting
  std::uint8_t byte;
};

// What the exchange must do with these arrivals: its result, when it ends (ms from the start
// of the wait), which bytes it can get and how many it takes. The harness, not the code
// searched: left out of the coverage that guides the fuzzer.
struct Model {
  bool result;
  std::int64_t end;
  std::vector<Arrival> readable;
  std::size_t taken;
};

HARNESS_ONLY Model Expected(const std::vector<Arrival>& arrivals, std::uint8_t expectedCount,
                            bool hangsUp, std::int64_t hangUpAt) {
  // The bytes the exchange can get: those that came after the frame began to go out and
  // before the reader went away, each readable from the start of the wait at the earliest.
  std::vector<Arrival> readable;
  for (Arrival a : arrivals) {
    if (a.time <= -5) {
      continue;  // waiting when the frame went out: purged
    }
    a.time = std::max<std::int64_t>(a.time, 0);
    if (!hangsUp || a.time < hangUpAt) {
      readable.push_back(a);
    }
  }

  // The model: reads go on back to back from the start of the wait; one that finds a
  // byte (already there, or arriving within its 1 ms) takes it at once, one that finds
  // none takes 1 ms and ends the exchange when the reader has gone by then or more than
  // 500 ms have passed.
  bool expected = expectedCount == 0;
  std::int64_t clock = 0;
  std::size_t taken = 0;
  while (!expected) {
    if (taken < readable.size() && readable[taken].time <= clock + 1) {
      clock = std::max(clock, readable[taken].time);
      ++taken;
      // Never for 250 and more: RxPos goes round to 0 first.
      expected = expectedCount < RxBufferSize && taken == expectedCount;
    } else if (++clock > 500 || (hangsUp && clock >= hangUpAt)) {
      break;
    }
  }
  return {expected, clock, readable, taken};
}

}  // namespace

// Every exchange appends to the command log "test.txt" in the working directory: run in
// a directory of our own (one per user, kept for the next run) where that name leads to
// /dev/null. The link is made under a name of this process's and renamed over the log's,
// which is atomic: runs at the same time (two test suites, parallel fuzzing jobs) each
// find it in place, where removing the old one and linking anew let one of them fail.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("pavo-fuzz-" + std::to_string(getuid()));
  const std::string link = "link-" + std::to_string(getpid());
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  std::filesystem::current_path(directory, error);
  if (error) {
    std::abort();
  }
  std::filesystem::create_symlink("/dev/null", link, error);  // or one a crashed run left
  std::filesystem::rename(link, CommandLogName, error);
  if (error) {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 8;
  if (size < kHeader) {
    return 0;
  }
  const std::uint8_t expectedCount = data[0];
  const std::uint8_t length = data[1];
  const std::uint32_t startClock = static_cast<std::uint32_t>(data[2]) << 24 |
                                   static_cast<std::uint32_t>(data[3]) << 16 |
                                   static_cast<std::uint32_t>(data[4]) << 8 | data[5];
  const bool hangsUp = (data[6] & 1) != 0;
  const std::int64_t hangUpAt = static_cast<std::int64_t>(data[7]) * 3 - 8;

  std::vector<Arrival> arrivals;
  std::int64_t t = -8;
  for (std::size_t i = kHeader; i + 1 < size; i += 2) {
    t += data[i];
    arrivals.push_back({t, data[i + 1]});
  }

  fake::FakePlatform os;
  fake::ScopedPlatform use(os);
  os.Recording = false;
  os.StartClock = startClock;
  fake::FakePort& port = os.AddPort("COM1");
  FUZZ_CHECK(OpenComPort(1, "9600,n,8,1"));
  os.Advance(16);

  // The wait starts after the 3 ms pause of the block and 1 ms after each checksum byte.
  const std::uint64_t begin = os.Now();
  const std::uint64_t waitStart = begin + 5;
  for (const Arrival& a : arrivals) {
    port.ReceiveAt(static_cast<std::uint64_t>(static_cast<std::int64_t>(waitStart) + a.time),
                   {a.byte});
  }
  if (hangsUp) {
    port.FailReadsFrom(static_cast<std::uint64_t>(static_cast<std::int64_t>(waitStart) + hangUpAt));
  }

  // Exactly the caller's part of the frame, so that a read beyond it is caught.
  std::vector<std::uint8_t> frame(length >= 3 ? length - 2u : 1u, 0x5A);
  frame[0] = length;
  std::fill(RxBuffer, RxBuffer + RxBufferSize, 0xA5);

  const bool result = SendCommand(frame.data(), expectedCount);
  const std::uint64_t end = os.Now();
  CloseComPort();

  if (length < 3) {
    FUZZ_CHECK(!result);
    FUZZ_CHECK(port.Line().empty());
    return 0;
  }
  FUZZ_CHECK(port.Line().size() == length);
  FUZZ_CHECK(std::equal(frame.begin(), frame.end(), port.Line().begin()));

  const Model want = Expected(arrivals, expectedCount, hangsUp, hangUpAt);
  FUZZ_CHECK(result == want.result);
  FUZZ_CHECK(static_cast<std::int64_t>(end - waitStart) == want.end);

  std::uint8_t model[RxBufferSize] = {};
  for (std::size_t i = 0; i < want.taken; ++i) {
    model[i % RxBufferSize] = want.readable[i].byte;
  }
  FUZZ_CHECK(std::equal(model, model + RxBufferSize, RxBuffer));
  FUZZ_CHECK(RxPos == static_cast<std::int32_t>(want.taken % RxBufferSize));
  return 0;
}
