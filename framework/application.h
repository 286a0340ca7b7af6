// The application object: start-up, the main form, the message loop, and the standard
// display for exceptions that leave a click handler. The toolkit side lives in the front
// end (framework/qt/, framework/win32/).
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/sysutils.h"

class TApplication {
 public:
  // Shows an exception's message; the default is a modal error box.
  using ExceptionDisplay = std::function<void(const std::string& message)>;

  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Prepares the toolkit (its application object is created here unless one exists
  // already) and puts the icon the program carries among its resources (app/icon) on its
  // windows. Call first.
  void Initialize();

  // The name the platform shows for the application (e.g. on the task bar); window
  // captions stay as they are.
  void SetTitle(const std::string& title);

  // Constructs a form owned by this object and stores it in reference; the first form
  // created becomes the main form.
  template <class Form>
  void CreateForm(Form*& reference) {
    Form* form = new Form();
    reference = form;
    AddForm(form, [&reference] { reference = nullptr; });
  }
  TForm* MainForm() const { return mainForm_; }

  // Shows the main form and dispatches events until it has been closed.
  void Run();
  // True once the application is to end while a handler still runs: the main form's close
  // was requested, or its window was destroyed from outside. Handlers that loop with
  // ProcessMessages leave their loop then, so that the end can take effect.
  bool Terminated() const;
  // True when the main window was destroyed by another program rather than closed.
  bool WindowLost() const { return windowLost_; }
  // Exit status of a process whose display went away under the message loop.
  static constexpr int DisplayLostExitCode = 1;
  // What must not outlive the process when the toolkit ends it from inside the message
  // loop (the display connection broke: the X server ended, the client was killed). The
  // handler runs once; then the process ends at once with DisplayLostExitCode.
  void SetOnDisplayLost(std::function<void()> handler);
  // Dispatches the events pending now (handlers may run nested), never waits for more.
  void ProcessMessages();

  // Shows what the exception says (its message) through the installed display.
  void ShowException(const std::exception& exception);
  // Installs another display (e.g. in tests); an empty one restores the error box.
  void SetExceptionDisplay(ExceptionDisplay display);
  // Asks the operator in a modal box whether to try again what message says has failed:
  // true for Retry, false for Cancel (or the box closed).
  bool AskRetry(const std::string& message);

  // Runs a click handler: counts it as running, shows what escapes it, and carries out a
  // close of the main form that was requested meanwhile once the outermost one is done.
  void HandleClick(const TNotifyEvent& handler, TObject* sender);
  // How many click handlers are on the stack.
  int HandlerDepth() const { return handlerDepth_; }
  // Destroys the forms, newest first, and clears their references.
  void DestroyForms();
  // Ends the application: destroys the forms, then the toolkit's application object if
  // Initialize created it. The process entry calls it last; the toolkit must not be torn
  // down later, while static objects are being destroyed.
  void Finalize();

  // The toolkit's side of the application object, defined by the front end.
  struct Native;

 private:
  // What the front ends tell the application object (framework/frontend.h).
  friend struct ApplicationFrontEnd;

  void AddForm(TForm* form, std::function<void()> clearReference);
  void ShowErrorBox(const std::string& message);

  struct OwnedForm {
    TForm* form;
    std::function<void()> clearReference;
  };

  std::unique_ptr<Native> native_;
  std::string title_;
  std::vector<OwnedForm> forms_;
  TForm* mainForm_ = nullptr;
  ExceptionDisplay display_;
  int handlerDepth_ = 0;
  bool running_ = false;
  bool windowLost_ = false;
  std::function<void()> onDisplayLost_;
};

// The application object of the process. Tests may point it at one of their own.
extern TApplication* Application;
