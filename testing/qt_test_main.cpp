// Test entry for everything that uses Qt: an offscreen QApplication and a fixed locale,
// so texts and pixels are the same on every machine. PAVO_TEST_LOCALE picks another
// locale (e.g. fi_FI.UTF-8) for the cases that check regional formats; it must be
// installed (scripts/setup does), as it would be on a user's machine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QPalette>
#include <clocale>
#include <cstdio>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QByteArray locale = qgetenv("PAVO_TEST_LOCALE");
  if (!locale.isEmpty() && std::setlocale(LC_ALL, locale.constData()) == nullptr) {
    std::fprintf(stderr, "the locale %s is not installed (scripts/setup installs it)\n",
                 locale.constData());
    return 1;
  }
  qputenv("LC_ALL", locale.isEmpty() ? QByteArray("C") : locale);
  ::testing::InitGoogleTest(&argc, argv);
  static QApplication* app = new QApplication(argc, argv);
  // Text in boxes in a colour of its own, as some desktop themes have it: the window asks for
  // the window text colour (clWindowText) everywhere, and the tests can tell the two apart.
  QPalette palette = QApplication::palette();
  palette.setColor(QPalette::Text, QColor(0x20, 0x20, 0x80));
  QApplication::setPalette(palette);
  const int result = RUN_ALL_TESTS();
  // As the program does (TApplication::Finalize): Qt 6.4's Wayland platform can deadlock
  // while it is taken down, so there the application is left to the operating system.
  if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    delete app;
  }
  return result;
}
