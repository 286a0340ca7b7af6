#include "framework/form_layout.h"

#include <algorithm>
#include <utility>

namespace {

TControl* CreateComponent(const TComponentDesc& desc, TForm& form,
                          const std::map<std::string, TNotifyEvent>& handlers) {
  TControl* control = nullptr;
  if (desc.className == "TButton") {
    auto* button = new TButton(&form);
    button->SetCaption(desc.text);
    if (!desc.onClick.empty()) {
      const auto handler = handlers.find(desc.onClick);
      if (handler == handlers.end()) {
        throw Exception("handler not found: " + desc.onClick);
      }
      button->SetOnClick(handler->second);
    }
    if (desc.font) {
      button->SetFontColor(desc.font->color);
    }
    control = button;
  } else if (desc.className == "TEdit") {
    auto* edit = new TEdit(&form);
    edit->SetText(desc.text);
    control = edit;
  } else if (desc.className == "TComboBox") {
    auto* combo = new TComboBox(&form);
    for (const std::string& item : desc.items) {
      combo->AddItem(item);
    }
    combo->SetText(desc.text);
    control = combo;
  } else if (desc.className == "TLabel") {
    control = new TLabel(&form);
  } else {
    throw Exception("unknown component class: " + desc.className);
  }
  control->SetName(desc.name);
  control->SetBounds(desc.left, desc.top, desc.width, desc.height);
  if (desc.font) {
    control->SetFont(*desc.font);
  }
  if (auto* label = dynamic_cast<TLabel*>(control)) {
    // Sized by its caption once it has its font and place.
    label->SetCaption(desc.text);
  }
  control->SetTabStop(desc.tabOrder >= 0);
  if (!desc.accessibleName.empty()) {
    control->SetAccessibleName(desc.accessibleName);
  }
  return control;
}

}  // namespace

void LoadLayout(TForm& form, const TFormDesc& desc,
                const std::map<std::string, TNotifyEvent>& handlers) {
  form.SetName(desc.name);
  form.SetCaption(desc.caption);
  form.SetBounds(desc.left, desc.top, desc.width, desc.height);
  form.SetColor(desc.color);
  form.SetFont(desc.font);

  std::vector<std::pair<int, TControl*>> tabStops;
  for (const TComponentDesc& component : desc.components) {
    TControl* control = CreateComponent(component, form, handlers);
    if (component.tabOrder >= 0) {
      tabStops.emplace_back(component.tabOrder, control);
    }
  }
  std::stable_sort(tabStops.begin(), tabStops.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TControl*> order;
  for (const auto& stop : tabStops) {
    order.push_back(stop.second);
  }
  form.SetTabOrder(order);
}
