// What the platform shows of a window: its backing store as the offscreen platform presents
// it (QScreen::grabWindow), not a fresh rendering, so a control changed but not yet painted
// shows its old look. Grabs are compared with grabs of the same box on the same machine,
// which keeps fonts and anti-aliasing out of the comparison.
#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include "framework/qt/native.h"

namespace screen {

// Shows the window and waits until the platform shows its first frame.
inline void Show(QWidget* window) {
  window->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
  QCoreApplication::processEvents();
}

// The box of a control as the platform shows it now.
inline QImage Shown(const QWidget* control) {
  const QWidget* window = control->window();
  const QPoint at = control->mapTo(window, QPoint(0, 0));
  return window->screen()
      ->grabWindow(window->winId(), at.x(), at.y(), control->width(), control->height())
      .toImage();
}

// How many pixels are clearly red (channel 0) or green (channel 1).
inline int Tinted(const QImage& image, int channel) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      const int main = channel == 0 ? c.red() : c.green();
      count += main >= 96 && main - std::max(c.blue(), c.red() + c.green() - main) >= 64;
    }
  }
  return count;
}

// Whether some pixel has exactly this colour: a glyph's fully covered pixels are drawn in
// the pen's colour itself, so a channel off by one shows.
inline bool Has(const QImage& image, QColor color) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y).rgb() == color.rgb()) {
        return true;
      }
    }
  }
  return false;
}

inline void Show(TForm* form) {
  Show(NativeWidget(form));
}
inline QImage Shown(const TControl* control) {
  return Shown(NativeWidget(control));
}

}  // namespace screen
