// reader-sim as a separate process in a scratch directory, driven through its COMn link
// with plain termios, as the program would: what the program's own end-to-end runs do not
// reach (its link's life, its refusals, the hangup and a quick reopen of the line).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/crc16.h"
#include "tests/support/reader_sim_process.h"
#include "tests/support/temp_directory.h"
#include "tools/reader-sim/simulator.h"

namespace readersim {
namespace {

namespace fs = std::filesystem;
using fake::ReaderSimProcess;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const Bytes kSnapshotFrame = {0x05, 0x11, 0x1E, 0x1B, 0x2E};
const Bytes kUidFrame = {0x12, 0x11, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x2B, 0xF0, 0xC3, 0xEF};
// The default tag's identifier.
const Bytes kTagA = {0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78};

Bytes Reply(std::uint8_t command) {
  Bytes reply = {0x0E, 0x11, command, 0x00};
  reply.insert(reply.end(), kTagA.begin(), kTagA.end());
  const std::uint16_t crc = Crc16(reply.data(), 12);
  reply.push_back(static_cast<std::uint8_t>(crc >> 8));
  reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return reply;
}

// The program's end of the line: the COMn link opened raw, as a serial port.
class Client {
 public:
  explicit Client(const fs::path& port) {
    fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~Client() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until `count` bytes have come, the time is up or the line is gone.
  Bytes Read(std::size_t count, milliseconds limit = milliseconds(5000)) {
    Bytes bytes;
    const auto end = Clock::now() + limit;
    while (bytes.size() < count && Clock::now() < end) {
      pollfd pollFd{fd_, POLLIN, 0};
      poll(&pollFd, 1, 10);
      std::uint8_t buffer[256];
      const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (got > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
      } else if (got == 0 || errno != EAGAIN) {
        hungUp_ = true;
        break;
      }
    }
    return bytes;
  }
  bool HungUp() const { return hungUp_; }

 private:
  int fd_ = -1;
  bool hungUp_ = false;
};

class ReaderSimProcessTest : public ::testing::Test {
 protected:
  bool Exists(const std::string& name) const {
    return fs::exists(fs::symlink_status(dir_.Path() / name));
  }

  fake::TempWorkingDirectory dir_;
};

TEST_F(ReaderSimProcessTest, EndsOnEachStopSignalAndRemovesItsLink) {
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(number);
    ReaderSimProcess sim(dir_.Path(), {"--port", "3"});
    ASSERT_TRUE(sim.WaitForLink("COM3")) << sim.Errors();
    Client client(dir_.Path() / "COM3");  // with the line open, too
    sim.Signal(number);
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_FALSE(Exists("COM3"));
    EXPECT_NE(sim.Trace().find("COM3 removed"), std::string::npos) << sim.Trace();
  }
}

TEST_F(ReaderSimProcessTest, RefusesAForeignEntryButReplacesALeftoverLink) {
  const fs::path com1 = dir_.Path() / "COM1";
  {
    std::ofstream(com1) << "keep me";
    ReaderSimProcess sim(dir_.Path(), {});
    EXPECT_EQ(sim.WaitForExit(), 1);
    EXPECT_NE(sim.Errors().find("COM1 already exists"), std::string::npos) << sim.Errors();
    EXPECT_EQ(dir_.Read("COM1"), "keep me");
    fs::remove(com1);
  }
  {
    fs::create_symlink("/dev/null", com1);
    ReaderSimProcess sim(dir_.Path(), {});
    EXPECT_EQ(sim.WaitForExit(), 1);
    EXPECT_EQ(fs::read_symlink(com1), "/dev/null");
    fs::remove(com1);
  }
  {
    // The link of another simulator that still runs.
    ReaderSimProcess first(dir_.Path(), {});
    ASSERT_TRUE(first.WaitForLink());
    const fs::path target = fs::read_symlink(com1);
    fs::create_symlink(target, dir_.Path() / "COM2");
    ReaderSimProcess second(dir_.Path(), {"--port", "2"});
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_EQ(fs::read_symlink(dir_.Path() / "COM2"), target);
  }
  {
    // A simulator that was killed leaves a dangling link into /dev/pts/.
    fs::remove(com1);
    fs::create_symlink("/dev/pts/999999", com1);
    ReaderSimProcess sim(dir_.Path(), {});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
    EXPECT_NE(sim.Trace().find("replaced a leftover COM1"), std::string::npos);
    Client client(com1);
    client.Write(kSnapshotFrame);
    EXPECT_EQ(client.Read(14), Reply(0x1E));
  }
}

TEST_F(ReaderSimProcessTest, BadOptionsExitWithTwoAndHelpWithZero) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string said;  // found in the errors, or for code 0 at the start of the output
  };
  const Case cases[] = {
      {{"--tags", "E00401501234567"}, 2, "E00401501234567"},
      {{"--interval"}, 2, "--interval"},
      {{"--help"}, 0, "usage: reader-sim"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    ReaderSimProcess sim(dir_.Path(), c.args);
    EXPECT_EQ(sim.WaitForExit(), c.code);
    if (c.code == 0) {
      EXPECT_EQ(sim.Trace().rfind(c.said, 0), 0u) << sim.Trace();
    } else {
      EXPECT_NE(sim.Errors().find(c.said), std::string::npos) << sim.Errors();
    }
    EXPECT_FALSE(Exists("COM1"));
  }
}

TEST_F(ReaderSimProcessTest, HangupScenarioDropsTheLineAfterTheGivenBytes) {
  ReaderSimProcess sim(dir_.Path(),
                       {"--scenario", "hangup", "--hangup-after", "30", "--interval", "50"});
  ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
  Client client(dir_.Path() / "COM1");
  client.Write(kUidFrame);
  // The 14-byte reply, then the first 16 bytes of the first record.
  Bytes expected = Reply(0x0E);
  expected.push_back(0x0D);
  expected.insert(expected.end(), kTagA.begin(), kTagA.end());
  expected.insert(expected.end(), 7, 0x00);
  EXPECT_EQ(client.Read(1000), expected);
  EXPECT_TRUE(client.HungUp());
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(Exists("COM1"));
  EXPECT_NE(sim.Trace().find("hangup after 30 bytes sent"), std::string::npos) << sim.Trace();
}

TEST_F(ReaderSimProcessTest, AQuickCloseAndReopenStillEndsTheSession) {
  if (!READER_SIM_WATCHES_OPENS) {
    GTEST_SKIP() << "this system gives no notice of opens and closes of the line";
  }
  ReaderSimProcess sim(dir_.Path(), {"--interval", "10"});
  ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    std::optional<Client> client(std::in_place, dir_.Path() / "COM1");
    client->Write(kUidFrame);
    ASSERT_EQ(client->Read(14), Reply(0x0E));
    std::this_thread::sleep_for(milliseconds(60));  // records pile up unread
    client.emplace(dir_.Path() / "COM1");
    // The program pauses after opening its port, as here, before it sends; leftovers of
    // the old session are gone by then.
    std::this_thread::sleep_for(milliseconds(100));
    client->Write(kSnapshotFrame);
    EXPECT_EQ(client->Read(14), Reply(0x1E)) << sim.Trace();
    EXPECT_EQ(HexBytes(client->Read(1u << 20, milliseconds(100))), "") << sim.Trace();
  }
  EXPECT_TRUE(sim.WaitForTrace("line closed; tag records stopped")) << sim.Trace();
}

}  // namespace
}  // namespace readersim
