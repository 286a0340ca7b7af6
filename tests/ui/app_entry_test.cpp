#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <string>
#include <vector>

#include "app/entry.h"
#include "framework/application.h"
#include "framework/qt/native.h"
#include "ui/unit1.h"

namespace {

// Runs the process entry with the given steps queued once the window is up; stops the
// loop (and reports it) if the steps do not end it.
struct EntryRun {
  int exitCode = -1;
  bool timedOut = false;
};

EntryRun RunEntry(std::function<void()> steps) {
  EntryRun run;
  QTimer::singleShot(0, qApp, std::move(steps));
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&run] {
    run.timedOut = true;
    QCoreApplication::exit(1);
  });
  watchdog.start(10000);
  run.exitCode = PavoMain();
  return run;
}

using AppEntry = ::testing::Test;

// The window comes up titled by its own caption under the application's name, with the
// program's icon, and the exit button ends the loop with code 0, the window destroyed with
// the application.
TEST_F(AppEntry, ExitClickEndsTheLoopWithCodeZero) {
  bool shown = false;
  bool mainForm = false;
  QString caption;
  QImage icon;
  QPointer<QWidget> window;
  const EntryRun run = RunEntry([&] {
    ASSERT_NE(Form1, nullptr);
    window = NativeWidget(Form1);
    shown = Form1->Visible();
    mainForm = Application->MainForm() == Form1;
    caption = NativeWidget(Form1)->windowHandle()->title();
    icon = window->windowIcon().pixmap(48).toImage();
    QTest::mouseClick(NativeWidget(Form1->Button4), Qt::LeftButton);
    // The close takes effect once the click has been handled.
    EXPECT_FALSE(Form1->Visible());
  });
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(mainForm);
  EXPECT_EQ(caption, QStringLiteral("Form1"));
  // The program's own icon, which the task bar and the window switcher show.
  EXPECT_EQ(icon.convertToFormat(QImage::Format_ARGB32_Premultiplied),
            QImage(":/application-icon/pavo-48.png")
                .convertToFormat(QImage::Format_ARGB32_Premultiplied));
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("pavo"));
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("pavo"));
  EXPECT_TRUE(window.isNull());
  EXPECT_EQ(Form1, nullptr);
  EXPECT_EQ(Application->MainForm(), nullptr);
}

// Closing another window (an error box) while the main one is not shown does not end the
// program: only the main window does.
TEST_F(AppEntry, OnlyTheMainWindowEndsTheProgram) {
  bool stillRunning = false;
  const EntryRun run = RunEntry([&] {
    NativeWidget(Form1)->hide();
    QWidget box;
    box.show();
    box.close();
    QTimer::singleShot(50, qApp, [&] {
      stillRunning = true;
      NativeWidget(Form1)->show();
      Form1->Button4->Click();
    });
  });
  EXPECT_TRUE(stillRunning);
  EXPECT_FALSE(run.timedOut);
}

TEST_F(AppEntry, ClosingFromTheTitleBarEndsTheLoop) {
  const EntryRun run = RunEntry([] {
    NativeWidget(Form1)->windowHandle()->close();
    EXPECT_FALSE(Form1->Visible());
  });
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
}

}  // namespace
