// Windows: Ctrl+C, Ctrl+Break and the closing console stop the simulator, and the line is
// a COM port.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "tools/reader-sim/com_line_win32.h"
#include "tools/reader-sim/line.h"
#include "tools/reader-sim/stop.h"

namespace readersim {
namespace {

// Set by the console's handler thread, waited for by the main loop.
HANDLE stopEvent = nullptr;
std::atomic<DWORD> stopKind{0};

const char* StopName(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
      return "console closed";
    case CTRL_LOGOFF_EVENT:
      return "logoff";
    default:
      return "shutdown";
  }
}

BOOL WINAPI OnConsoleEvent(DWORD kind) {
  stopKind = kind;
  SetEvent(stopEvent);
  if (kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT) {
    // The process ends as soon as this returns: the main loop gets the time the system
    // allows to close the port and trace the end, and ends the process itself.
    Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

bool InstallStopHandlers(std::string* error) {
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent == nullptr || !SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
    *error = "cannot catch Ctrl+C (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  return true;
}

bool StopArrived(Millis wait) {
  return WaitForSingleObject(stopEvent, static_cast<DWORD>(wait)) == WAIT_OBJECT_0;
}

std::string TakeStop() {
  if (WaitForSingleObject(stopEvent, 0) != WAIT_OBJECT_0) {
    return {};
  }
  ResetEvent(stopEvent);
  return StopName(stopKind);
}

std::unique_ptr<Line> OpenLine(const Options& options, std::string* error) {
  auto line = std::make_unique<ComLine>(options.port);
  return line->Open(error) ? std::move(line) : nullptr;
}

}  // namespace readersim
