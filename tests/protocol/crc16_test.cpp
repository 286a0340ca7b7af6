#include "protocol/crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(Crc16, MatchesTheKnownCheckValuesAndTheSystemsFrames) {
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(digits, 9), 0xD64E);

  const std::uint8_t snapshot[] = {0x05, 0x11, 0x1E};
  EXPECT_EQ(Crc16(snapshot, 3), 0x1B2E);

  const std::uint8_t uid[] = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0};
  EXPECT_EQ(Crc16(uid, 16), 0xC3EF);
}

TEST(Crc16, CoversExactlyCountBytes) {
  EXPECT_EQ(Crc16(nullptr, 0), 0x0000);

  // Bytes past the count must not change the result: the same prefix followed by
  // different tails gives the same checksum.
  std::vector<std::uint8_t> a = {0x05, 0x11, 0x1E, 0x00, 0x00};
  std::vector<std::uint8_t> b = {0x05, 0x11, 0x1E, 0xFF, 0xAA};
  EXPECT_EQ(Crc16(a.data(), 3), 0x1B2E);
  EXPECT_EQ(Crc16(b.data(), 3), 0x1B2E);

  // All 255 countable bytes are covered: changing the last one changes the result.
  std::vector<std::uint8_t> full(256, 0x5A);
  const std::uint16_t before = Crc16(full.data(), 255);
  full[254] ^= 0x01;
  EXPECT_NE(Crc16(full.data(), 255), before);
  full[255] ^= 0x01;
  const std::uint16_t after = Crc16(full.data(), 255);
  full[255] ^= 0x80;
  EXPECT_EQ(Crc16(full.data(), 255), after);
}

}  // namespace
