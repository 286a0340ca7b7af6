#include "tools/reader-sim/simulator.h"

#include <algorithm>
#include <utility>

#include "protocol/crc16.h"

namespace readersim {
namespace {

const Bytes kSnapshotCommand = {0x05, 0x11, 0x1E};
// 12 11 0E, eleven bytes 00, 2B F0
const Bytes kUidCommand = {0x12, 0x11, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2B, 0xF0};

constexpr std::uint8_t kCommandSnapshot = 0x1E;
constexpr std::uint8_t kCommandUid = 0x0E;
constexpr std::uint8_t kRecordStart = 0x0D;
constexpr std::uint8_t kTagStart = 0xE0;
constexpr std::size_t kMinFrame = 3;  // length byte and the two CRC bytes

std::string Plural(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

std::string HexBytes(const std::uint8_t* data, std::size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 3);
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) {
      text += ' ';
    }
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0F];
  }
  return text;
}

Bytes WithCrc(Bytes frame) {
  const std::uint16_t crc = Crc16(frame.data(), static_cast<std::uint8_t>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

Simulator::Simulator(Options options, TraceSink trace)
    : options_(std::move(options)), trace_(std::move(trace)) {
  if (options_.tags.empty()) {
    options_.tags = DefaultTags();
  }
}

void Simulator::LineOpened() {
  if (lineOpen_) {
    return;
  }
  lineOpen_ = true;
  trace_("line open");
}

void Simulator::LineClosed(std::size_t unwritten) {
  if (!lineOpen_) {
    return;
  }
  FlushSkipped();
  std::size_t dropped = unwritten;
  for (const Pending& pending : pending_) {
    dropped += pending.block.bytes.size();
  }
  std::string text = "line closed";
  if (streaming_) {
    text += "; tag records stopped";
  }
  if (dropped > 0) {
    text += "; " + Plural(dropped, "unsent byte") + " dropped";
  }
  if (!rx_.empty()) {
    text += "; " + Plural(rx_.size(), "byte") + " of an incomplete frame dropped";
  }
  trace_(text);
  lineOpen_ = false;
  streaming_ = false;
  pending_.clear();
  rx_.clear();
  badFrameLeft_ = 0;
}

void Simulator::Receive(const std::uint8_t* data, std::size_t size, Millis now) {
  if (size == 0) {
    return;
  }
  LineOpened();
  rx_.insert(rx_.end(), data, data + size);
  lastRx_ = now;
  ParseFrames(false);
}

void Simulator::Advance(Millis now) {
  if (!rx_.empty() && now - lastRx_ >= options_.frameGapMs) {
    ParseFrames(true);
  }
}

bool Simulator::FrameComplete(std::size_t at) const {
  const std::size_t length = rx_[at];
  return length >= kMinFrame && rx_.size() - at >= length;
}

bool Simulator::FrameCrcGood(std::size_t at) const {
  const std::size_t length = rx_[at];
  const std::uint16_t crc = Crc16(&rx_[at], static_cast<std::uint8_t>(length - 2));
  return rx_[at + length - 2] == (crc >> 8) && rx_[at + length - 1] == (crc & 0xFF);
}

std::optional<std::size_t> Simulator::FindGoodFrame(std::size_t from) const {
  for (std::size_t at = from; at < rx_.size(); ++at) {
    if (FrameComplete(at) && FrameCrcGood(at)) {
      return at;
    }
  }
  return std::nullopt;
}

void Simulator::Skip() {
  if (badFrameLeft_ > 0) {
    --badFrameLeft_;  // already shown as part of the bad frame
  } else {
    skipped_.push_back(rx_.front());
  }
  rx_.erase(rx_.begin());
}

void Simulator::FlushSkipped() {
  if (!skipped_.empty()) {
    trace_("skipped " + Plural(skipped_.size(), "byte") + ": " + HexBytes(skipped_));
    skipped_.clear();
  }
}

void Simulator::ParseFrames(bool stale) {
  while (!rx_.empty()) {
    if (FrameComplete(0)) {
      const std::size_t length = rx_.front();
      if (FrameCrcGood(0)) {
        FlushSkipped();
        const Bytes frame(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(length));
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(length));
        badFrameLeft_ = 0;
        Answer(frame, lastRx_);
        continue;
      }
      if (badFrameLeft_ == 0) {
        // Show it as a frame once; its later bytes are then tried as frame starts in turn,
        // in case the length byte was itself a stray byte.
        FlushSkipped();
        const std::uint16_t crc = Crc16(rx_.data(), static_cast<std::uint8_t>(length - 2));
        const std::uint8_t expected[2] = {static_cast<std::uint8_t>(crc >> 8),
                                          static_cast<std::uint8_t>(crc & 0xFF)};
        trace_("rx " + Plural(length, "byte") + ": " + HexBytes(rx_.data(), length) +
               " (crc bad, expected " + HexBytes(expected, 2) + "; not answered)");
        badFrameLeft_ = length;
      }
      Skip();
      continue;
    }
    // The front byte starts no complete frame (yet). Wait for more bytes, unless it cannot
    // be a length byte, the bytes are old, or a good frame already follows it.
    if (rx_.front() < kMinFrame || stale || FindGoodFrame(1)) {
      Skip();
      continue;
    }
    break;
  }
  FlushSkipped();
}

void Simulator::Answer(const Bytes& frame, Millis now) {
  const bool snapshot = frame == WithCrc(kSnapshotCommand);
  const bool uid = frame == WithCrc(kUidCommand);
  std::string text = "rx " + Plural(frame.size(), "byte") + ": " + HexBytes(frame) + " (crc ok, ";
  if (!snapshot && !uid) {
    trace_(text + "unknown command; not answered)");
    return;
  }
  text += snapshot ? "snapshot command" : "UID command";
  if (options_.scenario == Scenario::kSilent) {
    trace_(text + "; silent, not answered)");
    return;
  }
  trace_(text + ")");

  Bytes reply = Reply(snapshot ? kCommandSnapshot : kCommandUid);
  std::string what = snapshot ? "snapshot reply" : "UID reply";
  if (options_.scenario == Scenario::kShort) {
    reply.resize(kShortReplySize);
    what += ", first " + std::to_string(kShortReplySize) + " of " + std::to_string(kReplySize);
  } else if (options_.scenario == Scenario::kLong) {
    reply.insert(reply.end(), kLongExtraBytes, kLongExtraByte);
    what += " + " + std::to_string(kLongExtraBytes) + " extra bytes";
  }
  Queue(now, std::move(reply), what);

  if (options_.scenario == Scenario::kChatty) {
    // Still sending records from its continuous mode right after the reply.
    const TagId& tag = options_.tags.front();
    Queue(now, Record(tag), "tag " + TagText(tag) + " after the reply");
  }

  if (uid) {
    if (options_.scenario == Scenario::kNoise) {
      Queue(now, Noise(), "noise");
    }
    streaming_ = true;
    nextTag_ = 0;
    recordsSinceNoise_ = 0;
    nextRecordDue_ = now + options_.intervalMs;
  }
}

void Simulator::Queue(Millis due, Bytes bytes, std::string what) {
  pending_.push_back(Pending{due, Block{std::move(bytes), std::move(what)}});
}

Bytes Simulator::Reply(std::uint8_t command) const {
  Bytes reply = {static_cast<std::uint8_t>(kReplySize), 0x11, command, 0x00};
  const TagId& tag = options_.tags.front();
  reply.insert(reply.end(), tag.begin(), tag.end());
  return WithCrc(std::move(reply));
}

Bytes Simulator::Record(const TagId& tag) const {
  Bytes record(kRecordSize, 0x00);
  record[0] = kRecordStart;
  std::copy(tag.begin(), tag.end(), record.begin() + 1);
  return record;
}

Bytes Simulator::Noise() {
  Bytes noise;
  while (noise.size() < kNoiseBurst) {
    const auto byte = static_cast<std::uint8_t>(noiseSource_() & 0xFF);
    if (byte != kTagStart) {
      noise.push_back(byte);
    }
  }
  return noise;
}

Block Simulator::TakeDue(Millis now) {
  if (!lineOpen_ || HangupDue()) {
    return {};
  }
  Block block;
  if (!pending_.empty()) {
    if (pending_.front().due > now) {
      return {};
    }
    block = std::move(pending_.front().block);
    pending_.pop_front();
  } else if (streaming_ && nextRecordDue_ <= now) {
    if (options_.scenario == Scenario::kNoise && recordsSinceNoise_ >= kRecordsBetweenNoise) {
      block = Block{Noise(), "noise"};
      recordsSinceNoise_ = 0;  // the record stays due and follows at once
    } else {
      const TagId& tag = options_.tags[nextTag_];
      nextTag_ = (nextTag_ + 1) % options_.tags.size();
      block = Block{Record(tag), "tag " + TagText(tag)};
      ++recordsSinceNoise_;
      nextRecordDue_ = now + options_.intervalMs;
    }
  } else {
    return {};
  }
  if (options_.scenario == Scenario::kHangup) {
    const std::size_t left = static_cast<std::size_t>(options_.hangupAfter) - bytesHandedOut_;
    if (block.bytes.size() > left) {
      block.bytes.resize(left);
      block.what += ", cut short by the hangup";
    }
  }
  bytesHandedOut_ += block.bytes.size();
  return block;
}

std::optional<Millis> Simulator::NextWakeUp() const {
  std::optional<Millis> wake;
  auto consider = [&wake](Millis at) {
    if (!wake || at < *wake) {
      wake = at;
    }
  };
  if (!rx_.empty()) {
    consider(lastRx_ + options_.frameGapMs);
  }
  if (lineOpen_ && !HangupDue()) {
    if (!pending_.empty()) {
      consider(pending_.front().due);
    } else if (streaming_) {
      consider(nextRecordDue_);
    }
  }
  return wake;
}

bool Simulator::HangupDue() const {
  return options_.scenario == Scenario::kHangup &&
         bytesHandedOut_ >= static_cast<std::size_t>(options_.hangupAfter);
}

}  // namespace readersim
