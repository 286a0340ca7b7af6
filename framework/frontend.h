// The application object's side that only the front ends (framework/qt/, framework/win32/)
// use: what the toolkit tells it. The window and the process entry never include this.
#pragma once

#include "framework/application.h"

struct ApplicationFrontEnd {
  // Whether Run's message loop is under way (a main form closed outside it ends nothing).
  static bool Running(const TApplication& application) { return application.running_; }
  // The main window was destroyed by another program: the application is to end, as
  // Terminated() and WindowLost() say from now on.
  static void MarkWindowLost(TApplication& application) { application.windowLost_ = true; }
  // The process is ending from inside Run (the display connection broke): the display-lost
  // handler runs once, then the process ends at once with DisplayLostExitCode, without the
  // destructors of static objects, which would reach for the display that is gone.
  [[noreturn]] static void EndAfterDisplayLost(TApplication& application);
};
