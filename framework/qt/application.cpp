#include "framework/application.h"

#include "framework/frontend.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QByteArray>
#include <QDirIterator>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QString>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdint>
#include <cstdlib>

#include "framework/qt/native.h"

struct TApplication::Native {
  int argc = 1;
  char programName[5] = {'p', 'a', 'v', 'o', '\0'};
  char* argv[2] = {programName, nullptr};
  std::unique_ptr<QApplication> ownedQApplication;
  std::unique_ptr<QAbstractNativeEventFilter> windowWatch;
};

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

// The main window has been destroyed from outside: the application is to end. Closed from
// the event loop rather than from inside the toolkit's event filter; a running handler sees
// Terminated() and returns first.
void MainWindowDestroyed(TApplication& application) {
  if (application.WindowLost()) {
    return;
  }
  ApplicationFrontEnd::MarkWindowLost(application);
  QTimer::singleShot(0, NativeWidget(application.MainForm()), [&application] {
    if (application.MainForm() != nullptr) {
      application.MainForm()->Close();
    }
  });
}

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
    const WId window = main != nullptr ? NativeWidget(main)->internalWinId() : 0;
    if ((event->responseType & ~XcbSentEventBit) == XcbDestroyNotifyType && window != 0 &&
        event->window == window) {
      MainWindowDestroyed(application_);
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
    TApplication* application = runningApplication;
    runningApplication = nullptr;
    ApplicationFrontEnd::EndAfterDisplayLost(*application);
  }
}

// Qt's Wayland platform ends the process itself when its connection to the compositor
// breaks: _exit right after this warning, without exit's handlers, with status 1 from its
// event thread in Qt 6.4 and with status 255 from the GUI thread in later versions. Seen on
// the GUI thread, the program ends as it does when an X display is lost.
QtMessageHandler toolkitMessages = nullptr;
void WatchToolkitMessages(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
  toolkitMessages(type, context, message);
  if (type == QtWarningMsg && message.startsWith(QLatin1String("The Wayland connection")) &&
      QThread::currentThread() == QCoreApplication::instance()->thread()) {
    EndedInsideRun();
  }
}

}  // namespace

TApplication* Application = &theApplication;

TApplication::TApplication() : native_(std::make_unique<Native>()) {}

TApplication::~TApplication() {
  if (runningApplication == this) {
    runningApplication = nullptr;
  }
  DestroyForms();
  // Without Finalize this runs after main, when Qt's own statics may be gone already:
  // leave the Qt application to the operating system then.
  static_cast<void>(native_->ownedQApplication.release());
}

void TApplication::Finalize() {
  if (native_->windowWatch != nullptr && QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeNativeEventFilter(native_->windowWatch.get());
  }
  native_->windowWatch.reset();
  DestroyForms();
  // Qt 6.4's Wayland platform can deadlock while it is taken down: the display waits for
  // its event thread, which waits for a read that never comes, and the program would hang
  // with its window gone. There the Qt application is left to the operating system.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    static_cast<void>(native_->ownedQApplication.release());
  }
  native_->ownedQApplication.reset();
}

void TApplication::Initialize() {
#ifdef SIGPIPE
  // A write to a display connection that the X server has already closed would end the
  // process by SIGPIPE, before the toolkit sees the broken connection and ends it through
  // exit, where the port is released and the exit status tells the display was lost.
  // Ignored, the write fails and the toolkit finds out. (Pipes and sockets of our own then
  // fail their writes with EPIPE too, which is reported like any other write failure.)
  std::signal(SIGPIPE, SIG_IGN);
#endif
  if (QCoreApplication::instance() == nullptr) {
    native_->ownedQApplication = std::make_unique<QApplication>(native_->argc, native_->argv);
  }
  // The main form alone decides when the application ends; closing an error box with no
  // other window visible must not end it.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  // The program's icon on its windows, in every size the program carries among its
  // resources (app/icon/pavo.qrc); a program without one keeps the toolkit's.
  QIcon icon;
  for (QDirIterator sizes(QStringLiteral(":/application-icon")); sizes.hasNext();) {
    icon.addFile(sizes.next());
  }
  if (!icon.isNull()) {
    QApplication::setWindowIcon(icon);
  }
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  const QString name = QString::fromLocal8Bit(title.c_str());
  // The name, not a display name: Qt appends a display name to every window caption.
  QCoreApplication::setApplicationName(name);
  QGuiApplication::setDesktopFileName(name);
}

void TApplication::Run() {
  if (mainForm_ == nullptr) {
    return;
  }
  static const bool endWatched = std::atexit(EndedInsideRun) == 0;
  static_cast<void>(endWatched);
  // Whatever the platform: only the Wayland platform says this, and elsewhere the watch
  // passes every message on unchanged.
  if (toolkitMessages == nullptr) {
    toolkitMessages = qInstallMessageHandler(WatchToolkitMessages);
  }
  if (native_->windowWatch == nullptr) {
    native_->windowWatch = std::make_unique<MainWindowWatch>(*this);
    QCoreApplication::instance()->installNativeEventFilter(native_->windowWatch.get());
  }
  mainForm_->Show();
  running_ = true;
  runningApplication = this;
  QApplication::exec();
  runningApplication = nullptr;
  running_ = false;
}

void TApplication::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace {

// A box over the main form (or alone, before there is one) captioned with the title.
QMessageBox::StandardButton ShowBox(TForm* mainForm, const std::string& title,
                                    QMessageBox::Icon icon, const std::string& message,
                                    QMessageBox::StandardButtons buttons) {
  QString caption = QString::fromLocal8Bit(title.c_str());
  if (caption.isEmpty()) {
    caption = QCoreApplication::applicationName();
  }
  QMessageBox box(icon, caption, QString::fromLocal8Bit(message.c_str()), buttons,
                  mainForm != nullptr ? NativeWidget(mainForm) : nullptr);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void TApplication::ShowErrorBox(const std::string& message) {
  ShowBox(mainForm_, title_, QMessageBox::Critical, message, QMessageBox::Ok);
}

bool TApplication::AskRetry(const std::string& message) {
  return ShowBox(mainForm_, title_, QMessageBox::Warning, message,
                 QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
}
