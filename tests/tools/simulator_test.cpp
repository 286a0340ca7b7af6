// The simulated reader's frame handling on a virtual clock: what it answers, when, and
// what it makes of garbage.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "protocol/crc16.h"
#include "tools/reader-sim/simulator.h"

namespace readersim {
namespace {

const Bytes kSnapshotFrame = {0x05, 0x11, 0x1E, 0x1B, 0x2E};
const Bytes kUidFrame = {0x12, 0x11, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x2B, 0xF0, 0xC3, 0xEF};
const TagId kTagA = {0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78};
const TagId kTagB = {0xE0, 0x04, 0x01, 0x50, 0xAA, 0xBB, 0xCC, 0xDD};

// The 14-byte reply to `command`, built here byte by byte from its documented layout.
Bytes ExpectedReply(std::uint8_t command, const TagId& tag) {
  Bytes reply = {0x0E, 0x11, command, 0x00};
  reply.insert(reply.end(), tag.begin(), tag.end());
  const std::uint16_t crc = Crc16(reply.data(), 12);
  reply.push_back(static_cast<std::uint8_t>(crc >> 8));
  reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return reply;
}

Bytes ExpectedRecord(const TagId& tag) {
  Bytes record = {0x0D};
  record.insert(record.end(), tag.begin(), tag.end());
  record.insert(record.end(), 15, 0x00);
  return record;
}

class SimulatorTest : public ::testing::Test {
 protected:
  void Start(Scenario scenario = Scenario::kNormal) {
    Options options;
    options.tags = {kTagA, kTagB};
    options.interval_ms = 100;
    options.scenario = scenario;
    options.hangup_after = 30;
    Start(options);
  }
  void Start(const Options& options) {
    sim_ = std::make_unique<Simulator>(options,
                                       [this](const std::string& line) { trace_.push_back(line); });
    sim_->LineOpened();
  }

  void Send(const Bytes& bytes, Millis now) { sim_->Receive(bytes.data(), bytes.size(), now); }

  // Everything due at `now`, joined.
  Bytes TakeAll(Millis now) {
    Bytes all;
    for (Block block = sim_->TakeDue(now); !block.bytes.empty(); block = sim_->TakeDue(now)) {
      all.insert(all.end(), block.bytes.begin(), block.bytes.end());
    }
    return all;
  }

  // Runs the clock from `from` to `to` in 1 ms steps, the way the I/O loop would.
  Bytes Run(Millis from, Millis to) {
    Bytes all;
    for (Millis now = from; now <= to; ++now) {
      sim_->Advance(now);
      const Bytes due = TakeAll(now);
      all.insert(all.end(), due.begin(), due.end());
    }
    return all;
  }

  int TraceCount(const std::string& part) const {
    return static_cast<int>(std::count_if(trace_.begin(), trace_.end(), [&](const std::string& l) {
      return l.find(part) != std::string::npos;
    }));
  }

  std::unique_ptr<Simulator> sim_;
  std::vector<std::string> trace_;
};

TEST_F(SimulatorTest, AnswersBothCommandsWithTheirReplyAndCrc) {
  Start();
  Send(kSnapshotFrame, 0);
  EXPECT_EQ(TakeAll(0), ExpectedReply(0x1E, kTagA));
  EXPECT_EQ(TraceCount("rx 5 bytes: 05 11 1E 1B 2E (crc ok, snapshot command)"), 1);

  Send(kUidFrame, 10);
  EXPECT_EQ(TakeAll(10), ExpectedReply(0x0E, kTagA));
  EXPECT_EQ(TraceCount("crc ok, UID command"), 1);
}

TEST_F(SimulatorTest, FramesArrivingByteByByteAreAnsweredOnceWhole) {
  Start();
  for (std::size_t i = 0; i + 1 < kUidFrame.size(); ++i) {
    Send({kUidFrame[i]}, static_cast<Millis>(i));
    EXPECT_TRUE(TakeAll(static_cast<Millis>(i)).empty()) << "after byte " << i;
  }
  Send({kUidFrame.back()}, 17);
  EXPECT_EQ(TakeAll(17), ExpectedReply(0x0E, kTagA));
  EXPECT_EQ(TraceCount("skipped"), 0);
}

TEST_F(SimulatorTest, UidCommandStartsPacedTagRecordsThatTakeTurns) {
  Start();
  Send(kUidFrame, 1000);
  ASSERT_EQ(TakeAll(1000), ExpectedReply(0x0E, kTagA));
  EXPECT_TRUE(Run(1000, 1099).empty());
  EXPECT_EQ(sim_->NextWakeUp(), 1100);
  EXPECT_EQ(TakeAll(1100), ExpectedRecord(kTagA));
  EXPECT_TRUE(Run(1101, 1199).empty());
  EXPECT_EQ(TakeAll(1200), ExpectedRecord(kTagB));
  EXPECT_EQ(TakeAll(1300), ExpectedRecord(kTagA));  // back to the first

  // A caller that cannot write for a while gets one record, not a burst to catch up,
  // and the pause counts again from there.
  EXPECT_EQ(TakeAll(5000), ExpectedRecord(kTagB));
  EXPECT_TRUE(TakeAll(5099).empty());
  EXPECT_EQ(TakeAll(5100), ExpectedRecord(kTagA));

  // A snapshot between records is answered and the records go on.
  Send(kSnapshotFrame, 5150);
  EXPECT_EQ(TakeAll(5150), ExpectedReply(0x1E, kTagA));
  EXPECT_EQ(TakeAll(5200), ExpectedRecord(kTagB));
}

TEST_F(SimulatorTest, BadCrcAndUnknownCommandsAreTracedNotAnswered) {
  Start();
  Send({0x05, 0x11, 0x1E, 0x1B, 0x2F}, 0);  // low CRC byte off by one
  Bytes uid_swapped = kUidFrame;
  std::swap(uid_swapped[16], uid_swapped[17]);
  Send(uid_swapped, 1000);
  EXPECT_TRUE(Run(0, 2000).empty());
  EXPECT_EQ(TraceCount("crc bad, expected 1B 2E; not answered"), 1);
  EXPECT_EQ(TraceCount("crc bad, expected C3 EF; not answered"), 1);
  EXPECT_EQ(TraceCount("rx 5 bytes: 05 11 1E 1B 2F"), 1);

  // Good CRC, but neither command: one byte differs, or the frame is a byte longer.
  Send(WithCrc({0x05, 0x11, 0x1F}), 3000);
  Send(WithCrc({0x06, 0x11, 0x1E, 0x00}), 3001);
  Bytes uid_with_one = {0x12, 0x11, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x2B, 0xF0};
  Send(WithCrc(uid_with_one), 3002);
  EXPECT_TRUE(Run(3000, 4000).empty());
  EXPECT_EQ(TraceCount("crc ok, unknown command; not answered"), 3);
  EXPECT_EQ(TraceCount("line closed"), 0);
}

TEST_F(SimulatorTest, GarbageBeforeAFrameIsSkippedAndTheFrameAnswered) {
  Start();
  // Bytes that cannot start a frame, then one whose length runs past the frame after it.
  Send({0x00, 0x01, 0x02, 0xFF, 0x05, 0x11, 0x1E, 0x1B, 0x2E}, 0);
  EXPECT_EQ(TakeAll(0), ExpectedReply(0x1E, kTagA));
  EXPECT_EQ(TraceCount("skipped 4 bytes: 00 01 02 FF"), 1);

  // A stray length byte makes a complete frame with a bad CRC out of the real frame's
  // start; the real frame comes in pieces, as from a port that writes the CRC last.
  Send({0x04, 0x05, 0x11, 0x1E}, 100);
  EXPECT_TRUE(TakeAll(100).empty());
  Send({0x1B, 0x2E}, 103);
  EXPECT_EQ(TakeAll(103), ExpectedReply(0x1E, kTagA));

  // A bad frame straight followed by a good one.
  Send({0x05, 0x11, 0x1E, 0x00, 0x00, 0x05, 0x11, 0x1E, 0x1B, 0x2E}, 200);
  EXPECT_EQ(TakeAll(200), ExpectedReply(0x1E, kTagA));
  EXPECT_EQ(TraceCount("crc ok, snapshot command"), 3);
}

TEST_F(SimulatorTest, IncompleteFrameIsDroppedAfterAQuietSpell) {
  Start();
  Send({0x12, 0x11, 0x0E}, 0);
  EXPECT_EQ(sim_->NextWakeUp(), Simulator::kPartialFrameTimeout);
  sim_->Advance(Simulator::kPartialFrameTimeout - 1);
  EXPECT_EQ(TraceCount("skipped"), 0);
  // A byte that comes in between restarts the wait.
  Send({0x00}, 150);
  sim_->Advance(349);
  EXPECT_EQ(TraceCount("skipped"), 0);
  sim_->Advance(350);
  EXPECT_EQ(TraceCount("skipped 4 bytes: 12 11 0E 00"), 1);
  EXPECT_FALSE(sim_->NextWakeUp().has_value());

  // The rest of that frame arriving late is garbage now, and a fresh frame still works.
  Send(Bytes(kUidFrame.begin() + 4, kUidFrame.end()), 1000);
  Send(kUidFrame, 1001);
  EXPECT_EQ(TakeAll(1001), ExpectedReply(0x0E, kTagA));
}

TEST_F(SimulatorTest, ClosingTheLineStopsRecordsUntilTheNextUidCommand) {
  Start();
  Send(kUidFrame, 0);
  TakeAll(0);
  EXPECT_EQ(TakeAll(100), ExpectedRecord(kTagA));
  Send({0x12, 0x11}, 150);  // part of a frame, lost with the line
  sim_->LineClosed(7);
  EXPECT_EQ(TraceCount("line closed; tag records stopped; 7 unsent bytes dropped"), 1);
  EXPECT_FALSE(sim_->NextWakeUp().has_value());

  sim_->LineOpened();
  EXPECT_TRUE(Run(150, 1000).empty());
  // The snapshot is answered as a whole frame: the two old bytes went with the line.
  Send(kSnapshotFrame, 1001);
  EXPECT_EQ(TakeAll(1001), ExpectedReply(0x1E, kTagA));
  EXPECT_TRUE(Run(1002, 2000).empty());

  // A new UID command starts over with the first tag.
  Send(kUidFrame, 2001);
  EXPECT_EQ(TakeAll(2001), ExpectedReply(0x0E, kTagA));
  EXPECT_EQ(TakeAll(2101), ExpectedRecord(kTagA));
  EXPECT_EQ(TraceCount("line open"), 2);

  // A reply not yet taken when the line closes is dropped, not sent to the next opener.
  Send(kSnapshotFrame, 2150);
  sim_->LineClosed();
  sim_->LineOpened();
  EXPECT_TRUE(Run(2150, 3000).empty());
  EXPECT_EQ(TraceCount("14 unsent bytes dropped"), 1);
}

TEST_F(SimulatorTest, SilentShortLongAndChattyScenariosDropCutOrExtendEveryReply) {
  Start(Scenario::kSilent);
  Send(kSnapshotFrame, 0);
  Send(kUidFrame, 10);
  EXPECT_TRUE(Run(0, 3000).empty());
  EXPECT_EQ(TraceCount("silent, not answered"), 2);

  Start(Scenario::kShort);
  Send(kSnapshotFrame, 0);
  const Bytes full = ExpectedReply(0x1E, kTagA);
  EXPECT_EQ(TakeAll(0), Bytes(full.begin(), full.begin() + 10));
  Send(kUidFrame, 10);
  const Bytes uid_full = ExpectedReply(0x0E, kTagA);
  EXPECT_EQ(TakeAll(10), Bytes(uid_full.begin(), uid_full.begin() + 10));
  EXPECT_EQ(TakeAll(110), ExpectedRecord(kTagA));  // records themselves are whole

  Start(Scenario::kLong);
  Send(kSnapshotFrame, 0);
  Bytes longer = full;
  longer.insert(longer.end(), 6, 0x55);
  EXPECT_EQ(TakeAll(0), longer);

  Start(Scenario::kChatty);
  Send(kSnapshotFrame, 0);
  Bytes chatter = full;
  const Bytes record = ExpectedRecord(kTagA);
  chatter.insert(chatter.end(), record.begin(), record.end());
  EXPECT_EQ(TakeAll(0), chatter);
}

TEST_F(SimulatorTest, NoiseScenarioSendsBurstsWithoutE0AroundTheRecords) {
  Start(Scenario::kNoise);
  Send(kUidFrame, 0);
  const Bytes first = TakeAll(0);
  ASSERT_EQ(first.size(), 14u + Simulator::kNoiseBurst);
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 14), ExpectedReply(0x0E, kTagA));

  // Over many records: three records, a burst, three records, ...
  Bytes stream(first.begin() + 14, first.end());
  int records = 0;
  int bursts = 1;
  for (Millis now = 100; now <= 3000; now += 100) {
    for (Block block = sim_->TakeDue(now); !block.bytes.empty(); block = sim_->TakeDue(now)) {
      if (block.bytes.size() == Simulator::kRecordSize && block.bytes[0] == 0x0D &&
          block.bytes[1] == 0xE0) {
        ++records;
      } else {
        ASSERT_EQ(block.bytes.size(), Simulator::kNoiseBurst);
        EXPECT_EQ(records % 3, 0) << "burst after record " << records;
        ++bursts;
        stream.insert(stream.end(), block.bytes.begin(), block.bytes.end());
      }
    }
  }
  EXPECT_EQ(records, 30);
  EXPECT_EQ(bursts, 1 + 9);
  EXPECT_EQ(std::count(stream.begin(), stream.end(), 0xE0), 0);
  // Noise is not a constant filler.
  EXPECT_GT(std::set<std::uint8_t>(stream.begin(), stream.end()).size(), 50u);
}

TEST_F(SimulatorTest, HangupScenarioStopsAfterExactlyTheGivenByteCount) {
  Start(Scenario::kHangup);  // after 30 bytes
  Send(kUidFrame, 0);
  EXPECT_EQ(TakeAll(0).size(), 14u);
  EXPECT_FALSE(sim_->HangupDue());
  const Block cut = sim_->TakeDue(100);
  const Bytes record = ExpectedRecord(kTagA);
  EXPECT_EQ(cut.bytes, Bytes(record.begin(), record.begin() + 16));
  EXPECT_NE(cut.what.find("hangup"), std::string::npos);
  EXPECT_TRUE(sim_->HangupDue());
  EXPECT_EQ(sim_->bytes_handed_out(), 30u);
  Send(kSnapshotFrame, 150);
  EXPECT_TRUE(Run(150, 1000).empty());
  EXPECT_FALSE(sim_->NextWakeUp().has_value());
}

}  // namespace
}  // namespace readersim
