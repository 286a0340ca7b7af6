// The 16-bit checksum every command frame ends with: polynomial 0x1021, start 0xFFFF,
// most significant bit first, final inversion.
#pragma once

#include <cstdint>

// Checksum over the first count bytes of data, computed bit by bit.
std::uint16_t Crc16(const std::uint8_t* data, std::uint8_t count);
