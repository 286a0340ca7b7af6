// The "UID" button: a start/stop switch around the loop that watches the reader's stream
// for tag identifiers, on the fake platform's virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "testing/form_fixture.h"

namespace {

using fake::Bytes;

const Bytes UidFrame = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0, 0xC3, 0xEF};
const Bytes UidReply = {0x0E, 0x11, 0x0E, 0x00, 0xE0, 0x04, 0x01,
                        0x50, 0x12, 0x34, 0x56, 0x78, 0x8A, 0x51};

// A presence record: 0D, the eight identifier bytes, fifteen 00.
Bytes Record(const Bytes& id) {
  Bytes record(24, 0x00);
  record[0] = 0x0D;
  std::copy(id.begin(), id.end(), record.begin() + 1);
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

// Bytes the reader sends after its reply, `after` ms after the end of the UID frame.
struct Chunk {
  std::uint64_t after;
  Bytes bytes;
};

// Edit1's text at a change, with the fake time of the change.
struct Shown {
  std::string text;
  std::uint64_t time;
  bool windowShown;
};

class UidReading : public FormTest {
 protected:
  // A reader on the named port that answers every UID frame with the 14-byte reply and
  // then sends the chunks of the n-th run (the last one again for later frames).
  fake::FakePort& Reader(std::vector<std::vector<Chunk>> runs, const std::string& name = "COM1") {
    fake::FakePort& port = os.AddPort(name);
    port.OnWrite = [this, runs](fake::FakePort& p, const Bytes&) {
      const Bytes& line = p.Line();
      if (line.size() >= UidFrame.size() && line.size() % UidFrame.size() == 0 &&
          line.back() == UidFrame.back()) {
        const std::size_t n = std::min(frames++, runs.size() - 1);
        p.Receive(UidReply, 5);
        for (const Chunk& chunk : runs[n]) {
          p.Receive(chunk.bytes, chunk.after);
        }
      }
    };
    if (!watching) {
      watching = true;
      screen::WatchText(form->Edit1, [this](const std::string& text) {
        edits.push_back({text, os.Now(), form->Visible()});
      });
    }
    return port;
  }
  // Clicks "UID" and has a stopping click arrive at fake time stopAt; returns when the
  // handler has returned.
  void RunUntil(std::uint64_t stopAt) {
    os.At(stopAt, [this] { screen::PostClick(form->Button1); });
    form->Button1->Click();
  }
  std::vector<std::string> EditTexts() const {
    std::vector<std::string> texts;
    for (const Shown& s : edits) {
      texts.push_back(s.text);
    }
    return texts;
  }
  // Fake times of the calls of a function, or of the calls with the text given.
  std::vector<std::uint64_t> TimesOf(const std::string& what) const {
    std::vector<std::uint64_t> times;
    for (const fake::Call& call : os.Calls()) {
      if (call.function == what || call.text == what) {
        times.push_back(call.time);
      }
    }
    return times;
  }
  // Fake time at which the UID frame was last written in full: its last byte.
  std::uint64_t FrameEnd() const { return TimesOf("WriteFile(COM1, EF)").back(); }

  std::size_t frames = 0;
  bool watching = false;
  std::vector<Shown> edits;
};

// A reader that sends a byte a pass sees the loop of old: the tag appears with the pass
// that reads its 24th byte, never earlier, and is on screen while the loop blocks.
// Fourteen bytes without E0 at the start of 24 are dropped, the other ten kept: a tag after
// them needs fourteen bytes more. Here its E0 is the fifteenth byte, the first one kept.
TEST_F(UidReading, ShowsATagWithDateAndTimeAtItsTwentyFourthByte) {
  const Bytes bytes = Join({Record(TagA), Bytes(13, 0x11), Record(TagB), {1, 2, 3, 4, 5}});
  std::vector<Chunk> onePerPass;  // as the reader of old designs sent them
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    onePerPass.push_back({150 + 100 * i, {bytes[i]}});
  }
  fake::FakePort& port = Reader({onePerPass});
  screen::Show(form);
  const std::vector<TEdit*> boxes = {form->Edit1, form->Edit2, form->Edit3};
  std::vector<screen::Image> before, during;
  for (TEdit* box : boxes) {
    before.push_back(screen::Shown(box));
  }
  os.At(7000, [&] {  // the loop blocks, both tags shown
    for (TEdit* box : boxes) {
      during.push_back(screen::Shown(box));
    }
  });
  ClockSpan clock;
  RunUntil(8000);
  clock.End();
  screen::ProcessEvents();

  EXPECT_EQ(port.Line(), UidFrame);
  EXPECT_EQ(dir.Read("test.txt"), screen::TextLines({"len:18", "  len-2:16"}));
  const std::uint64_t twentyFourth = FrameEnd() + 150 + 100 * 23;
  ASSERT_EQ(EditTexts(),
            (std::vector<std::string>{"", "E004015012345678", "", "E0040150AABBCCDD"}));
  EXPECT_GE(edits[0].time, twentyFourth);
  EXPECT_LE(edits[0].time, twentyFourth + 101);
  EXPECT_EQ(edits[1].time, edits[0].time);
  EXPECT_GE(edits[3].time, twentyFourth + 100 * (14 + 24));
  EXPECT_TRUE(clock.Shows(form->Edit2->Text(), form->Edit3->Text()))
      << form->Edit2->Text() << " " << form->Edit3->Text();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(shown.empty());
  ASSERT_EQ(during.size(), boxes.size());
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_NE(during[i], before[i]) << boxes[i]->Text();
    EXPECT_EQ(during[i], screen::Shown(boxes[i])) << boxes[i]->Text();
  }
}

// A reader that sends faster than a byte a pass: every pass takes all that has come, in
// order, in one read, so each tag is shown in the pass after its record; a flood is taken
// in full reads, at most sixteen a pass, so that it cannot hold off the window.
TEST_F(UidReading, EachPassTakesEveryByteThatHasComeInOrder) {
  fake::FakePort& port = Reader({{{50, Bytes(5000, 0x11)},
                                  {1030, Record(TagB)},
                                  {1990, Join({Record(TagA), Record(TagB)})}}});
  RunUntil(3500);

  EXPECT_EQ(EditTexts(), (std::vector<std::string>{"", "E0040150AABBCCDD", "", "E004015012345678",
                                                   "", "E0040150AABBCCDD"}));
  const std::uint64_t frameEnd = FrameEnd();
  for (const Shown& s : edits) {
    const std::uint64_t sent = s.time < frameEnd + 1030   ? 50
                               : s.time < frameEnd + 1990 ? 1030
                                                          : 1990;
    EXPECT_LE(s.time - frameEnd - sent, 101u) << s.text << " at " << s.time;
  }
  // A pass: 100 ms, then reads of all that has come, the window's events.
  std::vector<int> readsPerPass;
  for (const fake::Call& call : os.Calls()) {
    if (call.time > frameEnd && call.text == "Sleep(100)") {
      readsPerPass.push_back(0);
    } else if (call.function == "ReadFile" && call.number > 1 && !readsPerPass.empty()) {
      ++readsPerPass.back();
    }
  }
  ASSERT_GE(readsPerPass.size(), 3u);
  // 5000 bytes: sixteen reads of 256, then four (3 * 256 + 136), then one a pass.
  EXPECT_EQ(readsPerPass[0], 16);
  EXPECT_EQ(readsPerPass[1], 4);
  EXPECT_EQ(std::count(readsPerPass.begin() + 2, readsPerPass.end(), 1),
            static_cast<std::ptrdiff_t>(readsPerPass.size() - 2));
  EXPECT_EQ(port.Unread(), 0u);
}

// A start on a port that does not open starts nothing; one that opens runs until a stop,
// which makes one more pass; a restart begins afresh.
TEST_F(UidReading, AStopMakesOneMorePassAndARestartBeginsAfresh) {
  form->ComboBox1->SetText("05");
  form->Button1->Click();
  EXPECT_EQ(os.Trace(),
            (std::vector<std::string>{"CreateFile(COM5, 0xC0000000, 0, 3, 0) -> false"}));

  // The first start gets twenty bytes of a record, the second a whole record.
  form->ComboBox1->SetText("01");
  Bytes partial = Record(TagA);
  partial.resize(20);
  fake::FakePort& port = Reader({{{50, partial}}, {{50, Record(TagB)}}});
  RunUntil(4000);

  const std::vector<std::uint64_t> sleeps = TimesOf("Sleep");
  EXPECT_EQ(std::count_if(sleeps.begin(), sleeps.end(), [](std::uint64_t t) { return t >= 4000; }),
            1);
  const std::vector<fake::Call>& calls = os.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[calls.size() - 3].function, "ReadFile");
  EXPECT_EQ(calls[calls.size() - 2].text, "SetCommTimeouts(COM1, 0/0/0/0/0)");
  EXPECT_EQ(calls[calls.size() - 1].text, "CloseHandle(COM1)");
  EXPECT_TRUE(edits.empty());

  RunUntil(8000);
  EXPECT_EQ(port.Line(), Join({UidFrame, UidFrame}));
  EXPECT_EQ(port.OpenCount(), 2);
  // The twenty bytes of the first run count for nothing: the tag needs its own 24.
  EXPECT_EQ(EditTexts(), (std::vector<std::string>{"", "E0040150AABBCCDD"}));
  EXPECT_FALSE(port.IsOpen());
}

// While the loop holds its port, other reading actions are refused as if their port
// could not be opened, whatever port the box names; the loop reads on undisturbed.
TEST_F(UidReading, OtherStartsAreRefusedWhileTheLoopHoldsThePort) {
  fake::FakePort& com1 = Reader({{{50, Record(TagA)}, {2000, Record(TagB)}}});
  os.AddPort("COM2");
  for (std::uint64_t at : {1000u, 3500u}) {
    os.At(at, [this, at] {
      form->ComboBox1->SetText(at == 1000 ? "01" : "02");
      screen::PostClick(form->Button2);
    });
  }
  // A second "UID" click handled in the same pass as the stopping one.
  os.At(6000, [this] {
    form->ComboBox1->SetText("02");
    screen::PostClick(form->Button1);
  });
  RunUntil(6000);

  // Only the loop's port was opened, and only its frame went out.
  EXPECT_EQ(os.Count("CreateFile"), 1u);
  EXPECT_EQ(com1.Line(), UidFrame);
  EXPECT_FALSE(dir.Exists("RFID.txt"));
  EXPECT_EQ(Look(), IdleLook);
  // Each refused "Start" emptied Edit1 (at 1 s and 3.5 s); both tags were still shown.
  EXPECT_EQ(EditTexts(),
            (std::vector<std::string>{"", "E004015012345678", "", "E0040150AABBCCDD", ""}));
}

// The exit button or the title bar's close during the loop: the loop stops as for a stop
// click, closes its port with its time-outs restored, and the window closes, within a pass;
// until the handler has returned the window stays (a start clicked meanwhile still shows).
TEST_F(UidReading, AskingToCloseStopsTheLoopAndClosesTheWindowWithinAPass) {
  const struct {
    const char* what;
    std::function<void(TForm1*)> close;
  } cases[] = {
      {"exit button", [](TForm1* form) { screen::PostClick(form->Button4); }},
      {"title bar", [](TForm1* form) { screen::PostClose(form); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    os.ClearCalls();
    edits.clear();
    Reader({{{50, Record(TagA)}}});
    form->Show();
    const std::uint64_t asked = os.Now() + 1000;
    os.At(asked, [this, &c] {
      c.close(form);
      screen::PostClick(form->Button2);  // refused, it empties Edit1
    });
    form->Button1->Click();

    ASSERT_FALSE(edits.empty());
    EXPECT_EQ(edits.back().text, "");
    EXPECT_GE(edits.back().time, asked);
    EXPECT_TRUE(edits.back().windowShown) << "closed while the handler ran";
    EXPECT_FALSE(form->Visible());
    ASSERT_GE(os.Calls().size(), 2u);
    EXPECT_EQ(os.Calls().back().text, "CloseHandle(COM1)");
    EXPECT_LE(os.Calls().back().time, asked + 102);
  }
}

// The reader goes away (its adapter unplugged) and comes back under the same name as a
// new device, which opens only once the old handle is closed: the stale tag is cleared, the
// port closed at once, and opened again pass by pass; once it opens, the UID command goes
// out again and the new tags are shown.
TEST_F(UidReading, ALostPortIsOpenedAgainEachPassAndTheCommandSentAgain) {
  fake::FakePort& first = Reader({{{50, Record(TagA)}}});
  const std::uint64_t lost = 1000;
  const std::uint64_t back = 2550;
  os.At(lost, [&] {
    first.FailReadsFrom(lost);
    os.RemovePort("COM1");
  });
  fake::FakePort* second = nullptr;
  os.At(back, [&] { second = &Reader({{{50, Record(TagB)}}}); });
  RunUntil(4000);

  EXPECT_EQ(EditTexts(),
            (std::vector<std::string>{"", "E004015012345678", "", "E0040150AABBCCDD"}));
  // Emptied in the pass that found the port gone, which closed it at once.
  EXPECT_LE(edits[2].time, lost + 101);
  EXPECT_EQ(os.Count("CloseHandle"), 2u);
  const std::vector<std::uint64_t> opens = TimesOf("CreateFile");
  ASSERT_GE(opens.size(), 3u);
  // One try a pass, at the loop's pace, until it opens.
  EXPECT_EQ(opens.size(), 2 + (back - lost) / 100);
  for (std::size_t i = 2; i < opens.size(); ++i) {
    EXPECT_GE(opens[i] - opens[i - 1], 100u);
    EXPECT_LE(opens[i] - opens[i - 1], 102u);
  }
  // Reopened, it waits 100 ms before the command, as at the start.
  EXPECT_EQ(TimesOf("PurgeComm").front() - opens.front(), 100u);
  EXPECT_EQ(TimesOf("PurgeComm").back() - opens.back(), 100u);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Line(), UidFrame);
  EXPECT_FALSE(second->IsOpen());
}

}  // namespace
