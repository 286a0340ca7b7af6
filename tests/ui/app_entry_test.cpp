#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "app/entry.h"
#include "framework/application.h"
#include "framework/qt/native.h"
#include "ui/unit1.h"

namespace {

// The window comes up titled by its own caption under the application's name, with the
// program's icon, and the exit button ends the loop with code 0, the window destroyed with
// the application. The steps run once the window is up; a loop they have not ended within
// 10 s ends with code 2.
TEST(AppEntry, ExitClickEndsTheLoopWithCodeZero) {
  bool shown = false;
  QString caption;
  QImage icon;
  QPointer<QWidget> window;
  QObject watchdog;  // its timer goes with it
  QTimer::singleShot(10000, &watchdog, [] { QCoreApplication::exit(2); });
  QTimer::singleShot(0, qApp, [&] {
    ASSERT_NE(Form1, nullptr);
    window = NativeWidget(Form1);
    shown = Form1->Visible();
    caption = NativeWidget(Form1)->windowHandle()->title();
    icon = window->windowIcon().pixmap(48).toImage();
    QTest::mouseClick(NativeWidget(Form1->Button4), Qt::LeftButton);
    // The close takes effect once the click has been handled.
    EXPECT_FALSE(Form1->Visible());
  });
  EXPECT_EQ(PavoMain(), 0);
  EXPECT_TRUE(shown);
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

// Qt's Wayland platform ends the process itself once its compositor has gone, right after
// saying so; heard on the window's thread, the program ends as on a lost display instead:
// the display-lost handler runs and the status is DisplayLostExitCode. (Said here on the
// offscreen platform, which goes on; a program that does not end within 10 s ends 0.)
TEST(AppEntryDeathTest, TheWaylandConnectionBreakingEndsTheProgramAsALostDisplay) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        QTimer::singleShot(0, qApp, [] {
          qWarning("The Wayland connection broke. Did the Wayland compositor die?");
        });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(0); });
        std::exit(PavoMain());
      },
      ::testing::ExitedWithCode(TApplication::DisplayLostExitCode), "Wayland connection broke");
}

}  // namespace
