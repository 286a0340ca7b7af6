// A byte as two uppercase hexadecimal digits, through one shared scratch buffer.
#pragma once

#include <cstdint>

constexpr int HexPairSize = 100;
// Holds the two digits of the last conversion; all zero at program start, so it always
// reads as a terminated text: empty before the first conversion, two digits after.
extern char HexPair[HexPairSize];

// Writes the high and the low digit of value into buffer[0] and buffer[1], nothing else.
void ByteToHex(std::uint8_t value, char* buffer);
