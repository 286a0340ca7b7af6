// ParseModeString on arbitrary texts and arbitrary starting settings.
//
// Invariants: nothing crashes; a refused text leaves the settings exactly as they were;
// an accepted text leaves the backend's own record alone, gives a positive baud rate and
// 5 to 8 data bits, gives the same result when parsed again on its own result (applying
// a mode string twice changes nothing more), and the settings it produced can be
// written back as a mode string that yields them from any start.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "serial/mode_string.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool Same(const platform::LineSettings& a, const platform::LineSettings& b) {
  return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity &&
         a.StopBits == b.StopBits && a.SoftwareFlowControl == b.SoftwareFlowControl &&
         a.HardwareFlowControl == b.HardwareFlowControl && a.Native == b.Native;
}

bool SamePortable(const platform::LineSettings& a, const platform::LineSettings& b) {
  platform::LineSettings x = a;
  x.Native = b.Native;
  return Same(x, b);
}

// Starting settings taken from the first bytes of the input: any rate but 0, 5 to 8 data
// bits, every parity, stop bits and flow control, and a native record of six bytes.
platform::LineSettings StartFrom(const std::uint8_t* bytes) {
  platform::LineSettings s;
  s.BaudRate = static_cast<std::uint32_t>(bytes[0]) << 24 |
               static_cast<std::uint32_t>(bytes[1]) << 16 |
               static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
  if (s.BaudRate == 0) {
    s.BaudRate = 1;
  }
  s.ByteSize = static_cast<std::uint8_t>(5 + bytes[4] % 4);
  s.Parity = static_cast<platform::Parity>(bytes[5] % 5);
  s.StopBits = static_cast<platform::StopBits>(bytes[5] / 5 % 3);
  s.SoftwareFlowControl = (bytes[5] & 0x40) != 0;
  s.HardwareFlowControl = (bytes[5] & 0x80) != 0;
  s.Native.assign(bytes, bytes + 6);
  return s;
}

// The settings as a mode string in the key form, naming every member. Two-digit rates
// get a leading zero so they are not read as the abbreviations.
std::string Write(const platform::LineSettings& s) {
  std::string baud = std::to_string(s.BaudRate);
  if (baud.size() <= 2) {
    baud = "0" + baud;
  }
  static const char kParity[] = {'n', 'o', 'e', 'm', 's'};
  static const char* const kStop[] = {"1", "1.5", "2"};
  return "baud=" + baud + " parity=" + kParity[static_cast<int>(s.Parity)] +
         " data=" + std::to_string(s.ByteSize) + " stop=" + kStop[static_cast<int>(s.StopBits)] +
         " xon=" + (s.SoftwareFlowControl ? "on" : "off") +
         " octs=" + (s.HardwareFlowControl ? "on" : "off");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kStartBytes = 6;
  if (size < kStartBytes) {
    return 0;
  }
  const platform::LineSettings start = StartFrom(data);
  // The text ends at the first NUL, as a C string does.
  const std::string text(
      reinterpret_cast<const char*>(data + kStartBytes),
      strnlen(reinterpret_cast<const char*>(data + kStartBytes), size - kStartBytes));

  platform::LineSettings settings = start;
  const bool accepted = ParseModeString(text.c_str(), settings);
  if (!accepted) {
    FUZZ_CHECK(Same(settings, start));
    return 0;
  }
  FUZZ_CHECK(settings.Native == start.Native);
  FUZZ_CHECK(settings.BaudRate > 0);
  FUZZ_CHECK(settings.ByteSize >= 5 && settings.ByteSize <= 8);

  platform::LineSettings again = settings;
  FUZZ_CHECK(ParseModeString(text.c_str(), again));
  FUZZ_CHECK(Same(again, settings));

  const std::string written = Write(settings);
  platform::LineSettings fresh;
  FUZZ_CHECK(ParseModeString(written.c_str(), fresh));
  FUZZ_CHECK(SamePortable(fresh, settings));
  return 0;
}
