// Stored form layouts: a table of the form and its components, turned into controls when
// the form is created.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/sysutils.h"

struct TComponentDesc {
  std::string name;       // object name, also how the form finds the component
  std::string className;  // "TButton", "TEdit", "TComboBox" or "TLabel"
  int left, top, width, height;
  std::string text;                // caption or text
  int tabOrder;                    // -1: not a tab stop
  std::optional<TFont> font;       // a font of its own, or none: the form's
  std::vector<std::string> items;  // combo box items
  std::string onClick;             // name of the click handler, empty for none
  std::string accessibleName;      // what a screen reader calls it; empty: its caption
};

struct TFormDesc {
  std::string name;
  std::string className;  // the window class on platforms that have one
  std::string caption;
  int left, top, width, height;  // position on the screen, size of the client area
  TColor color;
  TFont font;
  std::vector<TComponentDesc> components;
};

// Builds form from desc: its own properties, then each component in table order, with
// tab order and click handlers (looked up by name in handlers; an unknown name raises
// Exception).
void LoadLayout(TForm& form, const TFormDesc& desc,
                const std::map<std::string, TNotifyEvent>& handlers);

// The component with the given name and class, or Exception when there is none.
template <class Component>
Component* FindComponent(const TForm& form, const std::string& name) {
  for (TControl* control : form.Components()) {
    if (control->Name() == name) {
      if (auto* component = dynamic_cast<Component*>(control)) {
        return component;
      }
    }
  }
  throw Exception("component not found: " + name);
}
