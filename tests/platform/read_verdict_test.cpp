// How a pulled adapter shows on each kind of driver, and which reads count as a lost port.
#include "platform/read_verdict.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using platform::Answer;
using platform::ReadVerdict;
// What drivers answer, by the values they send (the Win32 error codes): the decision must
// know the first four by these values, and need not name the others.
constexpr std::uint32_t InvalidFunction = 1, NotSupported = 50, InvalidParameter = 87;
constexpr std::uint32_t OperationAborted = 995;
constexpr std::uint32_t AccessDenied = 5, NotReady = 21, BadCommand = 22, DeviceRemoved = 1617;

const Answer Ok{};
const auto Fails = [](std::uint32_t error) { return Answer{false, error}; };

// A driver's answers: every read gives `bytes` bytes (or fails as `read` says), the status
// calls answer as given. Counts how often each status call is asked.
struct Driver : platform::PortCalls {
  Answer read = Ok, clear = Ok, state = Ok;
  std::uint32_t bytes = 0;
  int clears = 0, states = 0;

  Answer Read(void*, std::uint32_t count, std::uint32_t& got) override {
    got = read.ok ? std::min(bytes, count) : 0;
    return read;
  }
  Answer ClearErrors() override { return ++clears, clear; }
  Answer CheckState() override { return ++states, state; }
};

// Reads every 100 ms, as the UID loop does (or every `step` ms), until the port counts as
// lost; the number of the read that found it (1 for the first), or 0 when none did within
// `passes`.
int PassesUntilLost(platform::LossWatch& watch, Driver& driver, std::uint32_t& now, int passes = 40,
                    std::uint32_t step = 100) {
  unsigned char buffer[16];
  for (int pass = 1; pass <= passes; ++pass) {
    std::uint32_t got = 0;
    now += step;
    if (watch.Read(driver, now, buffer, sizeof buffer, got) == ReadVerdict::Lost) {
      return pass;
    }
  }
  return 0;
}

struct Row {
  const char* driver;
  Answer read;  // the reads after the adapter was pulled (empty when they succeed)
  Answer clear;
  Answer state;
  int lostAt;  // the read after the pull that counts the port as lost
};

// After some reads with bytes, the adapter is pulled: each driver's way of saying so is
// noticed, at once where a call fails and within about a second where only reads go quiet.
TEST(ReadVerdict, EveryDriversWayOfLosingAPortIsNoticed) {
  const Row rows[] = {
      {"FTDI: the read is aborted, again after the clear", Fails(OperationAborted), Ok, Ok, 2},
      {"PL2303 and usbser.sys since Windows 10: bad command", Fails(BadCommand), Ok, Ok, 1},
      {"CH340: access denied, status calls still answer", Fails(AccessDenied), Ok, Ok, 1},
      {"Bluetooth serial: device removed", Fails(DeviceRemoved), Ok, Ok, 1},
      {"Wine: empty reads, ClearCommError not ready", Ok, Fails(NotReady), Ok, 1},
      {"older CH340, usbser.sys before Windows 10: empty reads only", Ok, Ok, Fails(AccessDenied),
       11},
      {"empty reads, ClearCommError not implemented", Ok, Fails(InvalidParameter),
       Fails(BadCommand), 11},
  };
  for (const Row& row : rows) {
    Driver driver;
    platform::LossWatch watch;
    std::uint32_t now = 0xFFFFFC00u;  // the clock wraps on the way
    driver.bytes = 3;
    ASSERT_EQ(PassesUntilLost(watch, driver, now, 20), 0) << row.driver;

    driver.bytes = 0;
    driver.read = row.read;
    driver.clear = row.clear;
    driver.state = row.state;
    EXPECT_EQ(PassesUntilLost(watch, driver, now), row.lostAt) << row.driver;
  }
}

// What must not count as lost: a quiet line, a cured line error, drivers without the status
// calls. A quiet line asks the port's state after each full second of quiet, not every
// read: here read by read, 1 ms apart, as an exchange reads.
TEST(ReadVerdict, AQuietOrRecoveringPortIsNotLost) {
  Driver quiet;
  platform::LossWatch watch;
  std::uint32_t now = 0;
  EXPECT_EQ(PassesUntilLost(watch, quiet, now, 5000, 1), 0);
  EXPECT_EQ(quiet.clears, 5000);
  EXPECT_EQ(quiet.states, 4);

  // Line errors now and then (each cleared, bytes in between), and no status calls at all.
  for (const std::uint32_t unsupported : {InvalidFunction, NotSupported, InvalidParameter}) {
    Driver driver;
    driver.clear = Fails(unsupported);
    driver.state = Fails(unsupported);
    platform::LossWatch recovering;
    for (int round = 0; round < 5; ++round) {
      driver.read = Fails(OperationAborted);
      EXPECT_EQ(PassesUntilLost(recovering, driver, now, 1), 0) << unsupported;
      driver.read = Ok;
      driver.bytes = round % 2;  // an empty read, or one with a byte, cures it
      EXPECT_EQ(PassesUntilLost(recovering, driver, now, 1), 0) << unsupported;
    }
    driver.bytes = 0;
    EXPECT_EQ(PassesUntilLost(recovering, driver, now, 30), 0) << unsupported;
  }

  // An abort whose clear fails is a lost port.
  Driver aborted;
  aborted.read = Fails(OperationAborted);
  aborted.clear = Fails(AccessDenied);
  platform::LossWatch lost;
  EXPECT_EQ(PassesUntilLost(lost, aborted, now), 1);
}

}  // namespace
