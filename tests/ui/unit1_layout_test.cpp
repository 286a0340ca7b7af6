// The main window as the operator meets it: where each control sits, what it says, its
// font, and where the Tab key leads.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QTest>
#include <string>
#include <vector>

#include "ui/unit1.h"

namespace {

TEST(Unit1Layout, EveryControlInItsPlaceWithItsText) {
  TForm1 form;
  EXPECT_EQ(form.objectName(), QStringLiteral("Form1"));
  EXPECT_EQ(form.Caption(), "Form1");
  EXPECT_EQ(form.pos(), QPoint(147, 286));
  EXPECT_EQ(form.size(), QSize(353, 257));
  EXPECT_EQ(form.palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
  const struct {
    QWidget* control;
    QRect place;
    std::string text;
  } controls[] = {
      {form.Button1, {256, 24, 83, 57}, form.Button1->Caption()},
      {form.Button4, {184, 160, 145, 33}, form.Button4->Caption()},
      {form.Edit1, {32, 40, 209, 21}, form.Edit1->Text()},
      {form.ComboBox1, {56, 8, 57, 21}, form.ComboBox1->Text()},
      {form.Edit2, {32, 72, 121, 21}, form.Edit2->Text()},
      {form.Edit3, {32, 96, 121, 21}, form.Edit3->Text()},
      {form.Button2, {248, 96, 75, 25}, form.Button2->Caption()},
      // The label takes the size of its caption, shown in full.
      {form.Label1, {QPoint(192, 104), form.Label1->sizeHint()}, form.Label1->Caption()},
  };
  const char* const texts[] = {"UID", "exit", "Edit1", "01", "Edit2", "Edit3", "Start", "Single"};
  form.show();
  for (std::size_t i = 0; i < std::size(controls); ++i) {
    EXPECT_EQ(controls[i].control->geometry(), controls[i].place) << texts[i];
    EXPECT_EQ(controls[i].text, texts[i]);
    // The window's font, and Button2 a font of its own; no decorations.
    const QFont font = controls[i].control->font();
    EXPECT_EQ(QFontInfo(font).pixelSize(), controls[i].control == form.Button2 ? 13 : 11);
    EXPECT_FALSE(font.bold() || font.italic() || font.underline() || font.strikeOut());
  }
  EXPECT_EQ(form.ComboBox1->Items(), (std::vector<std::string>{"01", "02"}));
  // The label fits its caption again when its font changes.
  QFont larger = form.Label1->font();
  larger.setPixelSize(24);
  form.Label1->setFont(larger);
  EXPECT_EQ(form.Label1->size(), form.Label1->sizeHint());
  EXPECT_GT(form.Label1->height(), 21);
}

TEST(Unit1Layout, TabFollowsTheStoredOrderAndThePortBoxTakesTypedText) {
  TForm1 form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.Button1->setFocus();
  std::vector<QWidget*> order;
  for (int i = 0; i < 7; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    order.push_back(focus->parentWidget() == form.ComboBox1 ? form.ComboBox1 : focus);
  }
  EXPECT_EQ(order, (std::vector<QWidget*>{form.Button4, form.Edit1, form.ComboBox1, form.Edit2,
                                          form.Edit3, form.Button2, form.Button1}));

  form.ComboBox1->setFocus();
  form.ComboBox1->lineEdit()->selectAll();
  QTest::keyClicks(form.ComboBox1->lineEdit(), "257");
  QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(form.ComboBox1->Text(), "257");
  EXPECT_EQ(form.ComboBox1->count(), 2);  // typing adds no items
  form.ComboBox1->setCurrentIndex(1);
  EXPECT_EQ(form.ComboBox1->Text(), "02");
}

}  // namespace
