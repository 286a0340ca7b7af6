// The command exchange over the recording fake, with a reader scripted on the fake port.
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

Bytes Counting(std::size_t n, std::uint8_t first = 1) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<std::uint8_t>(first + i);
  }
  return bytes;
}

Bytes Rx() {
  return Bytes(std::begin(RxBuffer), std::end(RxBuffer));
}

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

  // The reader answers with reply once the whole frame (its length byte says how long)
  // has come, after delay ms.
  void AnswerFrameWith(const Bytes& reply, std::uint64_t delay = 0) {
    port.OnWrite = [reply, delay](fake::FakePort& p, const Bytes&) {
      const Bytes& line = p.Line();
      if (!line.empty() && line.size() == line[0]) {
        p.Receive(reply, delay);
      }
    };
  }

  // The clock values read after the start, relative to the start reading.
  std::vector<std::uint32_t> ClockReadings() const {
    std::vector<std::uint32_t> readings;
    for (const fake::Call& call : os.Calls()) {
      if (call.function == "TimeGetTime") {
        readings.push_back(call.number);
      }
    }
    for (std::size_t i = readings.size(); i-- > 0;) {
      readings[i] -= readings[0];
    }
    return readings;
  }
};

// Each frame goes out as a block and its checksum byte by byte, each with its pause; its
// lengths are appended to the log; the clock starts after the last pause.
TEST_F(CommandExchange, FramesGoOutWithTheirChecksumAndAreLogged) {
  { std::ofstream(CommandLogName) << "earlier\n"; }
  AnswerFrameWith(Counting(14));
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

TEST_F(CommandExchange, StopsAtTheExpectedCountAndLeavesTheRestUnread) {
  const Bytes reply = Counting(20, 0x80);
  AnswerFrameWith(reply, 30);
  EXPECT_TRUE(SendCommand(kSnapshot.data(), 14));

  Bytes expected(250, 0);
  std::copy(reply.begin(), reply.begin() + 14, expected.begin());
  EXPECT_EQ(Rx(), expected);
  EXPECT_EQ(RxPos, 14);
  EXPECT_EQ(port.Unread(), 6u);
  // The reply starts 30 ms after the last byte went out, which was before its 1 ms pause.
  EXPECT_EQ(os.Now(), start + 4 + 30);
}

TEST_F(CommandExchange, ShortReplyFailsAtTheLimitKeepingWhatCame) {
  const Bytes reply = {0x00, 0x01, 0x00, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
  AnswerFrameWith(reply, 2);
  EXPECT_FALSE(SendCommand(kSnapshot.data(), 14));

  Bytes expected(250, 0);
  std::copy(reply.begin(), reply.end(), expected.begin());
  expected[0] = 0x00;
  EXPECT_EQ(Rx(), expected);
  EXPECT_EQ(RxPos, 10);
  // The first empty read that finds more than 500 ms gone ends it: 501 ms.
  const auto readings = ClockReadings();
  ASSERT_GE(readings.size(), 3u);
  EXPECT_EQ(readings.back(), 501u);
  EXPECT_EQ(readings[readings.size() - 2], 500u);
  EXPECT_EQ(os.Now(), start + 5 + 501);
}

TEST_F(CommandExchange, AReaderThatKeepsSendingHoldsTheExchangeOpen) {
  // A byte every ms from 400 to 700 ms after the start: the limit is only looked at after
  // an empty read, so the exchange ends 1 ms after the stream stops.
  for (std::uint64_t t = 400; t <= 700; ++t) {
    port.ReceiveAt(start + 5 + t, {0x5A});
  }
  EXPECT_FALSE(SendCommand(kSnapshot.data(), 255));
  EXPECT_EQ(os.Now(), start + 5 + 701);
  EXPECT_EQ(ClockReadings().back(), 701u);
}

TEST_F(CommandExchange, LimitHoldsAcrossTheClocksSignAndWrapBoundaries) {
  // 2^31: a signed comparison would see the wait end at once; 2^32: the clock wraps.
  for (std::uint32_t startClock : {0x7FFFFF00u, 0xFFFFFF00u, 0xFFFFFFFBu, 0x7FFFFFFBu}) {
    SCOPED_TRACE(startClock);
    fake::FakePlatform clock;
    fake::ScopedPlatform useClock(clock);
    fake::FakePort& p = clock.AddPort("COM1");
    clock.StartClock = startClock;
    ASSERT_TRUE(OpenComPort(1, "9600,n,8,1"));

    EXPECT_FALSE(SendCommand(kSnapshot.data(), 14));
    EXPECT_EQ(clock.Now(), 5u + 501u);

    // A reply that comes after the boundary has been passed is still taken.
    p.OnWrite = [](fake::FakePort& q, const Bytes&) {
      if (q.Line().size() % 5 == 0) {
        q.Receive(Counting(14), 400);
      }
    };
    const std::uint64_t before = clock.Now();
    EXPECT_TRUE(SendCommand(kSnapshot.data(), 14));
    EXPECT_EQ(clock.Now(), before + 4 + 400);
    CloseComPort();
  }
}

TEST_F(CommandExchange, CountsOf250AndMoreWrapAroundTheBuffer) {
  Bytes reply(260);
  for (std::size_t i = 0; i < reply.size(); ++i) {
    reply[i] = static_cast<std::uint8_t>(i < 250 ? 0x10 : 0xA0 + (i - 250));
  }
  AnswerFrameWith(reply);
  EXPECT_FALSE(SendCommand(kSnapshot.data(), 250));
  EXPECT_EQ(RxPos, 10);
  Bytes expected(250, 0x10);
  for (int i = 0; i < 10; ++i) {
    expected[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xA0 + i);
  }
  EXPECT_EQ(Rx(), expected);

  // 255 bytes for a count of 255: RxPos passes 249 -> 0 and only reaches 5.
  port.ClearLine();
  AnswerFrameWith(Bytes(255, 0x33));
  EXPECT_FALSE(SendCommand(kSnapshot.data(), 255));
  EXPECT_EQ(RxPos, 5);
}

// What waits before the frame goes out (the tail of an earlier reply, records nobody read)
// is thrown away just before the frame, so the reply starts with the reader's answer; a
// reply byte that comes during the write is kept.
TEST_F(CommandExchange, BytesWaitingBeforeTheFrameAreDiscarded) {
  port.Receive({0x0D, 0xE0, 0x04, 0x0E, 0x0E});
  port.Receive({0x33}, 2);  // during the block's pause, after the purge
  AnswerFrameWith(Counting(13));
  EXPECT_TRUE(SendCommand(kSnapshot.data(), 14));

  Bytes expected(250, 0);
  expected[0] = 0x33;
  const Bytes rest = Counting(13);
  std::copy(rest.begin(), rest.end(), expected.begin() + 1);
  EXPECT_EQ(Rx(), expected);
  EXPECT_EQ(os.Trace().front(), "PurgeComm(COM1, 0x8)");
  EXPECT_EQ(port.Line(), (Bytes{0x05, 0x11, 0x1E, 0x1B, 0x2E}));
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

// Failed writes go unnoticed; a read that finds the port lost ends the exchange at once, as
// a failure, with what came kept and the port closed, once: the caller's close, and further
// reads, find nothing left to do.
TEST_F(CommandExchange, ALostPortEndsTheExchangeAtOnce) {
  port.FailWritesFrom(0);
  port.Receive({0x0E, 0x11}, 10);
  port.FailReadsFrom(start + 5 + 20);
  EXPECT_FALSE(SendCommand(kSnapshot.data(), 14));
  EXPECT_EQ(os.Now(), start + 5 + 20);
  Bytes came(RxBufferSize, 0);
  came[0] = 0x0E;
  came[1] = 0x11;
  EXPECT_EQ(Rx(), came);
  EXPECT_FALSE(port.IsOpen());
  os.ClearCalls();
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  EXPECT_FALSE(ReadComPort(&byte, 1, got));
  CloseComPort();
  EXPECT_TRUE(os.Calls().empty());
}

}  // namespace
