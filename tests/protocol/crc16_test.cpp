#include "protocol/crc16.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Crc16, MatchesTheKnownCheckValuesAndTheSystemsFrames) {
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(digits, 9), 0xD64E);

  const std::uint8_t snapshot[] = {0x05, 0x11, 0x1E};
  EXPECT_EQ(Crc16(snapshot, 3), 0x1B2E);

  const std::uint8_t uid[] = {0x12, 0x11, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2B, 0xF0};
  EXPECT_EQ(Crc16(uid, 16), 0xC3EF);
}

}  // namespace
