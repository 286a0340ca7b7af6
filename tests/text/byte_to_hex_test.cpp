#include "text/byte_to_hex.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// Two uppercase digits, the high one first, into the first two characters and nowhere else.
TEST(ByteToHex, TwoUppercaseDigitsHighFirstAndNothingElse) {
  const std::pair<std::uint8_t, const char*> cases[] = {
      {0, "##00##"},   {9, "##09##"},   {10, "##0A##"},  {159, "##9F##"},
      {160, "##A0##"}, {224, "##E0##"}, {255, "##FF##"}, {0xC3, "##C3##"}};
  for (const auto& [value, text] : cases) {
    char buffer[] = "######";
    ByteToHex(value, buffer + 2);
    EXPECT_STREQ(buffer, text) << int{value};
  }
}

}  // namespace
