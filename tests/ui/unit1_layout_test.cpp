#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QSet>
#include <QTest>
#include <map>
#include <string>
#include <vector>

#include "ui/unit1.h"

namespace {

const char* const kComponentNames[] = {"Button1", "Button4", "Edit1",   "ComboBox1",
                                       "Edit2",   "Edit3",   "Button2", "Label1"};

// The component a widget belongs to (an editable combo box focuses its inner line edit).
std::string ComponentOf(QWidget* widget, const QWidget& form) {
  for (; widget != nullptr && widget != &form; widget = widget->parentWidget()) {
    for (const char* name : kComponentNames) {
      if (widget->objectName() == QLatin1String(name)) {
        return name;
      }
    }
  }
  return "(none)";
}

class Unit1Layout : public ::testing::Test {
 protected:
  TForm1 form;
};

TEST_F(Unit1Layout, FieldsAreTheEightComponentsInOrder) {
  const std::vector<QWidget*> fields = {form.Button1, form.Button4, form.Edit1,   form.ComboBox1,
                                        form.Edit2,   form.Edit3,   form.Button2, form.Label1};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    ASSERT_NE(fields[i], nullptr) << kComponentNames[i];
    EXPECT_EQ(fields[i]->objectName(), QLatin1String(kComponentNames[i]));
    EXPECT_EQ(fields[i]->parentWidget(), &form);
  }
  // Declaration order of the fields.
  const void* addresses[] = {&form.Button1, &form.Button4, &form.Edit1,   &form.ComboBox1,
                             &form.Edit2,   &form.Edit3,   &form.Button2, &form.Label1};
  for (std::size_t i = 1; i < std::size(addresses); ++i) {
    EXPECT_LT(addresses[i - 1], addresses[i]) << kComponentNames[i];
  }
  // Nothing else on the form.
  EXPECT_EQ(form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 8);
  // The run-time classes.
  EXPECT_NE(dynamic_cast<TButton*>(form.findChild<QWidget*>("Button1")), nullptr);
  EXPECT_NE(dynamic_cast<TButton*>(form.findChild<QWidget*>("Button4")), nullptr);
  EXPECT_NE(dynamic_cast<TButton*>(form.findChild<QWidget*>("Button2")), nullptr);
  EXPECT_NE(dynamic_cast<TEdit*>(form.findChild<QWidget*>("Edit1")), nullptr);
  EXPECT_NE(dynamic_cast<TEdit*>(form.findChild<QWidget*>("Edit2")), nullptr);
  EXPECT_NE(dynamic_cast<TEdit*>(form.findChild<QWidget*>("Edit3")), nullptr);
  EXPECT_NE(dynamic_cast<TComboBox*>(form.findChild<QWidget*>("ComboBox1")), nullptr);
  EXPECT_NE(dynamic_cast<TLabel*>(form.findChild<QWidget*>("Label1")), nullptr);
}

TEST_F(Unit1Layout, WindowCaptionPlaceSizeAndColour) {
  EXPECT_EQ(form.objectName(), QStringLiteral("Form1"));
  EXPECT_EQ(form.Caption(), "Form1");
  EXPECT_EQ(form.pos(), QPoint(147, 286));
  EXPECT_EQ(form.size(), QSize(353, 257));
  EXPECT_EQ(form.Color(), clBtnFace);
  EXPECT_TRUE(form.autoFillBackground());
  EXPECT_EQ(form.palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
}

TEST_F(Unit1Layout, GeometryOfEveryComponent) {
  const std::map<std::string, QRect> expected = {
      {"Button1", QRect(256, 24, 83, 57)}, {"Button4", QRect(184, 160, 145, 33)},
      {"Edit1", QRect(32, 40, 209, 21)},   {"ComboBox1", QRect(56, 8, 57, 21)},
      {"Edit2", QRect(32, 72, 121, 21)},   {"Edit3", QRect(32, 96, 121, 21)},
      {"Button2", QRect(248, 96, 75, 25)},
  };
  for (const auto& [name, rect] : expected) {
    auto* widget = form.findChild<QWidget*>(QString::fromStdString(name));
    ASSERT_NE(widget, nullptr) << name;
    EXPECT_EQ(widget->geometry(), rect) << name;
  }
  // The label keeps its place and takes the size of its caption, shown in full.
  EXPECT_EQ(form.Label1->pos(), QPoint(192, 104));
  EXPECT_TRUE(form.Label1->AutoSize());
  EXPECT_EQ(form.Label1->size(), form.Label1->sizeHint());
  EXPECT_GE(form.Label1->width(),
            form.Label1->fontMetrics().horizontalAdvance(QStringLiteral("Single")));
  // Still so once the window is shown.
  form.show();
  EXPECT_EQ(form.Button4->geometry(), QRect(184, 160, 145, 33));
  EXPECT_EQ(form.ComboBox1->geometry(), QRect(56, 8, 57, 21));
}

TEST_F(Unit1Layout, TextsAndPortItems) {
  EXPECT_EQ(form.Button1->Caption(), "UID");
  EXPECT_EQ(form.Button4->Caption(), "exit");
  EXPECT_EQ(form.Button2->Caption(), "Start");
  EXPECT_EQ(form.Label1->Caption(), "Single");
  EXPECT_EQ(form.Edit1->Text(), "Edit1");
  EXPECT_EQ(form.Edit2->Text(), "Edit2");
  EXPECT_EQ(form.Edit3->Text(), "Edit3");
  EXPECT_EQ(form.ComboBox1->Text(), "01");
  EXPECT_EQ(form.ComboBox1->Items(), (std::vector<std::string>{"01", "02"}));
  EXPECT_TRUE(form.ComboBox1->isEditable());
  EXPECT_TRUE(form.Button1->Enabled());
  EXPECT_TRUE(form.Button2->Enabled());
}

TEST_F(Unit1Layout, PortBoxTakesTypedAndChosenText) {
  form.show();
  form.ComboBox1->setFocus();
  form.ComboBox1->lineEdit()->selectAll();
  QTest::keyClicks(form.ComboBox1->lineEdit(), "257");
  EXPECT_EQ(form.ComboBox1->Text(), "257");
  QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(form.ComboBox1->count(), 2);  // typing adds no items
  form.ComboBox1->setCurrentIndex(1);
  EXPECT_EQ(form.ComboBox1->Text(), "02");
  form.ComboBox1->SetText("");
  EXPECT_EQ(form.ComboBox1->Text(), "");
}

TEST_F(Unit1Layout, TabOrderFollowsTheStoredTable) {
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.Button1->setFocus();
  std::vector<std::string> order = {ComponentOf(QApplication::focusWidget(), form)};
  for (int i = 0; i < 7; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(ComponentOf(QApplication::focusWidget(), form));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Button1", "Button4", "Edit1", "ComboBox1", "Edit2",
                                             "Edit3", "Button2", "Button1"}));
  EXPECT_EQ(form.Label1->focusPolicy(), Qt::NoFocus);
}

TEST_F(Unit1Layout, WindowFontAndButton2sOwnFont) {
  const QFont windowFont = form.font();
  EXPECT_EQ(windowFont.family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(windowFont.pixelSize(), 11);
  EXPECT_FALSE(windowFont.bold());
  EXPECT_FALSE(windowFont.italic());
  for (QWidget* widget :
       std::vector<QWidget*>{form.Button1, form.Button4, form.Edit1, form.ComboBox1, form.Edit2,
                             form.Edit3, form.Label1}) {
    EXPECT_EQ(widget->font().pixelSize(), 11) << widget->objectName().toStdString();
    EXPECT_EQ(widget->font().family(), QStringLiteral("MS Sans Serif"));
  }
  const QFont own = form.Button2->font();
  EXPECT_EQ(own.family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(own.pixelSize(), 13);
  EXPECT_FALSE(own.bold());
  EXPECT_EQ(form.Button2->FontColor(), clWindowText);
  // A missing face falls back to an installed one of the requested size.
  EXPECT_FALSE(QFontInfo(windowFont).family().isEmpty());
  EXPECT_EQ(QFontInfo(windowFont).pixelSize(), 11);
  EXPECT_EQ(QFontInfo(own).pixelSize(), 13);
}

}  // namespace
