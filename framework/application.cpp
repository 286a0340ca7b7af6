// The toolkit-independent part of the application object and of the forms: ownership of
// the forms, the exception display, and the close that waits for the running handler.
#include "framework/application.h"

#include <cstdio>
#include <cstdlib>

#include "framework/frontend.h"

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

bool TApplication::Terminated() const {
  return windowLost_ || (mainForm_ != nullptr && mainForm_->ClosePending());
}

void TApplication::SetOnDisplayLost(std::function<void()> handler) {
  onDisplayLost_ = std::move(handler);
}

void ApplicationFrontEnd::EndAfterDisplayLost(TApplication& application) {
  if (application.onDisplayLost_) {
    application.onDisplayLost_();
  }
  std::fflush(nullptr);
  std::_Exit(TApplication::DisplayLostExitCode);
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

bool TForm::CloseQuery() {
  if (Application->MainForm() == this && Application->HandlerDepth() > 0) {
    // Carried out by the application object when the outermost handler returns.
    closePending_ = true;
    return false;
  }
  closePending_ = false;
  return true;
}
