// The UID loop against reader-sim: the program's handlers run in this process on the real
// POSIX platform, the simulator runs as a separate process on a real pseudo-terminal behind
// the link COM1 in the test's working directory.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QObject>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "framework/qt/native.h"
#include "testing/temp_directory.h"
#include "testing/window_fixture.h"

namespace {

// How long an event may take to come at most: far beyond what a loaded machine under the
// sanitizers needs, so that only a fault reaches it.
constexpr int EventLimitMs = 60000;

const char TagA[] = "E004015012345678";
const char TagB[] = "E0040150AABBCCDD";
const std::string TwoTags = std::string(TagA) + "," + TagB;

class EndToEnd : public WindowTest {
 protected:
  void TearDown() override {
    sim.terminate();
    sim.waitForFinished();
    // A loop that a failed assertion left running would keep the form alive.
    ASSERT_EQ(UidLoopRunning, 0);
    WindowTest::TearDown();
  }

  // Starts reader-sim with args, its trace going to a file, and waits for its link COM1.
  // The long frame gap: a program held up between two bytes of a frame still gets its answer.
  void StartSim(const QStringList& args) {
    sim.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    sim.setStandardOutputFile(QString::fromStdString((dir.Path() / "sim-trace.txt").string()));
    sim.start(QStringLiteral(READER_SIM_PATH), args + QStringList{"--frame-gap", "60000"});
    const auto linked = [this] {
      std::error_code error;
      const std::string target = std::filesystem::read_symlink(dir.Path() / "COM1", error);
      return target.rfind("/dev/pts/", 0) == 0 && std::filesystem::exists(target, error);
    };
    EXPECT_TRUE(QTest::qWaitFor(linked, EventLimitMs));
  }
  std::string Trace() const { return dir.Read("sim-trace.txt"); }
  bool WaitForTrace(const std::string& part) {
    return QTest::qWaitFor([&] { return Trace().find(part) != std::string::npos; }, EventLimitMs);
  }
  // Clicks "UID" and lets the loop run until it has shown `count` identifiers, or at most
  // EventLimitMs; then a stopping click is handled like the operator's. Returns Edit1's texts, in
  // order, once the handler has returned.
  std::vector<std::string> RunUid(std::size_t count) {
    std::vector<std::string> edits;
    std::size_t identifiers = 0;
    bool stopPosted = false;
    auto postStop = [&] {
      if (!stopPosted && UidLoopRunning == 1) {
        stopPosted = true;
        PostClick(form->Button1);
      }
    };
    const QMetaObject::Connection watch = QObject::connect(
        Native<QLineEdit>(form->Edit1), &QLineEdit::textChanged, [&](const QString& text) {
          edits.push_back(text.toStdString());
          if (!text.isEmpty() && ++identifiers >= count) {
            postStop();
          }
        });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, postStop);
    guard.start(EventLimitMs);

    form->Button1->Click();

    QObject::disconnect(watch);
    return edits;
  }

  fake::TempWorkingDirectory dir;
  // Declared after dir: the simulator ends (QProcess kills it) before its directory goes.
  QProcess sim;
};

// The UID loop shows the records in turn. The reader is unplugged in the middle of its
// second record and plugged in again a second later, as a new terminal behind the same
// COM1: the loop empties the identifier, finds the reader again by itself, sends the UID
// command anew and shows its tags; the stop closes the line.
// What is shown follows from the bytes alone, however fast either side runs: the reader
// hangs up only once the loop has read all it sent, the 12 bytes of the record cut short
// are too few for an identifier, and the loop starts collecting afresh after the return.
TEST_F(EndToEnd, UidShowsTheTagsInTurnThroughAHangUpAndTheStopClosesTheLine) {
  StartSim({"--scenario", "hangup", "--hangup-after", "50", "--return-after", "1000", "--tags",
            QString::fromStdString(TwoTags), "--interval", "100"});

  const std::vector<std::string> edits = RunUid(3);

  // The pass after the stopping click may show one more.
  ASSERT_GE(edits.size(), 6u) << Trace();
  EXPECT_EQ(std::vector<std::string>(edits.begin(), edits.begin() + 6),
            (std::vector<std::string>{"", TagA, "", TagA, "", TagB}));
  // The reader itself got the command on each of its lines (the program sent two).
  const std::regex onEachLine("UID command\\)[\\s\\S]*back: link[\\s\\S]*UID command\\)");
  EXPECT_TRUE(std::regex_search(Trace(), onEachLine)) << Trace();
  EXPECT_TRUE(WaitForTrace("line closed; tag records stopped")) << Trace();

  EXPECT_EQ(dir.Read("test.txt"), "len:18\n  len-2:16\nlen:18\n  len-2:16\n");
  EXPECT_TRUE(shown.empty());
}

}  // namespace
