// The window's test support on Win32: a grab copies what the window shows from its device
// context (the pixels it has painted, not a fresh rendering as PrintWindow would make), a
// click is the mouse's press and release posted to the button.
#include "testing/screen.h"

#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>

#include "framework/win32/native.h"
#include "testing/accessible_win32.h"

namespace screen {
namespace {

struct TextWatch {
  TEdit* edit;
  std::function<void(const std::string&)> changed;
};

LRESULT CALLBACK WatchProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR data) {
  auto* watch = reinterpret_cast<TextWatch*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, WatchProc, 0);
    delete watch;
  }
  if (message != WM_SETTEXT) {
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  const std::string before = watch->edit->Text();
  const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
  if (watch->edit->Text() != before) {
    watch->changed(watch->edit->Text());
  }
  return result;
}

std::function<bool(const std::string&)> boxAnswer;
HWND answeredBox = nullptr;

BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
  char className[16] = {};
  GetClassNameA(hwnd, className, sizeof className);
  if (std::string(className) == "#32770" && IsWindowVisible(hwnd)) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}

// The box's message: the longest text among its static controls (the other one is the icon).
BOOL CALLBACK FindMessage(HWND child, LPARAM longest) {
  char className[16] = {};
  GetClassNameA(child, className, sizeof className);
  char buffer[1024] = {};
  GetWindowTextA(child, buffer, sizeof buffer);
  auto* best = reinterpret_cast<std::string*>(longest);
  if (std::string(className) == "Static" && std::strlen(buffer) > best->size()) {
    *best = buffer;
  }
  return TRUE;
}

// Runs from the box's own modal loop, which dispatches the thread's timer messages.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr || GetPropA(box, "answered") != nullptr) {
    return;
  }
  SetPropA(box, "answered", box);
  std::string text;
  EnumChildWindows(box, FindMessage, reinterpret_cast<LPARAM>(&text));
  answeredBox = box;
  const bool retry = boxAnswer(text);
  answeredBox = nullptr;
  // An error box has its OK alone.
  HWND ok = GetDlgItem(box, IDOK);
  PostMessageA(ok != nullptr ? ok : GetDlgItem(box, retry ? IDRETRY : IDCANCEL), BM_CLICK, 0, 0);
}

}  // namespace

void Show(TForm* form) {
  form->Show();
  ProcessEvents();
  // What is still to be painted, painted now: then the window shows all of it.
  RedrawWindow(form->Impl().hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

Image Shown(const TControl* control) {
  const HWND hwnd = control->Impl().hwnd;
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  Image image{rect.right - rect.left, rect.bottom - rect.top, {}};
  image.pixels.resize(static_cast<std::size_t>(image.width * image.height));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  const HDC window = GetWindowDC(hwnd);
  const HDC memory = CreateCompatibleDC(window);
  const HBITMAP bitmap = CreateCompatibleBitmap(window, image.width, image.height);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, image.width, image.height, window, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(image.height), image.pixels.data(), &info,
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(hwnd, window);
  for (std::uint32_t& pixel : image.pixels) {
    pixel &= 0xFFFFFFu;
  }
  return image;
}

void ProcessEvents() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Posted, the press and release reach even a disabled button; no test clicks one.
void PostClick(TButton* button) {
  RECT rect{};
  GetClientRect(button->Impl().hwnd, &rect);
  const LPARAM middle = MAKELPARAM(rect.right / 2, rect.bottom / 2);
  PostMessageA(button->Impl().hwnd, WM_LBUTTONDOWN, MK_LBUTTON, middle);
  PostMessageA(button->Impl().hwnd, WM_LBUTTONUP, 0, middle);
}

void PostClose(TForm* form) {
  PostMessageA(form->Impl().hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void Focus(TControl* control) {
  SetFocus(control->Impl().hwnd);
}

bool HasFocus(const TControl* control) {
  return GetFocus() == control->Impl().hwnd;
}

void ScrollEdit(TEdit* edit, bool toEnd) {
  const auto at = static_cast<WPARAM>(toEnd ? edit->Text().size() : 0);
  SendMessageA(edit->Impl().hwnd, EM_SETSEL, at, static_cast<LPARAM>(at));
  SendMessageA(edit->Impl().hwnd, EM_SCROLLCARET, 0, 0);
}

void WatchText(TEdit* edit, std::function<void(const std::string&)> changed) {
  SetWindowSubclass(edit->Impl().hwnd, WatchProc, 0,
                    reinterpret_cast<DWORD_PTR>(new TextWatch{edit, std::move(changed)}));
}

void AnswerBoxes(std::function<bool(const std::string& text)> answer) {
  static UINT_PTR timer = 0;
  if (timer != 0) {
    KillTimer(nullptr, timer);
    timer = 0;
  }
  boxAnswer = std::move(answer);
  if (boxAnswer) {
    timer = SetTimer(nullptr, 0, 10, AnswerBox);
  }
}

bool BoxBelongsTo(const TForm* form) {
  return answeredBox != nullptr && GetWindow(answeredBox, GW_OWNER) == form->Impl().hwnd;
}

std::uint32_t WindowTextColor() {
  const COLORREF color = GetSysColor(COLOR_WINDOWTEXT);
  return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
}

std::string AccessibleName(const TControl* control) {
  return AccessibleText(control->Impl().hwnd, &IAccessible::get_accName);
}

std::string AccessibleValue(const TControl* control) {
  return AccessibleText(control->Impl().hwnd, &IAccessible::get_accValue);
}

}  // namespace screen
