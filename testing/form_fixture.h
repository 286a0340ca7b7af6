// The window on the fake platform, in a temporary working directory.
#pragma once

#include <cmath>
#include <string>

#include "framework/sysutils.h"
#include "testing/fake_platform.h"
#include "testing/temp_directory.h"
#include "testing/window_fixture.h"
#include "text/date_time_text.h"

class FormTest : public WindowTest {
 protected:
  fake::TempWorkingDirectory dir;
  fake::FakePlatform os;
  fake::ScopedPlatform use{os};
};

// The real clock around what a handler did, read before it and (End) after it: the date
// and time the handler showed must be the clock's at a whole second between, also across
// the turn of a day.
struct ClockSpan {
  TDateTime fromDate = Date(), fromTime = Time(), toDate = fromDate, toTime = fromTime;
  void End() {
    toDate = Date();
    toTime = Time();
  }
  bool Shows(const std::string& date, const std::string& time) const {
    const auto text = [](TDateTime value) {
      std::string t;
      DateTimeText(value, t);
      return t;
    };
    const double last = std::floor(toTime * 86400) + (toDate - fromDate) * 86400;
    bool shown = false;
    for (double second = std::floor(fromTime * 86400); second <= last && !shown; ++second) {
      shown = time == text(std::fmod(second, 86400) / 86400);
    }
    return shown && (date == text(fromDate) || date == text(toDate));
  }
};
