#include "framework/form_layout.h"

#include <QFont>
#include <QPalette>
#include <QString>
#include <algorithm>

#include "framework/sysutils.h"

namespace {

QString FromLocal8Bit(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
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

QWidget* CreateComponent(const TComponentDesc& desc, TForm& form,
                         const std::map<std::string, TNotifyEvent>& handlers) {
  const QString text = FromLocal8Bit(desc.text);
  QWidget* widget = nullptr;
  if (desc.className == "TButton") {
    auto* button = new TButton(&form);
    button->setText(text);
    if (!desc.onClick.empty()) {
      const auto handler = handlers.find(desc.onClick);
      if (handler == handlers.end()) {
        throw Exception("handler not found: " + desc.onClick);
      }
      button->SetOnClick(handler->second);
    }
    if (!desc.font.empty()) {
      button->SetFontColor(desc.font.front().color);
    }
    widget = button;
  } else if (desc.className == "TEdit") {
    auto* edit = new TEdit(&form);
    edit->setText(text);
    widget = edit;
  } else if (desc.className == "TComboBox") {
    auto* combo = new TComboBox(&form);
    for (const std::string& item : desc.items) {
      combo->AddItem(item);
    }
    combo->setEditText(text);
    widget = combo;
  } else if (desc.className == "TLabel") {
    widget = new TLabel(&form);
  } else {
    throw Exception("unknown component class: " + desc.className);
  }
  widget->setObjectName(QString::fromStdString(desc.name));
  widget->setGeometry(desc.left, desc.top, desc.width, desc.height);
  if (!desc.font.empty()) {
    widget->setFont(MakeFont(desc.font.front()));
    if (desc.className != "TButton") {
      SetTextColor(*widget, desc.font.front().color);
    }
  }
  if (auto* label = dynamic_cast<TLabel*>(widget)) {
    // Sized by its caption once it has its font and place.
    label->SetCaption(desc.text);
  }
  if (desc.tabOrder < 0) {
    widget->setFocusPolicy(Qt::NoFocus);
  }
  return widget;
}

}  // namespace

QFont MakeFont(const TFontDesc& desc) {
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

void LoadLayout(TForm& form, const TFormDesc& desc,
                const std::map<std::string, TNotifyEvent>& handlers) {
  form.setObjectName(QString::fromStdString(desc.name));
  form.SetCaption(desc.caption);
  form.move(desc.left, desc.top);
  form.resize(desc.width, desc.height);
  form.SetColor(desc.color);
  form.setFont(MakeFont(desc.font));
  SetTextColor(form, desc.font.color);

  std::vector<std::pair<int, QWidget*>> tabStops;
  for (const TComponentDesc& component : desc.components) {
    QWidget* widget = CreateComponent(component, form, handlers);
    if (component.tabOrder >= 0) {
      tabStops.emplace_back(component.tabOrder, widget);
    }
  }
  std::stable_sort(tabStops.begin(), tabStops.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < tabStops.size(); ++i) {
    QWidget::setTabOrder(tabStops[i - 1].second, tabStops[i].second);
  }
}
