#include "protocol/crc16.h"

std::uint16_t Crc16(const std::uint8_t* data, std::uint8_t count) {
  std::uint16_t crc = 0xFFFF;
  for (unsigned i = 0; i < count; ++i) {
    crc ^= static_cast<std::uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      if (crc & 0x8000) {
        crc = static_cast<std::uint16_t>((crc << 1) ^ 0x1021);
      } else {
        crc = static_cast<std::uint16_t>(crc << 1);
      }
    }
  }
  return static_cast<std::uint16_t>(crc ^ 0xFFFF);
}
