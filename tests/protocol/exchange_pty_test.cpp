// The command exchange through the POSIX backend, against a reader played on the other
// side of a real pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>

#include "protocol/command_exchange.h"
#include "serial/serial_port.h"
#include "tests/support/pseudo_terminal.h"

namespace {

using fake::Bytes;

const Bytes kSnapshot = {0x05, 0x11, 0x1E};
const Bytes kUid = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0};

Bytes Reply(std::size_t n) {
  Bytes reply(n);
  for (std::size_t i = 0; i < n; ++i) {
    reply[i] = static_cast<std::uint8_t>(0xE0 + i);
  }
  return reply;
}

class ExchangeOnPty : public ::testing::Test {
 protected:
  fake::PseudoTerminal pty{1};

  void SetUp() override { ASSERT_TRUE(OpenComPort(1, "9600,n,8,1")); }
  void TearDown() override {
    pty.Join();
    CloseComPort();
    EXPECT_EQ(pty.Failure(), "");
  }
};

TEST_F(ExchangeOnPty, BothFramesArriveByteForByteAndTheReplyIsTaken) {
  Bytes seen;
  pty.Play([&](fake::PseudoTerminal& reader) {
    seen = reader.ReadExactly(5, 5000);
    reader.Write(Reply(14));
  });
  EXPECT_TRUE(SendCommand(kSnapshot.data(), 14));
  pty.Join();
  EXPECT_EQ(seen, (Bytes{0x05, 0x11, 0x1E, 0x1B, 0x2E}));
  const Bytes expected = Reply(14);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), RxBuffer));
  EXPECT_EQ(RxBuffer[14], 0);

  pty.Play([&](fake::PseudoTerminal& reader) {
    seen = reader.ReadExactly(18, 5000);
    reader.Write(Reply(20));
  });
  EXPECT_TRUE(SendCommand(kUid.data(), 14));
  pty.Join();
  EXPECT_EQ(seen,
            (Bytes{0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0, 0xC3, 0xEF}));
  // The six bytes past the expected count wait for the next reader of the port.
  std::uint8_t rest[8] = {};
  std::uint32_t got = 0;
  platform::OperatingSystem().SetCommTimeouts(PortHandle, {0, 0, 500, 0, 0});
  EXPECT_TRUE(platform::OperatingSystem().ReadFile(PortHandle, rest, 6, got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(rest[0], 0xE0 + 14);

  std::ifstream log(CommandLogName);
  const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "len:5\n  len-2:3\nlen:18\n  len-2:16\n");
}

TEST_F(ExchangeOnPty, SilenceEndsTheExchangeAfterTheLimit) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendCommand(kSnapshot.data(), 14));
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  // 5 ms of pauses, then 501 ms of waiting; generous above for a loaded machine.
  EXPECT_GE(ms, 505.0);
  EXPECT_LE(ms, 2000.0);
  EXPECT_EQ(pty.ReadExactly(5, 1000).size(), 5u);
}

}  // namespace
