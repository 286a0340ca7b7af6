// The least a Win32 program with pavo.exe's manifest does to put up its themed window, the
// floor against which wine_startup.exe sets pavo.exe's start. Both programs are built from
// this file, with the main form's place and client size from the stored layout
// (ui/unit1_layout.cpp), shown and served until closed:
//   bare_window.exe  one push button where the form has its Start button; no other
//                    controls, fonts, icon or DLLs of its own: what any such program pays
//   bare_form.exe    (PAVO_BARE_FORM) every control of the layout, made straight with
//                    CreateWindowEx in the form's font: what the window's controls
//                    themselves cost, without the program's own layers
// The buttons are of Common Controls 6, which the manifest asks for, so that the visual
// styles are in use as in pavo.exe.
#include <windows.h>

#include <string>

#include "ui/unit1_layout.h"

namespace {

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

HWND MakeControl(HWND form, const TComponentDesc& c) {
  const char* windowClass = "BUTTON";
  DWORD style = WS_CHILD | WS_VISIBLE | (c.tabOrder >= 0 ? WS_TABSTOP : 0);
  DWORD exStyle = 0;
  int height = c.height;
  if (c.className == "TEdit") {
    windowClass = "EDIT";
    style |= ES_AUTOHSCROLL;
    exStyle = WS_EX_CLIENTEDGE;
  } else if (c.className == "TComboBox") {
    windowClass = "COMBOBOX";
    style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL;
    height += 8 * 13;  // with its open list
  } else if (c.className == "TLabel") {
    windowClass = "STATIC";
    style |= SS_LEFT | SS_NOPREFIX;
  }
  HWND control =
      CreateWindowExA(exStyle, windowClass, c.text.c_str(), style, c.left, c.top, c.width, height,
                      form, nullptr, GetModuleHandleA(nullptr), nullptr);
  for (const std::string& item : c.items) {
    SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  return control;
}

}  // namespace

int main() {
  const TFormDesc& layout = Form1Layout();
#ifdef PAVO_BARE_FORM
  const char* const windowClass = "PavoBareForm";
#else
  const char* const windowClass = "PavoBareWindow";
#endif
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = windowClass;
  if (RegisterClassExA(&wc) == 0) {
    return 1;
  }
  RECT rect = {0, 0, layout.width, layout.height};
  AdjustWindowRectEx(&rect, kStyle, FALSE, 0);
  HWND hwnd = CreateWindowExA(0, windowClass, layout.caption.c_str(), kStyle, layout.left,
                              layout.top, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) {
    return 1;
  }
#ifdef PAVO_BARE_FORM
  HFONT font = CreateFontA(layout.font.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, layout.font.name.c_str());
  for (const TComponentDesc& c : layout.components) {
    SendMessageA(MakeControl(hwnd, c), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
#else
  for (const TComponentDesc& c : layout.components) {
    if (c.name == "Button2") {
      MakeControl(hwnd, c);
    }
  }
#endif
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  SetForegroundWindow(hwnd);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
