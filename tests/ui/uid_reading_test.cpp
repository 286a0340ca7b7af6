// The "UID" button: a start/stop switch around the loop that watches the reader's stream
// for tag identifiers, on the fake platform's virtual clock.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/form_fixture.h"
#include "tests/ui/line_fixture.h"
#include "tests/ui/screen.h"
#include "text/date_time_text.h"

namespace {

using fake::Bytes;

const Bytes UidFrame = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0, 0xC3, 0xEF};
const Bytes UidReply = {0x0E, 0x11, 0x0E, 0x00, 0xE0, 0x04, 0x01,
                        0x50, 0x12, 0x34, 0x56, 0x78, 0x8A, 0x51};

// A presence record: 0D, the eight identifier bytes, fifteen 00.
Bytes Record(const Bytes& id) {
  Bytes record{0x0D};
  record.insert(record.end(), id.begin(), id.end());
  record.insert(record.end(), 15, 0x00);
  return record;
}
const Bytes TagA = {0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78};
const Bytes TagB = {0xE0, 0x04, 0x01, 0x50, 0xAA, 0xBB, 0xCC, 0xDD};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// Edit1's text at a change, with the bytes the reader had sent that were still unread.
struct Shown {
  std::string text;
  std::size_t unread;
  bool operator==(const Shown& o) const { return text == o.text && unread == o.unread; }
};
std::ostream& operator<<(std::ostream& out, const Shown& s) {
  return out << "\"" << s.text << "\" with " << s.unread << " unread";
}

class UidReading : public FormTest {
 protected:
  // A reader on the named port that answers the n-th UID frame with the 14-byte reply
  // followed by streams[n] (the last one again for later frames).
  fake::FakePort& Reader(std::vector<Bytes> streams, const std::string& name = "COM1") {
    fake::FakePort& port = os.AddPort(name);
    port.OnWrite = [this, streams](fake::FakePort& p, const Bytes&) {
      const Bytes& line = p.Line();
      if (line.size() >= UidFrame.size() && line.size() % UidFrame.size() == 0 &&
          line.back() == UidFrame.back()) {
        const std::size_t n = std::min(frames++, streams.size() - 1);
        p.Receive(Join({UidReply, streams[n]}), 5);
      }
    };
    QObject::connect(Native<QLineEdit>(form->Edit1), &QLineEdit::textChanged,
                     [this, &port](const QString& text) {
                       edits.push_back({text.toStdString(), port.Unread()});
                     });
    return port;
  }
  // Clicks "UID" and has a stopping click arrive at fake time stopAt; returns when the
  // handler has returned.
  void RunUntil(std::uint64_t stopAt) {
    os.At(stopAt, [this] { PostClick(form->Button1); });
    form->Button1->Click();
  }
  std::vector<std::string> EditTexts() const {
    std::vector<std::string> texts;
    for (const Shown& s : edits) {
      texts.push_back(s.text);
    }
    return texts;
  }
  std::size_t SleepsFrom(std::uint64_t time) const {
    std::size_t n = 0;
    for (const fake::Call& call : os.Calls()) {
      n += call.function == "Sleep" && call.time >= time;
    }
    return n;
  }

  std::size_t frames = 0;
  std::vector<Shown> edits;
};

TEST_F(UidReading, ShowsATagWithDateAndTimeAtItsTwentyFourthByte) {
  fake::FakePort& port = Reader({Join({Record(TagA), {1, 2, 3, 4, 5}})});
  RunUntil(5000);

  EXPECT_EQ(port.Line(), UidFrame);
  EXPECT_EQ(dir.Read("test.txt"), "len:18\n  len-2:16\n");
  // Emptied at the 24th byte after the reply, then the identifier: never earlier.
  EXPECT_EQ(edits, (std::vector<Shown>{{"", 5}, {"E004015012345678", 5}}));
  std::string today;
  DateTimeText(Date(), today);
  EXPECT_EQ(form->Edit2->Text(), today);
  // The port is closed with its old time-outs.
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Timeouts, (platform::CommTimeouts{}));
  EXPECT_TRUE(shown.empty());
}

// The identifier, date and time are on screen as soon as the loop lets the first event
// through after showing them, before anything else the pass has queued is painted.
TEST_F(UidReading, WhatAPassShowsIsOnScreenInThatPass) {
  Reader({Record(TagA)});
  screen::Show(form);
  const std::vector<TEdit*> boxes = {form->Edit1, form->Edit2, form->Edit3};
  std::vector<QImage> before, during;
  for (TEdit* box : boxes) {
    before.push_back(screen::Shown(box));
  }
  QObject::connect(Native<QLineEdit>(form->Edit3), &QLineEdit::textChanged, [&] {
    QMetaObject::invokeMethod(
        NativeWidget(form),
        [&] {
          for (TEdit* box : boxes) {
            during.push_back(screen::Shown(box));
          }
        },
        Qt::QueuedConnection);
    PostClick(form->Button1);
  });
  form->Button1->Click();
  QCoreApplication::processEvents();

  ASSERT_EQ(during.size(), boxes.size());
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_NE(during[i], before[i]) << boxes[i]->Text();
    EXPECT_EQ(during[i], screen::Shown(boxes[i])) << boxes[i]->Text();
  }
}

TEST_F(UidReading, TagsFollowOneAnotherEveryTwentyFourBytes) {
  Reader({Join({Record(TagA), Record(TagB), Record(TagA)})});
  RunUntil(10000);
  EXPECT_EQ(EditTexts(), (std::vector<std::string>{"", "E004015012345678", "", "E0040150AABBCCDD",
                                                   "", "E004015012345678"}));
}

TEST_F(UidReading, WhatTheExchangeTakesOrWhatIsTooShortIsNeverShown) {
  // 24 bytes at once: the exchange takes 14 as its reply, the loop gets only 10.
  Bytes atOnce = Record(TagA);
  fake::FakePort& port = os.AddPort("COM1");
  port.OnWrite = [&](fake::FakePort& p, const Bytes&) {
    if (p.Line().size() == UidFrame.size()) {
      p.Receive(atOnce, 5);
    }
  };
  RunUntil(4000);
  EXPECT_EQ(form->Edit1->Text(), "Edit1");
  EXPECT_EQ(port.Unread(), 0u);
}

TEST_F(UidReading, NoiseWithoutE0DoesNotHideTheTagsAfterIt) {
  Bytes noise;
  for (int i = 0; i < 37; ++i) {
    noise.push_back(static_cast<std::uint8_t>(0x0E + 17 * i % 200));  // never E0
  }
  Reader({Join({noise, Record(TagB), Record(TagA)})});
  RunUntil(12000);
  std::vector<std::string> ids;
  for (const std::string& text : EditTexts()) {
    if (!text.empty()) {
      ids.push_back(text);
    }
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"E0040150AABBCCDD", "E004015012345678"}));
}

TEST_F(UidReading, AStopMakesOneMorePassAndARestartBeginsAfresh) {
  // The first start gets twenty bytes of a record, the second a whole record.
  Bytes partial = Record(TagA);
  partial.resize(20);
  fake::FakePort& port = Reader({partial, Record(TagB)});
  RunUntil(4000);

  EXPECT_EQ(SleepsFrom(4000), 1u);
  const std::vector<fake::Call>& calls = os.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[calls.size() - 3].function, "ReadFile");
  EXPECT_EQ(calls[calls.size() - 2].ToString(), "SetCommTimeouts(COM1, 0/0/0/0/0)");
  EXPECT_EQ(calls[calls.size() - 1].ToString(), "CloseHandle(COM1)");
  EXPECT_EQ(UidLoopRunning, 0);
  EXPECT_EQ(UidStopRequested, 1);
  EXPECT_TRUE(edits.empty());

  RunUntil(8000);
  EXPECT_EQ(port.Line(), Join({UidFrame, UidFrame}));
  EXPECT_EQ(port.OpenCount(), 2);
  // The twenty bytes of the first run count for nothing: the tag needs its own 24.
  EXPECT_EQ(edits, (std::vector<Shown>{{"", 0}, {"E0040150AABBCCDD", 0}}));
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(UidReading, APortThatDoesNotOpenOrNoNumberStartsNothing) {
  form->ComboBox1->SetText("05");
  form->Button1->Click();
  form->Button1->Click();
  EXPECT_EQ(os.Trace(),
            (std::vector<std::string>{"CreateFile(COM5, 0xC0000000, 0, 3, 0) -> false",
                                      "CreateFile(COM5, 0xC0000000, 0, 3, 0) -> false"}));
  EXPECT_EQ(UidLoopRunning, 0);

  form->ComboBox1->SetText("abc");
  form->Button1->Click();
  EXPECT_EQ(shown, (std::vector<std::string>{"'abc' is not a valid integer value"}));
  EXPECT_EQ(os.Calls().size(), 2u);
  EXPECT_EQ(UidLoopRunning, 0);
  EXPECT_EQ(form->Edit1->Text(), "Edit1");
  EXPECT_FALSE(dir.Exists("test.txt"));
}

// While the loop holds its port, other reading actions are refused as if their port
// could not be opened, whatever port the box names; the loop reads on undisturbed.
TEST_F(UidReading, OtherStartsAreRefusedWhileTheLoopHoldsThePort) {
  fake::FakePort& com1 = Reader({Join({Record(TagA), Record(TagB)})});
  fake::FakePort& com2 = os.AddPort("COM2");
  for (std::uint64_t at : {1000u, 3500u}) {
    os.At(at, [this, at] {
      form->ComboBox1->SetText(at == 1000 ? "01" : "02");
      PostClick(form->Button2);
    });
  }
  // A second "UID" click handled in the same pass as the stopping one.
  os.At(6000, [this] {
    form->ComboBox1->SetText("02");
    PostClick(form->Button1);
  });
  RunUntil(6000);

  EXPECT_EQ(os.Count("CreateFile"), 1u);
  EXPECT_EQ(com1.OpenCount(), 1);
  EXPECT_EQ(com2.OpenCount(), 0);
  EXPECT_EQ(com1.Line(), UidFrame);
  EXPECT_EQ(dir.Read("test.txt"), "len:18\n  len-2:16\n");
  EXPECT_FALSE(dir.Exists("RFID.txt"));
  EXPECT_EQ(Look(), IdleLook);
  EXPECT_EQ(UidLoopRunning, 0);
  EXPECT_FALSE(com1.IsOpen());
  // Each refused "Start" emptied Edit1 (at 1 s and 3.5 s); both tags were still shown.
  EXPECT_EQ(EditTexts(),
            (std::vector<std::string>{"", "E004015012345678", "", "E0040150AABBCCDD"}));

  // Once the loop has closed its port, "Start" works again.
  com1.OnWrite = [](fake::FakePort& p, const Bytes&) {
    if (p.Line().size() % 5 == 3) {
      p.Receive(UidReply, 2);
    }
  };
  com1.ClearLine();
  form->ComboBox1->SetText("01");
  form->Button2->Click();
  EXPECT_TRUE(dir.Exists("RFID.txt"));
}

TEST_F(UidReading, ClosingTheWindowStopsTheLoopAndThenCloses) {
  Reader({Record(TagA)});
  form->Show();
  os.At(1000, [this] { PostClick(form->Button4); });
  RunUntil(3000);
  // The pass that saw the close was the last: the port is closed, the window with it.
  EXPECT_FALSE(form->Visible());
  EXPECT_EQ(os.Count("CloseHandle"), 1u);
  EXPECT_LE(os.Now(), 1200u);
  EXPECT_EQ(UidLoopRunning, 0);
}

TEST_F(UidReading, AReaderThatVanishesLeavesTheLoopPacedAndStoppable) {
  fake::FakePort& port = Reader({Record(TagA)});
  port.FailReadsFrom(1000);
  RunUntil(3000);
  // Still one pass per 100 ms, each with its read, and the stop still closes the port.
  const std::size_t sleeps = SleepsFrom(1000);
  EXPECT_GE(sleeps, 19u);
  EXPECT_LE(sleeps, 21u);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(os.Count("CloseHandle"), 1u);
  EXPECT_TRUE(shown.empty());
}

// The real POSIX platform on a pseudo-terminal, with a reader on the other side.
using UidReadingOnALine = LineTest;

TEST_F(UidReadingOnALine, ShowsTheTagTheReaderReports) {
  pty.Play([](fake::PseudoTerminal& reader) {
    if (reader.ReadExactly(UidFrame.size(), 3000) != UidFrame) {
      throw std::runtime_error("unexpected frame");
    }
    reader.Write(Join({UidReply, Record(TagB)}));
  });
  // Stop as soon as the tag is shown; give up after 15 s.
  QObject::connect(Native<QLineEdit>(form->Edit1), &QLineEdit::textChanged,
                   [this](const QString& text) {
                     if (!text.isEmpty()) {
                       PostClick(form->Button1);
                     }
                   });
  QTimer::singleShot(15000, NativeWidget(form->Button1), [this] { form->Button1->Click(); });
  form->Button1->Click();
  pty.Join();

  EXPECT_EQ(pty.Failure(), "");
  EXPECT_EQ(form->Edit1->Text(), "E0040150AABBCCDD");
}

}  // namespace
