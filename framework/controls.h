// The window classes the program is written against. They name no toolkit type: each
// front end (framework/qt/, framework/win32/) defines TWidgetImpl, the native window behind
// a form or control, and the member functions that talk to it.
// Texts are std::string in the local 8-bit encoding.
//
// A property set on a control is painted before the setter returns: click handlers block
// the GUI thread (a single read for up to 0.6 s), and what they set must be on screen
// meanwhile. The changed control is repainted on its own; no other events are dispatched,
// so no other handler can run inside a setter.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A colour: 0x00BBGGRR, or a system colour (high byte 0xFF, low byte its index).
using TColor = std::int32_t;
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008u);
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

// A click handler: the component that was clicked is passed along.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Binds a form's handler method, e.g. MakeNotify(this, &TForm1::Button1Click).
template <class Form>
TNotifyEvent MakeNotify(Form* form, void (Form::*handler)(TObject*)) {
  return [form, handler](TObject* sender) { (form->*handler)(sender); };
}

// A font as stored in a layout.
struct TFont {
  std::string name;
  int height;  // negative: character height in pixels at 96 dpi; positive: cell height
  TColor color;
};

class TForm;
class TWidgetImpl;

// A control on a form. The form owns it: it is destroyed with the form.
class TControl : public TObject {
 public:
  ~TControl() override;

  TForm* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // Pixels at 96 dpi relative to the form's client area; the front end scales them to
  // the screen's resolution.
  void SetBounds(int left, int top, int width, int height);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  // A font of the control's own in place of the form's.
  void SetFont(const TFont& font);
  // Whether Tab stops at the control; the order among the stops is the form's.
  void SetTabStop(bool tabStop);
  // What a screen reader calls the control, in place of what the toolkit would make of it
  // (a box's content, a nearby caption).
  void SetAccessibleName(const std::string& name);

  TWidgetImpl& Impl() const { return *impl_; }

 protected:
  explicit TControl(TForm* owner);
  std::unique_ptr<TWidgetImpl> impl_;

 private:
  TForm* owner_;
  std::string name_;
};

// A top-level window. Close() on the main form while a click handler is still running
// takes effect only after the outermost handler has returned; the same holds for a close
// requested by the window system (title bar).
class TForm : public TObject {
 public:
  // className: the window class on platforms whose windows have one.
  explicit TForm(const std::string& className = "TForm");
  ~TForm() override;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  // The window's place on the screen and the size of its client area, at 96 dpi.
  void SetBounds(int left, int top, int clientWidth, int clientHeight);
  // The font of every control without one of its own.
  void SetFont(const TFont& font);
  // The controls that are tab stops, in the order Tab visits them.
  void SetTabOrder(const std::vector<TControl*>& order);

  void Show();
  bool Visible() const;
  void Close();
  // A close that waits for the running handler to return.
  bool ClosePending() const { return closePending_; }
  // The front end asks this when the form is to close: false when the close has to wait
  // for the running handler (it is then pending).
  bool CloseQuery();

  // The controls in creation order.
  const std::vector<TControl*>& Components() const { return components_; }
  TWidgetImpl& Impl() const { return *impl_; }

 private:
  friend class TControl;

  std::unique_ptr<TWidgetImpl> impl_;
  std::vector<TControl*> components_;
  std::string name_;
  TColor color_ = clBtnFace;
  bool closePending_ = false;
};

class TButton : public TControl {
 public:
  explicit TButton(TForm* owner);

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  // The colour of the caption, part of the button's own font.
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor color);

  // The handler runs through the application object, which catches what it throws.
  void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }
  const TNotifyEvent& OnClick() const { return onClick_; }
  // Clicks the button as the operator would (nothing happens while it is disabled).
  void Click();

 private:
  TColor fontColor_ = clWindowText;
  TNotifyEvent onClick_;
};

class TEdit : public TControl {
 public:
  explicit TEdit(TForm* owner);

  std::string Text() const;
  // The new text shows from its first character.
  void SetText(const std::string& text);
};

// An editable drop-down list: the operator may pick an item or type any text.
class TComboBox : public TControl {
 public:
  explicit TComboBox(TForm* owner);

  std::string Text() const;
  void SetText(const std::string& text);
  void AddItem(const std::string& item);
  std::vector<std::string> Items() const;
};

// A static caption. It takes the size of its text, so the caption shows in full whatever
// font the system draws it with; its place stays.
class TLabel : public TControl {
 public:
  explicit TLabel(TForm* owner);

  std::string Caption() const;
  void SetCaption(const std::string& caption);
};
