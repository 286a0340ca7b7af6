// Port text to port number: StrToInt on arbitrary texts, then the low eight bits.
//
// Invariants: a text is accepted exactly when it is an optional sign followed by one or
// more decimal digits and its value lies within int32; the value is then what strtoll
// reads; a refused text raises EConvertError naming the text. The port number is the
// value's low eight bits, which must also equal the text's value modulo 256 worked out
// digit by digit (so it holds for any length of digits).
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "framework/sysutils.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool IsSignAndDigits(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    ++i;
  }
  if (i == text.size()) {
    return false;
  }
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
  }
  return true;
}

// The text's value modulo 256, as the port number keeps it, without any overflow.
std::uint8_t LowEightBitsOfText(const std::string& text) {
  const bool negative = text[0] == '-';
  unsigned magnitude = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      magnitude = (magnitude * 10 + static_cast<unsigned>(c - '0')) % 256;
    }
  }
  return static_cast<std::uint8_t>(negative ? (256 - magnitude) % 256 : magnitude);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  bool expectAccepted = IsSignAndDigits(text);
  long long expected = 0;
  if (expectAccepted) {
    errno = 0;
    expected = std::strtoll(text.c_str(), nullptr, 10);
    expectAccepted = errno == 0 && expected >= std::numeric_limits<std::int32_t>::min() &&
                     expected <= std::numeric_limits<std::int32_t>::max();
  }

  std::int32_t value = 0;
  bool accepted = true;
  try {
    value = StrToInt(text);
  } catch (const EConvertError& error) {
    accepted = false;
    FUZZ_CHECK(error.Message() == "'" + text + "' is not a valid integer value");
  }
  FUZZ_CHECK(accepted == expectAccepted);
  if (!accepted) {
    return 0;
  }
  FUZZ_CHECK(value == expected);

  // What both reading actions keep as PortNumber.
  const std::uint8_t portNumber = static_cast<std::uint8_t>(value);
  FUZZ_CHECK(portNumber == (static_cast<std::uint32_t>(value) & 0xFFu));
  FUZZ_CHECK(portNumber == LowEightBitsOfText(text));
  return 0;
}
