// The figures' statistics, the benchmark reader on a real pseudo-terminal, and the
// timing platform's recognition of passes, on the fake platform.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "bench/bench_support.h"
#include "protocol/command_exchange.h"
#include "serial/serial_port.h"
#include "tests/support/fake_platform.h"

namespace {

using bench::Bytes;

TEST(BenchFigures, MedianAndWorstOfUnsortedSamples) {
  EXPECT_DOUBLE_EQ(bench::Median({5, 1, 3}), 3);
  EXPECT_DOUBLE_EQ(bench::Median({4, 1, 3, 2}), 2.5);
  EXPECT_DOUBLE_EQ(bench::Median({}), 0);
  EXPECT_DOUBLE_EQ(bench::Worst({2, 9, -1, 4}), 9);
  EXPECT_DOUBLE_EQ(bench::Worst({-3, -2}), -2);
}

// Reads what the reader sends back within waitMs.
Bytes ReadReply(int fd, std::size_t count, int waitMs) {
  Bytes got;
  while (got.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) {
      break;
    }
    unsigned char buffer[64];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

TEST(BenchReader, AnswersEachCompleteFrameHoweverTheBytesArrive) {
  bench::PseudoLine line(3);
  std::mutex mutex;
  std::vector<Bytes> frames;
  bench::Reader reader(line, [&](const Bytes& frame) {
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back(frame);
    return Bytes{static_cast<std::uint8_t>(0xA0 + frames.size())};
  });
  const int fd = open("COM3", O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);

  // Two frames in one write, then one frame in two writes.
  const std::uint8_t both[] = {0x03, 0x01, 0x02, 0x04, 0x05, 0x06, 0x07};
  ASSERT_EQ(write(fd, both, sizeof both), static_cast<ssize_t>(sizeof both));
  EXPECT_EQ(ReadReply(fd, 2, 2000), (Bytes{0xA1, 0xA2}));
  const std::uint8_t head[] = {0x05, 0x11};
  const std::uint8_t tail[] = {0x1E, 0x1B, 0x2E};
  ASSERT_EQ(write(fd, head, sizeof head), 2);
  EXPECT_TRUE(ReadReply(fd, 1, 50).empty());
  ASSERT_EQ(write(fd, tail, sizeof tail), 3);
  EXPECT_EQ(ReadReply(fd, 1, 2000), (Bytes{0xA3}));
  close(fd);

  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(frames,
            (std::vector<Bytes>{
                {0x03, 0x01, 0x02}, {0x04, 0x05, 0x06, 0x07}, {0x05, 0x11, 0x1E, 0x1B, 0x2E}}));
}

TEST(BenchTimingPlatform, CountsOnlyReadsRightAfterAHundredMillisecondPause) {
  fake::FakePlatform os;
  fake::FakePort& port = os.AddPort("COM1");
  bench::TimingPlatform timing(os);
  platform::Install(&timing);
  std::vector<int> passes;
  timing.OnPass = [&](int pass) { passes.push_back(pass); };

  ASSERT_TRUE(OpenComPort(1, "9600,n,8,1"));
  platform::Sleep(100);
  const std::uint8_t snapshot[] = {0x05, 0x11, 0x1E};
  // The exchange pauses 3, 1 and 1 ms and reads until its limit: none of it is a pass.
  EXPECT_FALSE(SendCommand(snapshot, 14));
  EXPECT_TRUE(passes.empty());
  EXPECT_EQ(port.Line(), (Bytes{0x05, 0x11, 0x1E, 0x1B, 0x2E}));

  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  for (int i = 0; i < 3; ++i) {
    platform::Sleep(100);
    timing.ReadFile(PortHandle, &byte, 1, got);
    timing.ReadFile(PortHandle, &byte, 1, got);  // a second read in the same pass
  }
  platform::Sleep(100);
  WriteByte(0x00);  // a write between the pause and the read: no pass
  timing.ReadFile(PortHandle, &byte, 1, got);
  EXPECT_EQ(passes, (std::vector<int>{1, 2, 3}));

  const auto before = bench::Clock::now();
  platform::Sleep(7);
  EXPECT_GE(timing.LastSleepEnd(), before);
  timing.ResetPasses();
  platform::Sleep(100);
  timing.ReadFile(PortHandle, &byte, 1, got);
  EXPECT_EQ(passes.back(), 1);

  CloseComPort();
  platform::Install(nullptr);
  // Everything went to the fake: its clock moved by the pauses and the exchange's limit.
  EXPECT_GE(os.Now(), 100u + 5 + 501 + 3 * 100 + 100 + 1 + 7 + 100);
}

}  // namespace
