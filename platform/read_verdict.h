// What one read of a port means: bytes, nothing yet, or a port that is gone. Drivers tell a
// pulled adapter in different ways (a failed read with one of several errors, empty reads
// with a failing status call, or empty reads alone), so the backend reports what each call
// answered and the decision is made here, once, where it can be tested for every driver.
#pragma once

#include <cstdint>

namespace platform {

// The Win32 error codes the decision tells apart, by value, so that it and its tests build
// on every system.
namespace win32_error {
constexpr std::uint32_t InvalidFunction = 1;
constexpr std::uint32_t NotSupported = 50;
constexpr std::uint32_t InvalidParameter = 87;
constexpr std::uint32_t OperationAborted = 995;
}  // namespace win32_error

// What a driver answered to one call.
struct Answer {
  bool ok = true;
  std::uint32_t error = 0;  // the call's error code when it failed
};

// The calls a read may need, on one open port.
class PortCalls {
 public:
  // The read itself, bounded by the port's time-outs; read receives the count.
  virtual Answer Read(void* buffer, std::uint32_t count, std::uint32_t& read) = 0;
  // Clears a line error that stops reads, and with it asks whether the port still answers
  // (Win32's ClearCommError).
  virtual Answer ClearErrors() = 0;
  // Reads the line settings (Win32's GetCommState): the one call every driver fails once
  // its device is gone, asked when reads have been empty for a while.
  virtual Answer CheckState() = 0;

 protected:
  ~PortCalls() = default;
};

enum class ReadVerdict { Bytes, Nothing, Lost };

// The reads of one open port, from its open to its close: what earlier reads told is part
// of the decision.
class LossWatch {
 public:
  // Empty reads for this long ask the port's state once, and again after as long.
  static constexpr std::uint32_t QuietCheckInterval = 1000;

  // Reads through port; now is the millisecond clock. The bytes that came are in buffer,
  // their count in read, whatever the verdict.
  ReadVerdict Read(PortCalls& port, std::uint32_t now, void* buffer, std::uint32_t count,
                   std::uint32_t& read);

 private:
  // The last read was aborted by a line error, which has been cleared.
  bool aborted_ = false;
  // Reads have brought nothing since quietSince_ (clock ms).
  bool quiet_ = false;
  std::uint32_t quietSince_ = 0;
};

}  // namespace platform
