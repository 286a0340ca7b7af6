#include "framework/application.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

namespace {
TApplication theApplication;
}  // namespace

TApplication* Application = &theApplication;

TApplication::TApplication() = default;

TApplication::~TApplication() {
  DestroyForms();
  // Without Finalize this runs after main, when Qt's own statics may be gone already:
  // leave the Qt application to the operating system then.
  static_cast<void>(ownedQApplication_.release());
}

void TApplication::Finalize() {
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
  mainForm_->show();
  running_ = true;
  QApplication::exec();
  running_ = false;
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
