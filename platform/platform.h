// The platform layer under the serial port: exactly the operating-system services the
// serial and protocol code need, behind one interface, so that the same code runs on
// Windows (Win32 calls), on POSIX (termios) and in tests (a recording fake with a
// virtual clock). The method names follow the Win32 calls they stand for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A port handle as the platform gives it. InvalidHandle has all bits set, like Win32's
// INVALID_HANDLE_VALUE.
using Handle = std::intptr_t;
constexpr Handle InvalidHandle = -1;

// Arguments of the exclusive open (the values of the Win32 constants).
constexpr std::uint32_t GenericRead = 0x80000000u;
constexpr std::uint32_t GenericWrite = 0x40000000u;
constexpr std::uint32_t OpenExisting = 3;

// PurgeComm: throw away what has come in and not been read (Win32's PURGE_RXCLEAR).
constexpr std::uint32_t PurgeRxClear = 0x0008u;

// The five read/write time-outs of a port, in milliseconds, in the Win32 field order.
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};
bool operator==(const CommTimeouts& a, const CommTimeouts& b);
bool operator!=(const CommTimeouts& a, const CommTimeouts& b);

enum class Parity : std::uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : std::uint8_t { One, OnePointFive, Two };

// Line settings of a port. The portable members are what a mode string such as
// "9600,n,8,1" can change; Native carries the backend's own record (a DCB, a termios)
// from GetCommState through BuildCommDCB to SetCommState, so that members the mode
// string does not mention keep what the port had.
struct LineSettings {
  std::uint32_t BaudRate = 0;
  std::uint8_t ByteSize = 8;
  platform::Parity Parity = platform::Parity::None;
  platform::StopBits StopBits = platform::StopBits::One;
  bool SoftwareFlowControl = false;  // XON/XOFF in both directions
  bool HardwareFlowControl = false;  // RTS/CTS handshake
  std::vector<unsigned char> Native;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Opens the named port; InvalidHandle when it cannot be opened. shareMode 0 means
  // exclusive: a second open of the same port fails while the first is held.
  virtual Handle CreateFile(const std::string& name, std::uint32_t desiredAccess,
                            std::uint32_t shareMode, std::uint32_t creationDisposition,
                            std::uint32_t flagsAndAttributes) = 0;
  virtual bool GetCommTimeouts(Handle h, CommTimeouts& timeouts) = 0;
  virtual bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) = 0;
  virtual bool GetCommState(Handle h, LineSettings& settings) = 0;
  // Applies a mode string to settings; false (settings untouched) when it is malformed.
  virtual bool BuildCommDCB(const char* definition, LineSettings& settings) = 0;
  virtual bool SetCommState(Handle h, const LineSettings& settings) = 0;
  // Synchronous write; written receives the count actually written.
  virtual bool WriteFile(Handle h, const void* data, std::uint32_t count,
                         std::uint32_t& written) = 0;
  // Read bounded by the port's time-outs; read receives the count actually read
  // (0 when the time-out ran out first). False when the port is lost: the device went
  // away or the line hung up. A line error that leaves the port usable is no failure.
  virtual bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t& read) = 0;
  // Discards the port's pending input (flags: PurgeRxClear).
  virtual bool PurgeComm(Handle h, std::uint32_t flags) = 0;
  virtual bool CloseHandle(Handle h) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Milliseconds since some fixed moment, wrapping at 2^32.
  virtual std::uint32_t TimeGetTime() = 0;
};

// The platform the process uses: the operating system's backend unless a test has
// installed another one. Install(nullptr) goes back to the operating system's.
Platform& Current();
void Install(Platform* platform);
// The operating system's backend (defined once per OS, in its own backend file).
Platform& OperatingSystem();

// Shorthands for the two services everybody uses.
inline void Sleep(std::uint32_t milliseconds) {
  Current().Sleep(milliseconds);
}
inline std::uint32_t TimeGetTime() {
  return Current().TimeGetTime();
}

}  // namespace platform
