// What the Win32 front end's files share, and the restriction of the DLL search. pavo.exe
// imports only KnownDLLs, and Common Controls through its manifest; the rest (the visual
// styles, the multimedia timer, accessibility) is loaded from the system folder at run time
// (platform/system_library_win32.h).
#include "framework/win32/native.h"

namespace {
HWND applicationWindow = nullptr;
}  // namespace

HICON ProgramIcon(int sizeMetric) {
  const int size = GetSystemMetrics(sizeMetric);
  auto icon =
      static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kProgramIconId),
                                    IMAGE_ICON, size, size, LR_SHARED));
  return icon != nullptr ? icon : LoadIcon(nullptr, IDI_APPLICATION);
}

HWND ApplicationWindow() {
  return applicationWindow;
}

void SetApplicationWindow(HWND window) {
  applicationWindow = window;
}

void RestrictDllSearch() {
  // Also the loads that system DLLs make on their own (Common Controls loads the visual
  // styles' DLL). Windows 7 without update KB2533623 lacks the function, so it is looked up
  // rather than imported; LoadSystemLibrary then names full paths.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (auto setDefault = PAVO_SYSTEM_FUNCTION(kernel, SetDefaultDllDirectories)) {
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}
