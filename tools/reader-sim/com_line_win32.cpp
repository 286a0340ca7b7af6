#include "tools/reader-sim/com_line_win32.h"

#include <algorithm>
#include <string>

#include "tools/reader-sim/serve.h"
#include "tools/reader-sim/stop.h"

namespace readersim {
namespace {

// While the port cannot be opened, it is tried again this often.
constexpr Millis kReopenInterval = 1000;
// Nothing on a COM port wakes the loop up: it looks at the port this often while the
// program has its side open (a byte takes about 1 ms at 9600 baud, a frame several), and
// while it waits for the program to open its side.
constexpr Millis kOpenPollInterval = 5;
constexpr Millis kClosedPollInterval = 20;
// Before the hangup scenario drops the line: the longest wait for the output to go out.
constexpr Millis kDrainLimit = 2000;
// The longest a write may take: the line runs without flow control, so only a port that
// has stopped working holds a write up.
constexpr DWORD kWriteLimit = 1000;

// The system's message for an error code, on one line.
std::string ErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD size = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = size > 0 && buffer != nullptr ? std::string(buffer, size) : std::string();
  LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) {
    text = "error " + std::to_string(code);
  }
  return text;
}

}  // namespace

ComLine::ComLine(int number) : name_("COM" + std::to_string(number)), device_("\\\\.\\" + name_) {}

ComLine::~ComLine() {
  ClosePort();
}

bool ComLine::Open(std::string* error) {
  std::string failure;
  std::string said;
  while (!OpenPort(&failure)) {
    if (failure != said) {
      Trace(failure + "; trying again every " + std::to_string(kReopenInterval) + " ms");
      said = failure;
    }
    if (StopArrived(kReopenInterval)) {
      error->clear();
      return false;
    }
  }
  if (!said.empty()) {
    Trace(name_ + " open");
  }
  return true;
}

bool ComLine::OpenPort(std::string* error) {
  port_ = CreateFileA(device_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                      nullptr);
  if (port_ == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + name_ + " (" + ErrorText(GetLastError()) + ")";
    return false;
  }
  SetupComm(port_, 4096, 4096);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port_, &dcb)) {
    *error = name_ + " does not answer as a serial port (" + ErrorText(GetLastError()) + ")";
    ClosePort();
    return false;
  }
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fAbortOnError = FALSE;
  // DTR on: the far end of a null-modem pair sees the reader as there, as its own DSR.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  // Reads return at once with what has come; a write waits at most kWriteLimit.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = kWriteLimit;
  if (!SetCommState(port_, &dcb) || !SetCommTimeouts(port_, &timeouts)) {
    *error = "cannot set " + name_ + " to 9600 8N1 (" + ErrorText(GetLastError()) + ")";
    ClosePort();
    return false;
  }
  // What came in before the reader was there would not have reached a real one.
  PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  DWORD status = 0;
  byDsr_ = GetCommModemStatus(port_, &status) != 0;
  dsrWasOn_ = byDsr_ && (status & MS_DSR_ON) != 0;
  dsrSeen_ = dsrWasOn_;
  return true;
}

void ComLine::ClosePort() {
  if (port_ != INVALID_HANDLE_VALUE) {
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
  }
}

std::string ComLine::Where() const {
  return "serving " + name_;
}

std::string ComLine::Remark() const {
  if (byDsr_) {
    return " (its DSR, the far end's DTR, shows when the program opens and closes its side)";
  }
  return " (it shows no modem lines: the line counts as open from the start, as the "
         "program's opening and closing of its side cannot be seen)";
}

void ComLine::Lost(const std::string& why) {
  ClosePort();
  closedSince_ = true;
  Trace(name_ + " went away (" + why + "); opening it again once it is back");
  nextTry_ = SteadyNow() + kReopenInterval;
  lastFailure_.clear();
}

void ComLine::TryReopen() {
  if (port_ != INVALID_HANDLE_VALUE || SteadyNow() < nextTry_) {
    return;
  }
  std::string error;
  if (OpenPort(&error)) {
    Trace(name_ + " is back");
    return;
  }
  if (error != lastFailure_) {
    Trace(error + "; trying again every " + std::to_string(kReopenInterval) + " ms");
    lastFailure_ = error;
  }
  nextTry_ = SteadyNow() + kReopenInterval;
}

bool ComLine::FarEndOpen() {
  if (port_ == INVALID_HANDLE_VALUE) {
    return false;
  }
  if (!byDsr_) {
    return true;
  }
  DWORD status = 0;
  if (!GetCommModemStatus(port_, &status)) {
    Lost("modem status: " + ErrorText(GetLastError()));
    return false;
  }
  const bool on = (status & MS_DSR_ON) != 0;
  if (dsrWasOn_ && !on) {
    closedSince_ = true;
  }
  dsrWasOn_ = on;
  dsrSeen_ = dsrSeen_ || on;
  if (!on && !dsrSeen_ && BytesWaiting() > 0) {
    // Only a program that has its side open sends, and DSR has never come on since the
    // port was opened: this far end's DTR does not reach DSR.
    byDsr_ = false;
    Trace(name_ + ": bytes came while DSR was off, so DSR does not follow the program's " +
          "side here; the line counts as open from now on");
    return true;
  }
  return on;
}

DWORD ComLine::BytesWaiting() {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(port_, &errors, &status) ? status.cbInQue : 0;
}

Line::State ComLine::Look() {
  TryReopen();
  State state;
  state.open = FarEndOpen();
  state.closedSince = closedSince_;
  closedSince_ = false;
  return state;
}

std::size_t ComLine::Read(std::uint8_t* data, std::size_t size) {
  if (port_ == INVALID_HANDLE_VALUE) {
    return 0;
  }
  DWORD got = 0;
  if (!ReadFile(port_, data, static_cast<DWORD>(size), &got, nullptr)) {
    Lost("read: " + ErrorText(GetLastError()));
    return 0;
  }
  return got;
}

std::size_t ComLine::Write(const std::uint8_t* data, std::size_t size) {
  if (port_ == INVALID_HANDLE_VALUE) {
    return 0;
  }
  DWORD written = 0;
  if (!WriteFile(port_, data, static_cast<DWORD>(size), &written, nullptr)) {
    Lost("write: " + ErrorText(GetLastError()));
    return 0;
  }
  return written;
}

void ComLine::AwaitDrain() {
  // Closing the port throws away what it has not sent yet.
  const Millis start = SteadyNow();
  while (port_ != INVALID_HANDLE_VALUE && SteadyNow() - start < kDrainLimit) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_, &errors, &status) || status.cbOutQue == 0 ||
        (byDsr_ && !FarEndOpen()) || StopArrived(kOpenPollInterval)) {
      return;
    }
  }
}

void ComLine::Wait(Millis timeout, bool open, bool) {
  Millis poll = open ? kOpenPollInterval : kClosedPollInterval;
  if (closedSince_) {
    poll = 0;  // the loop hears of it at once
  } else if (port_ == INVALID_HANDLE_VALUE) {
    poll = std::max<Millis>(nextTry_ - SteadyNow(), 0);
  }
  StopArrived(std::min(timeout, poll));
}

bool ComLine::Unplug(std::string*) {
  ClosePort();
  return true;
}

bool ComLine::Replug(std::string* back, std::string* error) {
  if (!Open(error)) {
    return false;
  }
  *back = name_ + " open again";
  return true;
}

std::string ComLine::Close() {
  if (port_ != INVALID_HANDLE_VALUE) {
    PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
  }
  ClosePort();
  return "line closed, " + name_ + " released; end";
}

}  // namespace readersim
