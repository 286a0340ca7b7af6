// The Qt side of the framework's forms and controls: the widget behind each, for the Qt
// front end itself and for tests that look at what Qt shows.
#pragma once

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QWidget>

#include "framework/controls.h"

class TWidgetImpl {
 public:
  explicit TWidgetImpl(QWidget* widget) : widget(widget) {}
  ~TWidgetImpl() { delete widget.data(); }
  TWidgetImpl(const TWidgetImpl&) = delete;
  TWidgetImpl& operator=(const TWidgetImpl&) = delete;

  QPointer<QWidget> widget;
  // Disabled while it had the keyboard focus: it takes the focus back when enabled again.
  bool refocus = false;
};

inline QWidget* NativeWidget(const TControl* control) {
  return control->Impl().widget;
}
inline QWidget* NativeWidget(const TForm* form) {
  return form->Impl().widget;
}
// The widget of the given Qt class behind a control, e.g. Native<QLineEdit>(Edit1).
template <class Widget>
Widget* Native(const TControl* control) {
  return qobject_cast<Widget*>(NativeWidget(control));
}

// The colour on screen: system colours come from the application palette.
QColor ColorToQColor(TColor color);

// The font a stored description stands for. Families missing on the system fall back
// through Qt's font substitution to a similar sans-serif face.
QFont MakeFont(const TFont& desc);
