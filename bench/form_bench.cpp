// The window's two reading actions in-process, with the operating system's serial port on
// a real pseudo-terminal and the reader played on a thread of its own:
//  - single read ("Start"): from the click to its line in "RFID.txt" (the handler has
//    appended it when the click returns), and that time beyond the fixed pauses of the
//    action (100 ms after the open, 3 + 1 + 1 ms after the writes);
//  - single read that the reader never answers, as the reader sees it: from the moment the
//    command's last byte has reached it to the close of the line (the 1 ms pause after that
//    byte, then the 500 ms limit), and the CPU time the whole process spends on such a read;
//  - continuous UID reading ("UID"): the period of a pass of the loop (its start is the
//    read after the loop's 100 ms pause) and the CPU time the whole process
//    spends per pass, from getrusage over blocks of passes.
// The window is shown (offscreen unless a platform is chosen), so the edit boxes really
// repaint. Usage: bench_form [--tsv] [runs]   (default 40 single reads, half as many
// unanswered; the UID loop makes 10 x runs/4 passes)
#include <stdlib.h>
#include <QByteArray>
#include <QMetaObject>
#include <filesystem>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "framework/application.h"
#include "framework/qt/native.h"
#include "ui/unit1.h"

namespace {

using namespace bench;

constexpr int PassesPerBlock = 10;

std::size_t LinesIn(const char* name) {
  std::ifstream file(name);
  std::size_t lines = 0;
  for (std::string text; std::getline(file, text);) {
    ++lines;
  }
  return lines;
}

// A reader that answers the snapshot command with one reply, and the UID command with a
// reply followed by enough tag records for every pass of the loop.
Bytes Respond(const Bytes& frame, int uidPasses) {
  Bytes reply = TagReply();
  if (frame[0] == UidCommand[0]) {
    for (int i = 0; i < uidPasses / static_cast<int>(TagReply().size()) + 2; ++i) {
      const Bytes record = TagReply();
      reply.insert(reply.end(), record.begin(), record.end());
    }
  }
  return reply;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = RunsArgument(argc, argv, 40);
  const int passes = PassesPerBlock * std::max(3, runs / 4);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }

  fake::PseudoTerminal line(1);
  // Qt wants its runtime directory private to the user.
  std::filesystem::permissions(line.Directory(), std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", line.Directory().c_str(), 0);
  // The reader stays silent while `silent` is set; it notes when each frame was complete.
  std::atomic<bool> silent{false};
  std::atomic<Clock::rep> frameEnd{0};
  Reader reader(line, [&](const Bytes& frame) {
    frameEnd = Clock::now().time_since_epoch().count();
    return silent ? Bytes{} : Respond(frame, passes);
  });
  TimingPlatform timing;
  platform::Install(&timing);

  Application->Initialize();
  Application->SetTitle("pavo");
  int shown = 0;
  Application->SetExceptionDisplay([&shown](const std::string& message) {
    ++shown;
    std::fprintf(stderr, "bench_form: %s\n", message.c_str());
  });
  Application->CreateForm(Form1);
  Form1->ComboBox1->SetText("1");
  Form1->Show();
  Application->ProcessMessages();

  Figure clickToRecord{"single read: click to its line in RFID.txt", "ms", {}, "floor 105"};
  Figure readOverhead{"single read: beyond the 100+3+1+1 ms of pauses", "ms", {}, "goal < 1"};
  int missing = 0;
  for (int i = 0; i < runs; ++i) {
    const std::size_t before = LinesIn(RecordFileName);
    const auto start = Clock::now();
    Form1->Button2->Click();
    const double elapsed = Ms(Clock::now() - start);
    missing += LinesIn(RecordFileName) == before + 1 ? 0 : 1;
    clickToRecord.samples.push_back(elapsed);
    readOverhead.samples.push_back(elapsed - 105.0);
    Application->ProcessMessages();
  }

  Figure unanswered{"single read unanswered: last byte in to line closed",
                    "ms",
                    {},
                    "floor 501 (1 + 500 limit), goal <= 502.5"};
  Figure unansweredCpu{
      "single read unanswered: process CPU per read", "ms", {}, "a spinning wait: 500"};
  silent = true;
  for (int i = 0; i < std::max(5, runs / 2); ++i) {
    const std::size_t before = LinesIn(RecordFileName);
    const double cpuBefore = ProcessCpuMs();
    Form1->Button2->Click();
    unansweredCpu.samples.push_back(ProcessCpuMs() - cpuBefore);
    unanswered.samples.push_back(
        Ms(timing.LastCloseEnd() - Clock::time_point(Clock::duration(frameEnd.load()))));
    missing += LinesIn(RecordFileName) == before ? 0 : 1;
    Application->ProcessMessages();
  }
  silent = false;

  Figure period{"UID loop: period of a pass", "ms", {}, "floor 100"};
  Figure cpu{"UID loop: process CPU per pass (blocks of 10 passes)", "ms", {}, "goal << 1"};
  Clock::time_point lastPass{};
  double blockCpu = 0;
  timing.ResetPasses();
  timing.OnPass = [&](int pass) {
    const auto now = Clock::now();
    if (pass > 1) {
      period.samples.push_back(Ms(now - lastPass));
    }
    lastPass = now;
    if (pass % PassesPerBlock == 1) {
      const double cpuNow = ProcessCpuMs();
      if (pass > 1) {
        cpu.samples.push_back((cpuNow - blockCpu) / PassesPerBlock);
      }
      blockCpu = cpuNow;
    }
    if (pass == passes + 1) {
      // The operator's second click: handled by the loop's own dispatch of events.
      QMetaObject::invokeMethod(NativeWidget(Form1->Button1), "click", Qt::QueuedConnection);
    }
  };
  Form1->Button1->Click();
  timing.OnPass = nullptr;

  Application->Finalize();
  platform::Install(nullptr);

  Print({clickToRecord, readOverhead, unanswered, unansweredCpu, period, cpu},
        TsvRequested(argc, argv));
  if (missing != 0 || shown != 0) {
    std::fprintf(stderr,
                 "bench_form: %d single reads recorded otherwise than expected; %d errors shown\n",
                 missing, shown);
  }
  return 0;
}
