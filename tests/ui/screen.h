// What the platform shows of a window: the window's backing store as the offscreen
// platform presents it (QScreen::grabWindow), not a fresh rendering of the widgets, so a
// control that was changed but not yet painted shows its old look here. Grabs are compared
// with other grabs of the same box on the same machine, which keeps fonts and
// anti-aliasing out of the comparison.
#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>

namespace screen {

// Lets what is pending be painted, as the message loop would.
inline void Settle() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

// Shows the window and waits until the platform shows its first frame.
inline void Show(QWidget* window) {
  window->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
  Settle();
}

// The box of a control as the platform shows it now.
inline QImage Shown(const QWidget* control) {
  const QWidget* window = control->window();
  const QPoint at = control->mapTo(window, QPoint(0, 0));
  return window->screen()
      ->grabWindow(window->winId(), at.x(), at.y(), control->width(), control->height())
      .toImage();
}

// How many pixels are clearly of the colour that dominates in `channel` (0 red, 1 green).
inline int Tinted(const QImage& image, int channel) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      const int main = channel == 0 ? c.red() : c.green();
      const int other = channel == 0 ? std::max(c.green(), c.blue()) : std::max(c.red(), c.blue());
      count += main >= 96 && main - other >= 64;
    }
  }
  return count;
}

}  // namespace screen
