// A window program that starts and ends without a window: what Wine loads into such a
// process on its own, before any code of the program runs (planted_dll_test.sh).
#include <windows.h>

int main() {
  return GetSystemMetrics(SM_CXSCREEN) >= 0 ? 0 : 1;
}
