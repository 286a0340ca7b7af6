// The serial port and the command exchange through the real Win32 calls. The port named by
// PAVO_WIN_TEST_PORT (a number) must lead to the reader driver of reader_driver.cpp; under
// Wine that is a dosdevices link to its pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/command_exchange.h"
#include "protocol/crc16.h"
#include "serial/platform.h"
#include "serial/platform_fake.h"
#include "serial/serial_port.h"
#include "tests/support/temp_directory.h"
#include "tests/win/line_report.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef CreateFile
#undef BuildCommDCB

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t ReadWrite = platform::GenericRead | platform::GenericWrite;
const std::uint8_t SnapshotCommand[] = {0x05, 0x11, 0x1E};
const std::uint8_t UidCommand[] = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0};
const std::uint8_t LineProbe[] = {0x05, 0x11, 0x7F};
const std::uint8_t Unanswered[] = {0x05, 0x11, 0x55};

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

platform::Platform& System() {
  return platform::OperatingSystem();
}

// Forwards to the operating system, but gives each port it opens a set of time-outs of its
// own first, as another program could have left them, and notes the time-outs the port
// carries when it is closed.
class LeftoverTimeouts : public fake::ForwardingPlatform {
 public:
  static constexpr platform::CommTimeouts Leftover{7, 3, 250, 2, 100};
  platform::CommTimeouts atClose{};
  int closes = 0;

  platform::Handle CreateFile(const std::string& name, std::uint32_t access, std::uint32_t share,
                              std::uint32_t disposition, std::uint32_t flags) override {
    const platform::Handle h = Inner().CreateFile(name, access, share, disposition, flags);
    if (h != platform::InvalidHandle) {
      Inner().SetCommTimeouts(h, Leftover);
    }
    return h;
  }
  bool CloseHandle(platform::Handle h) override {
    Inner().GetCommTimeouts(h, atClose);
    ++closes;
    return Inner().CloseHandle(h);
  }
};
constexpr platform::CommTimeouts LeftoverTimeouts::Leftover;

// Each test runs in a fresh working directory (the exchange appends to "test.txt" there)
// with the operating system's platform, and finds the port closed.
class Win32Port : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* number = std::getenv("PAVO_WIN_TEST_PORT");
    ASSERT_NE(number, nullptr) << "PAVO_WIN_TEST_PORT must name the COM port number of the "
                                  "reader driver (scripts/test-windows sets it)";
    port_ = std::atoi(number);
    ASSERT_GT(port_, 0);
    platform::Install(nullptr);
  }
  void TearDown() override {
    if (open_) {
      CloseComPort();
    }
    platform::Install(nullptr);
  }

  void Open() {
    open_ = OpenComPort(port_, "9600,n,8,1");
    ASSERT_TRUE(open_) << "COM" << port_ << " did not open";
  }
  void Close() {
    CloseComPort();
    open_ = false;
  }
  std::string PortName() const { return "COM" + std::to_string(port_); }

  LineReport ProbeLine() {
    EXPECT_TRUE(SendCommand(LineProbe, LineReport::Size)) << "the driver sent no line report";
    return LineReport::Decode(RxBuffer);
  }

  fake::TempWorkingDirectory dir_;
  int port_ = 0;
  bool open_ = false;
};

// The line as the port opens it: raw 9600 8N1 without flow control.
void ExpectRaw8N1(const LineReport& r) {
  EXPECT_EQ(r.outputBaud, 9600u);
  EXPECT_EQ(r.inputBaud, 9600u);
  EXPECT_EQ(r.dataBits, 8);
  EXPECT_EQ(r.parity, 0);
  EXPECT_EQ(r.stopBits, 1);
  EXPECT_FALSE(r.hardwareFlow);
  EXPECT_FALSE(r.outputXonXoff);
  EXPECT_FALSE(r.inputXonXoff);
}
void ExpectRaw8N1(const platform::LineSettings& s) {
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, platform::Parity::None);
  EXPECT_EQ(s.StopBits, platform::StopBits::One);
  EXPECT_FALSE(s.SoftwareFlowControl);
  EXPECT_FALSE(s.HardwareFlowControl);
}

TEST_F(Win32Port, FramesArriveByteForByteAndRepliesAreCollected) {
  Open();

  // The driver sends the UID frame back exactly as it came.
  ASSERT_TRUE(SendCommand(UidCommand, 18));
  const std::uint8_t uidOnLine[] = {0x12, 0x11, 0x0E, 0, 0, 0,    0,    0,    0,
                                    0,    0,    0,    0, 0, 0x2B, 0xF0, 0xC3, 0xEF};
  for (int i = 0; i < 18; ++i) {
    EXPECT_EQ(RxBuffer[i], uidOnLine[i]) << "UID frame byte " << i;
  }
  EXPECT_EQ(RxBuffer[18], 0);

  // The 14-byte reply to the snapshot carries the five bytes the driver received.
  ASSERT_TRUE(SendCommand(SnapshotCommand, 14));
  const std::uint8_t snapshotOnLine[] = {0x05, 0x11, 0x1E, 0x1B, 0x2E};
  EXPECT_EQ(RxBuffer[0], 0x0E);
  EXPECT_EQ(RxBuffer[2], 0x1E);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(RxBuffer[3 + i], snapshotOnLine[i]) << "snapshot frame byte " << i;
  }
  const std::uint16_t crc = Crc16(RxBuffer, 12);
  EXPECT_EQ(RxBuffer[12], crc >> 8);
  EXPECT_EQ(RxBuffer[13], crc & 0xFF);
  EXPECT_EQ(RxPos, 14);
  for (int i = 14; i < RxBufferSize; ++i) {
    ASSERT_EQ(RxBuffer[i], 0) << "index " << i;
  }
}

TEST_F(Win32Port, PortAboveCom9Opens) {
  // Only the device namespace finds ports above COM9.
  ASSERT_GE(port_, 10) << "give the driver a port above COM9 to cover this";
  Open();
}

TEST_F(Win32Port, LineIsRaw9600EightNoneOneWithoutFlowControl) {
  Open();
  const LineReport r = ProbeLine();
  ExpectRaw8N1(r);
  EXPECT_EQ(r.localFlags & (LineReport::Canonical | LineReport::Echo | LineReport::Signals), 0)
      << "local flags " << int{r.localFlags};
  EXPECT_EQ(r.translationFlags, 0) << "translation flags " << int{r.translationFlags};

  // The backend reports the same through GetCommState, with the whole DCB kept.
  platform::LineSettings s;
  ASSERT_TRUE(System().GetCommState(PortHandle, s));
  ExpectRaw8N1(s);
  ASSERT_EQ(s.Native.size(), sizeof(DCB));
  DCB dcb;
  std::memcpy(&dcb, s.Native.data(), sizeof dcb);
  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_EQ(dcb.BaudRate, 9600u);
}

TEST_F(Win32Port, LineSettingsChangedThroughThePortableMembersReachTheLine) {
  Open();
  platform::LineSettings s;
  ASSERT_TRUE(System().GetCommState(PortHandle, s));
  // A pseudo-terminal keeps 8 data bits without parity whatever it is told, so the change
  // is made where the driver can see it: speed, stop bits and both kinds of flow control.
  s.BaudRate = 19200;
  s.StopBits = platform::StopBits::Two;
  s.SoftwareFlowControl = true;
  s.HardwareFlowControl = true;
  ASSERT_TRUE(System().SetCommState(PortHandle, s));
  const LineReport changed = ProbeLine();
  EXPECT_EQ(changed.outputBaud, 19200u);
  EXPECT_EQ(changed.stopBits, 2);
  EXPECT_TRUE(changed.hardwareFlow);
  EXPECT_TRUE(changed.outputXonXoff);
  EXPECT_TRUE(changed.inputXonXoff);
  platform::LineSettings back;
  ASSERT_TRUE(System().GetCommState(PortHandle, back));
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(back.StopBits, platform::StopBits::Two);
  EXPECT_TRUE(back.SoftwareFlowControl);
  EXPECT_TRUE(back.HardwareFlowControl);

  // A mode string goes through BuildCommDCBA; a malformed one leaves the settings alone.
  ASSERT_TRUE(System().BuildCommDCB("9600,n,8,1", s));
  ExpectRaw8N1(s);
  const platform::LineSettings before = s;
  EXPECT_FALSE(System().BuildCommDCB("9600,q,8,1", s));
  EXPECT_EQ(s.BaudRate, before.BaudRate);
  EXPECT_EQ(s.Native, before.Native);
  ASSERT_TRUE(System().SetCommState(PortHandle, s));
  ExpectRaw8N1(ProbeLine());
}

TEST_F(Win32Port, SilenceEndsTheExchangeAfterTheLimit) {
  Open();
  const auto start = Clock::now();
  EXPECT_FALSE(SendCommand(Unanswered, 14));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  // 5 ms of write pauses and 501 ms of waiting, with room for a slow machine.
  EXPECT_GE(ms.count(), 490);
  EXPECT_LE(ms.count(), 2000);
  EXPECT_EQ(RxPos, 0);
  for (int i = 0; i < RxBufferSize; ++i) {
    ASSERT_EQ(RxBuffer[i], 0) << "index " << i;
  }
}

TEST_F(Win32Port, ReadsOnAQuietLineReturnEmptyAfterTheirTimeOut) {
  Open();
  char byte = 0;
  std::uint32_t got = 1;
  const auto start = Clock::now();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(System().ReadFile(PortHandle, &byte, 1, got));
    ASSERT_EQ(got, 0u);
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_LE(ms.count(), 1000) << "20 reads with a 1 ms time-out";
}

TEST_F(Win32Port, CloseGivesThePortBackItsTimeouts) {
  LeftoverTimeouts leftover;
  platform::Install(&leftover);
  Open();
  EXPECT_EQ(SavedTimeouts, LeftoverTimeouts::Leftover);
  platform::CommTimeouts working;
  ASSERT_TRUE(System().GetCommTimeouts(PortHandle, working));
  EXPECT_EQ(working, WorkingTimeouts);
  Close();
  EXPECT_EQ(leftover.closes, 1);
  EXPECT_EQ(leftover.atClose, LeftoverTimeouts::Leftover);
}

TEST_F(Win32Port, PortThatDoesNotExistFailsToOpen) {
  const platform::CommTimeouts sentinel{11, 12, 13, 14, 15};
  SavedTimeouts = sentinel;
  EXPECT_FALSE(OpenComPort(199, "9600,n,8,1"));
  EXPECT_EQ(SavedTimeouts, sentinel);
  EXPECT_EQ(System().CreateFile("COM199", ReadWrite, 0, platform::OpenExisting, 0),
            platform::InvalidHandle);
}

TEST_F(Win32Port, SecondOpenOfAHeldPortIsRefused) {
  Open();
  const platform::Handle second =
      System().CreateFile(PortName(), ReadWrite, 0, platform::OpenExisting, 0);
  if (second != platform::InvalidHandle && UnderWine()) {
    System().CloseHandle(second);
    GTEST_SKIP() << "Wine does not enforce exclusive opens of a serial port: a second open "
                    "with share mode 0 succeeds there";
  }
  EXPECT_EQ(second, platform::InvalidHandle);
  if (second != platform::InvalidHandle) {
    System().CloseHandle(second);
  }
}

TEST(Win32Clock, OneMillisecondPausesAreShort) {
  // With the 1 ms timer resolution the backend asks for, 100 pauses of 1 ms take about
  // 100-200 ms; at the default 15.6 ms tick they would take over 1.5 s.
  platform::Platform& system = platform::OperatingSystem();
  const std::uint32_t start = system.TimeGetTime();
  for (int i = 0; i < 100; ++i) {
    system.Sleep(1);
  }
  const std::uint32_t elapsed = system.TimeGetTime() - start;
  EXPECT_GE(elapsed, 95u);
  EXPECT_LE(elapsed, 1000u);
}

}  // namespace
