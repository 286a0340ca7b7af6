// The Windows backend of the platform layer: each method is the Win32 call of its name.
#include "platform/append_file.h"
#include "platform/platform.h"
#include "platform/read_verdict.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: mmsystem.h relies on its types. Its functions are looked up at run
// time, never imported (see Winmm).
#include <mmsystem.h>
// _chsize
#include <io.h>

#include "platform/system_library_win32.h"

// windows.h maps these names to their A/W variants; here they are the interface's methods,
// and the calls below name the ANSI functions themselves.
#undef CreateFile
#undef BuildCommDCB

namespace platform {

namespace {

static_assert(sizeof(DCB) == 28, "a DCB is 28 bytes on every Windows target");

HANDLE ToNative(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}

Handle FromNative(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? InvalidHandle : reinterpret_cast<Handle>(h);
}

// "COMn" opened as "\\.\COMn": without the device namespace Windows only finds COM1 to
// COM9. Names already in a namespace are passed on as they are.
std::string DeviceName(const std::string& name) {
  if (name.rfind("\\\\", 0) == 0) {
    return name;
  }
  return "\\\\.\\" + name;
}

COMMTIMEOUTS ToNative(const CommTimeouts& t) {
  COMMTIMEOUTS n{};
  n.ReadIntervalTimeout = t.ReadIntervalTimeout;
  n.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
  n.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
  n.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
  n.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
  return n;
}

CommTimeouts FromNative(const COMMTIMEOUTS& n) {
  CommTimeouts t;
  t.ReadIntervalTimeout = n.ReadIntervalTimeout;
  t.ReadTotalTimeoutMultiplier = n.ReadTotalTimeoutMultiplier;
  t.ReadTotalTimeoutConstant = n.ReadTotalTimeoutConstant;
  t.WriteTotalTimeoutMultiplier = n.WriteTotalTimeoutMultiplier;
  t.WriteTotalTimeoutConstant = n.WriteTotalTimeoutConstant;
  return t;
}

BYTE ToNative(Parity p) {
  switch (p) {
    case Parity::Odd:
      return ODDPARITY;
    case Parity::Even:
      return EVENPARITY;
    case Parity::Mark:
      return MARKPARITY;
    case Parity::Space:
      return SPACEPARITY;
    case Parity::None:
      break;
  }
  return NOPARITY;
}

Parity ParityOf(BYTE p) {
  switch (p) {
    case ODDPARITY:
      return Parity::Odd;
    case EVENPARITY:
      return Parity::Even;
    case MARKPARITY:
      return Parity::Mark;
    case SPACEPARITY:
      return Parity::Space;
    default:
      return Parity::None;
  }
}

BYTE ToNative(StopBits s) {
  switch (s) {
    case StopBits::OnePointFive:
      return ONE5STOPBITS;
    case StopBits::Two:
      return TWOSTOPBITS;
    case StopBits::One:
      break;
  }
  return ONESTOPBIT;
}

StopBits StopBitsOf(BYTE s) {
  switch (s) {
    case ONE5STOPBITS:
      return StopBits::OnePointFive;
    case TWOSTOPBITS:
      return StopBits::Two;
    default:
      return StopBits::One;
  }
}

bool SoftwareFlowOf(const DCB& dcb) {
  return dcb.fOutX || dcb.fInX;
}

bool HardwareFlowOf(const DCB& dcb) {
  return dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
}

// The DCB a LineSettings stands for: its Native record (a fresh one when it holds none),
// with every portable member that disagrees with that record written into it. Members the
// portable fields agree with are left exactly as the record has them.
DCB DcbOf(const LineSettings& settings) {
  DCB dcb{};
  if (settings.Native.size() == sizeof(DCB)) {
    std::memcpy(&dcb, settings.Native.data(), sizeof(DCB));
  }
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = settings.BaudRate;
  dcb.ByteSize = settings.ByteSize;
  if (ParityOf(dcb.Parity) != settings.Parity) {
    dcb.Parity = ToNative(settings.Parity);
    dcb.fParity = settings.Parity != Parity::None;
  }
  if (StopBitsOf(dcb.StopBits) != settings.StopBits) {
    dcb.StopBits = ToNative(settings.StopBits);
  }
  if (SoftwareFlowOf(dcb) != settings.SoftwareFlowControl) {
    dcb.fOutX = settings.SoftwareFlowControl;
    dcb.fInX = settings.SoftwareFlowControl;
  }
  if (HardwareFlowOf(dcb) != settings.HardwareFlowControl) {
    dcb.fOutxCtsFlow = settings.HardwareFlowControl;
    dcb.fRtsControl = settings.HardwareFlowControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  }
  return dcb;
}

void Store(const DCB& dcb, LineSettings& settings) {
  settings.BaudRate = dcb.BaudRate;
  settings.ByteSize = dcb.ByteSize;
  settings.Parity = ParityOf(dcb.Parity);
  settings.StopBits = StopBitsOf(dcb.StopBits);
  settings.SoftwareFlowControl = SoftwareFlowOf(dcb);
  settings.HardwareFlowControl = HardwareFlowOf(dcb);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&dcb);
  settings.Native.assign(bytes, bytes + sizeof(DCB));
}

// What the driver answers, call by call; LossWatch decides what it means.
class Win32PortCalls final : public PortCalls {
 public:
  explicit Win32PortCalls(HANDLE port) : port_(port) {}

  Answer Read(void* buffer, std::uint32_t count, std::uint32_t& read) override {
    DWORD n = 0;
    const Answer answer = Result(::ReadFile(port_, buffer, count, &n, nullptr));
    read = n;
    return answer;
  }
  Answer ClearErrors() override {
    DWORD errors = 0;
    return Result(::ClearCommError(port_, &errors, nullptr));
  }
  Answer CheckState() override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    return Result(::GetCommState(port_, &dcb));
  }

 private:
  static Answer Result(BOOL ok) { return ok ? Answer{} : Answer{false, ::GetLastError()}; }
  HANDLE port_;
};

// The multimedia timer's functions. winmm.dll is not among the DLLs Windows always takes
// from its system folder (the KnownDLLs): imported, or loaded by its bare name, a copy
// beside pavo.exe (say, one a web page dropped into the Downloads folder it was unpacked
// in) would run in its place. So it is loaded from the system folder alone, and its
// functions are looked up; without them the port keeps working on the coarser clock.
struct Winmm {
  Winmm() {
    HMODULE module = LoadSystemLibrary(L"winmm.dll");
    beginPeriod = PAVO_SYSTEM_FUNCTION(module, timeBeginPeriod);
    endPeriod = PAVO_SYSTEM_FUNCTION(module, timeEndPeriod);
    getTime = PAVO_SYSTEM_FUNCTION(module, timeGetTime);
  }

  decltype(&::timeBeginPeriod) beginPeriod;
  decltype(&::timeEndPeriod) endPeriod;
  decltype(&::timeGetTime) getTime;
};

class Win32Platform final : public Platform {
 public:
  // The pauses of 1 and 3 ms and the 1 ms read time-out only mean what they say with a
  // 1 ms system timer; the default tick is 15.6 ms.
  Win32Platform()
      : fineTimer_(winmm_.beginPeriod != nullptr && winmm_.endPeriod != nullptr &&
                   winmm_.beginPeriod(1) == TIMERR_NOERROR),
        // One clock for the whole run: a time-out measured across a switch would be wrong.
        clock_(winmm_.getTime != nullptr ? winmm_.getTime : ::GetTickCount) {}
  ~Win32Platform() override {
    if (fineTimer_) {
      winmm_.endPeriod(1);
    }
  }
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Handle CreateFile(const std::string& name, std::uint32_t desiredAccess, std::uint32_t shareMode,
                    std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
    const Handle h =
        FromNative(::CreateFileA(DeviceName(name).c_str(), desiredAccess, shareMode, nullptr,
                                 creationDisposition, flagsAndAttributes, nullptr));
    if (h != InvalidHandle) {
      watches_[h] = LossWatch();
    }
    return h;
  }

  bool GetCommTimeouts(Handle h, CommTimeouts& timeouts) override {
    COMMTIMEOUTS n{};
    if (!::GetCommTimeouts(ToNative(h), &n)) {
      return false;
    }
    timeouts = FromNative(n);
    return true;
  }

  bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) override {
    COMMTIMEOUTS n = ToNative(timeouts);
    return ::SetCommTimeouts(ToNative(h), &n) != FALSE;
  }

  bool GetCommState(Handle h, LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!::GetCommState(ToNative(h), &dcb)) {
      return false;
    }
    Store(dcb, settings);
    return true;
  }

  bool BuildCommDCB(const char* definition, LineSettings& settings) override {
    if (definition == nullptr) {
      return false;
    }
    DCB dcb = DcbOf(settings);
    if (!::BuildCommDCBA(definition, &dcb)) {
      return false;
    }
    Store(dcb, settings);
    return true;
  }

  bool SetCommState(Handle h, const LineSettings& settings) override {
    DCB dcb = DcbOf(settings);
    return ::SetCommState(ToNative(h), &dcb) != FALSE;
  }

  bool WriteFile(Handle h, const void* data, std::uint32_t count, std::uint32_t& written) override {
    DWORD n = 0;
    const BOOL ok = ::WriteFile(ToNative(h), data, count, &n, nullptr);
    written = n;
    return ok != FALSE;
  }

  bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t& read) override {
    Win32PortCalls port(ToNative(h));
    return watches_[h].Read(port, TimeGetTime(), buffer, count, read) != ReadVerdict::Lost;
  }

  bool PurgeComm(Handle h, std::uint32_t flags) override {
    return ::PurgeComm(ToNative(h), flags) != FALSE;
  }

  bool CloseHandle(Handle h) override {
    watches_.erase(h);
    return ::CloseHandle(ToNative(h)) != FALSE;
  }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  std::uint32_t TimeGetTime() override { return clock_(); }

 private:
  Winmm winmm_;
  bool fineTimer_;
  // What the reads of each open port have told so far.
  std::map<Handle, LossWatch> watches_;
  DWORD(WINAPI* clock_)();
};

}  // namespace

Platform& OperatingSystem() {
  static Win32Platform system;
  return system;
}

std::FILE* OpenForAppend(const char* name, std::string& whyNot) {
  // Windows has no pipes among the files of a directory: a plain open never waits.
  std::FILE* file = std::fopen(name, "a");
  if (file == nullptr) {
    // The C library says "Permission denied" for a file another program holds without
    // sharing it for writing (a spreadsheet showing it, say); the system's own error
    // tells the two apart.
    if (_doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION) {
      whyNot = "it is open in another program, which does not let others write to it";
    } else {
      whyNot = std::strerror(errno);
    }
  }
  return file;
}

bool TruncateFile(std::FILE* file, long size) {
  return _chsize(_fileno(file), size) == 0;
}

}  // namespace platform

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // Windows 7 without update KB2533623 knows no search flags: the full path, with the
    // DLLs it needs in turn looked for in its own folder first.
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t nameLength = std::wcslen(name);
    if (length > 0 && length + 1 + nameLength < MAX_PATH) {
      path[length] = L'\\';
      std::wmemcpy(path + length + 1, name, nameLength + 1);
      module = ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
  }
  return module;
}
