#include "framework/application.h"

#include <string>

#include "framework/frontend.h"
#include "framework/win32/native.h"

// The application's own window (ApplicationWindow()) carries the title on the task bar and
// owns the forms, so that the forms' captions stay their own.
struct TApplication::Native {};

namespace {

TApplication theApplication;
constexpr const char* kApplicationClass = "TApplication";

// Whether msg is a key that moves the focus between a form's controls (Tab and the like),
// handled as such.
bool IsFormNavigation(MSG& msg) {
  HWND top = GetAncestor(msg.hwnd, GA_ROOT);
  if (top == nullptr || top == ApplicationWindow()) {
    return false;
  }
  char className[16] = {};
  GetClassNameA(top, className, sizeof className);
  // Message boxes handle their own keys.
  if (std::string(className) == "#32770") {
    return false;
  }
  return IsDialogMessageA(top, &msg) != FALSE;
}

LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  TForm* main = Application != nullptr ? Application->MainForm() : nullptr;
  HWND form = main != nullptr ? main->Impl().hwnd : nullptr;
  switch (message) {
    case WM_SYSCOMMAND:
      // The task bar button: minimising hides the form with the application, restoring
      // brings it back; closing closes the main form.
      switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
          if (form != nullptr) {
            ShowWindow(form, SW_HIDE);
          }
          break;
        case SC_RESTORE: {
          const LRESULT result = DefWindowProcA(hwnd, message, wParam, lParam);
          if (form != nullptr && !main->ClosePending()) {
            ShowWindow(form, SW_SHOW);
            SetForegroundWindow(form);
          }
          return result;
        }
        case SC_CLOSE:
          if (main != nullptr) {
            main->Close();
          }
          return 0;
        default:
          break;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && form != nullptr && IsWindowVisible(form)) {
        SetActiveWindow(form);
        return 0;
      }
      break;
    case WM_CLOSE:
      if (main != nullptr) {
        main->Close();
      }
      return 0;
    case kMainFormClosed:
      if (Application != nullptr && ApplicationFrontEnd::Running(*Application)) {
        PostQuitMessage(0);
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Dispatch(MSG& msg) {
  if (!IsFormNavigation(msg)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

TApplication* Application = &theApplication;

TApplication::TApplication() : native_(std::make_unique<Native>()) {
  // The program's own application object is constructed before main: the restriction
  // holds for every DLL loaded after pavo.exe's imports.
  RestrictDllSearch();
}

TApplication::~TApplication() {
  DestroyForms();
}

void TApplication::Finalize() {
  DestroyForms();
  if (ApplicationWindow() != nullptr) {
    DestroyWindow(ApplicationWindow());
    SetApplicationWindow(nullptr);
  }
}

void TApplication::Initialize() {
  if (ApplicationWindow() != nullptr) {
    return;
  }
  // The controls of Common Controls 6, which the manifest asks for. (The manifest also
  // declares the program DPI-aware: the layout's pixels are scaled to the screen's
  // resolution by the program itself.) Loaded here, not imported: on loading, Common
  // Controls may load the visual styles' DLL by its bare name (Wine's does), and only from
  // now on is that kept to the system folder. The manifest's side-by-side assembly supplies
  // it by name ahead of any folder; without it the controls are the system's older ones.
  // Common Controls looks for the visual styles' DLL by its bare name when it first draws,
  // and a name already loaded is the module that name finds: loaded from the system folder
  // first, it is never looked for beside the program, even where the search cannot be
  // restricted (Windows 7 without its loader update) or a loader looks there regardless
  // (Wine 10 with native DLLs preferred).
  LoadSystemLibrary(L"uxtheme.dll");
  HMODULE comctl32 = LoadLibraryW(L"comctl32.dll");
  if (auto initialize = PAVO_SYSTEM_FUNCTION(comctl32, InitCommonControlsEx)) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    initialize(&controls);
  }
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ApplicationProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  // The task bar button's icon.
  wc.hIcon = ProgramIcon(SM_CXICON);
  wc.hIconSm = ProgramIcon(SM_CXSMICON);
  wc.lpszClassName = kApplicationClass;
  RegisterClassExA(&wc);
  // No size and off to the middle of the screen: only its task bar button is seen.
  SetApplicationWindow(
      CreateWindowExA(0, kApplicationClass, title_.c_str(),
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                      GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                      nullptr, nullptr, wc.hInstance, nullptr));
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (ApplicationWindow() != nullptr) {
    SetWindowTextA(ApplicationWindow(), title.c_str());
  }
}

void TApplication::Run() {
  if (mainForm_ == nullptr) {
    return;
  }
  if (ApplicationWindow() != nullptr) {
    ShowWindow(ApplicationWindow(), SW_SHOWNOACTIVATE);
  }
  mainForm_->Show();
  SetForegroundWindow(mainForm_->Impl().hwnd);
  running_ = true;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    Dispatch(msg);
  }
  running_ = false;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the loop of Run, which ends by it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(msg);
  }
}

void TApplication::ShowErrorBox(const std::string& message) {
  HWND owner = mainForm_ != nullptr ? mainForm_->Impl().hwnd : ApplicationWindow();
  MessageBoxA(owner, message.c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
}

bool TApplication::AskRetry(const std::string& message) {
  HWND owner = mainForm_ != nullptr ? mainForm_->Impl().hwnd : ApplicationWindow();
  return MessageBoxA(owner, message.c_str(), title_.c_str(), MB_RETRYCANCEL | MB_ICONWARNING) ==
         IDRETRY;
}
