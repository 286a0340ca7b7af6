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

// The real clock around what a handler did: made before it, ended after it. A date or
// time the handler showed must be the clock's at some moment between, also across the
// turn of a second or of a day.
class ClockSpan {
 public:
  void End() {
    toDate_ = Date();
    toTime_ = Time();
  }
  bool HasDate(const std::string& shown) const {
    return shown == Text(fromDate_) || shown == Text(toDate_);
  }
  bool HasTime(const std::string& shown) const {
    const auto from = static_cast<long>(std::floor(fromTime_ * 86400));
    const long to = static_cast<long>(std::floor(toTime_ * 86400)) +
                    static_cast<long>(toDate_ - fromDate_) * 86400;
    for (long second = from; second <= to; ++second) {
      if (shown == Text(static_cast<double>(second % 86400) / 86400)) {
        return true;
      }
    }
    return false;
  }

 private:
  static std::string Text(TDateTime value) {
    std::string text;
    DateTimeText(value, text);
    return text;
  }
  TDateTime fromDate_ = Date();
  TDateTime fromTime_ = Time();
  TDateTime toDate_ = fromDate_;
  TDateTime toTime_ = fromTime_;
};
