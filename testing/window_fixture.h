// A main window of its own for each test, the message boxes it puts up answered and their
// texts listed in `shown`, and the UID loop's flags cleared; whatever the platform and the
// working directory are, the derived fixture sets them up.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "framework/application.h"
#include "testing/screen.h"
#include "ui/unit1.h"

// The look of Button2 at one moment: enabled, caption, font colour.
using ButtonLook = std::tuple<bool, std::string, TColor>;

const ButtonLook IdleLook{true, "Start", clGreen};

class WindowTest : public ::testing::Test {
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
};
