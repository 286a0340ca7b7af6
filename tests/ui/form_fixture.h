// A main window of its own for each test, on the fake platform, in a temporary working
// directory, with the standard exception display replaced by a list of shown messages.
#pragma once

#include <gtest/gtest.h>

#include <QMetaObject>
#include <QObject>
#include <string>
#include <vector>

#include "framework/application.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_directory.h"
#include "ui/unit1.h"

// The look of Button2 at one moment.
struct ButtonLook {
  bool enabled;
  std::string caption;
  TColor color;
  bool operator==(const ButtonLook& o) const {
    return enabled == o.enabled && caption == o.caption && color == o.color;
  }
};
inline std::ostream& operator<<(std::ostream& out, const ButtonLook& look) {
  return out << (look.enabled ? "enabled" : "disabled") << " \"" << look.caption << "\" colour "
             << look.color;
}

const ButtonLook IdleLook{true, "Start", 32768};
const ButtonLook BusyLook{false, "Stop", 255};

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Application;
    Application = &app_;
    app_.Initialize();
    app_.SetExceptionDisplay([this](const std::string& message) { shown.push_back(message); });
    app_.CreateForm(form);
    UidLoopRunning = 0;
    UidStopRequested = 0;
  }
  void TearDown() override {
    app_.DestroyForms();
    Application = saved_;
  }

  ButtonLook Look() const {
    return {form->Button2->Enabled(), form->Button2->Caption(), form->Button2->FontColor()};
  }
  // Queues a click, as the operator's would be: it is handled when events are dispatched.
  static void PostClick(TButton* button) {
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
  }

  fake::TempWorkingDirectory dir;
  fake::FakePlatform os;
  fake::ScopedPlatform use{os};
  TApplication app_;
  TApplication* saved_ = nullptr;
  TForm1* form = nullptr;
  std::vector<std::string> shown;
};
