// The serial port over the recording fake: which platform calls it makes, in which
// order, with which values. (The pauses after its writes show in the handlers' traces.)
#include "serial/serial_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fake_platform.h"

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

// Open: its calls in order with the fixed values; close: the saved time-outs back, then
// the handle; a new open saves what the port carries then.
TEST_F(SerialPort, OpenAndCloseMakeTheirCallsInOrderWithTheFixedValues) {
  fake::FakePort& port = AddPort("COM12");
  ASSERT_TRUE(OpenComPort(12, "9600,n,8,1"));

  EXPECT_EQ(os.Trace(), (Trace{"CreateFile(COM12, 0xC0000000, 0, 3, 0)", "GetCommTimeouts(COM12)",
                               "SetCommTimeouts(COM12, 0/0/1/0/0)", "GetCommState(COM12)",
                               "BuildCommDCB(9600,n,8,1)", "SetCommState(COM12, 9600 N 8 1)"}));
  EXPECT_EQ(PortHandle, port.Handle());
  EXPECT_EQ(port.Timeouts, (platform::CommTimeouts{0, 0, 1, 0, 0}));
  // Members the mode string does not name keep what the port had.
  EXPECT_EQ(port.Settings.Native, (std::vector<unsigned char>{0xAB, 0xCD}));
  EXPECT_EQ(os.Now(), 0u);

  os.ClearCalls();
  CloseComPort();
  EXPECT_EQ(os.Trace(), (Trace{"SetCommTimeouts(COM12, 7/8/9/10/11)", "CloseHandle(COM12)"}));
  EXPECT_FALSE(port.IsOpen());

  port.Timeouts = {1, 1, 1, 1, 1};
  ASSERT_TRUE(OpenComPort(12, "9600,n,8,1"));
  CloseComPort();
  EXPECT_EQ(port.Timeouts, (platform::CommTimeouts{1, 1, 1, 1, 1}));
}

// Refused line settings leave the port open (the reader may understand it all the same);
// refused time-outs do not, since a read could then wait for ever: the port is closed again.
TEST_F(SerialPort, RefusedSettingsStillCountAsOpenRefusedTimeoutsDoNot) {
  fake::FakePort& port = AddPort("COM3");
  port.RefuseSettings = true;
  EXPECT_TRUE(OpenComPort(3, "9600,n,8,1"));
  EXPECT_TRUE(port.IsOpen());
  CloseComPort();

  port.RefuseTimeouts = true;
  os.ClearCalls();
  EXPECT_FALSE(OpenComPort(3, "9600,n,8,1"));
  EXPECT_EQ(os.Trace(), (Trace{"CreateFile(COM3, 0xC0000000, 0, 3, 0)", "GetCommTimeouts(COM3)",
                               "SetCommTimeouts(COM3, 0/0/1/0/0) -> false", "CloseHandle(COM3)"}));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(ComPortOpen());
}

}  // namespace
