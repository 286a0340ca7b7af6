#include "text/date_time_text.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <string>

namespace {

std::string Text(TDateTime value) {
  std::string text = "old";
  DateTimeText(value, text);
  return text;
}

// The test entry fixes the C locale: "d MMM yyyy" and "HH:mm:ss".
class DateTimeTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QLocale::system().name() != QLatin1String("C")) {
      GTEST_SKIP() << "needs the C locale";
    }
  }
};

TEST_F(DateTimeTextTest, BelowOneDayGivesTheTimeAlone) {
  EXPECT_EQ(Text(0.0), "00:00:00");
  EXPECT_EQ(Text(0.5), "12:00:00");
  EXPECT_EQ(Text(-0.25), "06:00:00");
  EXPECT_EQ(Text(0.999988425925926), "23:59:59");
}

TEST_F(DateTimeTextTest, WholeDaysGiveTheDateAlone) {
  EXPECT_EQ(Text(1.0), "31 Dec 1899");
  EXPECT_EQ(Text(36526.0), "1 Jan 2000");
}

TEST_F(DateTimeTextTest, OtherwiseDateAndTime) {
  EXPECT_EQ(Text(1.75), "31 Dec 1899 18:00:00");
  // A fraction too small to show still makes a date-and-time text: nothing is rounded
  // before the test.
  EXPECT_EQ(Text(36526.0000000001), "1 Jan 2000 00:00:00");
}

}  // namespace
