// The UID loop's collection and scan over arbitrary byte streams, driven the way the
// loop drives it: each byte's two ByteToHex digits are appended to the collected text,
// and from 48 characters on the text is scanned with ScanForIdentifier.
//
// Invariants: the collected text never holds more than 48 characters; every identifier
// shown is 16 uppercase hex digits beginning "E0" and is the digits of 8 bytes that
// arrived one after the other in the stream; and the identifiers, and the bytes at which
// they are shown, are those of a model that works on bytes rather than text (24 bytes
// pending: the first E0 among the first 14 starts the identifier and empties the pending
// bytes, else those 14 are dropped), so no byte is skipped or tried twice.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "text/byte_to_hex.h"
#include "ui/uid_scan.h"

namespace {

std::string HexOf(const std::uint8_t* bytes, std::size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

bool IsUpperHex(const std::string& text) {
  return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// The byte-level model: pending holds the stream positions of the collected bytes.
struct Model {
  std::deque<std::size_t> pending;
  // Feeds the byte at stream position i; returns the position where the identifier
  // shown now starts, or SIZE_MAX.
  std::size_t Feed(const std::uint8_t* stream, std::size_t i) {
    pending.push_back(i);
    if (pending.size() < 24) {
      return SIZE_MAX;
    }
    for (std::size_t k = 0; k < 14; ++k) {
      if (stream[pending[k]] == 0xE0) {
        const std::size_t start = pending[k];
        pending.clear();
        return start;
      }
    }
    pending.erase(pending.begin(), pending.begin() + 14);
    return SIZE_MAX;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string collected;
  std::string edit1 = "Edit1";
  Model model;
  for (std::size_t i = 0; i < size; ++i) {
    ByteToHex(data[i], HexPair);
    collected.append(HexPair, 2);
    FUZZ_CHECK(collected.size() <= UidScanThreshold);
    std::size_t shownAt = SIZE_MAX;
    if (collected.size() >= UidScanThreshold) {
      edit1.clear();
      std::string identifier;
      if (ScanForIdentifier(collected, identifier)) {
        edit1 = identifier;
        shownAt = i;
      }
    }
    const std::size_t start = model.Feed(data, i);
    FUZZ_CHECK((shownAt != SIZE_MAX) == (start != SIZE_MAX));
    if (shownAt == SIZE_MAX) {
      continue;
    }
    FUZZ_CHECK(edit1.size() == UidIdentifierLength);
    FUZZ_CHECK(edit1.compare(0, 2, "E0") == 0);
    FUZZ_CHECK(IsUpperHex(edit1));
    FUZZ_CHECK(start + 8 <= i + 1);  // all eight bytes had arrived
    FUZZ_CHECK(edit1 == HexOf(data + start, 8));
    FUZZ_CHECK(collected.empty());
  }
  return 0;
}
