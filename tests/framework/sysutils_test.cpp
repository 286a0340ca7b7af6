#include "framework/sysutils.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QLocale>
#include <QTime>
#include <cmath>
#include <string>

namespace {

std::string ConvertErrorMessage(const std::string& text) {
  try {
    StrToInt(text);
  } catch (const EConvertError& error) {
    return error.Message();
  }
  return "(no error)";
}

TEST(StrToInt, AcceptsDecimalTextsWithinThirtyTwoBits) {
  EXPECT_EQ(StrToInt("01"), 1);
  EXPECT_EQ(StrToInt("02"), 2);
  EXPECT_EQ(StrToInt("257"), 257);
  EXPECT_EQ(StrToInt("-1"), -1);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("-0"), 0);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(StrToInt("000000000000000000000042"), 42);
}

TEST(StrToInt, RejectsEverythingElseNamingTheText) {
  for (const std::string text : {"",
                                 " ",
                                 " 1",
                                 "1 ",
                                 "1\n",
                                 "-",
                                 "+",
                                 "+-1",
                                 "--1",
                                 "0x1F",
                                 "$1F",
                                 "1F",
                                 "A",
                                 "1.0",
                                 "1e3",
                                 "1,000",
                                 "2147483648",
                                 "-2147483649",
                                 "99999999999999999999",
                                 "\xef\xbc\x91"}) {
    EXPECT_EQ(ConvertErrorMessage(text), "'" + text + "' is not a valid integer value")
        << "text: [" << text << "]";
  }
}

TEST(StrToInt, ConversionErrorIsTheFrameworkException) {
  try {
    StrToInt("x");
    FAIL() << "no exception";
  } catch (const Exception& error) {
    EXPECT_EQ(std::string(error.what()), "'x' is not a valid integer value");
  }
}

TEST(DateTime, ClockGivesTodayAndTheTimeOfDay) {
  const QDate before = QDate::currentDate();
  const TDateTime date = Date();
  const TDateTime time = Time();
  const QDate after = QDate::currentDate();
  EXPECT_EQ(date, std::trunc(date));
  const QDate epoch(1899, 12, 30);
  EXPECT_GE(date, epoch.daysTo(before));
  EXPECT_LE(date, epoch.daysTo(after));
  EXPECT_GE(time, 0.0);
  EXPECT_LT(time, 1.0);
  // Within a few seconds of the clock read here (and allowing for midnight in between).
  const double now = QTime::currentTime().msecsSinceStartOfDay() / 86400000.0;
  const double gap = std::fabs(now - time);
  EXPECT_TRUE(gap < 5.0 / 86400 || gap > 1.0 - 5.0 / 86400) << "gap " << gap;
}

// The test entry fixes the C locale unless it was given another one.
class DateTimeTextsInCLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QLocale::system().name() != QLatin1String("C")) {
      GTEST_SKIP() << "needs the C locale";
    }
  }
};

TEST_F(DateTimeTextsInCLocale, CountDaysFromTheEndOf1899) {
  EXPECT_EQ(DateToStr(0.0), "30 Dec 1899");
  EXPECT_EQ(DateToStr(1.0), "31 Dec 1899");
  EXPECT_EQ(DateToStr(2.0), "1 Jan 1900");
  EXPECT_EQ(DateToStr(36526.0), "1 Jan 2000");
  EXPECT_EQ(DateToStr(45658.0), "1 Jan 2025");
  EXPECT_EQ(DateToStr(-1.0), "29 Dec 1899");
  // The time of day does not change the date.
  EXPECT_EQ(DateToStr(36526.99), "1 Jan 2000");
}

TEST_F(DateTimeTextsInCLocale, TakeTheTimeFromTheFraction) {
  EXPECT_EQ(TimeToStr(0.0), "00:00:00");
  EXPECT_EQ(TimeToStr(0.5), "12:00:00");
  EXPECT_EQ(TimeToStr(0.75), "18:00:00");
  EXPECT_EQ(TimeToStr(36526.25), "06:00:00");
  EXPECT_EQ(TimeToStr((13 * 3600 + 14 * 60 + 15) / 86400.0), "13:14:15");
  // Below zero the distance from midnight still counts as the time of day.
  EXPECT_EQ(TimeToStr(-0.25), "06:00:00");
  EXPECT_EQ(TimeToStr(-1.75), "18:00:00");
  // The last millisecond of a day stays on that day.
  EXPECT_EQ(TimeToStr(0.9999999999), "23:59:59");
}

TEST_F(DateTimeTextsInCLocale, JoinDateAndTime) {
  EXPECT_EQ(DateTimeToStr(1.75), "31 Dec 1899 18:00:00");
  EXPECT_EQ(DateTimeToStr(36526.5), "1 Jan 2000 12:00:00");
}

// Registered a second time with PAVO_TEST_LOCALE=de_DE.UTF-8: the user's formats count.
TEST(DateTimeTextsInGermanLocale, FollowTheRegionalFormats) {
  if (QLocale::system().name() != QLatin1String("de_DE")) {
    GTEST_SKIP() << "needs the de_DE locale";
  }
  EXPECT_EQ(DateToStr(36526.0), "01.01.00");
  // Seconds are kept where the short format leaves them out.
  EXPECT_EQ(TimeToStr(0.75), "18:00:00");
  EXPECT_EQ(TimeToStr((13 * 3600 + 14 * 60 + 15) / 86400.0), "13:14:15");
  EXPECT_EQ(DateTimeToStr(1.75), "31.12.99 18:00:00");
}

}  // namespace
