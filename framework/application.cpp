#include "framework/application.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
TApplication theApplication;

// The application whose Run is under way, if any: the one to end when the process exits
// from inside the message loop.
TApplication* runningApplication = nullptr;

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
using NativeResult = qintptr;
#else
using NativeResult = long;
#endif

// The head of an X11 DestroyNotify event as the xcb platform hands it to native event
// filters ("xcb_generic_event_t"); the layout is the X protocol's.
struct XcbDestroyNotify {
  std::uint8_t responseType;
  std::uint8_t pad0;
  std::uint16_t sequence;
  std::uint32_t event;
  std::uint32_t window;
};
constexpr std::uint8_t XcbDestroyNotifyType = 17;
// The X server sets this bit on events that another client sent.
constexpr std::uint8_t XcbSentEventBit = 0x80;
}  // namespace

// Watches the display for the main window being destroyed by another client (xdotool
// windowclose, a misbehaving window manager): the toolkit carries on as if the window
// were still there, and nothing would ever end the process or free what it holds.
class MainWindowWatch : public QAbstractNativeEventFilter {
 public:
  explicit MainWindowWatch(TApplication& application) : application_(application) {}

  bool nativeEventFilter(const QByteArray& eventType, void* message, NativeResult*) override {
    if (eventType != "xcb_generic_event_t" || message == nullptr) {
      return false;
    }
    const auto* event = static_cast<const XcbDestroyNotify*>(message);
    TForm* main = application_.MainForm();
    if ((event->responseType & ~XcbSentEventBit) == XcbDestroyNotifyType && main != nullptr &&
        main->internalWinId() != 0 && event->window == main->internalWinId()) {
      application_.MainWindowDestroyed();
    }
    return false;
  }

 private:
  TApplication& application_;
};

// Registered with atexit: a process that exits while Run is under way was ended by the
// toolkit (its display connection broke), not by the program.
void EndedInsideRun() {
  if (runningApplication != nullptr) {
    runningApplication->EndAfterDisplayLost();
  }
}

TApplication* Application = &theApplication;

TApplication::TApplication() = default;

TApplication::~TApplication() {
  if (runningApplication == this) {
    runningApplication = nullptr;
  }
  DestroyForms();
  // Without Finalize this runs after main, when Qt's own statics may be gone already:
  // leave the Qt application to the operating system then.
  static_cast<void>(ownedQApplication_.release());
}

void TApplication::Finalize() {
  if (windowWatch_ != nullptr && QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeNativeEventFilter(windowWatch_.get());
  }
  windowWatch_.reset();
  DestroyForms();
  ownedQApplication_.reset();
}

void TApplication::Initialize() {
  if (QCoreApplication::instance() == nullptr) {
    ownedQApplication_ = std::make_unique<QApplication>(argc_, argv_);
  }
  // The main form alone decides when the application ends; closing an error box with no
  // other window visible must not end it.
  QGuiApplication::setQuitOnLastWindowClosed(false);
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  const QString name = QString::fromLocal8Bit(title.c_str());
  // The name, not a display name: Qt appends a display name to every window caption.
  QCoreApplication::setApplicationName(name);
  QGuiApplication::setDesktopFileName(name);
}

void TApplication::AddForm(TForm* form, std::function<void()> clearReference) {
  forms_.push_back({form, std::move(clearReference)});
  if (mainForm_ == nullptr) {
    mainForm_ = form;
  }
}

void TApplication::DestroyForms() {
  while (!forms_.empty()) {
    OwnedForm owned = std::move(forms_.back());
    forms_.pop_back();
    if (owned.form == mainForm_) {
      mainForm_ = nullptr;
    }
    delete owned.form;
    owned.clearReference();
  }
}

void TApplication::Run() {
  if (mainForm_ == nullptr) {
    return;
  }
  static const bool endWatched = std::atexit(EndedInsideRun) == 0;
  static_cast<void>(endWatched);
  if (windowWatch_ == nullptr) {
    windowWatch_ = std::make_unique<MainWindowWatch>(*this);
    QCoreApplication::instance()->installNativeEventFilter(windowWatch_.get());
  }
  mainForm_->show();
  running_ = true;
  runningApplication = this;
  QApplication::exec();
  runningApplication = nullptr;
  running_ = false;
}

bool TApplication::Terminated() const {
  return windowLost_ || (mainForm_ != nullptr && mainForm_->ClosePending());
}

void TApplication::SetOnDisplayLost(std::function<void()> handler) {
  onDisplayLost_ = std::move(handler);
}

void TApplication::MainWindowDestroyed() {
  if (windowLost_) {
    return;
  }
  windowLost_ = true;
  // Closed from the event loop rather than from inside the toolkit's event filter; a
  // running handler sees Terminated() and returns first.
  QTimer::singleShot(0, mainForm_, [this] {
    if (mainForm_ != nullptr) {
      mainForm_->Close();
    }
  });
}

void TApplication::EndAfterDisplayLost() {
  runningApplication = nullptr;
  if (onDisplayLost_) {
    onDisplayLost_();
  }
  std::fflush(nullptr);
  std::_Exit(DisplayLostExitCode);
}

void TApplication::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::ShowException(const std::exception& exception) {
  const std::string message = exception.what();
  if (display_) {
    display_(message);
  } else {
    ShowErrorBox(message);
  }
}

void TApplication::SetExceptionDisplay(ExceptionDisplay display) {
  display_ = std::move(display);
}

void TApplication::ShowErrorBox(const std::string& message) {
  QString caption = QString::fromLocal8Bit(title_.c_str());
  if (caption.isEmpty()) {
    caption = QCoreApplication::applicationName();
  }
  QMessageBox::critical(mainForm_, caption, QString::fromLocal8Bit(message.c_str()));
}

void TApplication::HandleClick(const TNotifyEvent& handler, TObject* sender) {
  ++handlerDepth_;
  try {
    if (handler) {
      handler(sender);
    }
  } catch (const std::exception& exception) {
    ShowException(exception);
  } catch (...) {
    ShowException(Exception(""));
  }
  --handlerDepth_;
  if (handlerDepth_ == 0 && mainForm_ != nullptr && mainForm_->ClosePending()) {
    mainForm_->Close();
  }
}

void TApplication::MainFormClosed() {
  if (running_) {
    QCoreApplication::exit(0);
  }
}
