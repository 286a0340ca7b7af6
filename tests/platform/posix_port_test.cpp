// The POSIX backend end to end on real pseudo-terminals: name resolution, exclusive
// access, the line settings and reads bounded by the time-outs.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "serial/serial_port.h"
#include "testing/pseudo_terminal.h"
#include "testing/time_spent.h"

namespace {

using fake::Bytes;
using fake::Measure;
using fake::Spent;

platform::Platform& os = platform::OperatingSystem();

platform::Handle OpenByName(const std::string& name) {
  return os.CreateFile(name, platform::GenericRead | platform::GenericWrite, 0,
                       platform::OpenExisting, 0);
}

TEST(PosixPort, OpensThroughTheLinkAndHoldsThePortExclusively) {
  for (int number : {9, 10, 255}) {
    SCOPED_TRACE(number);
    fake::PseudoTerminal pty(number);
    ASSERT_TRUE(OpenComPort(number, "9600,n,8,1"));
    const platform::Handle held = PortHandle;

    // A second open fails, and the device itself is exclusive: another program (not root)
    // cannot open it either.
    int exclusive = 0;
    EXPECT_TRUE(ioctl(pty.SlaveFd(), TIOCGEXCL, &exclusive) == 0 && exclusive == 1);
    EXPECT_FALSE(OpenComPort(number, "9600,n,8,1"));
    EXPECT_EQ(PortHandle, held);

    // The held port still works: what is written goes out, all of it.
    std::uint32_t written = 0;
    EXPECT_TRUE(os.WriteFile(held, "\x5A\xA5", 2, written));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(pty.ReadExactly(2, 30000), (Bytes{0x5A, 0xA5}));

    // Closed, it is free for the next program: not left exclusive.
    CloseComPort();
    EXPECT_TRUE(ioctl(pty.SlaveFd(), TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
  }
}

// Also in a program started without standard input, whose port is then descriptor 0.
TEST(PosixPort, PutsARaw9600Line8N1WithoutFlowControl) {
  fake::PseudoTerminal pty(3);
  close(STDIN_FILENO);
  const termios before = pty.LineSettings();
  ASSERT_NE(cfgetospeed(&before), B9600);  // a fresh terminal: cooked, another speed
  ASSERT_TRUE(before.c_lflag & ICANON);

  ASSERT_TRUE(OpenComPort(3, "9600,n,8,1"));
  const termios t = pty.LineSettings();
  platform::LineSettings read;
  EXPECT_TRUE(os.GetCommState(PortHandle, read));
  EXPECT_EQ(read.BaudRate, 9600u);
  // A speed no line has is refused.
  platform::LineSettings bad = read;
  bad.BaudRate = 12345;
  EXPECT_FALSE(os.SetCommState(PortHandle, bad));
  CloseComPort();

  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(cfgetispeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  // What the port's settings do not name stays as the line had it.
  ASSERT_NE(before.c_cc[VINTR], 0);
  EXPECT_EQ(t.c_cc[VINTR], before.c_cc[VINTR]);

  // Bytes that a cooked line would change (CR, DEL, ^C, XOFF) go both ways unchanged. A
  // block of 1 MiB, more than the terminal holds, is written in parts as the reader drains
  // it: whole, and nothing after it.
  const Bytes awkward = {0x0D, 0x0A, 0x7F, 0x03, 0x13, 0x11, 0xFF, 0x00};
  Bytes block;
  while (block.size() < (1u << 20)) {
    block.insert(block.end(), awkward.begin(), awkward.end());
  }
  ASSERT_TRUE(OpenComPort(3, "9600,n,8,1"));
  std::uint32_t written = 0;
  std::thread writer([&] {
    EXPECT_TRUE(
        os.WriteFile(PortHandle, block.data(), static_cast<std::uint32_t>(block.size()), written));
  });
  EXPECT_EQ(pty.ReadExactly(block.size(), 30000), block);
  writer.join();
  EXPECT_EQ(written, block.size());
  EXPECT_TRUE(pty.ReadExactly(1, 200).empty()) << "more than the block went out";
  pty.Write(awkward);
  Bytes back(awkward.size());
  std::uint32_t got = 0;
  ASSERT_TRUE(os.SetCommTimeouts(PortHandle, {0, 0, 1000, 0, 0}));
  EXPECT_TRUE(os.ReadFile(PortHandle, back.data(), 8, got));
  EXPECT_EQ(back, awkward);
  CloseComPort();
}

// A failed open leaves no file open behind it (a loop that tries again each pass would run
// out of them).
TEST(PosixPort, OnlyTerminalsOpen) {
  fake::PseudoTerminal pty(9);  // "COM9", which the links below lead to
  const auto openFiles = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = openFiles();
  std::ofstream("COM7") << "not a port";  // closed at the end of the statement
  EXPECT_FALSE(OpenComPort(7, "9600,n,8,1"));
  std::filesystem::create_symlink("/dev/null", "COM8");
  EXPECT_FALSE(OpenComPort(8, "9600,n,8,1"));
  // No link and no such device; COM0 has no device at all, only a link of its name; names
  // that are no port, also as links to a terminal.
  EXPECT_FALSE(OpenComPort(0, "9600,n,8,1"));
  EXPECT_FALSE(OpenComPort(-1, "9600,n,8,1"));
  std::filesystem::create_symlink("COM9", "COM0");
  EXPECT_TRUE(OpenComPort(0, "9600,n,8,1"));
  CloseComPort();
  for (const char* name : {"COM07", "COMX", "COM", "COM1000", "/dev/tty", "XCOM1"}) {
    std::error_code absolute;  // no link is made for "/dev/tty"
    std::filesystem::create_symlink("COM9", name, absolute);
    EXPECT_EQ(OpenByName(name), platform::InvalidHandle) << name;
  }
  EXPECT_EQ(openFiles(), before);
  // Without a link, COMn is the n-th serial device, where this machine has one.
  struct stat device = {};
  if (stat("/dev/ttyS0", &device) == 0 && access("/dev/ttyS0", R_OK | W_OK) == 0) {
    const platform::Handle h = OpenByName("COM1");
    // The device is the machine's, not the test's: another program may hold it, and the
    // name then leads there all the same.
    struct stat opened = {};
    EXPECT_TRUE(h != platform::InvalidHandle
                    ? fstat(static_cast<int>(h), &opened) == 0 && opened.st_rdev == device.st_rdev
                    : errno == EBUSY);
    EXPECT_TRUE(h == platform::InvalidHandle || os.CloseHandle(h));
  }
}

TEST(PosixPort, ReadsKeepTheirTimeoutsWithoutSpinning) {
  fake::PseudoTerminal pty(6);
  ASSERT_TRUE(OpenComPort(6, "9600,n,8,1"));
  std::uint8_t buffer[8] = {};
  std::uint32_t got = 99;
  platform::CommTimeouts timeouts;
  ASSERT_TRUE(os.GetCommTimeouts(PortHandle, timeouts));
  EXPECT_EQ(timeouts, WorkingTimeouts);

  // The working time-outs: a quiet line gives an empty read after 1 ms, never sooner, and
  // waits for it (an exchange makes 500 such reads in a row).
  Spent spent = Measure([&] { EXPECT_TRUE(os.ReadFile(PortHandle, buffer, 1, got)); });
  EXPECT_EQ(got, 0u);
  EXPECT_GE(spent.wall, 1.0);
  spent = Measure([&] {
    for (int i = 0; i < 50; ++i) {
      os.ReadFile(PortHandle, buffer, 1, got);
    }
  });
  EXPECT_LT(spent.cpu, spent.wall / 2);
  // So are the pauses between the bytes of a frame and the passes of the UID loop, which end
  // at their deadline wherever in a second it falls (here 0.65 s into one), also after a
  // long uptime (CTest runs these cases once more with the monotonic clock 142 years on);
  // the millisecond clock is the monotonic one's.
  timespec at{};
  clock_gettime(CLOCK_MONOTONIC, &at);
  at = {at.tv_sec + 1, 600000000};
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
  spent = Measure([] { os.Sleep(50); });
  EXPECT_GE(spent.wall, 50.0);
  EXPECT_LT(spent.wall, 1000.0);
  EXPECT_LT(spent.cpu, spent.wall / 2);
  clock_gettime(CLOCK_MONOTONIC, &at);
  EXPECT_LE(os.TimeGetTime() - static_cast<std::uint32_t>(at.tv_sec * 1000 + at.tv_nsec / 1000000),
            1000u);

  // A total of 4 * count + 80 ms, waited for, not spun; what came before a purge is gone.
  ASSERT_TRUE(os.SetCommTimeouts(PortHandle, {0, 4, 80, 0, 0}));
  pty.Write({7, 8, 9});
  // The bytes reach the port's queue a moment after the write, all three at once.
  pollfd queue{static_cast<int>(PortHandle), POLLIN, 0};
  ASSERT_EQ(poll(&queue, 1, 30000), 1);
  EXPECT_TRUE(os.PurgeComm(PortHandle, platform::PurgeRxClear));
  spent = Measure([&] { EXPECT_TRUE(os.ReadFile(PortHandle, buffer, 5, got)); });
  EXPECT_EQ(got, 0u);
  EXPECT_GE(spent.wall, 100.0);
  EXPECT_LT(spent.cpu, spent.wall / 2);

  // Signals that cut the wait short do not end the read before its time-out: they come
  // every 2 ms from another thread for as long as the reads last, and the read is made
  // again until some came during it (on a loaded machine that thread may run late).
  static std::atomic<int> signals{0};
  struct sigaction onSignal = {};
  onSignal.sa_handler = [](int) { ++signals; };
  struct sigaction saved = {};
  sigaction(SIGUSR1, &onSignal, &saved);
  std::atomic<bool> reading{true};
  const pthread_t self = pthread_self();
  std::thread interrupter([&] {
    while (reading) {
      pthread_kill(self, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  int during = 0;
  for (int tries = 0; tries < 100 && during == 0; ++tries) {
    const int before = signals;
    spent = Measure([&] { EXPECT_TRUE(os.ReadFile(PortHandle, buffer, 5, got)); });
    during = signals - before;
    EXPECT_GE(spent.wall, 100.0);
  }
  reading = false;
  interrupter.join();
  sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_GT(during, 0) << "no signal came during 100 reads";

  // A time-out between bytes is not kept by this backend: refused, the old ones stay.
  EXPECT_FALSE(os.SetCommTimeouts(PortHandle, {10, 0, 0, 0, 0}));
  ASSERT_TRUE(os.GetCommTimeouts(PortHandle, timeouts));
  EXPECT_EQ(timeouts, (platform::CommTimeouts{0, 4, 80, 0, 0}));

  // No time-outs: waits until all bytes are there, however they come.
  ASSERT_TRUE(os.SetCommTimeouts(PortHandle, {0, 0, 0, 0, 0}));
  // The last byte is written only once the read has taken the first two from the port.
  std::thread reader([&pty] {
    pty.Write({1, 2});
    for (int queued = -1; queued != 0;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ioctl(static_cast<int>(PortHandle), FIONREAD, &queued);
    }
    pty.Write({3});
  });
  EXPECT_TRUE(os.ReadFile(PortHandle, buffer, 3, got));
  reader.join();
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(buffer[2], 3);
  CloseComPort();
}

TEST(PosixPort, AHungUpLineFailsWritesAndReadsAfterTheirTimeout) {
  fake::PseudoTerminal pty(2);
  ASSERT_TRUE(OpenComPort(2, "9600,n,8,1"));
  pty.HangUp();
  std::uint8_t byte = 0;
  std::uint32_t got = 0;

  os.SetCommTimeouts(PortHandle, {0, 0, 50, 0, 0});
  const Spent spent = Measure([&] { EXPECT_FALSE(os.ReadFile(PortHandle, &byte, 1, got)); });
  EXPECT_EQ(got, 0u);
  EXPECT_GE(spent.wall, 50.0);  // waited, did not spin
  EXPECT_LT(spent.cpu, spent.wall / 2);

  // With no time-out at all the read must not hang. A write fails too, with nothing written.
  os.SetCommTimeouts(PortHandle, {0, 0, 0, 0, 0});
  EXPECT_FALSE(os.ReadFile(PortHandle, &byte, 1, got));
  got = 1;
  EXPECT_FALSE(os.WriteFile(PortHandle, &byte, 1, got));
  EXPECT_EQ(got, 0u);
  CloseComPort();
}

// A read that meets the end of the file, as on a tty the kernel has hung up, fails as a
// hung-up line does, whatever errno held before. Here the line's own end-of-file character
// makes one: the line is put back into lines of text, and the character is in the queue
// before the read.
TEST(PosixPort, AnEndOfFileFailsTheRead) {
  fake::PseudoTerminal pty(2);
  ASSERT_TRUE(OpenComPort(2, "9600,n,8,1"));
  os.SetCommTimeouts(PortHandle, {0, 0, 50, 0, 0});
  termios lines = pty.LineSettings();
  lines.c_lflag |= ICANON;
  ASSERT_EQ(tcsetattr(pty.SlaveFd(), TCSANOW, &lines), 0);
  pty.Write({lines.c_cc[VEOF]});
  pollfd queue{static_cast<int>(PortHandle), POLLIN, 0};
  ASSERT_EQ(poll(&queue, 1, 30000), 1);
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  errno = EAGAIN;
  EXPECT_FALSE(os.ReadFile(PortHandle, &byte, 1, got));
  CloseComPort();
}

}  // namespace
