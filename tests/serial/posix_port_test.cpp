// The POSIX backend end to end on real pseudo-terminals: name resolution, exclusive
// access, the line settings, and reads bounded by the time-outs.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "serial/serial_port.h"
#include "tests/support/pseudo_terminal.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

platform::Platform& Os() {
  return platform::OperatingSystem();
}

platform::Handle OpenByName(const std::string& name) {
  return Os().CreateFile(name, platform::GenericRead | platform::GenericWrite, 0,
                         platform::OpenExisting, 0);
}

TEST(PosixPort, OpensThroughTheLinkAndHoldsThePortExclusively) {
  fake::PseudoTerminal pty(5);
  ASSERT_TRUE(OpenComPort(5, "9600,n,8,1"));
  const platform::Handle held = PortHandle;

  // A second open fails, by name and behind the program's back on the device itself.
  EXPECT_EQ(OpenByName("COM5"), platform::InvalidHandle);
  EXPECT_FALSE(OpenComPort(5, "9600,n,8,1"));
  EXPECT_EQ(PortHandle, held);

  // The held port still works: a byte written goes out.
  WriteByte(0x5A);
  EXPECT_EQ(pty.ReadExactly(1, 2000), (fake::Bytes{0x5A}));

  CloseComPort();
  const platform::Handle again = OpenByName("COM5");
  EXPECT_NE(again, platform::InvalidHandle);
  Os().CloseHandle(again);
}

TEST(PosixPort, PutsARaw9600Line8N1WithoutFlowControl) {
  fake::PseudoTerminal pty(3);
  const termios before = pty.LineSettings();
  ASSERT_NE(cfgetospeed(&before), B9600);  // a fresh terminal: cooked, another speed
  ASSERT_TRUE(before.c_lflag & ICANON);

  ASSERT_TRUE(OpenComPort(3, "9600,n,8,1"));
  const termios t = pty.LineSettings();
  CloseComPort();

  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(cfgetispeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  // Bytes that a cooked line would change (CR, DEL, ^C, XOFF) go both ways unchanged.
  const fake::Bytes awkward = {0x0D, 0x0A, 0x7F, 0x03, 0x13, 0x11, 0xFF, 0x00};
  ASSERT_TRUE(OpenComPort(3, "9600,n,8,1"));
  WriteBlock(awkward.data(), static_cast<std::int32_t>(awkward.size()));
  EXPECT_EQ(pty.ReadExactly(awkward.size(), 2000), awkward);
  pty.Write(awkward);
  fake::Bytes back(awkward.size());
  std::uint32_t got = 0;
  Os().SetCommTimeouts(PortHandle, {0, 0, 1000, 0, 0});
  EXPECT_TRUE(Os().ReadFile(PortHandle, back.data(), 8, got));
  EXPECT_EQ(back, awkward);
  CloseComPort();
}

TEST(PosixPort, OtherModeStringsAndARefusedOne) {
  fake::PseudoTerminal pty(4);
  // (A pseudo-terminal keeps 8 bits without parity whatever it is told.)
  ASSERT_TRUE(OpenComPort(4, "19200,n,8,2,p"));
  termios t = pty.LineSettings();
  CloseComPort();
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

  ASSERT_TRUE(OpenComPort(4, "baud=2400 parity=n data=8 stop=1 xon=on"));
  t = pty.LineSettings();
  CloseComPort();
  EXPECT_EQ(cfgetospeed(&t), B2400);
  EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

  // A malformed string is refused like the platform refuses it: the line keeps its
  // settings, the port still counts as open.
  EXPECT_TRUE(OpenComPort(4, "9600,n,8,x"));
  t = pty.LineSettings();
  CloseComPort();
  EXPECT_EQ(cfgetospeed(&t), B2400);
  EXPECT_TRUE(t.c_iflag & IXON);
}

TEST(PosixPort, OnlyTerminalsOpen) {
  fake::TempWorkingDirectory dir;
  { std::ofstream("COM7") << "not a port"; }
  EXPECT_FALSE(OpenComPort(7, "9600,n,8,1"));
  std::filesystem::create_symlink("/dev/null", "COM8");
  EXPECT_FALSE(OpenComPort(8, "9600,n,8,1"));
  std::filesystem::create_symlink("/nonexistent/tty", "COM9");
  EXPECT_FALSE(OpenComPort(9, "9600,n,8,1"));
  // No link and no such device; COM0 has no device at all; names that are no port.
  EXPECT_FALSE(OpenComPort(0, "9600,n,8,1"));
  EXPECT_FALSE(OpenComPort(-1, "9600,n,8,1"));
  EXPECT_EQ(OpenByName("COM07"), platform::InvalidHandle);
  EXPECT_EQ(OpenByName("COMX"), platform::InvalidHandle);
  EXPECT_EQ(OpenByName("/dev/tty"), platform::InvalidHandle);
}

TEST(PosixPort, ReadsKeepTheirTimeouts) {
  fake::PseudoTerminal pty(6);
  ASSERT_TRUE(OpenComPort(6, "9600,n,8,1"));
  std::uint8_t buffer[8] = {};
  std::uint32_t got = 99;

  // The working time-outs: a quiet line gives an empty read after 1 ms, never sooner.
  auto start = Clock::now();
  EXPECT_TRUE(Os().ReadFile(PortHandle, buffer, 1, got));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(MillisecondsSince(start), 1.0);

  // A total of 4 * count + 20 ms.
  Os().SetCommTimeouts(PortHandle, {0, 4, 20, 0, 0});
  start = Clock::now();
  EXPECT_TRUE(Os().ReadFile(PortHandle, buffer, 5, got));
  EXPECT_GE(MillisecondsSince(start), 40.0);

  // No time-outs: waits until all bytes are there, however they come.
  Os().SetCommTimeouts(PortHandle, {0, 0, 0, 0, 0});
  pty.Play([](fake::PseudoTerminal& reader) {
    reader.Write({1, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    reader.Write({3});
  });
  EXPECT_TRUE(Os().ReadFile(PortHandle, buffer, 3, got));
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(buffer[2], 3);
  pty.Join();

  // Interval MAXDWORD alone: returns at once with what is there.
  Os().SetCommTimeouts(PortHandle, {0xFFFFFFFFu, 0, 0, 0, 0});
  EXPECT_TRUE(Os().ReadFile(PortHandle, buffer, 3, got));
  EXPECT_EQ(got, 0u);
  CloseComPort();
}

TEST(PosixPort, AHungUpLineFailsReadsAfterTheirTimeout) {
  fake::PseudoTerminal pty(2);
  ASSERT_TRUE(OpenComPort(2, "9600,n,8,1"));
  pty.HangUp();
  std::uint8_t byte = 0;
  std::uint32_t got = 0;

  Os().SetCommTimeouts(PortHandle, {0, 0, 50, 0, 0});
  const auto start = Clock::now();
  EXPECT_FALSE(Os().ReadFile(PortHandle, &byte, 1, got));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(MillisecondsSince(start), 50.0);  // waited, did not spin

  // With no time-out at all the read must not hang.
  Os().SetCommTimeouts(PortHandle, {0, 0, 0, 0, 0});
  EXPECT_FALSE(Os().ReadFile(PortHandle, &byte, 1, got));
  CloseComPort();
}

}  // namespace
