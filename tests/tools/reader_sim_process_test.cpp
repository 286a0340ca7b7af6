// reader-sim as a separate process in a scratch directory, driven through its COMn link
// with plain termios, as the program would.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/crc16.h"
#include "tools/reader-sim/simulator.h"

namespace readersim {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const Bytes kSnapshotFrame = {0x05, 0x11, 0x1E, 0x1B, 0x2E};
const Bytes kUidFrame = {0x12, 0x11, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x2B, 0xF0, 0xC3, 0xEF};
const char kTagA[] = "E004015012345678";
const char kTagB[] = "E0040150AABBCCDD";

Bytes TagBytes(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Bytes Reply(std::uint8_t command, const std::string& tag) {
  Bytes reply = {0x0E, 0x11, command, 0x00};
  const Bytes id = TagBytes(tag);
  reply.insert(reply.end(), id.begin(), id.end());
  const std::uint16_t crc = Crc16(reply.data(), 12);
  reply.push_back(static_cast<std::uint8_t>(crc >> 8));
  reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return reply;
}

Bytes Record(const std::string& tag) {
  Bytes record = {0x0D};
  const Bytes id = TagBytes(tag);
  record.insert(record.end(), id.begin(), id.end());
  record.insert(record.end(), 15, 0x00);
  return record;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

template <typename Predicate>
bool WaitUntil(Predicate done, milliseconds limit = milliseconds(5000)) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (fs::temp_directory_path() / "reader-sim-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// One run of reader-sim with its working directory, trace and error output in `dir`.
class SimProcess {
 public:
  SimProcess(const fs::path& dir, std::vector<std::string> args) : dir_(dir) {
    args.insert(args.begin(), READER_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string out = (dir / "trace.txt").string();
    const std::string err = (dir / "stderr.txt").string();
    pid_ = fork();
    if (pid_ == 0) {
      const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (chdir(dir.c_str()) != 0 || out_fd < 0 || err_fd < 0 || dup2(out_fd, 1) < 0 ||
          dup2(err_fd, 2) < 0) {
        _exit(127);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~SimProcess() {
    if (running()) {
      Signal(SIGTERM);
      if (!WaitForExit()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
  }

  bool running() {
    Reap();
    return !exit_code_;
  }

  // Waits until the link `name` points to a pseudo-terminal that exists (or the process
  // has ended).
  bool WaitForLink(const std::string& name = "COM1") {
    return WaitUntil([&] {
             std::error_code error;
             const fs::path target = fs::read_symlink(dir_ / name, error);
             return (!error && target.string().rfind("/dev/pts/", 0) == 0 && fs::exists(target)) ||
                    !running();
           }) &&
           running();
  }

  std::optional<int> WaitForExit(milliseconds limit = milliseconds(5000)) {
    WaitUntil([&] { return !running(); }, limit);
    return exit_code_;
  }

  void Signal(int number) { kill(pid_, number); }

  std::string Trace() const { return ReadText(dir_ / "trace.txt"); }
  std::string Errors() const { return ReadText(dir_ / "stderr.txt"); }
  bool WaitForTrace(const std::string& part) {
    return WaitUntil([&] { return Trace().find(part) != std::string::npos; });
  }

 private:
  void Reap() {
    int status = 0;
    if (!exit_code_ && pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
  }

  fs::path dir_;
  pid_t pid_ = -1;
  std::optional<int> exit_code_;
};

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
  ~Client() { Close(); }
  bool ok() const { return fd_ >= 0; }

  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until `count` bytes have come, the time is up or the line is gone.
  Bytes Read(std::size_t count, milliseconds limit = milliseconds(5000)) {
    Bytes bytes;
    const auto end = Clock::now() + limit;
    while (bytes.size() < count && Clock::now() < end) {
      pollfd poll_fd{fd_, POLLIN, 0};
      poll(&poll_fd, 1, 10);
      std::uint8_t buffer[256];
      const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (got > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
      } else if (got == 0 || errno != EAGAIN) {
        hung_up_ = true;
        break;
      }
    }
    return bytes;
  }
  // Everything that comes within `span`.
  Bytes ReadFor(milliseconds span) { return Read(1u << 20, span); }
  bool hung_up() const { return hung_up_; }

  void Close() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_ = -1;
  bool hung_up_ = false;
};

class ReaderSimProcessTest : public ::testing::Test {
 protected:
  ScratchDirectory dir_;
};

TEST_F(ReaderSimProcessTest, AnswersBothCommandsAndSendsTagRecordsInTurn) {
  SimProcess sim(dir_.path(), {"--interval", "50", "--tags", std::string(kTagA) + "," + kTagB});
  ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
  Client client(dir_ / "COM1");
  ASSERT_TRUE(client.ok());

  client.Write(kSnapshotFrame);
  EXPECT_EQ(client.Read(14), Reply(0x1E, kTagA));
  // Nothing more: in particular the frame is not echoed back.
  EXPECT_TRUE(client.ReadFor(milliseconds(200)).empty());

  client.Write(kUidFrame);
  EXPECT_EQ(client.Read(14), Reply(0x0E, kTagA));
  EXPECT_EQ(client.Read(72), Join({Record(kTagA), Record(kTagB), Record(kTagA)}));

  ASSERT_TRUE(sim.WaitForTrace("tx 24 bytes: 0D E0 04 01 50 12 34 56 78 00"));
  const std::string trace = sim.Trace();
  std::istringstream lines(trace);
  std::string first;
  std::getline(lines, first);
  EXPECT_NE(first.find("link COM1 -> /dev/pts/"), std::string::npos) << first;
  for (const char* part : {"line open", "rx 5 bytes: 05 11 1E 1B 2E (crc ok, snapshot command)",
                           "tx 14 bytes: 0E 11 1E 00 E0", "(crc ok, UID command)"}) {
    EXPECT_NE(trace.find(part), std::string::npos) << part << "\n" << trace;
  }
  const std::regex stamped(R"(\d\d:\d\d:\d\d\.\d\d\d \S.*)");
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  }
}

TEST_F(ReaderSimProcessTest, ClosingTheLineStopsTheRecordsAndLosesWhatWasUnread) {
  SimProcess sim(dir_.path(), {"--interval", "20"});
  ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
  {
    Client client(dir_ / "COM1");
    client.Write(kUidFrame);
    ASSERT_EQ(client.Read(14), Reply(0x0E, kTagA));
    ASSERT_TRUE(sim.WaitForTrace("tx 24 bytes"));
    std::this_thread::sleep_for(milliseconds(200));  // records pile up unread
  }
  ASSERT_TRUE(sim.WaitForTrace("line closed; tag records stopped")) << sim.Trace();
  EXPECT_TRUE(sim.WaitForTrace("bytes the program left unread")) << sim.Trace();

  Client client(dir_ / "COM1");
  EXPECT_TRUE(client.ReadFor(milliseconds(300)).empty());
  client.Write(kUidFrame);
  EXPECT_EQ(client.Read(38), Join({Reply(0x0E, kTagA), Record(kTagA)}));
  EXPECT_TRUE(sim.running());
}

TEST_F(ReaderSimProcessTest, AQuickCloseAndReopenStillEndsTheSession) {
  if (!READER_SIM_WATCHES_OPENS) {
    GTEST_SKIP() << "this system gives no notice of opens and closes of the line";
  }
  SimProcess sim(dir_.path(), {"--interval", "10"});
  ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    auto client = std::make_unique<Client>(dir_ / "COM1");
    client->Write(kUidFrame);
    ASSERT_EQ(client->Read(14), Reply(0x0E, kTagA));
    std::this_thread::sleep_for(milliseconds(60));  // records pile up unread
    client.reset();
    client = std::make_unique<Client>(dir_ / "COM1");
    // The program pauses after opening its port, as here, before it sends; leftovers of
    // the old session are gone by then.
    std::this_thread::sleep_for(milliseconds(100));
    client->Write(kSnapshotFrame);
    EXPECT_EQ(client->Read(14), Reply(0x1E, kTagA)) << sim.Trace();
    EXPECT_EQ(HexBytes(client->ReadFor(milliseconds(100))), "") << sim.Trace();
  }
}

TEST_F(ReaderSimProcessTest, EndsOnEachStopSignalAndRemovesItsLink) {
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(number);
    SimProcess sim(dir_.path(), {});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
    Client client(dir_ / "COM1");  // with the line open, too
    sim.Signal(number);
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM1")));
    EXPECT_NE(sim.Trace().find("COM1 removed"), std::string::npos) << sim.Trace();
  }
}

TEST_F(ReaderSimProcessTest, RefusesAForeignEntryButReplacesALeftoverLink) {
  {
    std::ofstream(dir_ / "COM1") << "keep me";
    SimProcess sim(dir_.path(), {});
    const std::optional<int> code = sim.WaitForExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_NE(*code, 0);
    EXPECT_NE(sim.Errors().find("COM1 already exists"), std::string::npos) << sim.Errors();
    EXPECT_EQ(ReadText(dir_ / "COM1"), "keep me");
    fs::remove(dir_ / "COM1");
  }
  {
    fs::create_symlink("/dev/null", dir_ / "COM1");
    SimProcess sim(dir_.path(), {});
    EXPECT_NE(sim.WaitForExit(), std::optional<int>(0));
    EXPECT_EQ(fs::read_symlink(dir_ / "COM1"), "/dev/null");
    fs::remove(dir_ / "COM1");
  }
  {
    // The link of another simulator that still runs.
    SimProcess first(dir_.path(), {});
    ASSERT_TRUE(first.WaitForLink());
    const fs::path target = fs::read_symlink(dir_ / "COM1");
    fs::create_symlink(target, dir_ / "COM2");
    SimProcess second(dir_.path(), {"--port", "2"});
    EXPECT_NE(second.WaitForExit(), std::optional<int>(0));
    EXPECT_EQ(fs::read_symlink(dir_ / "COM2"), target);
    fs::remove(dir_ / "COM2");
  }
  {
    // A simulator that was killed leaves a dangling link into /dev/pts/.
    fs::create_symlink("/dev/pts/999999", dir_ / "COM1");
    SimProcess sim(dir_.path(), {});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
    EXPECT_NE(fs::read_symlink(dir_ / "COM1"), "/dev/pts/999999");
    EXPECT_NE(sim.Trace().find("replaced a leftover COM1"), std::string::npos);
    Client client(dir_ / "COM1");
    client.Write(kSnapshotFrame);
    EXPECT_EQ(client.Read(14).size(), 14u);
  }
}

TEST_F(ReaderSimProcessTest, HangupScenarioDropsTheLineAfterTheGivenBytes) {
  SimProcess sim(dir_.path(), {"--scenario", "hangup", "--hangup-after", "30", "--interval", "50"});
  ASSERT_TRUE(sim.WaitForLink()) << sim.Errors();
  Client client(dir_ / "COM1");
  client.Write(kUidFrame);
  const Bytes record = Record(kTagA);
  const Bytes expected = Join({Reply(0x0E, kTagA), Bytes(record.begin(), record.begin() + 16)});
  EXPECT_EQ(client.Read(1000), expected);
  EXPECT_TRUE(client.hung_up());
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM1")));
  EXPECT_NE(sim.Trace().find("hangup after 30 bytes sent"), std::string::npos) << sim.Trace();
}

TEST_F(ReaderSimProcessTest, OptionsAtTheCommandLine) {
  {
    SimProcess sim(dir_.path(), {"--port", "3"});
    ASSERT_TRUE(sim.WaitForLink("COM3")) << sim.Errors();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM1")));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM3")));
  {
    SimProcess sim(dir_.path(), {"--tags", "E00401501234567"});
    EXPECT_EQ(sim.WaitForExit(), 2);
    EXPECT_NE(sim.Errors().find("E00401501234567"), std::string::npos) << sim.Errors();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM1")));
  }
  {
    SimProcess sim(dir_.path(), {"--interval"});
    EXPECT_EQ(sim.WaitForExit(), 2);
    EXPECT_NE(sim.Errors().find("--interval"), std::string::npos) << sim.Errors();
  }
  {
    SimProcess sim(dir_.path(), {"--help"});
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_EQ(sim.Trace().rfind("usage: reader-sim", 0), 0u) << sim.Trace();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM1")));
  }
}

}  // namespace
}  // namespace readersim
