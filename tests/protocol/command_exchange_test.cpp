// The command exchange over the recording fake, with a reader scripted on the fake port.
// Its timing, its receive buffer and the input it discards are checked against a model of
// the exchange over arbitrary replies and clocks by tests/fuzz/fuzz_send_command.cpp.
#include "protocol/command_exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "testing/fake_platform.h"
#include "testing/temp_directory.h"

namespace {

using Trace = std::vector<std::string>;
using fake::Bytes;

const Bytes kSnapshot = {0x05, 0x11, 0x1E};
const Bytes kUid = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0};

// The command log as a program reading it in text mode sees it.
std::string ReadLog() {
  std::ifstream file(CommandLogName);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class CommandExchange : public ::testing::Test {
 protected:
  fake::TempWorkingDirectory dir;
  fake::FakePlatform os;
  fake::ScopedPlatform use{os};
  fake::FakePort& port = os.AddPort("COM1");
  std::uint64_t start = 0;  // fake time at which the exchange starts

  void SetUp() override {
    ASSERT_TRUE(OpenComPort(1, "9600,n,8,1"));
    os.ClearCalls();
    std::fill(std::begin(RxBuffer), std::end(RxBuffer), 0xEE);
    start = os.Now();
  }
};

// Each frame goes out as a block and its checksum byte by byte, each with its pause; its
// lengths are appended to the log; the clock starts after the last pause.
TEST_F(CommandExchange, FramesGoOutWithTheirChecksumAndAreLogged) {
  { std::ofstream(CommandLogName) << "earlier\n"; }
  // The reader answers each whole frame (its length byte says how long) at once.
  port.OnWrite = [](fake::FakePort& p, const Bytes&) {
    if (p.Line().size() == p.Line()[0]) {
      p.Receive(Bytes(14, 0x42));
    }
  };
  EXPECT_TRUE(SendCommand(kSnapshot.data(), 14));
  port.ClearLine();
  EXPECT_TRUE(SendCommand(kUid.data(), 14));

  EXPECT_EQ(
      os.Trace("ReadFile", "TimeGetTime"),
      (Trace{"PurgeComm(COM1, 0x8)", "WriteFile(COM1, 05 11 1E)", "Sleep(3)", "WriteFile(COM1, 1B)",
             "Sleep(1)", "WriteFile(COM1, 2E)", "Sleep(1)", "PurgeComm(COM1, 0x8)",
             "WriteFile(COM1, 12 11 0E 00 00 00 00 00 00 00 00 00 00 00 2B F0)", "Sleep(3)",
             "WriteFile(COM1, C3)", "Sleep(1)", "WriteFile(COM1, EF)", "Sleep(1)"}));
  EXPECT_EQ(ReadLog(), "earlier\nlen:5\n  len-2:3\nlen:18\n  len-2:16\n");
  const auto first = std::find_if(os.Calls().begin(), os.Calls().end(),
                                  [](const fake::Call& c) { return c.function == "TimeGetTime"; });
  ASSERT_NE(first, os.Calls().end());
  EXPECT_EQ(first->time, start + 5);
}

TEST_F(CommandExchange, AFrameShorterThanItsChecksumIsRefused) {
  for (std::uint8_t length : {0, 1, 2}) {
    const std::uint8_t frame[] = {length, 0x11, 0x1E};
    port.Receive({0x01});
    EXPECT_FALSE(SendCommand(frame, 1));
  }
  EXPECT_TRUE(os.Calls().empty());
  EXPECT_TRUE(port.Line().empty());
  EXPECT_FALSE(std::filesystem::exists(CommandLogName));
  EXPECT_EQ(port.Unread(), 3u);

  // The shortest frame allowed: the length byte alone, then its checksum.
  const std::uint8_t three[] = {3};
  EXPECT_TRUE(SendCommand(three, 0));
  EXPECT_EQ(port.Line().size(), 3u);
  EXPECT_EQ(ReadLog(), "len:3\n  len-2:1\n");
}

// Failed writes go unnoticed; a read that finds the port lost ends the exchange at once (the
// model says when) and closes the port, once: the caller's close, and further reads, find
// nothing left to do.
TEST_F(CommandExchange, ALostPortEndsTheExchangeAtOnceAndIsClosedOnce) {
  port.FailWritesFrom(0);
  port.FailReadsFrom(start + 5 + 20);
  EXPECT_FALSE(SendCommand(kSnapshot.data(), 14));
  EXPECT_FALSE(port.IsOpen());
  os.ClearCalls();
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  EXPECT_FALSE(ReadComPort(&byte, 1, got));
  CloseComPort();
  EXPECT_TRUE(os.Calls().empty());
}

}  // namespace
