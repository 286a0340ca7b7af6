#include "framework/sysutils.h"

#include "framework/date_format.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <iterator>
#include <string>

namespace {

TEST(StrToInt, AcceptsDecimalTextsWithinThirtyTwoBitsAndNothingElse) {
  EXPECT_EQ(StrToInt("01"), 1);
  EXPECT_EQ(StrToInt("257"), 257);
  EXPECT_EQ(StrToInt("-1"), -1);
  EXPECT_EQ(StrToInt("+9"), 9);
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("-0"), 0);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(StrToInt("000000000000000000000042"), 42);
  // Everything else is rejected, naming the text.
  const std::string rejected[] = {
      "",   " ", " 1",  "1 ",  "-",     "+",          "+-1",         "--1",          "0x1F", "$1F",
      "1F", "A", "1.0", "1e3", "1,000", "2147483648", "-2147483649", "\xef\xbc\x91", "1\x0A"};
  for (const std::string& text : rejected) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted: [" << text << "]";
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.what(), "'" + text + "' is not a valid integer value");
    }
  }
}

// Against the system's clock, not the toolkit's that the front end reads: local seconds
// since 1970 (30 December 1899 is day 0, 1 January 1970 day 25569), before and after.
TEST(DateTime, ClockGivesTodayAndTheTimeOfDay) {
  const auto localSeconds = [] {
    // The fine clock: time() reads a coarse one that can lag behind by a tick.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    return static_cast<long long>(now.tv_sec) + local.tm_gmtoff;
  };
  const long long before = localSeconds();
  const TDateTime date = Date();
  const TDateTime time = Time();
  const long long after = localSeconds();
  EXPECT_GE(date, static_cast<double>(before / 86400 + 25569));
  EXPECT_LE(date, static_cast<double>(after / 86400 + 25569));
  // The time of day between the two readings' whole seconds (also across midnight).
  const long long second = static_cast<long long>(std::floor(time * 86400));
  const long long from = before % 86400;
  const long long to = after % 86400 + (after / 86400 - before / 86400) * 86400;
  EXPECT_TRUE((second >= from && second <= to) || second + 86400 <= to)
      << second << " not in " << from << ".." << to;
}

// Newer locale data has no-break spaces where older data and Windows have plain ones (Qt
// 6.8's en_US: "11:30:18\u202FPM"); shown and recorded, they are plain spaces, so that a
// record line is the same bytes on every system. Other spaces stay. A year of fewer than
// four digits gets four, in any format, quoted text apart.
TEST(DateTime, PlainSpacesAndYearsWithTheirCentury) {
  EXPECT_EQ(WithPlainSpaces(u"11:30:18\u202FPM, 1\u00A0Jan\u2009x"), u"11:30:18 PM, 1 Jan\u2009x");
  EXPECT_EQ(WithCenturyInYears(std::u16string(u"y/yy/yyy/yyyyy 'yy'")),
            u"yyyy/yyyy/yyyy/yyyyy 'yy'");
}

// The texts in the user's regional formats: the time always with seconds, in the locale's
// own separators and without a time-zone name, the year with its century. The test entry runs in
// the C locale; CTest runs this case once more under each of the other locales (PAVO_TEST_LOCALE).
struct RegionalTexts {
  const char* locale;
  const char* midnight;  // TimeToStr(0.0)
  const char* evening;   // 23:30:18
  const char* date;      // 1 January 2000
  const char* both;      // 1 January 2000, 23:30:18
};
const RegionalTexts kRegionalTexts[] = {
    {"C", "00:00:00", "23:30:18", "1 Jan 2000", "1 Jan 2000 23:30:18"},
    // A 12-hour clock whose short format has no seconds; short dates with two-digit years
    // shown with four, the rest of their format kept.
    {"en_US", "12:00:00 AM", "11:30:18 PM", "1/1/2000", "1/1/2000 11:30:18 PM"},
    {"de_DE", "00:00:00", "23:30:18", "01.01.2000", "01.01.2000 23:30:18"},
    {"ko_KR", "\xec\x98\xa4\xec\xa0\x84 12:00:00", "\xec\x98\xa4\xed\x9b\x84 11:30:18",
     "2000. 1. 1.", "2000. 1. 1. \xec\x98\xa4\xed\x9b\x84 11:30:18"},
    // Dots between hours, minutes and seconds.
    {"fi_FI", "0.00.00", "23.30.18", "1.1.2000", "1.1.2000 23.30.18"},
    // Words between them.
    {"fr_CA", "00 h 00 min 00 s", "23 h 30 min 18 s", "2000-01-01", "2000-01-01 23 h 30 min 18 s"},
};

TEST(RegionalTexts, TimeWithSecondsInTheLocalesOwnFormat) {
  const std::string locale = QLocale::system().name().toStdString();
  const auto* expected = std::find_if(std::begin(kRegionalTexts), std::end(kRegionalTexts),
                                      [&](const RegionalTexts& t) { return locale == t.locale; });
  ASSERT_NE(expected, std::end(kRegionalTexts)) << "no texts for the locale " << locale;
  const TDateTime evening = (23 * 3600 + 30 * 60 + 18) / 86400.0;
  EXPECT_EQ(TimeToStr(0.0), expected->midnight);
  EXPECT_EQ(TimeToStr(evening), expected->evening);
  EXPECT_EQ(DateToStr(36526.0), expected->date);
  EXPECT_EQ(DateTimeToStr(36526.0 + evening), expected->both);
}

}  // namespace
