// The POSIX backend on a real USB-serial driver (the guest's ftdi_sio, /dev/ttyUSB0), while
// the adapter is pulled and plugged back: what tests/platform/posix_port_test.cpp asks of a
// hung-up pseudo-terminal, asked of the driver. Runs in the guest (usb_test.sh posix-port);
// the adapter is pulled and plugged by the host on request: this program writes "pull" or
// "plug" to the file PAVO_USB_HAND and waits for the host to remove it once done.
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "serial/serial_port.h"
#include "testing/temp_directory.h"
#include "testing/time_spent.h"

namespace {

using fake::Measure;
using fake::Spent;

const char* const kDevice = "/dev/ttyUSB0";

platform::Platform& Os() {
  return platform::OperatingSystem();
}

// Waits up to limitMs for done() to hold.
template <class F>
bool Within(int limitMs, F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool Exists(const char* path) {
  struct stat status = {};
  return stat(path, &status) == 0;
}

// The host's hand: "pull" takes the adapter off the bus, "plug" puts it back.
::testing::AssertionResult Hand(const std::string& what) {
  const char* hand = std::getenv("PAVO_USB_HAND");
  if (hand == nullptr) {
    return ::testing::AssertionFailure() << "PAVO_USB_HAND is not set";
  }
  {
    std::ofstream request(std::string(hand) + ".new");
    request << what << "\n";
  }
  std::filesystem::rename(std::string(hand) + ".new", hand);
  if (!Within(120000, [hand] { return !Exists(hand); })) {
    return ::testing::AssertionFailure() << "the host did not " << what << " within 120 s";
  }
  return ::testing::AssertionSuccess();
}

// The system call a thread of this process is in, from /proc (-1 when running).
long SystemCallOf(long thread) {
  std::ifstream state("/proc/self/task/" + std::to_string(thread) + "/syscall");
  std::string first;
  state >> first;
  return first == "running" || first.empty() ? -1 : std::strtol(first.c_str(), nullptr, 10);
}

TEST(UsbPort, APulledAdapterFailsEveryCallAndOpensAgainOnceBack) {
  fake::TempWorkingDirectory dir;
  std::filesystem::create_symlink(kDevice, "COM1");
  ASSERT_TRUE(Within(120000, [] { return Exists(kDevice); })) << kDevice << " never came";
  ASSERT_TRUE(OpenComPort(1, "9600,n,8,1"));
  platform::LineSettings settings;
  ASSERT_TRUE(Os().GetCommState(PortHandle, settings));
  EXPECT_EQ(settings.BaudRate, 9600u);

  // What a reader sent before is taken first (bytes QEMU held for the adapter while no
  // program had it open), so that the read below has to wait.
  std::uint8_t buffer[64] = {};
  std::uint32_t got = 99;
  ASSERT_TRUE(Os().SetCommTimeouts(PortHandle, {0, 0, 500, 0, 0}));
  ASSERT_TRUE(Within(60000, [&] {
    return Os().ReadFile(PortHandle, buffer, sizeof buffer, got) && got == 0;
  })) << "the line never went quiet";

  // A read that waits without a time-out when the adapter goes: it fails, it does not hang.
  ASSERT_TRUE(Os().SetCommTimeouts(PortHandle, {0, 0, 0, 0, 0}));
  // On a thread of its own, left behind should it never return: the test then fails
  // instead of hanging.
  auto reader = std::make_shared<std::atomic<long>>(0);
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> waiting = done->get_future();
  std::thread([reader, done, handle = PortHandle] {
    *reader = static_cast<long>(syscall(SYS_gettid));
    std::uint32_t n = 0;
    std::uint8_t byte = 0;
    done->set_value(Os().ReadFile(handle, &byte, 1, n));
  }).detach();
  ASSERT_TRUE(Within(60000, [&] { return *reader != 0 && SystemCallOf(*reader) == SYS_ppoll; }))
      << "the read never waited in ppoll";
  ASSERT_TRUE(Hand("pull"));
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(60)), std::future_status::ready)
      << "a read without a time-out still waits 60 s after the adapter went";
  EXPECT_FALSE(waiting.get());
  // The driver removes the node with the device.
  EXPECT_FALSE(Exists(kDevice));

  // With a time-out the read fails once it has passed, waited, not spun, as on a pty.
  ASSERT_TRUE(Os().SetCommTimeouts(PortHandle, {0, 0, 50, 0, 0}));
  const Spent spent = Measure([&] { EXPECT_FALSE(Os().ReadFile(PortHandle, buffer, 1, got)); });
  EXPECT_EQ(got, 0u);
  EXPECT_GE(spent.wall, 50.0);
  EXPECT_LT(spent.cpu, spent.wall / 2);
  // The line's status and settings, a purge and a write all fail on the lost port.
  EXPECT_FALSE(Os().GetCommState(PortHandle, settings));
  EXPECT_FALSE(Os().SetCommState(PortHandle, settings));
  EXPECT_FALSE(Os().PurgeComm(PortHandle, platform::PurgeRxClear));
  std::uint32_t written = 0;
  EXPECT_FALSE(Os().WriteFile(PortHandle, "\x05", 1, written));

  // The serial layer closes a lost port at its first failed read; while the adapter is
  // away the name leads nowhere.
  EXPECT_FALSE(ReadComPort(buffer, sizeof buffer, got));
  EXPECT_FALSE(ComPortOpen());
  const bool opened = OpenComPort(1, "9600,n,8,1");
  const int error = errno;
  EXPECT_FALSE(opened);
  EXPECT_EQ(error, ENOENT);

  // Back under the same name, since nothing holds the old one: it opens and reads.
  ASSERT_TRUE(Hand("plug"));
  ASSERT_TRUE(Within(120000, [] { return Exists(kDevice); }))
      << kDevice << " did not come back (another ttyUSB instead?)";
  // The node can come a moment before the driver takes an open; the program tries again each
  // pass, and so does this.
  ASSERT_TRUE(Within(10000, [] { return OpenComPort(1, "9600,n,8,1"); }))
      << "the port came back but did not open: " << std::strerror(errno);
  EXPECT_TRUE(ReadComPort(buffer, sizeof buffer, got));
  EXPECT_TRUE(ComPortOpen());
  CloseComPort();
}

}  // namespace
