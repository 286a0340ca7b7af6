#include "framework/application.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

#include "framework/qt/native.h"

struct TApplication::Native {
  int argc = 1;
  char programName[5] = {'p', 'a', 'v', 'o', '\0'};
  char* argv[2] = {programName, nullptr};
  std::unique_ptr<QApplication> ownedQApplication;
};

namespace {
TApplication theApplication;
}  // namespace

TApplication* Application = &theApplication;

TApplication::TApplication() : native_(std::make_unique<Native>()) {}

TApplication::~TApplication() {
  DestroyForms();
  // Without Finalize this runs after main, when Qt's own statics may be gone already:
  // leave the Qt application to the operating system then.
  static_cast<void>(native_->ownedQApplication.release());
}

void TApplication::Finalize() {
  DestroyForms();
  native_->ownedQApplication.reset();
}

void TApplication::Initialize() {
  if (QCoreApplication::instance() == nullptr) {
    native_->ownedQApplication = std::make_unique<QApplication>(native_->argc, native_->argv);
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

void TApplication::Run() {
  if (mainForm_ == nullptr) {
    return;
  }
  mainForm_->Show();
  running_ = true;
  QApplication::exec();
  running_ = false;
}

void TApplication::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::ShowErrorBox(const std::string& message) {
  QString caption = QString::fromLocal8Bit(title_.c_str());
  if (caption.isEmpty()) {
    caption = QCoreApplication::applicationName();
  }
  QWidget* parent = mainForm_ != nullptr ? NativeWidget(mainForm_) : nullptr;
  QMessageBox::critical(parent, caption, QString::fromLocal8Bit(message.c_str()));
}

void TApplication::MainFormClosed() {
  if (running_) {
    QCoreApplication::exit(0);
  }
}
