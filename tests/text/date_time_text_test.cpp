#include "text/date_time_text.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <string>
#include <utility>

namespace {

// Below one day the time alone (the last millisecond of a day stays on it), whole days the
// date alone, otherwise both; a fraction too small to show still makes a date-and-time
// text: nothing is rounded before the test. The test entry fixes the C locale: "d MMM yyyy"
// and "HH:mm:ss".
TEST(DateTimeTextTest, TimeDateOrBothByTheValue) {
  ASSERT_EQ(QLocale::system().name(), QLatin1String("C")) << "the cases need the C locale";
  const std::pair<TDateTime, const char*> cases[] = {{0.0, "00:00:00"},
                                                     {0.5, "12:00:00"},
                                                     {-0.25, "06:00:00"},
                                                     {0.9999999999, "23:59:59"},
                                                     {1.0, "31 Dec 1899"},
                                                     {36526.0, "1 Jan 2000"},
                                                     {1.75, "31 Dec 1899 18:00:00"},
                                                     {36526.0000000001, "1 Jan 2000 00:00:00"}};
  for (const auto& [value, expected] : cases) {
    std::string text = "old";
    DateTimeText(value, text);
    EXPECT_EQ(text, expected) << value;
  }
}

}  // namespace
