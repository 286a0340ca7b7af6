#include "framework/controls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QPalette>
#include <QString>

#include "framework/application.h"

namespace {

QString FromLocal8Bit(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
}
std::string ToLocal8Bit(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

}  // namespace

QColor ColorToQColor(TColor color) {
  const auto value = static_cast<std::uint32_t>(color);
  if ((value & 0xFF000000u) == 0xFF000000u) {
    const QPalette palette = QApplication::palette();
    switch (value & 0xFFu) {
      case 8:  // window text
        return palette.color(QPalette::WindowText);
      case 15:  // button face
        return palette.color(QPalette::Button);
      default:
        return palette.color(QPalette::Window);
    }
  }
  return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                static_cast<int>((value >> 16) & 0xFFu));
}

TForm::TForm(QWidget* parent) : QWidget(parent) {
  SetColor(clBtnFace);
}

std::string TForm::Caption() const {
  return ToLocal8Bit(windowTitle());
}

void TForm::SetCaption(const std::string& caption) {
  setWindowTitle(FromLocal8Bit(caption));
}

void TForm::SetColor(TColor color) {
  color_ = color;
  QPalette pal = palette();
  pal.setColor(QPalette::Window, ColorToQColor(color));
  setPalette(pal);
  setAutoFillBackground(true);
  repaint();
}

void TForm::Close() {
  close();
}

void TForm::closeEvent(QCloseEvent* event) {
  const bool isMain = Application->MainForm() == this;
  if (isMain && Application->HandlerDepth() > 0) {
    // Carried out by the application object when the outermost handler returns.
    closePending_ = true;
    event->ignore();
    return;
  }
  closePending_ = false;
  event->accept();
  if (isMain) {
    Application->MainFormClosed();
  }
}

TButton::TButton(QWidget* parent) : QPushButton(parent) {
  QObject::connect(this, &QPushButton::clicked, this,
                   [this] { Application->HandleClick(onClick_, this); });
}

std::string TButton::Caption() const {
  return ToLocal8Bit(text());
}

void TButton::SetCaption(const std::string& caption) {
  setText(FromLocal8Bit(caption));
  repaint();
}

void TButton::SetEnabled(bool enabled) {
  setEnabled(enabled);
  repaint();
}

void TButton::SetFontColor(TColor color) {
  fontColor_ = color;
  QPalette pal = palette();
  pal.setColor(QPalette::ButtonText, ColorToQColor(color));
  setPalette(pal);
  repaint();
}

std::string TEdit::Text() const {
  return ToLocal8Bit(text());
}

void TEdit::SetText(const std::string& text) {
  setText(FromLocal8Bit(text));
  // QLineEdit leaves the cursor, and with it the view, at the end of a new text; a 500-digit
  // reading would show only its trailing zeros.
  setCursorPosition(0);
  repaint();
}

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
}

std::string TComboBox::Text() const {
  return ToLocal8Bit(currentText());
}

void TComboBox::SetText(const std::string& text) {
  setEditText(FromLocal8Bit(text));
  repaint();
}

void TComboBox::AddItem(const std::string& item) {
  addItem(FromLocal8Bit(item));
}

std::vector<std::string> TComboBox::Items() const {
  std::vector<std::string> items;
  for (int i = 0; i < count(); ++i) {
    items.push_back(ToLocal8Bit(itemText(i)));
  }
  return items;
}

std::string TLabel::Caption() const {
  return ToLocal8Bit(text());
}

void TLabel::SetCaption(const std::string& caption) {
  setText(FromLocal8Bit(caption));
  Fit();
  repaint();
}

void TLabel::SetAutoSize(bool autoSize) {
  autoSize_ = autoSize;
  Fit();
}

void TLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    Fit();
  }
}

void TLabel::Fit() {
  if (autoSize_) {
    resize(sizeHint());
  }
}
