// DLLs from the system folder alone. pavo.exe is meant to be unpacked and started where it
// lands, often a Downloads folder, and Windows looks for a DLL that is not among the ones it
// always takes from its system folder (the KnownDLLs) in the program's own folder first: a
// DLL of the same name that a web page once dropped there would run inside the program.
// So pavo.exe imports only KnownDLLs, and Common Controls through its manifest; the rest
// (the visual styles, the multimedia timer, accessibility) is loaded from here at run time.
#include <cwchar>

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

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    // The search flags are unknown there too: the full path, with the DLLs it needs in
    // turn looked for in its own folder first.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t nameLength = wcslen(name);
    if (length > 0 && length + 1 + nameLength < MAX_PATH) {
      path[length] = L'\\';
      wmemcpy(path + length + 1, name, nameLength + 1);
      module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
  }
  return module;
}
