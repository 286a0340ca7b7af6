// The window classes the program is written against, on Qt Widgets.
// Texts are std::string in the local 8-bit encoding.
//
// A property set on a control is painted before the setter returns: click handlers block
// the GUI thread (a single read for up to 0.6 s), and what they set must be on screen
// meanwhile. The changed control is repainted on its own; no other events are dispatched,
// so no other handler can run inside a setter.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCloseEvent;

// A colour: 0x00BBGGRR, or a system colour (high byte 0xFF, low byte its index).
using TColor = std::int32_t;
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008u);
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;

// The colour on screen: system colours come from the application palette.
QColor ColorToQColor(TColor color);

using TObject = QObject;
// A click handler: the component that was clicked is passed along.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Binds a form's handler method, e.g. MakeNotify(this, &TForm1::Button1Click).
template <class Form>
TNotifyEvent MakeNotify(Form* form, void (Form::*handler)(TObject*)) {
  return [form, handler](TObject* sender) { (form->*handler)(sender); };
}

// A top-level window. Close() on the main form while a click handler is still running
// takes effect only after the outermost handler has returned; the same holds for a close
// requested by the window system (title bar).
class TForm : public QWidget {
 public:
  explicit TForm(QWidget* parent = nullptr);

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  TColor Color() const { return color_; }
  void SetColor(TColor color);

  void Close();
  // A close that waits for the running handler to return.
  bool ClosePending() const { return closePending_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TColor color_ = clBtnFace;
  bool closePending_ = false;
};

class TButton : public QPushButton {
 public:
  explicit TButton(QWidget* parent = nullptr);

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool enabled);
  // The colour of the caption, part of the button's own font.
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor color);

  // The handler runs through the application object, which catches what it throws.
  void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }

 private:
  TColor fontColor_ = clWindowText;
  TNotifyEvent onClick_;
};

class TEdit : public QLineEdit {
 public:
  explicit TEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

  std::string Text() const;
  // Shows the new text from its first character, however long it is.
  void SetText(const std::string& text);
};

// An editable drop-down list: the operator may pick an item or type any text.
class TComboBox : public QComboBox {
 public:
  explicit TComboBox(QWidget* parent = nullptr);

  std::string Text() const;
  void SetText(const std::string& text);
  void AddItem(const std::string& item);
  std::vector<std::string> Items() const;
};

// A static caption. With AutoSize (the default) it takes the size of its text, so the
// caption shows in full whatever font the system draws it with; its place stays.
class TLabel : public QLabel {
 public:
  explicit TLabel(QWidget* parent = nullptr) : QLabel(parent) {}

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool autoSize);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void Fit();

  bool autoSize_ = true;
};
