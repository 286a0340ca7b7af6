#include "platform/platform.h"

namespace platform {

namespace {
Platform* installed = nullptr;
}  // namespace

bool operator==(const CommTimeouts& a, const CommTimeouts& b) {
  return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
         a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
         a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
         a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
         a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

bool operator!=(const CommTimeouts& a, const CommTimeouts& b) {
  return !(a == b);
}

Platform& Current() {
  return installed != nullptr ? *installed : OperatingSystem();
}

void Install(Platform* platform) {
  installed = platform;
}

}  // namespace platform
