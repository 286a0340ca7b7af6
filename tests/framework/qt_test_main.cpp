// Test entry for everything that uses Qt: an offscreen QApplication and a fixed locale,
// so texts and pixels are the same on every machine. PAVO_TEST_LOCALE picks another
// locale (e.g. de_DE.UTF-8) for the cases that check regional formats.
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QByteArray locale = qgetenv("PAVO_TEST_LOCALE");
  qputenv("LC_ALL", locale.isEmpty() ? QByteArray("C") : locale);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
