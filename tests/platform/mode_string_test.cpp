#include "platform/mode_string.h"

#include <gtest/gtest.h>

namespace {

using platform::LineSettings;
using platform::Parity;
using platform::StopBits;

// Every portable member is set from the string, flow control goes off, the backend's own
// record is kept; a malformed string changes nothing.
TEST(ModeString, TheCommaFormSetsEveryMemberAndAnythingElseNothing) {
  const struct {
    const char* text;
    std::uint32_t baud;
    Parity parity;
    int data;
    StopBits stop;
  } good[] = {{"9600,n,8,1", 9600, Parity::None, 8, StopBits::One},
              {"110,O,5,1.5", 110, Parity::Odd, 5, StopBits::OnePointFive},
              {"4294967295,e,7,2", 4294967295u, Parity::Even, 7, StopBits::Two},
              {"1200,M,6,1", 1200, Parity::Mark, 6, StopBits::One},
              {"300,s,8,2", 300, Parity::Space, 8, StopBits::Two}};
  for (const auto& c : good) {
    LineSettings s;
    s.SoftwareFlowControl = s.HardwareFlowControl = true;
    s.Native = {1, 2, 3};
    ASSERT_TRUE(ParseModeString(c.text, s)) << c.text;
    EXPECT_EQ(s.BaudRate, c.baud) << c.text;
    EXPECT_EQ(s.Parity, c.parity) << c.text;
    EXPECT_EQ(s.ByteSize, c.data) << c.text;
    EXPECT_EQ(s.StopBits, c.stop) << c.text;
    EXPECT_FALSE(s.SoftwareFlowControl || s.HardwareFlowControl) << c.text;
    EXPECT_EQ(s.Native, (std::vector<unsigned char>{1, 2, 3})) << c.text;
  }
  for (const char* bad :
       {"", "9600", "9600,n,8", "9600,n,8,1,x", "0,n,8,1", "4294967296,n,8,1", "96OO,n,8,1",
        " 9600,n,8,1", "9600,x,8,1", "9600,no,8,1", "9600,,8,1", "9600,n,4,1", "9600,n,9,1",
        "9600,n,8,3", "9600,n,8,1.0", "9600,n,8,1 "}) {
    LineSettings s;
    s.BaudRate = 7;
    EXPECT_FALSE(ParseModeString(bad, s)) << bad;
    EXPECT_EQ(s.BaudRate, 7u) << bad;
  }
  LineSettings s;
  EXPECT_FALSE(ParseModeString(nullptr, s));
}

}  // namespace
