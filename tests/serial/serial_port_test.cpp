// The serial port over the recording fake: which platform calls it makes, in which
// order, with which values. (The pauses after its writes show in the handlers' traces.)
#include "serial/serial_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fake_platform.h"

namespace {

using Trace = std::vector<std::string>;

// Open: its calls in order with the fixed values; close: the saved time-outs back, then
// the handle; a new open saves what the port carries then. Refused line settings leave the
// port open (the reader may understand it all the same); refused time-outs do not, since a
// read could then wait for ever: the port is closed again.
TEST(SerialPort, OpenAndCloseMakeTheirCallsInOrderWithTheFixedValues) {
  fake::FakePlatform os;
  fake::ScopedPlatform use{os};
  fake::FakePort& port = os.AddPort("COM12");
  port.Timeouts = {7, 8, 9, 10, 11};
  port.Settings = {1200, 7, platform::Parity::Even, platform::StopBits::Two, true, true, {0xAB}};
  ASSERT_TRUE(OpenComPort(12, "9600,n,8,1"));

  EXPECT_EQ(os.Trace(), (Trace{"CreateFile(COM12, 0xC0000000, 0, 3, 0)", "GetCommTimeouts(COM12)",
                               "SetCommTimeouts(COM12, 0/0/1/0/0)", "GetCommState(COM12)",
                               "BuildCommDCB(9600,n,8,1)", "SetCommState(COM12, 9600 N 8 1)"}));
  // Members the mode string does not name keep what the port had.
  EXPECT_EQ(port.Settings.Native, (std::vector<unsigned char>{0xAB}));

  os.ClearCalls();
  CloseComPort();
  EXPECT_EQ(os.Trace(), (Trace{"SetCommTimeouts(COM12, 7/8/9/10/11)", "CloseHandle(COM12)"}));

  port.Timeouts = {1, 1, 1, 1, 1};
  port.RefuseSettings = true;
  EXPECT_TRUE(OpenComPort(12, "9600,n,8,1"));
  EXPECT_TRUE(port.IsOpen());
  CloseComPort();
  EXPECT_EQ(port.Timeouts, (platform::CommTimeouts{1, 1, 1, 1, 1}));

  port.RefuseTimeouts = true;
  os.ClearCalls();
  EXPECT_FALSE(OpenComPort(12, "9600,n,8,1"));
  EXPECT_EQ(os.Trace(),
            (Trace{"CreateFile(COM12, 0xC0000000, 0, 3, 0)", "GetCommTimeouts(COM12)",
                   "SetCommTimeouts(COM12, 0/0/1/0/0) -> false", "CloseHandle(COM12)"}));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(ComPortOpen());
}

}  // namespace
