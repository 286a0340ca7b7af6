// The reader's side of the line, without any I/O: takes the bytes the program sends,
// finds the frames in them and decides what to send back and when. Time is passed in by
// the caller as milliseconds on any monotonic clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/reader-sim/options.h"

namespace readersim {

using Millis = std::int64_t;
using Bytes = std::vector<std::uint8_t>;

// A block of bytes to send, with a word on what it is for the trace.
struct Block {
  Bytes bytes;
  std::string what;
};

// Bytes as "05 11 1E".
std::string HexBytes(const std::uint8_t* data, std::size_t size);
inline std::string HexBytes(const Bytes& bytes) {
  return HexBytes(bytes.data(), bytes.size());
}

// A frame with its CRC-16 appended, high byte first.
Bytes WithCrc(Bytes frame);

class Simulator {
 public:
  static constexpr std::size_t kReplySize = 14;
  static constexpr std::size_t kShortReplySize = 10;
  static constexpr std::size_t kLongExtraBytes = 6;
  static constexpr std::uint8_t kLongExtraByte = 0x55;
  static constexpr std::size_t kRecordSize = 24;
  static constexpr std::size_t kNoiseBurst = 40;
  static constexpr int kRecordsBetweenNoise = 3;

  using TraceSink = std::function<void(const std::string&)>;

  Simulator(Options options, TraceSink trace);

  // The program has opened or closed its side of the line. Closing stops the tag records
  // and drops everything not yet handed out by TakeDue; `unwritten` is what the caller had
  // taken but not yet written, for the trace.
  void LineOpened();
  void LineClosed(std::size_t unwritten = 0);
  bool LineOpen() const { return lineOpen_; }

  // Bytes the program sent, as they arrived.
  void Receive(const std::uint8_t* data, std::size_t size, Millis now);

  // Drops a partial frame that has waited too long; call when NextWakeUp has come.
  void Advance(Millis now);

  // The next block due at `now`, or an empty block. The pause before the next tag record
  // counts from the moment its predecessor is handed out, so a caller that takes the next
  // block only when the previous one is written also holds back the records.
  Block TakeDue(Millis now);

  // When Advance or TakeDue next has something to do; nothing when only new input can
  // change anything.
  std::optional<Millis> NextWakeUp() const;

  // The hangup scenario has handed out its last byte: the line should be dropped.
  bool HangupDue() const;

  std::size_t BytesHandedOut() const { return bytesHandedOut_; }

 private:
  struct Pending {
    Millis due;
    Block block;
  };

  // Takes every complete frame off the front of rx_ and answers it. When `stale`, the
  // bytes waiting are old and an incomplete frame at the front is dropped as well.
  void ParseFrames(bool stale);
  // The offset of the first complete frame with a good CRC at or after `from`.
  std::optional<std::size_t> FindGoodFrame(std::size_t from) const;
  bool FrameComplete(std::size_t at) const;
  bool FrameCrcGood(std::size_t at) const;
  void Skip();
  void FlushSkipped();
  void Answer(const Bytes& frame, Millis now);
  void Queue(Millis due, Bytes bytes, std::string what);
  Bytes Reply(std::uint8_t command) const;
  Bytes Record(const TagId& tag) const;
  Bytes Noise();

  Options options_;
  TraceSink trace_;
  bool lineOpen_ = false;

  Bytes rx_;
  Millis lastRx_ = 0;
  Bytes skipped_;
  std::size_t badFrameLeft_ = 0;  // bytes of a traced bad frame still at the front of rx_

  std::deque<Pending> pending_;
  bool streaming_ = false;
  Millis nextRecordDue_ = 0;
  std::size_t nextTag_ = 0;
  int recordsSinceNoise_ = 0;
  std::size_t bytesHandedOut_ = 0;
  std::minstd_rand noiseSource_{20240611};
};

}  // namespace readersim
