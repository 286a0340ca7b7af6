// Line settings through termios as a UART driver reads them. A pseudo-terminal keeps 8 bits
// without parity whatever it is told, so sizes and parities are checked here, on the flags
// the driver is handed.
#include <termios.h>

#include <gtest/gtest.h>

#include "platform/termios_settings.h"

namespace {

using platform::LineSettings;
using platform::Parity;
using platform::StopBits;

TEST(TermiosSettings, EveryLineALineCanHaveComesBackAsItWasSet) {
  for (int size = 5; size <= 8; ++size) {
    for (Parity parity : {Parity::None, Parity::Odd, Parity::Even, Parity::Mark, Parity::Space}) {
      for (StopBits stop : {StopBits::One, StopBits::OnePointFive, StopBits::Two}) {
        for (int flow = 0; flow < 4; ++flow) {
          const LineSettings set{size == 6 ? 230400u : 9600u,
                                 static_cast<std::uint8_t>(size),
                                 parity,
                                 stop,
                                 (flow & 1) != 0,
                                 (flow & 2) != 0,
                                 {}};
          SCOPED_TRACE(testing::Message() << size << " parity " << static_cast<int>(parity)
                                          << " stop " << static_cast<int>(stop) << " " << flow);
          termios t{};  // as an earlier line left it
          t.c_cflag = CS8 | PARENB | PARODD | CSTOPB | CRTSCTS;
          // 1.5 stop bits exist with 5 data bits alone, 2 with every other size.
          const bool possible =
              stop == StopBits::One || (stop == StopBits::OnePointFive ? size == 5 : size != 5);
          ASSERT_EQ(platform::ToTermios(set, t), possible);
          if (possible) {
            const LineSettings got = platform::FromTermios(t);
            EXPECT_EQ(got.BaudRate, set.BaudRate);
            EXPECT_EQ(got.ByteSize, size);
            EXPECT_EQ(got.Parity, parity);
            EXPECT_EQ(got.StopBits, stop);
            EXPECT_EQ(got.SoftwareFlowControl, set.SoftwareFlowControl);
            EXPECT_EQ(got.HardwareFlowControl, set.HardwareFlowControl);
          }
        }
      }
    }
  }
  // What the driver reads: mark and space are "stick" parity, its bit always 1 or always 0.
  const tcflag_t read = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  termios t{};
  ASSERT_TRUE(platform::ToTermios({9600, 5, Parity::Mark, StopBits::OnePointFive, 0, 0, {}}, t));
  EXPECT_EQ(t.c_cflag & read, static_cast<tcflag_t>(CS5 | PARENB | CMSPAR | PARODD | CSTOPB));
  // A size no line has.
  EXPECT_FALSE(platform::ToTermios({9600, 9, Parity::None, StopBits::One, 0, 0, {}}, t));
}

}  // namespace
