// The "Start" button: one snapshot from the reader, shown and appended to "RFID.txt".
#include <gtest/gtest.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/form_fixture.h"

namespace {

using Trace = std::vector<std::string>;

const fake::Bytes Reply = {0x0E, 0x11, 0x1E, 0x00, 0xE0, 0x04, 0x01,
                           0x50, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
const std::string ReplyDigits = "0E111E00E0040150123456789ABC";
const fake::Bytes SnapshotFrame = {0x05, 0x11, 0x1E, 0x1B, 0x2E};
#ifdef _WIN32
const char FolderError[] = "Permission denied";
#else
const char FolderError[] = "Is a directory";
#endif

class SingleRead : public FormTest {
 protected:
  // A reader on COM1 that answers each complete snapshot frame with reply, 2 ms later.
  fake::FakePort& Reader(fake::Bytes reply = Reply) {
    fake::FakePort& port = os.AddPort("COM1");
    port.OnWrite = [reply](fake::FakePort& p, const fake::Bytes&) {
      if (p.Line().size() % SnapshotFrame.size() == 0) {
        p.Receive(reply, 2);
      }
    };
    return port;
  }
};

// Of a longer reply only fourteen bytes are taken; the rest is left on the line.
TEST_F(SingleRead, ShowsTheWholeBufferAndAppendsOneRecord) {
  fake::Bytes longReply = Reply;
  longReply.insert(longReply.end(), {1, 2, 3, 4, 5, 6});
  fake::FakePort& port = Reader(longReply);

  ClockSpan clock;
  form->Button2->Click();
  clock.End();

  EXPECT_EQ(port.Line(), SnapshotFrame);
  EXPECT_EQ(port.Unread(), 6u);
  EXPECT_EQ(Look(), IdleLook);
  EXPECT_TRUE(shown.empty());

  const std::string tagText = form->Edit1->Text();
  EXPECT_EQ(tagText, ReplyDigits + std::string(472, '0'));
  EXPECT_TRUE(clock.Shows(form->Edit2->Text(), form->Edit3->Text()))
      << form->Edit2->Text() << " " << form->Edit3->Text();
  const std::string first =
      tagText + "     " + form->Edit2->Text() + "     " + form->Edit3->Text() + screen::LineEnd;
  EXPECT_EQ(dir.Read("RFID.txt"), first);
  EXPECT_EQ(dir.Read("test.txt"), screen::TextLines({"len:5", "  len-2:3"}));

  // After the open (its calls are the serial port's own), 100 ms, the exchange, then the
  // close with the time-outs the port had.
  const Trace trace = os.Trace({"ReadFile", "TimeGetTime"});
  ASSERT_GE(trace.size(), 10u);
  EXPECT_EQ(trace.front(), "CreateFile(COM1, 0xC0000000, 0, 3, 0)");
  EXPECT_EQ(Trace(trace.end() - 10, trace.end()),
            (Trace{"Sleep(100)", "PurgeComm(COM1, 0x8)", "WriteFile(COM1, 05 11 1E)", "Sleep(3)",
                   "WriteFile(COM1, 1B)", "Sleep(1)", "WriteFile(COM1, 2E)", "Sleep(1)",
                   "SetCommTimeouts(COM1, 0/0/0/0/0)", "CloseHandle(COM1)"}));

  // A screen reader tells the controls apart by their names, and reads the reading out of
  // the tag box.
  const std::pair<const TControl*, const char*> names[] = {
      {form->ComboBox1, "Port"}, {form->Edit1, "Tag"},    {form->Edit2, "Date"},
      {form->Edit3, "Time"},     {form->Button1, "UID"},  {form->Button2, "Start"},
      {form->Button4, "exit"},   {form->Label1, "Single"}};
  for (const auto& [control, name] : names) {
    EXPECT_EQ(screen::AccessibleName(control), name);
  }
  EXPECT_EQ(screen::AccessibleValue(form->Edit1), tagText);
}

// The operator sees the busy look while the read blocks the window, and the reply from its
// first digit afterwards.
TEST_F(SingleRead, TheScreenShowsTheBusyLookThenTheReplyFromItsStart) {
  Reader();
  screen::Show(form);
  screen::Image busyButton, busyEdit, uidButton;
  os.At(50, [&] {  // within the pause after the open
    busyButton = screen::Shown(form->Button2);
    busyEdit = screen::Shown(form->Edit1);
    uidButton = screen::Shown(form->Button1);
  });

  screen::Focus(form->Button2);  // the operator's Tab, then the Space bar
  form->Button2->Click();
  screen::ProcessEvents();
  const screen::Image reply = screen::Shown(form->Edit1);
  EXPECT_FALSE(screen::Has(uidButton, 0xFF0000)) << "the red is Button2's alone";
  EXPECT_TRUE(screen::HasFocus(form->Button2)) << "the keyboard is left elsewhere after the read";

  // The same box scrolled to its start by hand, and to its end.
  screen::ScrollEdit(form->Edit1, false);
  screen::ProcessEvents();
  EXPECT_EQ(reply, screen::Shown(form->Edit1));
  screen::ScrollEdit(form->Edit1, true);
  screen::ProcessEvents();
  EXPECT_NE(reply, screen::Shown(form->Edit1)) << "the reply fits the box: nothing to scroll";
  // Text in the system's window text colour, the captions in their own colours exactly.
  EXPECT_TRUE(screen::Has(reply, screen::WindowTextColor()));
  EXPECT_TRUE(screen::Has(screen::Shown(form->Button2), 0x008000)) << "no green \"Start\"";
  // Only a button that had the keyboard takes it back: one disabled and enabled again
  // while the keyboard is elsewhere leaves it there.
  screen::Focus(form->Edit3);
  form->Button2->SetEnabled(false);
  form->Button2->SetEnabled(true);
  EXPECT_TRUE(screen::HasFocus(form->Edit3)) << "the button took the keyboard";

  // The busy look, set up by hand and painted by the message loop.
  form->Button2->SetEnabled(false);
  form->Button2->SetCaption("Stop");
  form->Button2->SetFontColor(clRed);
  form->Edit1->SetText("");
  screen::ProcessEvents();
  EXPECT_TRUE(screen::Has(screen::Shown(form->Button2), 0xFF0000)) << "no red \"Stop\"";
  EXPECT_EQ(busyButton, screen::Shown(form->Button2));
  EXPECT_EQ(busyEdit, screen::Shown(form->Edit1));
}

TEST_F(SingleRead, AShortOrMissingReplyIsNeitherShownNorRecorded) {
  const fake::Bytes shortReply(Reply.begin(), Reply.begin() + 10);
  for (const fake::Bytes& reply : {shortReply, fake::Bytes{}}) {
    os.RemovePort("COM1");
    Reader(reply);
    form->Edit1->SetText("previous reading");
    os.ClearCalls();

    form->Button2->Click();

    EXPECT_EQ(form->Edit1->Text(), "");
    EXPECT_EQ(form->Edit2->Text(), "Edit2");
    EXPECT_FALSE(dir.Exists("RFID.txt"));
    EXPECT_EQ(os.Count("CloseHandle"), 1u);
    EXPECT_EQ(Look(), IdleLook);
  }
  const std::string log = screen::TextLines({"len:5", "  len-2:3"});
  EXPECT_EQ(dir.Read("test.txt"), log + log);
}

// The port text is a number whose low eight bits name the port; any other text is shown
// as the conversion's message, and the button comes back for the next try. A port that
// does not open touches nothing but Edit1: nothing sent, logged, recorded or closed.
TEST_F(SingleRead, ThePortTextSelectsThePortByItsLowEightBits) {
  fake::FakePort& com1 = Reader();
  fake::FakePort& com255 = os.AddPort("COM255");
  form->Edit2->SetText("earlier date");
  form->ComboBox1->SetText("03");
  form->Button2->Click();
  EXPECT_EQ(os.Trace(), (Trace{"CreateFile(COM3, 0xC0000000, 0, 3, 0) -> false"}));
  EXPECT_EQ(form->Edit1->Text(), "");
  EXPECT_EQ(form->Edit2->Text(), "earlier date");
  EXPECT_EQ(form->Edit3->Text(), "Edit3");
  EXPECT_FALSE(dir.Exists("RFID.txt") || dir.Exists("test.txt"));
  for (const char* text : {"03", "abc", "01", "257", "-1", "+1"}) {
    form->ComboBox1->SetText(text);
    form->Button2->Click();
    EXPECT_EQ(Look(), IdleLook) << text;
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"'abc' is not a valid integer value"}));
  EXPECT_EQ(os.Count("CreateFile"), 6u);
  EXPECT_EQ(com1.OpenCount(), 3);
  EXPECT_EQ(com255.OpenCount(), 1);
}

// Whatever a handler throws is shown in an error box, its message or nothing (or where the
// application says), and the window goes on: the next click reads as usual.
TEST_F(SingleRead, WhatAHandlerThrowsIsShownAndTheWindowGoesOn) {
  const TNotifyEvent throwing[] = {[](TObject*) { throw std::runtime_error("not ours"); },
                                   [](TObject*) { throw 42; }};
  for (const TNotifyEvent& handler : throwing) {
    form->Button4->SetOnClick(handler);
    form->Button4->Click();
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"not ours", ""}));
  // An application that shows exceptions its own way gets them instead of a box.
  std::string displayed;
  app_.SetExceptionDisplay([&](const std::string& message) { displayed = message; });
  form->Button4->SetOnClick(throwing[0]);
  form->Button4->Click();
  EXPECT_EQ(displayed, "not ours");
  EXPECT_EQ(shown.size(), 2u);
  Reader();
  form->Button2->Click();
  EXPECT_EQ(form->Edit1->Text().substr(0, 28), ReplyDigits);
}

// A record file that cannot take the line: the reading stays shown, the port is closed, the
// button comes back, and a box tells which file and why. Retry, while the way is still
// blocked, asks again; once it is clear, Retry writes the line, once. Cancel leaves it out.
TEST_F(SingleRead, ARecordThatCannotBeWrittenWaitsForTheOperator) {
  struct Case {
    const char* what;
    std::function<void()> block;
    std::function<void()> clear;
    const char* reason;
  };
  auto remove = [] { std::filesystem::remove_all("RFID.txt"); };
#ifdef _WIN32
  int held = -1;
#else
  const rlimit noLimit{RLIM_INFINITY, RLIM_INFINITY};
#endif
  const std::vector<Case> cases = {
      {"a folder in the way", [] { std::filesystem::create_directory("RFID.txt"); }, remove,
       FolderError},
#ifdef _WIN32
      {"a program that holds the file without sharing it for writing",
       [&] { held = _sopen("RFID.txt", _O_RDONLY | _O_CREAT, _SH_DENYWR, _S_IREAD | _S_IWRITE); },
       [&] { _close(held); }, "open in another program"},
#else
      {"a full device", [] { std::filesystem::create_symlink("/dev/full", "RFID.txt"); }, remove,
       "No space left on device"},
      {"a pipe nobody reads", [] { mkfifo("RFID.txt", 0644); }, remove,
       "a pipe that no program reads"},
      // Room for 100 bytes in a new file: the write stops part-way, and all of it is cut off.
      {"a disk that takes part of the line",
       [] {
         const rlimit small{100, RLIM_INFINITY};
         setrlimit(RLIMIT_FSIZE, &small);
       },
       [&] { setrlimit(RLIMIT_FSIZE, &noLimit); }, "File too large"},
#endif
  };
#ifndef _WIN32
  signal(SIGXFSZ, SIG_IGN);  // the limit is told by the write's error, not a signal
#endif
  auto contents = [&] {
    return std::filesystem::is_regular_file("RFID.txt") ? dir.Read("RFID.txt") : "";
  };
  Reader();
  for (const Case& c : cases) {
    remove();
    c.block();
    const std::string before = contents();
    // The first case is cancelled at the second box, the others cleared and retried.
    const bool cancel = &c == &cases.front();
    std::vector<std::string> boxes;
    screen::AnswerBoxes([&](const std::string& text) {
      boxes.push_back(text);
      EXPECT_TRUE(screen::BoxBelongsTo(form)) << c.what;
      EXPECT_EQ(Look(), IdleLook) << c.what;
      EXPECT_EQ(os.Count("CloseHandle"), 1u) << c.what;
      if (boxes.size() == 2) {
        EXPECT_EQ(contents(), before) << c.what << ": nothing of the line is left";
        if (cancel) {
          return false;
        }
        c.clear();
      }
      return boxes.size() <= 2;
    });
    os.ClearCalls();

    form->Button2->Click();

    ASSERT_EQ(boxes.size(), 2u) << c.what;
    for (const std::string& box : boxes) {
      EXPECT_NE(box.find("not recorded"), std::string::npos) << box;
      EXPECT_NE(box.find("\"RFID.txt\""), std::string::npos) << box;
      EXPECT_NE(box.find(c.reason), std::string::npos) << box;
    }
    const std::string line = form->Edit1->Text() + "     " + form->Edit2->Text() + "     " +
                             form->Edit3->Text() + screen::LineEnd;
    EXPECT_EQ(form->Edit1->Text().substr(0, 28), ReplyDigits);
    EXPECT_EQ(contents(), cancel ? before : before + line) << c.what;
  }
}

}  // namespace
