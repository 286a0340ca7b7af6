// The scan of the UID reading's collected text, on its own.
#include "ui/uid_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(std::initializer_list<int> bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (int b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

TEST(UidScan, FindsTheFirstE0AtAByteBoundaryAndEmptiesTheText) {
  // E0 E0 ...: the identifier begins at the first one.
  std::string collected = Hex(
      {0xE0, 0xE0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22});
  std::string id;
  ASSERT_TRUE(ScanForIdentifier(collected, id));
  EXPECT_EQ(id, "E0E0010203040506");
  EXPECT_TRUE(collected.empty());

  // The last position tried is byte 13; its identifier ends at byte 20.
  collected = Hex({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE0, 1, 2, 3, 4, 5, 6, 7, 0, 0, 0});
  ASSERT_TRUE(ScanForIdentifier(collected, id));
  EXPECT_EQ(id, "E001020304050607");
}

TEST(UidScan, DigitsAcrossTwoBytesAreNoMatch) {
  std::string collected = Hex({0x0E, 0x01, 0x0E, 0x0E, 0x00, 0x0E, 0x0F, 1,  2,  3,  4,  5,
                               6,    7,    8,    9,    10,   11,   12,   13, 14, 15, 16, 17});
  const std::string before = collected;
  std::string id = "unchanged";
  EXPECT_FALSE(ScanForIdentifier(collected, id));
  EXPECT_EQ(id, "unchanged");
  // The fourteen scanned positions are dropped, the rest is kept in order.
  EXPECT_EQ(collected, before.substr(28));
}

TEST(UidScan, AnE0PastTheFourteenPositionsWaitsForTheNextScan) {
  std::string collected = Hex({1,  2,  3,    4,    5,    6,    7,    8,    9,    10,   11, 12,
                               13, 14, 0xE0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0,  0});
  std::string id;
  EXPECT_FALSE(ScanForIdentifier(collected, id));
  EXPECT_EQ(collected, Hex({0xE0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0, 0}));
  // Fourteen more bytes bring it back to the threshold, with the E0 first.
  collected += Hex({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(collected.size(), UidScanThreshold);
  ASSERT_TRUE(ScanForIdentifier(collected, id));
  EXPECT_EQ(id, "E0A1A2A3A4A5A6A7");
}

}  // namespace
