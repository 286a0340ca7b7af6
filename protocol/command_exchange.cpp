#include "protocol/command_exchange.h"

#include <cstdio>
#include <cstring>

#include "platform/append_file.h"
#include "protocol/crc16.h"
#include "serial/serial_port.h"

std::uint8_t RxBuffer[RxBufferSize];
std::int32_t RxPos = 0;

namespace {

// Appends the frame's two length lines to the command log with one write. A log that
// cannot take them is skipped: nothing in the exchange depends on it.
void LogFrameLength(int length) {
  char text[40];
  std::snprintf(text, sizeof text, "len:%i\n  len-2:%i\n", length, length - 2);
  platform::AppendToFile(CommandLogName, text);
}

}  // namespace

bool SendCommand(const std::uint8_t* frame, std::uint8_t expectedCount) {
  const std::uint8_t length = frame[0];
  if (length < 3) {
    return false;  // too short to hold even its own checksum: never goes out
  }
  std::memset(RxBuffer, 0, sizeof RxBuffer);
  LogFrameLength(length);

  const std::uint8_t covered = static_cast<std::uint8_t>(length - 2);
  const std::uint16_t crc = Crc16(frame, covered);
  // Whatever is waiting now belongs to no reply to this frame: the rest of a long or late
  // reply, or records sent while nobody read. A UART may drop it at the last close, but a
  // pty bridge, a network serial server or a reader that talks on does not.
  PurgeComPort();
  WriteBlock(frame, covered);
  WriteByte(static_cast<std::uint8_t>(crc >> 8));
  WriteByte(static_cast<std::uint8_t>(crc & 0xFF));

  RxPos = 0;
  const std::uint32_t start = platform::TimeGetTime();
  std::uint32_t elapsed = 0;
  if (expectedCount == 0) {
    return true;
  }
  for (;;) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (!ReadComPort(&byte, 1, got)) {
      return false;  // the port is gone: no reply can come any more
    }
    if (got == 1) {
      RxBuffer[RxPos] = byte;
      ++RxPos;
      if (RxPos == RxBufferSize) {
        RxPos = 0;
      }
      if (RxPos == expectedCount) {
        return true;
      }
    } else {
      // Unsigned distance: stays right across the clock's wrap at 2^32 and its
      // sign change at 2^31.
      elapsed = platform::TimeGetTime() - start;
      if (elapsed > ReplyTimeLimit) {
        return false;
      }
    }
  }
}
