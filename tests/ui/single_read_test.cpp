// The "Start" button: one snapshot from the reader, shown and appended to "RFID.txt".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/ui/form_fixture.h"
#include "text/date_time_text.h"

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

std::string Today() {
  std::string text;
  DateTimeText(Date(), text);
  return text;
}

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
  void Click() { form->Button2->Click(); }
};

// Of a longer reply only fourteen bytes are taken; the rest is left on the line.
TEST_F(SingleRead, ShowsTheWholeBufferAndAppendsOneRecord) {
  fake::Bytes longReply = Reply;
  longReply.insert(longReply.end(), {1, 2, 3, 4, 5, 6});
  fake::FakePort& port = Reader(longReply);

  Click();

  EXPECT_EQ(port.Line(), SnapshotFrame);
  EXPECT_EQ(port.Unread(), 6u);
  EXPECT_EQ(Look(), IdleLook);
  EXPECT_TRUE(shown.empty());

  const std::string tagText = form->Edit1->Text();
  EXPECT_EQ(tagText, ReplyDigits + std::string(472, '0'));
  EXPECT_EQ(form->Edit2->Text(), Today());
  EXPECT_FALSE(form->Edit3->Text().empty());
  EXPECT_NE(form->Edit3->Text(), "Edit3");
  const std::string first =
      tagText + "     " + form->Edit2->Text() + "     " + form->Edit3->Text() + screen::LineEnd;
  EXPECT_EQ(dir.Read("RFID.txt"), first);
  EXPECT_EQ(dir.Read("test.txt"), screen::TextLines({"len:5", "  len-2:3"}));

  // Open, 100 ms, the exchange, then the close with the time-outs the port had.
  EXPECT_EQ(os.Trace("ReadFile", "TimeGetTime"),
            (Trace{"CreateFile(COM1, 0xC0000000, 0, 3, 0)", "GetCommTimeouts(COM1)",
                   "SetCommTimeouts(COM1, 0/0/1/0/0)", "GetCommState(COM1)",
                   "BuildCommDCB(9600,n,8,1)", "SetCommState(COM1, 9600 N 8 1)", "Sleep(100)",
                   "PurgeComm(COM1, 0x8)", "WriteFile(COM1, 05 11 1E)", "Sleep(3)",
                   "WriteFile(COM1, 1B)", "Sleep(1)", "WriteFile(COM1, 2E)", "Sleep(1)",
                   "SetCommTimeouts(COM1, 0/0/0/0/0)", "CloseHandle(COM1)"}));

  // The next read appends its own line after the first.
  Click();
  const std::string both = dir.Read("RFID.txt");
  EXPECT_EQ(both.compare(0, first.size(), first), 0);
  EXPECT_EQ(both.size(), 2 * first.size());
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
  Click();
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

// A screen reader tells the controls apart by their names, and reads the reading out of the
// tag box.
TEST_F(SingleRead, AScreenReaderNamesEachControlAndReadsTheReading) {
  Reader();
  const std::pair<const TControl*, const char*> names[] = {
      {form->ComboBox1, "Port"}, {form->Edit1, "Tag"},    {form->Edit2, "Date"},
      {form->Edit3, "Time"},     {form->Button1, "UID"},  {form->Button2, "Start"},
      {form->Button4, "exit"},   {form->Label1, "Single"}};
  for (const auto& control : names) {
    EXPECT_EQ(screen::AccessibleName(control.first), control.second);
  }
  Click();
  EXPECT_EQ(screen::AccessibleValue(form->Edit1), ReplyDigits + std::string(472, '0'));
}

TEST_F(SingleRead, AShortOrMissingReplyIsNeitherShownNorRecorded) {
  const fake::Bytes shortReply(Reply.begin(), Reply.begin() + 10);
  for (const fake::Bytes& reply : {shortReply, fake::Bytes{}}) {
    os.RemovePort("COM1");
    Reader(reply);
    form->Edit1->SetText("previous reading");
    os.ClearCalls();
    const std::uint64_t start = os.Now();

    Click();

    EXPECT_EQ(form->Edit1->Text(), "");
    EXPECT_EQ(form->Edit2->Text(), "Edit2");
    EXPECT_FALSE(dir.Exists("RFID.txt"));
    EXPECT_EQ(os.Count("CloseHandle"), 1u);
    EXPECT_EQ(Look(), IdleLook);
    // 100 ms, 5 ms of write pauses, then the reply limit.
    EXPECT_GE(os.Now() - start, 100u + 5u + 501u);
    EXPECT_LE(os.Now() - start, 100u + 5u + 503u);
  }
  const std::string log = screen::TextLines({"len:5", "  len-2:3"});
  EXPECT_EQ(dir.Read("test.txt"), log + log);
}

// The port text is a number whose low eight bits name the port; any other text is shown
// as the conversion's message, and the button comes back for the next try. A port that
// does not open touches nothing but Edit1: nothing sent, logged, recorded or closed.
TEST_F(SingleRead, ThePortTextSelectsThePortByItsLowEightBits) {
  Reader();
  os.AddPort("COM255");
  form->Edit2->SetText("earlier date");
  const std::pair<const char*, const char*> cases[] = {{"abc", nullptr}, {"03", "COM3"},
                                                       {"01", "COM1"},   {"257", "COM1"},
                                                       {"-1", "COM255"}, {"+1", "COM1"}};
  for (const auto& c : cases) {
    form->ComboBox1->SetText(c.first);
    os.ClearCalls();
    Click();
    EXPECT_EQ(Look(), IdleLook) << c.first;
    if (c.second == nullptr) {
      EXPECT_TRUE(os.Calls().empty());
      EXPECT_EQ(shown, (std::vector<std::string>{"'abc' is not a valid integer value"}));
    } else {
      ASSERT_FALSE(os.Calls().empty());
      EXPECT_EQ(os.Calls().front().text, c.second) << c.first;
    }
    if (std::string(c.first) == "03") {  // no such port
      EXPECT_EQ(os.Trace(), (Trace{"CreateFile(COM3, 0xC0000000, 0, 3, 0) -> false"}));
      EXPECT_EQ(form->Edit1->Text(), "");
      EXPECT_EQ(form->Edit2->Text(), "earlier date");
      EXPECT_EQ(form->Edit3->Text(), "Edit3");
      EXPECT_FALSE(dir.Exists("RFID.txt"));
      EXPECT_FALSE(dir.Exists("test.txt"));
    }
  }
  EXPECT_EQ(shown.size(), 1u);
}

// A record file that cannot take the line: the reading stays shown, the port is closed,
// the button comes back and the operator is told which file and why.
TEST_F(SingleRead, ARecordThatCannotBeWrittenIsReportedNotLost) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"a folder in the way", [] { std::filesystem::create_directory("RFID.txt"); }, FolderError},
#ifndef _WIN32
      {"a full device", [] { std::filesystem::create_symlink("/dev/full", "RFID.txt"); },
       "No space left on device"},
      {"a pipe nobody reads", [] { mkfifo("RFID.txt", 0644); }, "a pipe that no program reads"},
#endif
  };
  Reader();
  for (const Case& c : cases) {
    std::filesystem::remove_all("RFID.txt");
    c.prepare();
    shown.clear();
    os.ClearCalls();

    Click();

    ASSERT_EQ(shown.size(), 1u) << c.what;
    EXPECT_NE(shown[0].find("not recorded"), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find("RFID.txt"), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find(c.reason), std::string::npos) << shown[0];
    EXPECT_EQ(form->Edit1->Text().substr(0, 28), ReplyDigits);
    EXPECT_EQ(form->Edit2->Text(), Today());
    EXPECT_EQ(os.Count("CloseHandle"), 1u);
    EXPECT_EQ(Look(), IdleLook);
  }
}

#ifndef _WIN32
// A command log on a full disk or a pipe that no program reads (which must not hold the
// window either): the reading is made and recorded as usual.
TEST_F(SingleRead, ACommandLogThatCannotBeWrittenDoesNotDisturbTheRead) {
  const std::function<void()> blockers[] = {
      [] { std::filesystem::create_symlink("/dev/full", "test.txt"); },
      [] { mkfifo("test.txt", 0644); },
  };
  Reader();
  for (const auto& block : blockers) {
    std::filesystem::remove("test.txt");
    std::filesystem::remove("RFID.txt");
    block();
    Click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(form->Edit1->Text().substr(0, 28), ReplyDigits);
    EXPECT_EQ(dir.Read("RFID.txt").substr(0, 28), ReplyDigits);
  }
}
#endif

}  // namespace
