#include "platform/mode_string.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The value of a decimal number of 1 to 10 digits, or 0 for any other text.
std::uint64_t Decimal(const std::string& text) {
  if (text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::stoull(text);
}

}  // namespace

bool ParseModeString(const char* text, platform::LineSettings& settings) {
  if (text == nullptr) {
    return false;
  }
  std::vector<std::string> fields(1);
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += *c;
    }
  }
  if (fields.size() != 4 || fields[1].size() != 1) {
    return false;
  }
  static const std::string kParities = "noems";  // in the order of platform::Parity
  const std::size_t parity =
      kParities.find(static_cast<char>(std::tolower(static_cast<unsigned char>(fields[1][0]))));
  const std::uint64_t baud = Decimal(fields[0]);
  const std::uint64_t data = Decimal(fields[2]);
  const std::string& stop = fields[3];
  if (baud == 0 || baud > 0xFFFFFFFFu || parity == std::string::npos || data < 5 || data > 8 ||
      (stop != "1" && stop != "1.5" && stop != "2")) {
    return false;
  }
  settings.BaudRate = static_cast<std::uint32_t>(baud);
  settings.Parity = static_cast<platform::Parity>(parity);
  settings.ByteSize = static_cast<std::uint8_t>(data);
  settings.StopBits = stop == "1"     ? platform::StopBits::One
                      : stop == "1.5" ? platform::StopBits::OnePointFive
                                      : platform::StopBits::Two;
  settings.SoftwareFlowControl = false;
  settings.HardwareFlowControl = false;
  return true;
}
