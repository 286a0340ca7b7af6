#include "serial/mode_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace {

using platform::LineSettings;
using platform::Parity;
using platform::StopBits;

// Settings that differ from every value the cases below produce, so that a member the
// parser forgot to set shows.
LineSettings Odd() {
  LineSettings s;
  s.BaudRate = 1;
  s.ByteSize = 6;
  s.Parity = Parity::Mark;
  s.StopBits = StopBits::OnePointFive;
  s.SoftwareFlowControl = true;
  s.HardwareFlowControl = true;
  s.Native = {1, 2, 3};
  return s;
}

struct Good {
  const char* text;
  std::uint32_t baud;
  int data;
  Parity parity;
  StopBits stop;
  bool xonxoff;
  bool rtscts;
};

// Fields left out keep what the settings had (Odd's values); flow control goes off.
class ModeStringGood : public ::testing::TestWithParam<Good> {};

// A case's name is its text with every character but letters and digits as '_', e.g.
// "9600_n_8_1": stable from build to build, so that a failure can be run again by name.
std::string CaseName(const ::testing::TestParamInfo<Good>& info) {
  std::string name = info.param.text;
  std::replace_if(
      name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
  return name;
}

TEST_P(ModeStringGood, SetsEveryPortableMemberAndKeepsTheNativeRecord) {
  const Good& c = GetParam();
  LineSettings s = Odd();
  ASSERT_TRUE(ParseModeString(c.text, s)) << c.text;
  EXPECT_EQ(s.BaudRate, c.baud) << c.text;
  EXPECT_EQ(s.ByteSize, c.data) << c.text;
  EXPECT_EQ(s.Parity, c.parity) << c.text;
  EXPECT_EQ(s.StopBits, c.stop) << c.text;
  EXPECT_EQ(s.SoftwareFlowControl, c.xonxoff) << c.text;
  EXPECT_EQ(s.HardwareFlowControl, c.rtscts) << c.text;
  EXPECT_EQ(s.Native, (std::vector<unsigned char>{1, 2, 3})) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    CommaForm, ModeStringGood,
    ::testing::Values(
        Good{"9600,n,8,1", 9600, 8, Parity::None, StopBits::One, false, false},
        Good{"96,N,8,1", 9600, 8, Parity::None, StopBits::One, false, false},
        Good{"19,e,7,2", 19200, 7, Parity::Even, StopBits::Two, false, false},
        Good{"11,o,5,1.5", 110, 5, Parity::Odd, StopBits::OnePointFive, false, false},
        Good{"12,s,6,1", 1200, 6, Parity::Space, StopBits::One, false, false},
        Good{"115200,m,8,1", 115200, 8, Parity::Mark, StopBits::One, false, false},
        Good{"9600,n,8,1,x", 9600, 8, Parity::None, StopBits::One, true, false},
        Good{"9600,n,8,1,P", 9600, 8, Parity::None, StopBits::One, false, true},
        Good{" 9600 , n , 8 , 1 ", 9600, 8, Parity::None, StopBits::One, false, false},
        Good{"COM1:9600,n,8,1", 9600, 8, Parity::None, StopBits::One, false, false},
        Good{"com12: 48,e,7,1", 4800, 7, Parity::Even, StopBits::One, false, false},
        Good{"com3 24,n,8,1", 2400, 8, Parity::None, StopBits::One, false, false},
        Good{"15,n,8,1", 150, 8, Parity::None, StopBits::One, false, false},
        Good{"30", 300, 6, Parity::Mark, StopBits::OnePointFive, false, false},
        Good{"60,n", 600, 6, Parity::None, StopBits::OnePointFive, false, false},
        Good{"4294967295,n,8", 4294967295u, 8, Parity::None, StopBits::OnePointFive, false, false},
        Good{"4800,,7", 4800, 7, Parity::Mark, StopBits::OnePointFive, false, false},
        Good{"1,e,,2", 1, 6, Parity::Even, StopBits::Two, false, false}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(KeyForm, ModeStringGood,
                         ::testing::Values(Good{"baud=9600 parity=n data=8 stop=1", 9600, 8,
                                                Parity::None, StopBits::One, false, false},
                                           Good{"BAUD=96 PARITY=E DATA=7 STOP=2", 9600, 7,
                                                Parity::Even, StopBits::Two, false, false},
                                           Good{"stop=1 data=8 parity=o baud=2400 xon=on", 2400, 8,
                                                Parity::Odd, StopBits::One, true, false},
                                           Good{"baud=9600 parity=n data=8 stop=1 xon=off octs=on",
                                                9600, 8, Parity::None, StopBits::One, false, true},
                                           Good{"COM3: baud = 9600  parity=n data=8 stop=1.5", 9600,
                                                8, Parity::None, StopBits::OnePointFive, false,
                                                false},
                                           Good{"baud=1200", 1200, 6, Parity::Mark,
                                                StopBits::OnePointFive, false, false}),
                         CaseName);

TEST(ModeString, RejectsMalformedTextAndLeavesTheSettingsAlone) {
  const char* bad[] = {"",
                       "   ",
                       "9600,q,8,1",
                       "9600,n,9,1",
                       "9600,n,4,1",
                       "9600,n,8,3",
                       "9600,n,8,1,y",
                       "9600,n,8,1,",
                       "9600,n,8,1,x,1",
                       ",n,8,1",
                       "0,n,8,1",
                       "-9600,n,8,1",
                       "96OO,n,8,1",
                       "99999999999,n,8,1",
                       "4294967296,n,8,1",
                       "0000000000",
                       "9600,n,8,1,x,",
                       "9600;n;8;1",
                       "9600,no,8,1",
                       "COM:9600,n,8,1",
                       "COMx:9600,n,8,1",
                       "COM1",
                       "COM1:",
                       "baud=9600 parity=x",
                       "baud=9600 baud=4800",
                       "baud=",
                       "=9600",
                       "baud 9600",
                       "speed=9600",
                       "baud=9600 xon=yes",
                       "baud=9600,parity=n",
                       "9600,n,8,1\n"};
  for (const char* text : bad) {
    LineSettings s = Odd();
    EXPECT_FALSE(ParseModeString(text, s)) << '"' << text << '"';
    EXPECT_EQ(s.BaudRate, 1u) << text;
    EXPECT_EQ(s.ByteSize, 6) << text;
    EXPECT_EQ(s.Parity, Parity::Mark) << text;
    EXPECT_TRUE(s.SoftwareFlowControl) << text;
    EXPECT_TRUE(s.HardwareFlowControl) << text;
  }
  LineSettings s = Odd();
  EXPECT_FALSE(ParseModeString(nullptr, s));
}

}  // namespace
