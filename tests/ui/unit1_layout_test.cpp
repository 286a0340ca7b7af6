// The main window as the Qt front end shows it: places, texts, fonts, tab order.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLineEdit>
#include <QTest>
#include <map>
#include <string>
#include <vector>

#include "framework/qt/native.h"
#include "ui/unit1.h"

namespace {

// The component a widget belongs to (an editable combo box focuses its inner line edit).
std::string ComponentOf(QWidget* widget, const TForm& form) {
  for (; widget != nullptr && widget != NativeWidget(&form); widget = widget->parentWidget()) {
    for (TControl* control : form.Components()) {
      if (NativeWidget(control) == widget) {
        return control->Name();
      }
    }
  }
  return "(none)";
}

class Unit1Layout : public ::testing::Test {
 protected:
  TForm1 form;
  QWidget* window = NativeWidget(&form);
};

TEST_F(Unit1Layout, WindowAndComponentsAtTheirPlaces) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Form1"));
  EXPECT_EQ(window->pos(), QPoint(147, 286));
  EXPECT_EQ(window->size(), QSize(353, 257));
  EXPECT_EQ(window->palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
  const std::map<std::string, QRect> expected = {
      {"Button1", QRect(256, 24, 83, 57)}, {"Button4", QRect(184, 160, 145, 33)},
      {"Edit1", QRect(32, 40, 209, 21)},   {"ComboBox1", QRect(56, 8, 57, 21)},
      {"Edit2", QRect(32, 72, 121, 21)},   {"Edit3", QRect(32, 96, 121, 21)},
      {"Button2", QRect(248, 96, 75, 25)},
  };
  form.Show();
  ASSERT_EQ(form.Components().size(), 8u);
  for (TControl* control : form.Components()) {
    QWidget* widget = NativeWidget(control);
    EXPECT_EQ(widget->parentWidget(), window) << control->Name();
    const auto rect = expected.find(control->Name());
    if (rect != expected.end()) {
      EXPECT_EQ(widget->geometry(), rect->second) << control->Name();
    }
  }
  // The label keeps its place and takes the size of its caption, shown in full.
  QWidget* label = NativeWidget(form.Label1);
  EXPECT_EQ(label->pos(), QPoint(192, 104));
  EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(QStringLiteral("Single")));
}

TEST_F(Unit1Layout, TextsAndPortBox) {
  EXPECT_EQ(form.Button1->Caption(), "UID");
  EXPECT_EQ(form.Button4->Caption(), "exit");
  EXPECT_EQ(form.Button2->Caption(), "Start");
  EXPECT_EQ(form.Label1->Caption(), "Single");
  EXPECT_EQ(form.Edit1->Text(), "Edit1");
  EXPECT_EQ(form.Edit2->Text(), "Edit2");
  EXPECT_EQ(form.Edit3->Text(), "Edit3");
  EXPECT_EQ(form.ComboBox1->Text(), "01");
  EXPECT_EQ(form.ComboBox1->Items(), (std::vector<std::string>{"01", "02"}));
  // The operator types any text or picks an item; typing adds no items.
  auto* combo = Native<QComboBox>(form.ComboBox1);
  form.Show();
  combo->setFocus();
  combo->lineEdit()->selectAll();
  QTest::keyClicks(combo->lineEdit(), "257");
  EXPECT_EQ(form.ComboBox1->Text(), "257");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(combo->count(), 2);
  combo->setCurrentIndex(1);
  EXPECT_EQ(form.ComboBox1->Text(), "02");
}

TEST_F(Unit1Layout, TabOrderFollowsTheStoredTable) {
  form.Show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  NativeWidget(form.Button1)->setFocus();
  std::vector<std::string> order = {ComponentOf(QApplication::focusWidget(), form)};
  for (int i = 0; i < 7; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(ComponentOf(QApplication::focusWidget(), form));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Button1", "Button4", "Edit1", "ComboBox1", "Edit2",
                                             "Edit3", "Button2", "Button1"}));
  EXPECT_EQ(NativeWidget(form.Label1)->focusPolicy(), Qt::NoFocus);
}

TEST_F(Unit1Layout, WindowFontAndButton2sOwnFont) {
  for (TControl* control : form.Components()) {
    const QFont font = NativeWidget(control)->font();
    EXPECT_EQ(font.family(), QStringLiteral("MS Sans Serif")) << control->Name();
    EXPECT_EQ(font.pixelSize(), control == form.Button2 ? 13 : 11) << control->Name();
    EXPECT_FALSE(font.bold());
    // A missing face falls back to an installed one of the requested size.
    EXPECT_EQ(QFontInfo(font).pixelSize(), font.pixelSize());
  }
}

}  // namespace
