#include <algorithm>
#include <vector>

#include "framework/application.h"
#include "framework/win32/native.h"

namespace {

// Pixels at 96 dpi to pixels on this screen.
int ScaleToScreen(int pixels) {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    const int value = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return value > 0 ? value : 96;
  }();
  return MulDiv(pixels, dpi, 96);
}

// A colour as GDI draws it: system colours from the current scheme.
COLORREF ColorToRGB(TColor color) {
  const auto value = static_cast<std::uint32_t>(color);
  if ((value & 0xFF000000u) == 0xFF000000u) {
    return GetSysColor(static_cast<int>(value & 0xFFu));
  }
  return static_cast<COLORREF>(value & 0x00FFFFFFu);
}

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(hwnd, &text[0], length + 1)));
  return text;
}

// A control's change is on screen before the handler goes on: paint it now, without
// dispatching anything else.
void PaintNow(HWND hwnd) {
  RedrawWindow(hwnd, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void SetWindowTextNow(HWND hwnd, const std::string& text) {
  SetWindowTextA(hwnd, text.c_str());
  PaintNow(hwnd);
}

HFONT CreateLayoutFont(const TFont& font) {
  // Negative: the character height; positive: the cell height, as LOGFONT has it.
  const int height = font.height < 0 ? -ScaleToScreen(-font.height) : ScaleToScreen(font.height);
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, font.name.c_str());
}

TControl* ControlOf(HWND hwnd) {
  return reinterpret_cast<TControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// The visual styles' drawing functions, from the system folder (see native.cpp); all
// null where uxtheme.dll or one of them is missing, and buttons are drawn the classic way.
struct ThemeFunctions {
  decltype(&::OpenThemeData) open;
  decltype(&::CloseThemeData) close;
  decltype(&::IsThemeBackgroundPartiallyTransparent) isPartiallyTransparent;
  decltype(&::DrawThemeParentBackground) drawParentBackground;
  decltype(&::DrawThemeBackground) drawBackground;
  decltype(&::GetThemeBackgroundContentRect) getContentRect;
};

const ThemeFunctions& Theme() {
  static const ThemeFunctions theme = [] {
    HMODULE uxtheme = LoadSystemLibrary(L"uxtheme.dll");
    ThemeFunctions f = {PAVO_SYSTEM_FUNCTION(uxtheme, OpenThemeData),
                        PAVO_SYSTEM_FUNCTION(uxtheme, CloseThemeData),
                        PAVO_SYSTEM_FUNCTION(uxtheme, IsThemeBackgroundPartiallyTransparent),
                        PAVO_SYSTEM_FUNCTION(uxtheme, DrawThemeParentBackground),
                        PAVO_SYSTEM_FUNCTION(uxtheme, DrawThemeBackground),
                        PAVO_SYSTEM_FUNCTION(uxtheme, GetThemeBackgroundContentRect)};
    if (!f.open || !f.close || !f.isPartiallyTransparent || !f.drawParentBackground ||
        !f.drawBackground || !f.getContentRect) {
      f = ThemeFunctions{};
    }
    return f;
  }();
  return theme;
}

// The button's state as the theme draws it.
int ThemeState(const NMCUSTOMDRAW& draw) {
  if ((draw.uItemState & CDIS_DISABLED) != 0) {
    return PBS_DISABLED;
  }
  if ((draw.uItemState & CDIS_SELECTED) != 0) {
    return PBS_PRESSED;
  }
  if ((draw.uItemState & CDIS_HOT) != 0) {
    return PBS_HOT;
  }
  if ((draw.uItemState & CDIS_DEFAULT) != 0) {
    return PBS_DEFAULTED;
  }
  return PBS_NORMAL;
}

// A button whose caption has a colour of its own, which a standard button cannot show:
// the button's face as the desktop draws it (the visual style's, else the classic one),
// then the caption in the font's colour. Buttons in the default colour draw themselves.
LRESULT DrawButton(const NMCUSTOMDRAW& draw, const TButton& button) {
  if (draw.dwDrawStage != CDDS_PREPAINT || button.FontColor() == clWindowText) {
    return CDRF_DODEFAULT;
  }
  HWND hwnd = draw.hdr.hwndFrom;
  HDC dc = draw.hdc;
  RECT face = draw.rc;
  RECT content = draw.rc;
  const bool pushed = (draw.uItemState & CDIS_SELECTED) != 0;
  const ThemeFunctions& api = Theme();
  if (HTHEME theme = api.open != nullptr ? api.open(hwnd, L"BUTTON") : nullptr) {
    const int state = ThemeState(draw);
    if (api.isPartiallyTransparent(theme, BP_PUSHBUTTON, state)) {
      api.drawParentBackground(hwnd, dc, &face);
    }
    api.drawBackground(theme, dc, BP_PUSHBUTTON, state, &face, nullptr);
    api.getContentRect(theme, dc, BP_PUSHBUTTON, state, &face, &content);
    api.close(theme);
  } else {
    FillRect(dc, &content, GetSysColorBrush(COLOR_BTNFACE));
    DrawFrameControl(dc, &content, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    if (pushed) {
      OffsetRect(&content, 1, 1);
    }
  }
  const std::string caption = WindowText(hwnd);
  const auto font = reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
  const HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  // A coloured caption keeps its colour when the button is disabled: that colour is what
  // tells the operator that the button is busy.
  SetTextColor(dc, ColorToRGB(button.FontColor()));
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &content,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  const auto cues = SendMessageA(hwnd, WM_QUERYUISTATE, 0, 0);
  if ((draw.uItemState & CDIS_FOCUS) != 0 && (cues & UISF_HIDEFOCUS) == 0) {
    InflateRect(&face, -4, -4);
    DrawFocusRect(dc, &face);
  }
  return CDRF_SKIPDEFAULT;
}

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (form == nullptr) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  switch (message) {
    case WM_COMMAND:
      // A quick second click is one more click for the operator, also where a button
      // reports it as a double click.
      if ((HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == BN_DOUBLECLICKED) && lParam != 0) {
        if (auto* button = dynamic_cast<TButton*>(ControlOf(reinterpret_cast<HWND>(lParam)))) {
          Application->HandleClick(button->OnClick(), button);
        }
        return 0;
      }
      break;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      if (header.code == NM_CUSTOMDRAW) {
        if (auto* button = dynamic_cast<TButton*>(ControlOf(header.hwndFrom))) {
          return DrawButton(*reinterpret_cast<const NMCUSTOMDRAW*>(lParam), *button);
        }
      }
      break;
    }
    case WM_ERASEBKGND:
      if (form->Impl().brush != nullptr) {
        RECT rect;
        GetClientRect(hwnd, &rect);
        FillRect(reinterpret_cast<HDC>(wParam), &rect, form->Impl().brush);
        return 1;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (form->Impl().brush != nullptr) {
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(form->Impl().brush);
      }
      break;
    case WM_ACTIVATE:
      // Keyboard focus to the first tab stop when the window comes up.
      if (LOWORD(wParam) != WA_INACTIVE && !IsChild(hwnd, GetFocus())) {
        if (HWND first = GetNextDlgTabItem(hwnd, nullptr, FALSE)) {
          SetFocus(first);
        }
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      // Minimising the main form minimises the application, whose window has the task
      // bar button.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && Application->MainForm() == form &&
          ApplicationWindow() != nullptr) {
        ShowWindow(ApplicationWindow(), SW_MINIMIZE);
        return 0;
      }
      break;
    case WM_CLOSE:
      if (form->CloseQuery()) {
        ShowWindow(hwnd, SW_HIDE);
        if (Application->MainForm() == form && ApplicationWindow() != nullptr) {
          SendMessageA(ApplicationWindow(), kMainFormClosed, 0, 0);
        }
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void RegisterFormClass(const std::string& className) {
  WNDCLASSEXA wc{};
  if (GetClassInfoExA(Instance(), className.c_str(), &wc)) {
    return;
  }
  wc = WNDCLASSEXA{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = FormProc;
  wc.hInstance = Instance();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = ProgramIcon(SM_CXICON);
  wc.hIconSm = ProgramIcon(SM_CXSMICON);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = className.c_str();
  RegisterClassExA(&wc);
}

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

// Creates the window of a control on its form, with the form's font; its id is its place
// in the form's creation order, from 1.
HWND CreateControl(TControl* control, const char* windowClass, DWORD style, DWORD exStyle = 0) {
  TForm* owner = control->Owner();
  const auto id = static_cast<INT_PTR>(owner->Components().size());
  HWND hwnd = CreateWindowExA(exStyle, windowClass, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                              owner->Impl().hwnd, reinterpret_cast<HMENU>(id), Instance(), nullptr);
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
  if (owner->Impl().font != nullptr) {
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(owner->Impl().font), FALSE);
  }
  return hwnd;
}

// Sizes a label to its caption in its font; its place stays.
void FitLabel(HWND hwnd) {
  const std::string caption = WindowText(hwnd);
  HDC dc = GetDC(hwnd);
  const auto font = reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
  const HGDIOBJ old = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
  SIZE size{};
  GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// --- TControl

TControl::TControl(TForm* owner) : impl_(std::make_unique<TWidgetImpl>()), owner_(owner) {
  owner_->components_.push_back(this);
}

TControl::~TControl() {
  auto& list = owner_->components_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TControl::SetBounds(int left, int top, int width, int height) {
  int listHeight = 0;
  if (dynamic_cast<TComboBox*>(this) != nullptr) {
    // A drop-down's window height includes its open list; the closed box's height
    // follows from its font.
    listHeight = 8 * 13;
  }
  SetWindowPos(impl_->hwnd, nullptr, ScaleToScreen(left), ScaleToScreen(top), ScaleToScreen(width),
               ScaleToScreen(height + listHeight), SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TControl::Enabled() const {
  return IsWindowEnabled(impl_->hwnd) != FALSE;
}

void TControl::SetEnabled(bool enabled) {
  // Windows leaves no control with the keyboard focus when the focused one is disabled, so a
  // button that disables itself while it works (Start) would leave the keyboard dead after
  // it; it takes the focus back when it is enabled again.
  if (!enabled) {
    impl_->refocus = GetFocus() == impl_->hwnd;
  }
  EnableWindow(impl_->hwnd, enabled ? TRUE : FALSE);
  if (enabled && impl_->refocus) {
    impl_->refocus = false;
    // Only within the active window: SetFocus would also activate it, and a read that ends
    // while the operator works in another program must not pull the window to the front.
    if (GetActiveWindow() == GetAncestor(impl_->hwnd, GA_ROOT)) {
      SetFocus(impl_->hwnd);
    }
  }
  PaintNow(impl_->hwnd);
}

void TControl::SetFont(const TFont& font) {
  if (impl_->font != nullptr) {
    DeleteObject(impl_->font);
  }
  impl_->font = CreateLayoutFont(font);
  SendMessageA(impl_->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(impl_->font), TRUE);
}

void TControl::SetTabStop(bool tabStop) {
  const LONG_PTR style = GetWindowLongPtrA(impl_->hwnd, GWL_STYLE);
  SetWindowLongPtrA(impl_->hwnd, GWL_STYLE, tabStop ? style | WS_TABSTOP : style & ~WS_TABSTOP);
}

// --- TForm

TForm::TForm(const std::string& className) : impl_(std::make_unique<TWidgetImpl>()) {
  RegisterFormClass(className);
  impl_->hwnd = CreateWindowExA(0, className.c_str(), "", kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, ApplicationWindow(), nullptr,
                                Instance(), nullptr);
  SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TForm::~TForm() {
  while (!components_.empty()) {
    delete components_.back();
  }
  SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
}

std::string TForm::Caption() const {
  return WindowText(impl_->hwnd);
}

void TForm::SetCaption(const std::string& caption) {
  SetWindowTextNow(impl_->hwnd, caption);
}

void TForm::SetColor(TColor color) {
  color_ = color;
  if (impl_->brush != nullptr) {
    DeleteObject(impl_->brush);
    impl_->brush = nullptr;
  }
  if (color != clBtnFace) {
    impl_->brush = CreateSolidBrush(ColorToRGB(color));
  }
  PaintNow(impl_->hwnd);
}

void TForm::SetBounds(int left, int top, int clientWidth, int clientHeight) {
  RECT rect = {0, 0, ScaleToScreen(clientWidth), ScaleToScreen(clientHeight)};
  AdjustWindowRectEx(&rect, kFormStyle, FALSE, 0);
  SetWindowPos(impl_->hwnd, nullptr, ScaleToScreen(left), ScaleToScreen(top),
               rect.right - rect.left, rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetFont(const TFont& font) {
  if (impl_->font != nullptr) {
    DeleteObject(impl_->font);
  }
  impl_->font = CreateLayoutFont(font);
  for (TControl* control : components_) {
    if (control->Impl().font == nullptr) {
      SendMessageA(control->Impl().hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(impl_->font), TRUE);
    }
  }
}

void TForm::SetTabOrder(const std::vector<TControl*>& order) {
  // Tab visits the stops in the order of the window list.
  HWND previous = HWND_TOP;
  for (TControl* control : order) {
    SetWindowPos(control->Impl().hwnd, previous, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = control->Impl().hwnd;
  }
}

void TForm::Show() {
  ShowWindow(impl_->hwnd, SW_SHOW);
  UpdateWindow(impl_->hwnd);
}

bool TForm::Visible() const {
  return IsWindowVisible(impl_->hwnd) != FALSE;
}

void TForm::Close() {
  SendMessageA(impl_->hwnd, WM_CLOSE, 0, 0);
}

// --- TButton

TButton::TButton(TForm* owner) : TControl(owner) {
  // A standard push button; a caption in a colour of its own is drawn by the form
  // (NM_CUSTOMDRAW).
  impl_->hwnd = CreateControl(this, "BUTTON", BS_PUSHBUTTON);
}

std::string TButton::Caption() const {
  return WindowText(impl_->hwnd);
}

void TButton::SetCaption(const std::string& caption) {
  SetWindowTextNow(impl_->hwnd, caption);
}

void TButton::SetFontColor(TColor color) {
  fontColor_ = color;
  PaintNow(impl_->hwnd);
}

void TButton::Click() {
  if (IsWindowEnabled(impl_->hwnd)) {
    SendMessageA(impl_->hwnd, BM_CLICK, 0, 0);
  }
}

// --- TEdit

TEdit::TEdit(TForm* owner) : TControl(owner) {
  impl_->hwnd = CreateControl(this, "EDIT", ES_AUTOHSCROLL | ES_LEFT, WS_EX_CLIENTEDGE);
}

std::string TEdit::Text() const {
  return WindowText(impl_->hwnd);
}

void TEdit::SetText(const std::string& text) {
  SetWindowTextA(impl_->hwnd, text.c_str());
  // From the first character, wherever the caret was.
  SendMessageA(impl_->hwnd, EM_SETSEL, 0, 0);
  SendMessageA(impl_->hwnd, EM_SCROLLCARET, 0, 0);
  PaintNow(impl_->hwnd);
}

// --- TComboBox

TComboBox::TComboBox(TForm* owner) : TControl(owner) {
  impl_->hwnd = CreateControl(this, "COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL);
  SendMessageA(impl_->hwnd, CB_SETITEMHEIGHT, 0, ScaleToScreen(13));
}

std::string TComboBox::Text() const {
  return WindowText(impl_->hwnd);
}

void TComboBox::SetText(const std::string& text) {
  SetWindowTextNow(impl_->hwnd, text);
}

void TComboBox::AddItem(const std::string& item) {
  SendMessageA(impl_->hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

std::vector<std::string> TComboBox::Items() const {
  std::vector<std::string> items;
  const auto count = SendMessageA(impl_->hwnd, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto length = SendMessageA(impl_->hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::string item(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, '\0');
    SendMessageA(impl_->hwnd, CB_GETLBTEXT, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(&item[0]));
    item.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
    items.push_back(item);
  }
  return items;
}

// --- TLabel

TLabel::TLabel(TForm* owner) : TControl(owner) {
  impl_->hwnd = CreateControl(this, "STATIC", SS_LEFT | SS_NOPREFIX);
}

std::string TLabel::Caption() const {
  return WindowText(impl_->hwnd);
}

void TLabel::SetCaption(const std::string& caption) {
  SetWindowTextA(impl_->hwnd, caption.c_str());
  FitLabel(impl_->hwnd);
  PaintNow(impl_->hwnd);
}
