// Stored form layouts: a table of the form and its components, turned into widgets when
// the form is created.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/sysutils.h"

struct TFontDesc {
  std::string name;
  int height;  // negative: character height in pixels at 96 dpi; positive: cell height
  TColor color;
};

struct TComponentDesc {
  std::string name;       // object name, also how the form finds the component
  std::string className;  // "TButton", "TEdit", "TComboBox" or "TLabel"
  int left, top, width, height;
  std::string text;                // caption or text
  int tabOrder;                    // -1: not a tab stop
  std::vector<TFontDesc> font;     // empty: the form's font; else one entry, its own font
  std::vector<std::string> items;  // combo box items
  std::string onClick;             // name of the click handler, empty for none
};

struct TFormDesc {
  std::string name;
  std::string caption;
  int left, top, width, height;  // position on the screen, size of the client area
  TColor color;
  TFontDesc font;
  std::vector<TComponentDesc> components;
};

// The font a stored description stands for. Families missing on the system fall back
// through Qt's font substitution to a similar sans-serif face.
QFont MakeFont(const TFontDesc& desc);

// Builds form from desc: its own properties, then each component in table order, with
// tab order and click handlers (looked up by name in handlers; an unknown name raises
// Exception). Components become children of form named after desc's names.
void LoadLayout(TForm& form, const TFormDesc& desc,
                const std::map<std::string, TNotifyEvent>& handlers);

// The component with the given name and class, or Exception when there is none.
template <class Component>
Component* FindComponent(const QWidget& form, const std::string& name) {
  auto* component = form.findChild<Component*>(QString::fromStdString(name));
  if (component == nullptr) {
    throw Exception("component not found: " + name);
  }
  return component;
}
