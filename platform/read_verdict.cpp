#include "platform/read_verdict.h"

namespace platform {

namespace {

// A driver that does not implement a status call says so with one of these; it tells
// nothing about the device.
bool Unsupported(const Answer& answer) {
  return !answer.ok && (answer.error == win32_error::InvalidFunction ||
                        answer.error == win32_error::NotSupported ||
                        answer.error == win32_error::InvalidParameter);
}

bool Failed(const Answer& answer) {
  return !answer.ok && !Unsupported(answer);
}

}  // namespace

ReadVerdict LossWatch::Read(PortCalls& port, std::uint32_t now, void* buffer, std::uint32_t count,
                            std::uint32_t& read) {
  read = 0;
  const Answer answer = port.Read(buffer, count, read);
  if (!answer.ok) {
    quiet_ = false;
    // Only an abort can be a line error (framing, overrun, break: reads stop until it is
    // cleared). A second one in a row means clearing did not cure it. Every other failed
    // read is a device that has gone, whatever a status call still says.
    if (answer.error != win32_error::OperationAborted || aborted_) {
      return ReadVerdict::Lost;
    }
    aborted_ = true;
    return Failed(port.ClearErrors()) ? ReadVerdict::Lost : ReadVerdict::Nothing;
  }
  aborted_ = false;
  if (read > 0) {
    quiet_ = false;
    return ReadVerdict::Bytes;
  }
  // Some drivers give empty reads on a pulled adapter and fail only a status call.
  if (Failed(port.ClearErrors())) {
    return ReadVerdict::Lost;
  }
  if (!quiet_) {
    quiet_ = true;
    quietSince_ = now;
  } else if (now - quietSince_ >= QuietCheckInterval) {
    // Others answer even that: a quiet line asks once a second what every driver fails.
    quietSince_ = now;
    if (Failed(port.CheckState())) {
      return ReadVerdict::Lost;
    }
  }
  return ReadVerdict::Nothing;
}

}  // namespace platform
