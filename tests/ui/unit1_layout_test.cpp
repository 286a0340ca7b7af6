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

namespace {

TEST(Unit1Layout, EveryControlInItsPlaceWithItsText) {
  TForm1 form;
  QWidget* window = NativeWidget(&form);
  QLabel* label = Native<QLabel>(form.Label1);
  EXPECT_EQ(form.Name(), "Form1");
  EXPECT_EQ(form.Caption(), "Form1");
  EXPECT_EQ(window->pos(), QPoint(147, 286));
  EXPECT_EQ(window->size(), QSize(353, 257));
  EXPECT_EQ(window->palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
  const struct {
    QWidget* control;
    QRect place;
    std::string text;
  } controls[] = {
      {NativeWidget(form.Button1), {256, 24, 83, 57}, form.Button1->Caption()},
      {NativeWidget(form.Button4), {184, 160, 145, 33}, form.Button4->Caption()},
      {NativeWidget(form.Edit1), {32, 40, 209, 21}, form.Edit1->Text()},
      {NativeWidget(form.ComboBox1), {56, 8, 57, 21}, form.ComboBox1->Text()},
      {NativeWidget(form.Edit2), {32, 72, 121, 21}, form.Edit2->Text()},
      {NativeWidget(form.Edit3), {32, 96, 121, 21}, form.Edit3->Text()},
      {NativeWidget(form.Button2), {248, 96, 75, 25}, form.Button2->Caption()},
      // The label takes the size of its caption, shown in full.
      {label, {QPoint(192, 104), label->sizeHint()}, form.Label1->Caption()},
  };
  const char* const texts[] = {"UID", "exit", "Edit1", "01", "Edit2", "Edit3", "Start", "Single"};
  window->show();
  for (std::size_t i = 0; i < std::size(controls); ++i) {
    EXPECT_EQ(controls[i].control->geometry(), controls[i].place) << texts[i];
    EXPECT_EQ(controls[i].text, texts[i]);
    // The window's font, and Button2 a font of its own; no decorations.
    const QFont font = controls[i].control->font();
    EXPECT_EQ(QFontInfo(font).pixelSize(),
              controls[i].control == NativeWidget(form.Button2) ? 13 : 11);
    EXPECT_FALSE(font.bold() || font.italic() || font.underline() || font.strikeOut());
  }
  EXPECT_EQ(form.ComboBox1->Items(), (std::vector<std::string>{"01", "02"}));
  // The label fits its caption again when its font changes.
  QFont larger = label->font();
  larger.setPixelSize(24);
  label->setFont(larger);
  EXPECT_EQ(label->size(), label->sizeHint());
  EXPECT_GT(label->height(), 21);
}

TEST(Unit1Layout, TabFollowsTheStoredOrderAndThePortBoxTakesTypedText) {
  TForm1 form;
  QWidget* window = NativeWidget(&form);
  QComboBox* combo = Native<QComboBox>(form.ComboBox1);
  window->show();
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
