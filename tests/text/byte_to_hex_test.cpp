#include "text/byte_to_hex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// First in this file: HexPair must still be as the program starts.
TEST(HexPair, EmptyAtStartThenOnlyTheLastPair) {
  for (int i = 0; i < HexPairSize; ++i) {
    ASSERT_EQ(HexPair[i], '\0') << "at " << i;
  }
  EXPECT_STREQ(HexPair, "");
  ByteToHex(10, HexPair);
  EXPECT_STREQ(HexPair, "0A");
  ByteToHex(255, HexPair);
  EXPECT_STREQ(HexPair, "FF");
  for (int i = 2; i < HexPairSize; ++i) {
    ASSERT_EQ(HexPair[i], '\0') << "at " << i;
  }
}

TEST(ByteToHex, TwoUppercaseDigitsHighFirst) {
  const struct {
    int value;
    const char* digits;
  } cases[] = {{0, "00"},   {10, "0A"}, {159, "9F"}, {224, "E0"},
               {255, "FF"}, {9, "09"},  {160, "A0"}};
  for (const auto& c : cases) {
    char buffer[3] = {'x', 'x', '\0'};
    ByteToHex(static_cast<std::uint8_t>(c.value), buffer);
    EXPECT_STREQ(buffer, c.digits) << "value " << c.value;
  }
}

TEST(ByteToHex, WritesTheFirstTwoCharactersAndNothingElse) {
  char buffer[6];
  std::memset(buffer, '#', sizeof buffer);
  ByteToHex(0xC3, buffer + 2);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "##C3##");
}

}  // namespace
