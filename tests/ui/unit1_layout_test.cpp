// The main window as the operator meets it: where each control sits, what it says, its
// font, and where the Tab key leads.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <string>
#include <vector>

#include "framework/qt/native.h"
#include "ui/unit1.h"
#include "ui/unit1_layout.h"

namespace {

// Each control where the stored layout puts it, with its stored text, inside the client
// area and clear of the others, in its font's pixel size without decorations; the label
// takes the size of its caption, shown in full, also when its font changes. Tab follows the
// stored order, and the port box takes typed text.
TEST(Unit1Layout, EveryControlInItsStoredPlaceInsideTheWindowAndClearOfTheOthers) {
  TForm1 form;
  QWidget* window = NativeWidget(&form);
  const TFormDesc& layout = Form1Layout();
  window->show();
  EXPECT_EQ(QRect(window->pos(), window->size()),
            QRect(layout.left, layout.top, layout.width, layout.height));
  EXPECT_EQ(window->palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
  std::vector<QRect> taken;
  for (const TComponentDesc& desc : layout.components) {
    QWidget* control = NativeWidget(FindComponent<TControl>(form, desc.name));
    auto* label = qobject_cast<QLabel*>(control);
    const QRect place(desc.left, desc.top, label ? label->sizeHint().width() : desc.width,
                      label ? label->sizeHint().height() : desc.height);
    EXPECT_EQ(control->geometry(), place) << desc.name;
    EXPECT_TRUE(window->rect().contains(place)) << desc.name;
    for (const QRect& other : taken) {
      EXPECT_FALSE(other.intersects(place)) << desc.name;
    }
    taken.push_back(place);
    const auto* combo = qobject_cast<QComboBox*>(control);
    EXPECT_EQ(combo ? combo->currentText() : control->property("text").toString(),
              QString::fromStdString(desc.text));
    const QFont font = control->font();
    EXPECT_EQ(QFontInfo(font).pixelSize(), -(desc.font ? *desc.font : layout.font).height)
        << desc.name;
    EXPECT_FALSE(font.bold() || font.italic() || font.underline() || font.strikeOut());
  }
  EXPECT_EQ(form.ComboBox1->Items(), (std::vector<std::string>{"01", "02"}));
  QLabel* label = Native<QLabel>(form.Label1);
  QFont larger = label->font();
  larger.setPixelSize(24);
  label->setFont(larger);
  EXPECT_EQ(label->size(), label->sizeHint());
  EXPECT_GT(label->height(), 21);

  QComboBox* combo = Native<QComboBox>(form.ComboBox1);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  NativeWidget(form.Button1)->setFocus();
  std::vector<QWidget*> order;
  for (int i = 0; i < 7; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    order.push_back(focus->parentWidget() == combo ? combo : focus);
  }
  EXPECT_EQ(order, (std::vector<QWidget*>{NativeWidget(form.Button4), NativeWidget(form.Edit1),
                                          combo, NativeWidget(form.Edit2), NativeWidget(form.Edit3),
                                          NativeWidget(form.Button2), NativeWidget(form.Button1)}));

  combo->setFocus();
  combo->lineEdit()->selectAll();
  QTest::keyClicks(combo->lineEdit(), "257");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(form.ComboBox1->Text(), "257");
  EXPECT_EQ(combo->count(), 2);  // typing adds no items
  combo->setCurrentIndex(1);
  EXPECT_EQ(form.ComboBox1->Text(), "02");
}

}  // namespace
