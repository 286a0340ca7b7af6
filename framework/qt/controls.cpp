#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QString>
#include <algorithm>

#include "framework/application.h"
#include "framework/frontend.h"
#include "framework/qt/native.h"

namespace {

QString FromLocal8Bit(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
}
std::string ToLocal8Bit(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

// Faces to draw with where a stored family is not installed.
void RegisterSubstitutes() {
  const QString classic = QStringLiteral("MS Sans Serif");
  if (QFont::substitutes(classic).isEmpty()) {
    QFont::insertSubstitutions(classic,
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                                QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  }
}

void SetTextColor(QWidget& widget, TColor color) {
  QPalette pal = widget.palette();
  const QColor qcolor = ColorToQColor(color);
  pal.setColor(QPalette::WindowText, qcolor);
  pal.setColor(QPalette::Text, qcolor);
  pal.setColor(QPalette::ButtonText, qcolor);
  widget.setPalette(pal);
}

class FormWidget : public QWidget {
 public:
  explicit FormWidget(TForm* form) : form_(form) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (!form_->CloseQuery()) {
      event->ignore();
      return;
    }
    event->accept();
    if (Application->MainForm() == form_ && ApplicationFrontEnd::Running(*Application)) {
      QCoreApplication::exit(0);
    }
  }

 private:
  TForm* form_;
};

class LabelWidget : public QLabel {
 public:
  explicit LabelWidget(QWidget* parent) : QLabel(parent) {}
  void Fit() { resize(sizeHint()); }

 protected:
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
      Fit();
    }
  }
};

QWidget* Parent(TForm* owner) {
  return owner->Impl().widget;
}

// What a screen reader is told of a combo box. On Linux Qt's own answer names a combo box by
// its content and passes over its accessible name, leaving the naming to a label's relation;
// the port box has no label, so a screen reader would hear only "01". This one gives the
// accessible name where there is one, and the content as the value.
class ComboBoxAccessible : public QAccessibleWidget {
 public:
  explicit ComboBoxAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

  QString text(QAccessible::Text which) const override {
    const auto* box = static_cast<const QComboBox*>(widget());
    if (which == QAccessible::Value ||
        (which == QAccessible::Name && box->accessibleName().isEmpty())) {
      return box->currentText();
    }
    return QAccessibleWidget::text(which);
  }
};

QAccessibleInterface* ComboBoxAccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("QComboBox") && object != nullptr && object->isWidgetType()) {
    return new ComboBoxAccessible(static_cast<QComboBox*>(object));
  }
  return nullptr;
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

QFont MakeFont(const TFont& desc) {
  RegisterSubstitutes();
  QFont font(FromLocal8Bit(desc.name));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(desc.height < 0 ? -desc.height : std::max(desc.height, 1));
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

// --- TControl

TControl::TControl(TForm* owner) : owner_(owner) {
  owner_->components_.push_back(this);
}

TControl::~TControl() {
  auto& list = owner_->components_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TControl::SetBounds(int left, int top, int width, int height) {
  impl_->widget->setGeometry(left, top, width, height);
}

bool TControl::Enabled() const {
  return impl_->widget->isEnabled();
}

void TControl::SetEnabled(bool enabled) {
  QWidget* widget = impl_->widget;
  // Qt hands the focus of a control that is disabled to the next one in the tab order, so
  // a button that disables itself while it works (Start) would leave the keyboard on
  // another button (UID) after it; it takes the focus back when it is enabled again.
  if (!enabled) {
    impl_->refocus = widget->window()->focusWidget() == widget;
  }
  widget->setEnabled(enabled);
  if (enabled && impl_->refocus) {
    impl_->refocus = false;
    widget->setFocus(Qt::OtherFocusReason);
  }
  widget->repaint();
}

void TControl::SetFont(const TFont& font) {
  impl_->widget->setFont(MakeFont(font));
  // A button's caption colour is its FontColor, set on its own.
  if (qobject_cast<QPushButton*>(impl_->widget) == nullptr) {
    SetTextColor(*impl_->widget, font.color);
  }
}

void TControl::SetTabStop(bool tabStop) {
  impl_->widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus);
}

void TControl::SetAccessibleName(const std::string& name) {
  impl_->widget->setAccessibleName(FromLocal8Bit(name));
}

// --- TForm

TForm::TForm(const std::string& /*className*/)
    : impl_(std::make_unique<TWidgetImpl>(new FormWidget(this))) {
  SetColor(clBtnFace);
}

TForm::~TForm() {
  while (!components_.empty()) {
    delete components_.back();
  }
}

std::string TForm::Caption() const {
  return ToLocal8Bit(impl_->widget->windowTitle());
}

void TForm::SetCaption(const std::string& caption) {
  impl_->widget->setWindowTitle(FromLocal8Bit(caption));
}

void TForm::SetColor(TColor color) {
  color_ = color;
  QPalette pal = impl_->widget->palette();
  pal.setColor(QPalette::Window, ColorToQColor(color));
  // A window is always filled with its palette's window colour.
  impl_->widget->setPalette(pal);
}

void TForm::SetBounds(int left, int top, int clientWidth, int clientHeight) {
  impl_->widget->move(left, top);
  impl_->widget->resize(clientWidth, clientHeight);
}

void TForm::SetFont(const TFont& font) {
  impl_->widget->setFont(MakeFont(font));
  SetTextColor(*impl_->widget, font.color);
}

void TForm::SetTabOrder(const std::vector<TControl*>& order) {
  for (std::size_t i = 1; i < order.size(); ++i) {
    QWidget::setTabOrder(order[i - 1]->Impl().widget, order[i]->Impl().widget);
  }
}

void TForm::Show() {
  impl_->widget->show();
}

bool TForm::Visible() const {
  return impl_->widget->isVisible();
}

void TForm::Close() {
  impl_->widget->close();
}

// --- TButton

TButton::TButton(TForm* owner) : TControl(owner) {
  auto* button = new QPushButton(Parent(owner));
  impl_ = std::make_unique<TWidgetImpl>(button);
  QObject::connect(button, &QPushButton::clicked, button,
                   [this] { Application->HandleClick(onClick_, this); });
}

std::string TButton::Caption() const {
  return ToLocal8Bit(Native<QPushButton>(this)->text());
}

void TButton::SetCaption(const std::string& caption) {
  Native<QPushButton>(this)->setText(FromLocal8Bit(caption));
  impl_->widget->repaint();
}

void TButton::SetFontColor(TColor color) {
  fontColor_ = color;
  QWidget* button = impl_->widget;
  QPalette pal = button->palette();
  pal.setColor(QPalette::ButtonText, ColorToQColor(color));
  button->setPalette(pal);
  button->repaint();
}

void TButton::Click() {
  Native<QPushButton>(this)->click();
}

// --- TEdit

TEdit::TEdit(TForm* owner) : TControl(owner) {
  impl_ = std::make_unique<TWidgetImpl>(new QLineEdit(Parent(owner)));
}

std::string TEdit::Text() const {
  return ToLocal8Bit(Native<QLineEdit>(this)->text());
}

void TEdit::SetText(const std::string& text) {
  auto* edit = Native<QLineEdit>(this);
  edit->setText(FromLocal8Bit(text));
  // QLineEdit leaves the cursor, and with it the view, at the end of a new text; a 500-digit
  // reading would show only its trailing zeros.
  edit->setCursorPosition(0);
  edit->repaint();
}

// --- TComboBox

TComboBox::TComboBox(TForm* owner) : TControl(owner) {
  // Asked before Qt's own factory, and set up before the first combo box exists: an answer
  // once given is kept for the widget's life.
  static const bool factoryInstalled = [] {
    QAccessible::installFactory(ComboBoxAccessibleFactory);
    return true;
  }();
  (void)factoryInstalled;
  auto* combo = new QComboBox(Parent(owner));
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  impl_ = std::make_unique<TWidgetImpl>(combo);
}

std::string TComboBox::Text() const {
  return ToLocal8Bit(Native<QComboBox>(this)->currentText());
}

void TComboBox::SetText(const std::string& text) {
  Native<QComboBox>(this)->setEditText(FromLocal8Bit(text));
  impl_->widget->repaint();
}

void TComboBox::AddItem(const std::string& item) {
  Native<QComboBox>(this)->addItem(FromLocal8Bit(item));
}

std::vector<std::string> TComboBox::Items() const {
  const QComboBox* combo = Native<QComboBox>(this);
  std::vector<std::string> items;
  for (int i = 0; i < combo->count(); ++i) {
    items.push_back(ToLocal8Bit(combo->itemText(i)));
  }
  return items;
}

// --- TLabel

TLabel::TLabel(TForm* owner) : TControl(owner) {
  impl_ = std::make_unique<TWidgetImpl>(new LabelWidget(Parent(owner)));
}

std::string TLabel::Caption() const {
  return ToLocal8Bit(Native<QLabel>(this)->text());
}

void TLabel::SetCaption(const std::string& caption) {
  Native<QLabel>(this)->setText(FromLocal8Bit(caption));
  static_cast<LabelWidget*>(Native<QLabel>(this))->Fit();
  impl_->widget->repaint();
}
