#include "serial/mode_string.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return std::string();
  }
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool AllDigits(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

bool ParseBaud(const std::string& text, std::uint32_t& baud) {
  if (!AllDigits(text) || text.size() > 10) {
    return false;
  }
  static const struct {
    const char* abbreviation;
    std::uint32_t baud;
  } kAbbreviations[] = {{"11", 110},  {"15", 150},  {"30", 300},  {"60", 600},  {"12", 1200},
                        {"24", 2400}, {"48", 4800}, {"96", 9600}, {"19", 19200}};
  for (const auto& entry : kAbbreviations) {
    if (text == entry.abbreviation) {
      baud = entry.baud;
      return true;
    }
  }
  const unsigned long long value = std::stoull(text);
  if (value == 0 || value > 0xFFFFFFFFull) {
    return false;
  }
  baud = static_cast<std::uint32_t>(value);
  return true;
}

bool ParseParity(const std::string& text, platform::Parity& parity) {
  if (text.size() != 1) {
    return false;
  }
  switch (text[0]) {
    case 'n':
      parity = platform::Parity::None;
      return true;
    case 'o':
      parity = platform::Parity::Odd;
      return true;
    case 'e':
      parity = platform::Parity::Even;
      return true;
    case 'm':
      parity = platform::Parity::Mark;
      return true;
    case 's':
      parity = platform::Parity::Space;
      return true;
    default:
      return false;
  }
}

bool ParseDataBits(const std::string& text, std::uint8_t& bits) {
  if (text.size() != 1 || text[0] < '5' || text[0] > '8') {
    return false;
  }
  bits = static_cast<std::uint8_t>(text[0] - '0');
  return true;
}

bool ParseStopBits(const std::string& text, platform::StopBits& stop) {
  if (text == "1") {
    stop = platform::StopBits::One;
  } else if (text == "1.5") {
    stop = platform::StopBits::OnePointFive;
  } else if (text == "2") {
    stop = platform::StopBits::Two;
  } else {
    return false;
  }
  return true;
}

bool ParseOnOff(const std::string& text, bool& on) {
  if (text == "on") {
    on = true;
  } else if (text == "off") {
    on = false;
  } else {
    return false;
  }
  return true;
}

// Drops a leading "comN:" or "comN " device prefix; false when the text starts like one
// but is not.
bool StripDevicePrefix(std::string& text) {
  if (text.compare(0, 3, "com") != 0) {
    return true;
  }
  std::size_t end = 3;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
    ++end;
  }
  if (end == 3) {
    return false;
  }
  if (end < text.size() && text[end] == ':') {
    ++end;
  } else if (end < text.size() && text[end] != ' ' && text[end] != '\t') {
    return false;
  }
  text = Trim(text.substr(end));
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = text.find(separator, begin);
    parts.push_back(Trim(text.substr(begin, end - begin)));
    if (end == std::string::npos) {
      return parts;
    }
    begin = end + 1;
  }
}

bool ParseCommaForm(const std::string& text, platform::LineSettings& s) {
  const std::vector<std::string> fields = Split(text, ',');
  if (fields.size() > 5 || fields[0].empty()) {
    return false;
  }
  if (!ParseBaud(fields[0], s.BaudRate)) {
    return false;
  }
  if (fields.size() > 1 && !fields[1].empty() && !ParseParity(fields[1], s.Parity)) {
    return false;
  }
  if (fields.size() > 2 && !fields[2].empty() && !ParseDataBits(fields[2], s.ByteSize)) {
    return false;
  }
  if (fields.size() > 3 && !fields[3].empty() && !ParseStopBits(fields[3], s.StopBits)) {
    return false;
  }
  s.SoftwareFlowControl = false;
  s.HardwareFlowControl = false;
  if (fields.size() > 4) {
    if (fields[4] == "x") {
      s.SoftwareFlowControl = true;
    } else if (fields[4] == "p") {
      s.HardwareFlowControl = true;
    } else {
      return false;
    }
  }
  return true;
}

bool ParseKeyForm(const std::string& text, platform::LineSettings& s) {
  // Blanks around '=' belong to the pair, not between pairs.
  std::string packed;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t') {
      const auto next = text.find_first_not_of(" \t", i);
      const bool aroundEquals = (!packed.empty() && packed.back() == '=') ||
                                (next != std::string::npos && text[next] == '=');
      if (aroundEquals) {
        continue;
      }
      if (packed.empty() || packed.back() != ' ') {
        packed.push_back(' ');
      }
      continue;
    }
    packed.push_back(c);
  }
  std::vector<std::string> seen;
  s.SoftwareFlowControl = false;
  s.HardwareFlowControl = false;
  for (const std::string& pair : Split(packed, ' ')) {
    const auto equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) {
      return false;
    }
    const std::string key = pair.substr(0, equals);
    const std::string value = pair.substr(equals + 1);
    for (const std::string& k : seen) {
      if (k == key) {
        return false;
      }
    }
    seen.push_back(key);
    bool ok = false;
    if (key == "baud") {
      ok = ParseBaud(value, s.BaudRate);
    } else if (key == "parity") {
      ok = ParseParity(value, s.Parity);
    } else if (key == "data") {
      ok = ParseDataBits(value, s.ByteSize);
    } else if (key == "stop") {
      ok = ParseStopBits(value, s.StopBits);
    } else if (key == "xon") {
      ok = ParseOnOff(value, s.SoftwareFlowControl);
    } else if (key == "octs") {
      ok = ParseOnOff(value, s.HardwareFlowControl);
    }
    if (!ok) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseModeString(const char* text, platform::LineSettings& settings) {
  if (text == nullptr) {
    return false;
  }
  std::string mode = Trim(Lower(text));
  if (!StripDevicePrefix(mode) || mode.empty()) {
    return false;
  }
  platform::LineSettings result = settings;
  const bool ok = mode.find('=') != std::string::npos ? ParseKeyForm(mode, result)
                                                      : ParseCommaForm(mode, result);
  if (!ok) {
    return false;
  }
  settings = std::move(result);
  return true;
}
