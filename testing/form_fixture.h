// A main window of its own for each test, on the fake platform, in a temporary working
// directory: the message boxes it puts up are answered and their texts listed in `shown`,
// and the UID loop's flags are cleared.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "framework/application.h"
#include "framework/sysutils.h"
#include "testing/fake_platform.h"
#include "testing/screen.h"
#include "testing/temp_directory.h"
#include "text/date_time_text.h"
#include "ui/unit1.h"

// The look of Button2 at one moment: enabled, caption, font colour.
using ButtonLook = std::tuple<bool, std::string, TColor>;

const ButtonLook IdleLook{true, "Start", clGreen};

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Application;
    Application = &app_;
    app_.Initialize();
    // A box is noted and closed (one that asks, cancelled), unless a test answers otherwise.
    screen::AnswerBoxes([this](const std::string& text) {
      shown.push_back(text);
      return false;
    });
    app_.CreateForm(form);
    UidLoopRunning = 0;
    UidStopRequested = 0;
  }
  void TearDown() override {
    screen::AnswerBoxes(nullptr);
    app_.Finalize();
    Application = saved_;
  }

  ButtonLook Look() const {
    return {form->Button2->Enabled(), form->Button2->Caption(), form->Button2->FontColor()};
  }

  TApplication app_;
  TApplication* saved_ = nullptr;
  TForm1* form = nullptr;
  std::vector<std::string> shown;
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
