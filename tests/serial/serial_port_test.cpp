// The serial port over the recording fake: which platform calls it makes, in which
// order, with which values, and which pauses follow.
#include "serial/serial_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/platform_fake.h"

namespace {

using Trace = std::vector<std::string>;

class SerialPort : public ::testing::Test {
 protected:
  fake::FakePlatform os;
  fake::ScopedPlatform use{os};
  const platform::CommTimeouts before{7, 8, 9, 10, 11};

  fake::FakePort& AddPort(const std::string& name) {
    fake::FakePort& port = os.AddPort(name);
    port.Timeouts = before;
    port.Settings.BaudRate = 1200;
    port.Settings.ByteSize = 7;
    port.Settings.Parity = platform::Parity::Even;
    port.Settings.StopBits = platform::StopBits::Two;
    port.Settings.SoftwareFlowControl = true;
    port.Settings.HardwareFlowControl = true;
    port.Settings.Native = {0xAB, 0xCD};
    return port;
  }
};

TEST_F(SerialPort, OpenMakesItsCallsInOrderWithTheFixedValues) {
  fake::FakePort& port = AddPort("COM12");
  ASSERT_TRUE(OpenComPort(12, "9600,n,8,1"));

  EXPECT_EQ(os.Trace(), (Trace{"CreateFile(COM12, 0xC0000000, 0, 3, 0)", "GetCommTimeouts(COM12)",
                               "SetCommTimeouts(COM12, 0/0/1/0/0)", "GetCommState(COM12)",
                               "BuildCommDCB(9600,n,8,1)", "SetCommState(COM12, 9600 N 8 1)"}));
  EXPECT_EQ(PortHandle, port.Handle());
  EXPECT_EQ(SavedTimeouts, before);
  EXPECT_EQ(port.Timeouts, (platform::CommTimeouts{0, 0, 1, 0, 0}));
  // Members the mode string does not name keep what the port had.
  EXPECT_EQ(port.Settings.Native, (std::vector<unsigned char>{0xAB, 0xCD}));
  EXPECT_EQ(os.Now(), 0u);
}

TEST_F(SerialPort, FailedOpenTouchesNothingElse) {
  fake::FakePort& com1 = AddPort("COM1");
  ASSERT_TRUE(OpenComPort(1, "9600,n,8,1"));
  const platform::Handle held = PortHandle;
  const platform::CommTimeouts saved = SavedTimeouts;
  os.ClearCalls();

  // A port that does not exist, and the same port again while it is held.
  EXPECT_FALSE(OpenComPort(2, "9600,n,8,1"));
  EXPECT_FALSE(OpenComPort(1, "9600,n,8,1"));

  EXPECT_EQ(os.Trace(), (Trace{"CreateFile(COM2, 0xC0000000, 0, 3, 0) -> false",
                               "CreateFile(COM1, 0xC0000000, 0, 3, 0) -> false"}));
  EXPECT_EQ(PortHandle, held);
  EXPECT_EQ(SavedTimeouts, saved);
  EXPECT_EQ(com1.Timeouts, WorkingTimeouts);
  EXPECT_EQ(com1.OpenCount(), 1);
}

TEST_F(SerialPort, RefusedSettingsStillCountAsOpen) {
  fake::FakePort& port = AddPort("COM3");
  port.RefuseTimeouts = true;
  port.RefuseSettings = true;
  EXPECT_TRUE(OpenComPort(3, "9600,n,8,1"));
  EXPECT_TRUE(port.IsOpen());
  CloseComPort();

  // A malformed mode string changes nothing, and the unchanged settings are written back.
  fake::FakePort& other = AddPort("COM4");
  os.ClearCalls();
  EXPECT_TRUE(OpenComPort(4, "9600,z,8,1"));
  EXPECT_EQ(os.Trace()[4], "BuildCommDCB(9600,z,8,1) -> false");
  EXPECT_EQ(os.Trace()[5], "SetCommState(COM4, 1200 E 7 2 xon/xoff rts/cts)");
  EXPECT_TRUE(other.IsOpen());
}

TEST_F(SerialPort, CloseRestoresTheSavedTimeoutsAndFreesThePort) {
  fake::FakePort& port = AddPort("COM5");
  ASSERT_TRUE(OpenComPort(5, "9600,n,8,1"));
  const platform::Handle handle = PortHandle;
  os.ClearCalls();

  CloseComPort();
  EXPECT_EQ(os.Trace(), (Trace{"SetCommTimeouts(COM5, 7/8/9/10/11)", "CloseHandle(COM5)"}));
  EXPECT_EQ(port.Timeouts, before);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(PortHandle, handle);  // not cleared

  // It opens again, and saves what it carries now.
  port.Timeouts = {1, 1, 1, 1, 1};
  ASSERT_TRUE(OpenComPort(5, "9600,n,8,1"));
  EXPECT_EQ(SavedTimeouts, (platform::CommTimeouts{1, 1, 1, 1, 1}));
  CloseComPort();
  EXPECT_EQ(port.Timeouts, (platform::CommTimeouts{1, 1, 1, 1, 1}));
}

TEST_F(SerialPort, EveryWriteIsFollowedByItsPause) {
  fake::FakePort& port = AddPort("COM1");
  ASSERT_TRUE(OpenComPort(1, "9600,n,8,1"));
  os.ClearCalls();

  const std::uint8_t block[] = {0x05, 0x11, 0x1E, 0x99};
  WriteByte(0xA5);
  WriteBlock(block, 3);
  WriteBlock(block, 0);
  WriteByte(0x00);
  EXPECT_EQ(os.Trace(),
            (Trace{"WriteFile(COM1, A5)", "Sleep(1)", "WriteFile(COM1, 05 11 1E)", "Sleep(3)",
                   "WriteFile(COM1, 0 bytes)", "Sleep(3)", "WriteFile(COM1, 00)", "Sleep(1)"}));
  EXPECT_EQ(port.Line(), (fake::Bytes{0xA5, 0x05, 0x11, 0x1E, 0x00}));
  EXPECT_EQ(os.Now(), 8u);

  // A failed write is not noticed: the pause follows all the same.
  port.FailWritesFrom(os.Now());
  os.ClearCalls();
  WriteByte(0x42);
  WriteBlock(block, 4);
  EXPECT_EQ(os.Trace(), (Trace{"WriteFile(COM1, 42) -> false", "Sleep(1)",
                               "WriteFile(COM1, 05 11 1E 99) -> false", "Sleep(3)"}));
  EXPECT_EQ(os.Now(), 12u);
}

}  // namespace
