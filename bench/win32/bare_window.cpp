// The least a Win32 program with pavo.exe's manifest does to put up a themed window: one
// top-level window of the main form's style, place and client size with one push button,
// shown and served until it is closed. The button is of Common Controls 6, which the
// manifest asks for, so that the visual styles are in use as in pavo.exe; no other
// controls, no fonts, icon or DLLs of its own. What any such program pays when it starts,
// against which wine_startup.exe sets pavo.exe's start.
#include <windows.h>

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

}  // namespace

int main() {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "PavoBareWindow";
  if (RegisterClassExA(&wc) == 0) {
    return 1;
  }
  // The main form's place and client size at 96 dpi (ui/unit1_layout.cpp).
  RECT rect = {0, 0, 353, 257};
  AdjustWindowRectEx(&rect, kStyle, FALSE, 0);
  HWND hwnd =
      CreateWindowExA(0, wc.lpszClassName, "Form1", kStyle, 147, 286, rect.right - rect.left,
                      rect.bottom - rect.top, nullptr, nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) {
    return 1;
  }
  // Where the main form has its Start button; the manifest's Common Controls 6 supply it.
  CreateWindowExA(0, "BUTTON", "Start", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 248, 96,
                  75, 25, hwnd, nullptr, wc.hInstance, nullptr);
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
