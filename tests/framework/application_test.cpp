#include "framework/application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/qt/native.h"
#include "framework/sysutils.h"

namespace {

// A main form whose handlers log what happens.
class TestForm : public TForm {
 public:
  TButton* ExitButton = new TButton(this);
  TButton* ThrowButton = new TButton(this);
  TButton* CountButton = new TButton(this);

  std::vector<std::string> log;
  int counted = 0;
  std::function<void()> toThrow = [] { throw EConvertError("'' is not a valid integer value"); };

  TestForm() {
    SetBounds(0, 0, 200, 200);
    for (TButton* button : {ExitButton, ThrowButton, CountButton}) {
      button->SetBounds(0, 0, 40, 20);
    }
    ExitButton->SetOnClick(MakeNotify(this, &TestForm::ExitClick));
    ThrowButton->SetOnClick(MakeNotify(this, &TestForm::ThrowClick));
    CountButton->SetOnClick(MakeNotify(this, &TestForm::CountClick));
  }

  void ExitClick(TObject*) {
    log.push_back("exit");
    Close();
  }
  void ThrowClick(TObject*) {
    log.push_back("throw");
    toThrow();
  }
  void CountClick(TObject*) { ++counted; }
};

void Click(TButton* button) {
  QTest::mouseClick(NativeWidget(button), Qt::LeftButton);
}

// Each test gets an application object of its own in place of the process's one.
class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Application;
    Application = &app_;
    app_.Initialize();
    app_.SetExceptionDisplay([this](const std::string& message) { shown_.push_back(message); });
    app_.CreateForm(form_);
  }
  void TearDown() override {
    app_.DestroyForms();
    Application = saved_;
  }
  // Runs the message loop with start queued first; gives up after a few seconds.
  void RunWith(std::function<void()> start) {
    QTimer::singleShot(0, NativeWidget(form_), std::move(start));
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [this] {
      timedOut_ = true;
      QCoreApplication::exit(1);
    });
    watchdog.start(10000);
    app_.Run();
    ASSERT_FALSE(timedOut_) << "the message loop did not end";
  }

  TApplication app_;
  TApplication* saved_ = nullptr;
  TestForm* form_ = nullptr;
  std::vector<std::string> shown_;
  bool timedOut_ = false;
};

TEST_F(ApplicationTest, HandlerExceptionsAreShownAndTheWindowGoesOn) {
  RunWith([this] {
    Click(form_->ThrowButton);
    form_->toThrow = [] { throw std::runtime_error("not ours"); };
    Click(form_->ThrowButton);
    form_->toThrow = [] { throw 42; };
    Click(form_->ThrowButton);
    Click(form_->CountButton);
    EXPECT_EQ(app_.HandlerDepth(), 0);
    EXPECT_TRUE(form_->Visible());
    Click(form_->ExitButton);
  });
  // Framework exceptions with their message, others with what() or nothing.
  EXPECT_EQ(shown_, (std::vector<std::string>{"'' is not a valid integer value", "not ours", ""}));
  EXPECT_EQ(form_->counted, 1);
  EXPECT_EQ(form_->log, (std::vector<std::string>{"throw", "throw", "throw", "exit"}));
}

}  // namespace
