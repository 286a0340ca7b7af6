// A DLL planted beside pavo.exe under the name of one the program needs (winmm.dll,
// uxtheme.dll, ...), as a web page might drop one into a Downloads folder: loaded, it leaves
// a mark beside itself, "<its file name>.loaded". It exports nothing, and needs nothing but
// kernel32, so that it loads wherever it is put.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t mark[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(instance, mark, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      lstrcpyW(mark + length, L".loaded");
      HANDLE file = CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
      }
    }
  }
  return TRUE;
}
