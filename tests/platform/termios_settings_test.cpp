// Line settings through termios as a UART driver reads them. A pseudo-terminal keeps 8 bits
// without parity whatever it is told, so the sizes and parities are checked here, on the
// structure the driver is handed.
#include <termios.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/termios_settings.h"

namespace {

using platform::FromTermios;
using platform::LineSettings;
using platform::Parity;
using platform::StopBits;
using platform::ToTermios;

TEST(TermiosSettings, EveryLineALineCanHaveComesBackAsItWasSet) {
  for (std::uint32_t baud : {50u, 9600u, 19200u, 230400u}) {
    for (int size = 5; size <= 8; ++size) {
      for (Parity parity : {Parity::None, Parity::Odd, Parity::Even, Parity::Mark, Parity::Space}) {
        for (StopBits stop : {StopBits::One, StopBits::OnePointFive, StopBits::Two}) {
          for (int flow = 0; flow < 4; ++flow) {
            LineSettings set;
            set.BaudRate = baud;
            set.ByteSize = static_cast<std::uint8_t>(size);
            set.Parity = parity;
            set.StopBits = stop;
            set.SoftwareFlowControl = (flow & 1) != 0;
            set.HardwareFlowControl = (flow & 2) != 0;
            SCOPED_TRACE(testing::Message()
                         << baud << " " << size << " parity " << static_cast<int>(parity)
                         << " stop " << static_cast<int>(stop) << " flow " << flow);
            termios t{};  // as an earlier line left it
            t.c_cflag = CS8 | PARENB | PARODD | CSTOPB | CRTSCTS;
            // 1.5 stop bits exist with 5 data bits alone, 2 with every other size.
            const bool possible =
                stop == StopBits::One || (stop == StopBits::OnePointFive ? size == 5 : size != 5);
            errno = 0;
            ASSERT_EQ(ToTermios(set, t), possible);
            if (!possible) {
              EXPECT_EQ(errno, EINVAL);
              continue;
            }
            const LineSettings got = FromTermios(t);
            EXPECT_EQ(got.BaudRate, baud);
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
}

// What the driver is handed, in the flags it reads: mark and space are "stick" parity, the
// parity bit always 1 or always 0.
TEST(TermiosSettings, TheDriverSeesTheSizeParityAndStopBitsInItsOwnFlags) {
  const struct {
    int size;
    Parity parity;
    StopBits stop;
    tcflag_t flags;
  } lines[] = {
      {5, Parity::Mark, StopBits::OnePointFive, CS5 | PARENB | CMSPAR | PARODD | CSTOPB},
      {6, Parity::Space, StopBits::Two, CS6 | PARENB | CMSPAR | CSTOPB},
      {7, Parity::Even, StopBits::One, CS7 | PARENB},
      {8, Parity::Odd, StopBits::One, CS8 | PARENB | PARODD},
  };
  const tcflag_t read = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  for (const auto& line : lines) {
    LineSettings set;
    set.BaudRate = 9600;
    set.ByteSize = static_cast<std::uint8_t>(line.size);
    set.Parity = line.parity;
    set.StopBits = line.stop;
    termios t{};
    ASSERT_TRUE(ToTermios(set, t));
    EXPECT_EQ(t.c_cflag & read, line.flags) << line.size;
  }
  // Sizes a line cannot have.
  for (int size : {0, 4, 9}) {
    LineSettings set;
    set.BaudRate = 9600;
    set.ByteSize = static_cast<std::uint8_t>(size);
    termios t{};
    EXPECT_FALSE(ToTermios(set, t)) << size;
  }
}

}  // namespace
