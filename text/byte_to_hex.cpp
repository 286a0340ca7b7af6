#include "text/byte_to_hex.h"

char HexPair[HexPairSize] = {};

namespace {

char Digit(std::uint8_t nibble) {
  return static_cast<char>(nibble < 10 ? 0x30 + nibble : 0x37 + nibble);
}

}  // namespace

void ByteToHex(std::uint8_t value, char* buffer) {
  buffer[0] = Digit(static_cast<std::uint8_t>(value / 16));
  buffer[1] = Digit(static_cast<std::uint8_t>(value % 16));
}
