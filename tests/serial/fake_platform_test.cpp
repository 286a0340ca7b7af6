// The fake platform's own rules, which the tests of every layer above rely on: reads wait
// their time-out in virtual time, scripted input and actions happen at their times.
#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

class FakePlatformTest : public ::testing::Test {
 protected:
  fake::FakePlatform os;
  fake::FakePort& port = os.AddPort("COM1");
  platform::Handle h = os.CreateFile("COM1", platform::GenericRead | platform::GenericWrite, 0,
                                     platform::OpenExisting, 0);

  std::string ReadOne() {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    const bool ok = os.ReadFile(h, &byte, 1, got);
    return !ok ? "fail" : got == 0 ? "none" : fake::Hex({byte});
  }
};

TEST_F(FakePlatformTest, ReadsWaitTheirTimeoutOrUntilTheByteComes) {
  os.SetCommTimeouts(h, {0, 0, 1, 0, 0});
  port.Receive({0x11});
  port.Receive({0x22, 0x33}, 10);
  EXPECT_EQ(ReadOne(), "11");
  EXPECT_EQ(os.Now(), 0u);
  EXPECT_EQ(ReadOne(), "none");
  EXPECT_EQ(os.Now(), 1u);
  os.Sleep(8);
  EXPECT_EQ(ReadOne(), "22");  // comes at 10, as the read's time-out runs out
  EXPECT_EQ(os.Now(), 10u);
  EXPECT_EQ(port.Unread(), 1u);

  // Total time-out of multiplier * count + constant; a byte arriving in the middle ends a
  // one-byte read at once.
  os.SetCommTimeouts(h, {0, 10, 5, 0, 0});
  EXPECT_EQ(ReadOne(), "33");
  port.Receive({0x44}, 7);
  const std::uint64_t before = os.Now();
  EXPECT_EQ(ReadOne(), "44");
  EXPECT_EQ(os.Now() - before, 7u);
  EXPECT_EQ(ReadOne(), "none");
  EXPECT_EQ(os.Now() - before, 22u);

  // No time-outs at all: waits for as long as it takes, and refuses to wait forever.
  os.SetCommTimeouts(h, {0, 0, 0, 0, 0});
  port.Receive({0x55}, 1000);
  EXPECT_EQ(ReadOne(), "55");
  EXPECT_THROW(ReadOne(), std::logic_error);
}

TEST_F(FakePlatformTest, ActionsRunAtTheirTimeInOrder) {
  os.SetCommTimeouts(h, {0, 0, 1, 0, 0});
  std::vector<std::string> seen;
  os.At(5, [&] { seen.push_back("5a@" + std::to_string(os.Now())); });
  os.At(3, [&] {
    seen.push_back("3@" + std::to_string(os.Now()));
    port.Receive({0x77}, 1);
  });
  os.At(5, [&] { seen.push_back("5b@" + std::to_string(os.Now())); });
  os.Sleep(2);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(ReadOne(), "none");  // 2 -> 3
  EXPECT_EQ(ReadOne(), "77");    // 3 -> 4, the byte the action queued
  os.Sleep(10);
  EXPECT_EQ(seen, (std::vector<std::string>{"3@3", "5a@5", "5b@5"}));
  EXPECT_EQ(os.Now(), 14u);
}

TEST_F(FakePlatformTest, AVanishedReaderMakesReadsFailAfterTheirTimeout) {
  os.SetCommTimeouts(h, {0, 0, 1, 0, 0});
  port.Receive({0x01, 0x02});
  port.FailReadsFrom(3);
  EXPECT_EQ(ReadOne(), "01");
  os.Sleep(3);
  EXPECT_EQ(ReadOne(), "fail");
  EXPECT_EQ(os.Now(), 4u);
  EXPECT_EQ(port.Unread(), 0u);
}

TEST_F(FakePlatformTest, PortsAreExclusiveAndTheClockWraps) {
  EXPECT_EQ(os.CreateFile("COM1", platform::GenericRead, 0, platform::OpenExisting, 0),
            platform::InvalidHandle);
  EXPECT_EQ(os.CreateFile("COM2", platform::GenericRead, 0, platform::OpenExisting, 0),
            platform::InvalidHandle);
  EXPECT_TRUE(os.CloseHandle(h));
  EXPECT_FALSE(os.CloseHandle(h));
  EXPECT_NE(os.CreateFile("COM1", platform::GenericRead, 0, platform::OpenExisting, 0),
            platform::InvalidHandle);

  os.StartClock = 0xFFFFFFFEu;
  EXPECT_EQ(os.TimeGetTime(), 0xFFFFFFFEu);
  os.Sleep(3);
  EXPECT_EQ(os.TimeGetTime(), 1u);
}

TEST(ScopedPlatform, InstallsAndRestores) {
  platform::Platform& before = platform::Current();
  {
    fake::FakePlatform outer;
    fake::ScopedPlatform useOuter(outer);
    {
      fake::FakePlatform inner;
      fake::ScopedPlatform useInner(inner);
      EXPECT_EQ(&platform::Current(), &inner);
    }
    EXPECT_EQ(&platform::Current(), &outer);
    platform::Sleep(5);
    EXPECT_EQ(outer.Now(), 5u);
  }
  EXPECT_EQ(&platform::Current(), &before);
}

}  // namespace
