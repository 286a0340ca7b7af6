// The window's test support on Qt: what the offscreen platform shows is the window's backing
// store as it presents it (QScreen::grabWindow). A Wayland client cannot read the screen
// (grabWindow gives it an empty picture): there a grab is the same backing store read
// directly, the shared-memory buffer the window last handed the compositor to show.
#include "testing/screen.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QBackingStore>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "framework/qt/native.h"

namespace screen {

void Show(TForm* form) {
  QWidget* window = NativeWidget(form);
  window->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
  QCoreApplication::processEvents();
}

Image Shown(const TControl* control) {
  const QWidget* widget = NativeWidget(control);
  const QWidget* window = widget->window();
  const QRect box(widget->mapTo(window, QPoint(0, 0)), widget->size());
  QImage grab;
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    // Outside a paint the backing store's device is the buffer last painted and handed the
    // compositor, not a fresh rendering: what has not been painted yet is missing from it, as
    // from the screen.
    QBackingStore* store = window->backingStore();
    QPaintDevice* shown = store != nullptr ? store->paintDevice() : nullptr;
    if (shown != nullptr && shown->devType() == QInternal::Image) {
      grab = static_cast<const QImage*>(shown)->copy(box);
    }
  } else {
    grab = window->screen()
               ->grabWindow(window->winId(), box.x(), box.y(), box.width(), box.height())
               .toImage();
  }
  EXPECT_FALSE(grab.isNull()) << "nothing of the window to look at";
  Image image{grab.width(), grab.height(), {}};
  for (int y = 0; y < grab.height(); ++y) {
    for (int x = 0; x < grab.width(); ++x) {
      image.pixels.push_back(grab.pixel(x, y) & 0xFFFFFFu);
    }
  }
  return image;
}

void ProcessEvents() {
  QCoreApplication::processEvents();
}

void PostClick(TButton* button) {
  QMetaObject::invokeMethod(NativeWidget(button), "click", Qt::QueuedConnection);
}

void PostClose(TForm* form) {
  QMetaObject::invokeMethod(NativeWidget(form), "close", Qt::QueuedConnection);
}

void Focus(TControl* control) {
  NativeWidget(control)->setFocus(Qt::TabFocusReason);
}

bool HasFocus(const TControl* control) {
  const QWidget* widget = NativeWidget(control);
  return widget->window()->focusWidget() == widget;
}

void ScrollEdit(TEdit* edit, bool toEnd) {
  auto* box = Native<QLineEdit>(edit);
  if (toEnd) {
    box->end(false);
  } else {
    box->setCursorPosition(0);
  }
}

void WatchText(TEdit* edit, std::function<void(const std::string&)> changed) {
  QObject::connect(Native<QLineEdit>(edit), &QLineEdit::textChanged,
                   [changed](const QString& text) { changed(text.toStdString()); });
}

namespace {
const QMessageBox* answeredBox = nullptr;
}  // namespace

void AnswerBoxes(std::function<bool(const std::string& text)> answer) {
  // A box runs a modal loop of its own: the timer's checks run inside it.
  static QTimer* timer = nullptr;
  delete timer;
  timer = nullptr;
  if (!answer) {
    return;
  }
  timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || box->property("answered").toBool()) {
      return;
    }
    box->setProperty("answered", true);
    answeredBox = box;
    const bool retry = answer(box->text().toLocal8Bit().toStdString());
    answeredBox = nullptr;
    // An error box has its OK alone.
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    (ok != nullptr ? ok : box->button(retry ? QMessageBox::Retry : QMessageBox::Cancel))->click();
  });
  timer->start(10);
}

bool BoxBelongsTo(const TForm* form) {
  return answeredBox != nullptr && answeredBox->parentWidget() == NativeWidget(form);
}

std::uint32_t WindowTextColor() {
  return QApplication::palette().color(QPalette::WindowText).rgb() & 0xFFFFFFu;
}

namespace {
std::string AccessibleText(const TControl* control, QAccessible::Text which) {
  QAccessibleInterface* object = QAccessible::queryAccessibleInterface(NativeWidget(control));
  return object != nullptr ? object->text(which).toStdString() : std::string();
}
}  // namespace

std::string AccessibleName(const TControl* control) {
  return AccessibleText(control, QAccessible::Name);
}

std::string AccessibleValue(const TControl* control) {
  return AccessibleText(control, QAccessible::Value);
}

}  // namespace screen
