// The window's reading actions on a real pseudo-terminal while things go wrong outside
// the program: the reader hangs up mid-reply or mid-loop, the port link leads to
// something that is not a terminal or to nothing, and the files cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "serial/platform.h"
#include "serial/platform_fake.h"
#include "tests/ui/line_fixture.h"

namespace {

namespace fs = std::filesystem;
using fake::Bytes;
using Clock = std::chrono::steady_clock;

const Bytes SnapshotFrame = {0x05, 0x11, 0x1E, 0x1B, 0x2E};
const Bytes UidFrame = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0, 0xC3, 0xEF};
const Bytes Reply = {0x0E, 0x11, 0x1E, 0x00, 0xE0, 0x04, 0x01,
                     0x50, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
const std::string ReplyDigits =
    "0E111E00E004015012345678"
    "9ABC";

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// How many descriptors of this process lead to path (a terminal whose master side has
// gone shows as "<path> (deleted)").
int OpenDescriptorsTo(const std::string& path) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = fs::read_symlink(entry.path(), error).string();
    if (target == path || target == path + " (deleted)") {
      ++count;
    }
  }
  return count;
}

int OpenDescriptors() {
  return static_cast<int>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The operating system's platform, with the loop's pauses counted.
class CountingPlatform : public fake::ForwardingPlatform {
 public:
  int Pauses100 = 0;
  int Reads = 0;
  int Opens = 0;

  platform::Handle CreateFile(const std::string& name, std::uint32_t access, std::uint32_t share,
                              std::uint32_t disposition, std::uint32_t flags) override {
    ++Opens;
    return ForwardingPlatform::CreateFile(name, access, share, disposition, flags);
  }
  bool ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                std::uint32_t& read) override {
    ++Reads;
    return ForwardingPlatform::ReadFile(h, buffer, count, read);
  }
  void Sleep(std::uint32_t ms) override {
    Pauses100 += ms == 100 ? 1 : 0;
    ForwardingPlatform::Sleep(ms);
  }
};

// Until it goes, the process cannot write in dir: its mode is mode, and a process that
// runs as root (whom modes do not stop) acts as the unprivileged user "nobody", to whom
// the line's terminal is opened up so that the port still opens.
class UnprivilegedWrites {
 public:
  UnprivilegedWrites(const fs::path& dir, fs::perms mode, const std::string& terminal) : dir_(dir) {
    fs::permissions(dir, mode);
    if (geteuid() == 0) {
      chmod(terminal.c_str(), 0666);
      dropped_ = seteuid(65534) == 0;
    }
  }
  ~UnprivilegedWrites() {
    if (dropped_ && seteuid(0) != 0) {
      std::abort();
    }
    fs::permissions(dir_, fs::perms::owner_all);
  }
  // False when the process runs as root and cannot give that up (then writes succeed).
  bool Effective() const { return geteuid() != 0; }
  UnprivilegedWrites(const UnprivilegedWrites&) = delete;
  UnprivilegedWrites& operator=(const UnprivilegedWrites&) = delete;

 private:
  fs::path dir_;
  bool dropped_ = false;
};

class OnALine : public LineTest {
 protected:
  void TearDown() override {
    LineTest::TearDown();
    platform::Install(nullptr);
  }

  // Clicks "Start" with a reader that answers the snapshot frame with reply, then hangs
  // up if asked to. Returns the click's wall time and process CPU time, in seconds.
  std::pair<double, double> SingleRead(const Bytes& reply, bool hangUp = false) {
    pty.Play([reply, hangUp](fake::PseudoTerminal& reader) {
      if (reader.ReadExactly(SnapshotFrame.size(), 3000) != SnapshotFrame) {
        throw std::runtime_error("no snapshot frame");
      }
      reader.Write(reply);
      if (hangUp) {
        reader.ReadAvailable(50);
        reader.HangUp();
      }
    });
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    form->Button2->Click();
    const double wall = Seconds(Clock::now() - start);
    const double used = CpuSeconds() - cpu;
    pty.Join();
    EXPECT_EQ(pty.Failure(), "");
    return {wall, used};
  }

  fs::path Dir() const { return pty.Directory(); }

  // The reading is shown but the record file refused it: the operator is told which file
  // and why, and the button comes back.
  void ExpectShownButNotRecorded(const std::string& reason) {
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("\"RFID.txt\""), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find(reason), std::string::npos) << shown[0];
    EXPECT_EQ(form->Edit1->Text(), ReplyDigits + std::string(472, '0'));
    EXPECT_EQ(Look(), IdleLook);
  }
};

// The reader goes away after half of its reply: the exchange waits out its limit without
// spinning, nothing is shown or recorded, and the port is closed.
TEST_F(OnALine, AHangUpInTheMiddleOfAReplyEndsTheReadQuietly) {
  const int before = OpenDescriptorsTo(pty.SlavePath());

  const auto [wall, cpu] = SingleRead(Bytes(Reply.begin(), Reply.begin() + 6), true);

  EXPECT_GE(wall, 0.45);
  EXPECT_LE(wall, 5.0);
  EXPECT_LT(cpu, wall / 2) << "the exchange spins on the hung-up line";
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(form->Edit1->Text(), "");
  EXPECT_EQ(form->Edit2->Text(), "Edit2");
  EXPECT_FALSE(fs::exists(Dir() / "RFID.txt"));
  EXPECT_EQ(ReadFile(Dir() / "test.txt"), "len:5\n  len-2:3\n");
  EXPECT_EQ(Look(), IdleLook);
  EXPECT_EQ(OpenDescriptorsTo(pty.SlavePath()), before);
}

// The reader hangs up for good while the UID loop runs: the loop closes the port, empties
// the identifier and looks for the reader once a pass, at its pace, without spinning and
// without a descriptor left behind; the stop still ends it.
TEST_F(OnALine, AReaderThatHangsUpForGoodIsLookedForEachPassWithoutSpinning) {
  CountingPlatform counting;
  platform::Install(&counting);
  const int before = OpenDescriptorsTo(pty.SlavePath());
  pty.Play([](fake::PseudoTerminal& reader) {
    if (reader.ReadExactly(UidFrame.size(), 3000) != UidFrame) {
      throw std::runtime_error("no UID frame");
    }
    reader.Write(Reply);
    reader.Write({0x0D, 0xE0, 0x04, 0x01, 0x50});  // a record cut short
    reader.ReadAvailable(300);
    reader.HangUp();
  });
  std::vector<QString> edits;
  QObject::connect(Native<QLineEdit>(form->Edit1), &QLineEdit::textChanged,
                   [&edits](const QString& text) { edits.push_back(text); });
  bool stopped = false;
  QTimer::singleShot(2000, NativeWidget(form->Button1), [this, &stopped] {
    stopped = true;
    form->Button1->Click();
  });
  // Measured from the moment the loop has surely begun its passes.
  int pausesAtStart = 0;
  double cpuAtStart = 0;
  Clock::time_point wallAtStart;
  QTimer::singleShot(500, NativeWidget(form->Button1), [&] {
    pausesAtStart = counting.Pauses100;
    cpuAtStart = CpuSeconds();
    wallAtStart = Clock::now();
  });

  form->Button1->Click();
  const double wall = Seconds(Clock::now() - wallAtStart);
  const double cpu = CpuSeconds() - cpuAtStart;
  const int passes = counting.Pauses100 - pausesAtStart;
  pty.Join();

  ASSERT_TRUE(stopped);
  EXPECT_EQ(pty.Failure(), "");
  EXPECT_GE(passes, static_cast<int>(wall * 10 / 2)) << wall << " s";
  EXPECT_LE(passes, static_cast<int>(wall * 10) + 2) << wall << " s";
  EXPECT_LE(counting.Reads, counting.Pauses100 + 501);  // one read a pass, plus the exchange's
  // After the hang-up every pass but the one that found it tries an open.
  EXPECT_GE(counting.Opens, passes / 2);
  EXPECT_LE(counting.Opens, passes + 2);
  EXPECT_LT(cpu, wall / 2) << "the loop spins on the hung-up line";
  EXPECT_EQ(edits, std::vector<QString>{QString()});
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(UidLoopRunning, 0);
  EXPECT_EQ(OpenDescriptorsTo(pty.SlavePath()), before);
}

// A port link that leads to something that is not a terminal, or to nothing: both
// actions fail to open it silently, leave no descriptor behind and write nothing.
TEST_F(OnALine, APortLinkToNoTerminalOrToNothingOpensNothing) {
  std::ofstream(Dir() / "plain.txt") << "keep";
  fs::create_directory(Dir() / "folder");
  const struct {
    const char* what;
    fs::path target;
  } cases[] = {
      {"a regular file", Dir() / "plain.txt"},
      {"a device that is not a terminal", "/dev/null"},
      {"a directory", Dir() / "folder"},
      {"nothing", Dir() / "missing"},
  };
  form->ComboBox1->SetText("10");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(Dir() / "COM10");
    fs::create_symlink(c.target, Dir() / "COM10");
    const int descriptors = OpenDescriptors();
    form->Edit2->SetText("kept");

    form->Button2->Click();
    QTimer guard;  // stops a loop that should not have started
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [this] { form->Button1->Click(); });
    guard.start(3000);
    const auto start = Clock::now();
    form->Button1->Click();
    const double wall = Seconds(Clock::now() - start);
    guard.stop();

    EXPECT_LT(wall, 2.0) << "the UID loop started";
    EXPECT_EQ(UidStopRequested, 0);
    EXPECT_EQ(UidLoopRunning, 0);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(form->Edit1->Text(), "");
    EXPECT_EQ(form->Edit2->Text(), "kept");
    EXPECT_EQ(Look(), IdleLook);
    EXPECT_FALSE(fs::exists(Dir() / "test.txt"));
    EXPECT_FALSE(fs::exists(Dir() / "RFID.txt"));
    EXPECT_EQ(ReadFile(Dir() / "plain.txt"), "keep");
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
}

// The command log cannot be written: the exchange and the reading go on as usual.
TEST_F(OnALine, ACommandLogThatCannotBeWrittenDoesNotDisturbTheRead) {
  const struct {
    const char* what;
    std::function<void()> prepare;
  } cases[] = {
      {"a full device", [this] { fs::create_symlink("/dev/full", Dir() / "test.txt"); }},
      {"a folder in the way", [this] { fs::create_directory(Dir() / "test.txt"); }},
      {"a pipe nobody reads", [this] { mkfifo((Dir() / "test.txt").c_str(), 0644); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Dir() / "test.txt");
    fs::remove(Dir() / "RFID.txt");
    c.prepare();

    SingleRead(Reply);

    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(form->Edit1->Text(), ReplyDigits + std::string(472, '0'));
    EXPECT_EQ(ReadFile(Dir() / "RFID.txt"), form->Edit1->Text() + "     " + form->Edit2->Text() +
                                                "     " + form->Edit3->Text() + "\n");
    EXPECT_EQ(Look(), IdleLook);
  }
}

// The record file cannot take the reading: it stays shown, the operator is told which
// file and why, the command log is written as usual, and the button comes back. A pipe
// that no program reads must not hold the window either.
TEST_F(OnALine, ARecordFileThatCannotTakeTheReadingIsReportedWithTheReadingShown) {
  const struct {
    const char* what;
    std::function<void()> prepare;
    const char* reason;
  } cases[] = {
      {"a full device", [this] { fs::create_symlink("/dev/full", Dir() / "RFID.txt"); },
       "No space left on device"},
      {"a pipe nobody reads", [this] { mkfifo((Dir() / "RFID.txt").c_str(), 0644); },
       "a pipe that no program reads"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(Dir() / "RFID.txt");
    fs::remove(Dir() / "test.txt");
    shown.clear();
    c.prepare();

    const double wall = SingleRead(Reply).first;

    EXPECT_LT(wall, 2.0);
    ExpectShownButNotRecorded(c.reason);
    EXPECT_EQ(ReadFile(Dir() / "test.txt"), "len:5\n  len-2:3\n");
  }
}

TEST_F(OnALine, AReadOnlyRecordFileKeepsItsLinesAndIsReported) {
  std::ofstream(Dir() / "RFID.txt") << "earlier line\n";
  fs::permissions(Dir() / "RFID.txt",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  {
    UnprivilegedWrites guard(Dir(), fs::perms::all, pty.SlavePath());
    if (!guard.Effective()) {
      GTEST_SKIP() << "runs as root and cannot act as another user";
    }
    SingleRead(Reply);
  }

  ExpectShownButNotRecorded("Permission denied");
  EXPECT_EQ(ReadFile(Dir() / "RFID.txt"), "earlier line\n");
  EXPECT_EQ(ReadFile(Dir() / "test.txt"), "len:5\n  len-2:3\n");
}

// A working directory the program cannot write in: no file at all, but the reading is
// made and shown, the operator is told it was not recorded, and the port is closed.
TEST_F(OnALine, AReadOnlyWorkingDirectoryStillGivesAReading) {
  const int before = OpenDescriptorsTo(pty.SlavePath());
  {
    UnprivilegedWrites guard(Dir(),
                             fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                 fs::perms::group_exec | fs::perms::others_read |
                                 fs::perms::others_exec,
                             pty.SlavePath());
    if (!guard.Effective()) {
      GTEST_SKIP() << "runs as root and cannot act as another user";
    }
    SingleRead(Reply);
  }

  ExpectShownButNotRecorded("Permission denied");
  EXPECT_FALSE(fs::exists(Dir() / "test.txt"));
  EXPECT_FALSE(fs::exists(Dir() / "RFID.txt"));
  EXPECT_EQ(OpenDescriptorsTo(pty.SlavePath()), before);
}

}  // namespace
