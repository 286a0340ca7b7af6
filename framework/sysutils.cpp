#include "framework/sysutils.h"

#include <limits>

std::int32_t StrToInt(const std::string& text) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  bool valid = pos < text.size();
  for (; valid && pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') {
      valid = false;
    } else {
      magnitude = magnitude * 10 + (c - '0');
      valid = magnitude <= limit;
    }
  }
  if (!valid) {
    throw EConvertError("'" + text + "' is not a valid integer value");
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}
