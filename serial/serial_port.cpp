#include "serial/serial_port.h"

#include <cstdio>

platform::Handle PortHandle = platform::InvalidHandle;
platform::CommTimeouts SavedTimeouts;
const platform::CommTimeouts WorkingTimeouts{0, 0, 1, 0, 0};

namespace {
bool portOpen = false;
}  // namespace

bool OpenComPort(std::int32_t portNumber, const char* definition) {
  char name[16];
  std::snprintf(name, sizeof name, "COM%i", static_cast<int>(portNumber));
  platform::Platform& os = platform::Current();
  const platform::Handle handle = os.CreateFile(
      name, platform::GenericRead | platform::GenericWrite, 0, platform::OpenExisting, 0);
  if (handle == platform::InvalidHandle) {
    return false;
  }
  PortHandle = handle;
  os.GetCommTimeouts(PortHandle, SavedTimeouts);
  // Without the 1 ms read time-out a read on a quiet line could wait for ever, and the
  // window with it (the port's own time-outs may all be zero): such a port is no use.
  if (!os.SetCommTimeouts(PortHandle, WorkingTimeouts)) {
    os.CloseHandle(PortHandle);
    return false;
  }
  // A refused line setting leaves the port open: the reader may still understand it.
  platform::LineSettings settings;
  os.GetCommState(PortHandle, settings);
  os.BuildCommDCB(definition, settings);
  os.SetCommState(PortHandle, settings);
  portOpen = true;
  return true;
}

void CloseComPort() {
  if (!portOpen) {
    return;
  }
  portOpen = false;
  platform::Platform& os = platform::Current();
  os.SetCommTimeouts(PortHandle, SavedTimeouts);
  os.CloseHandle(PortHandle);
}

bool ComPortOpen() {
  return portOpen;
}

bool ReadComPort(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  if (!portOpen) {
    return false;
  }
  if (platform::Current().ReadFile(PortHandle, buffer, count, read)) {
    return true;
  }
  // A handle to a device that has gone must be closed before the device, plugged in
  // again, can be opened: Windows refuses the new open, or hides the device, while the
  // old handle is held.
  CloseComPort();
  return false;
}

void PurgeComPort() {
  platform::Current().PurgeComm(PortHandle, platform::PurgeRxClear);
}

void WriteByte(std::uint8_t value) {
  platform::Platform& os = platform::Current();
  std::uint32_t written = 0;
  os.WriteFile(PortHandle, &value, 1, written);
  os.Sleep(1);
}

void WriteBlock(const std::uint8_t* data, std::int32_t count) {
  platform::Platform& os = platform::Current();
  std::uint32_t written = 0;
  os.WriteFile(PortHandle, data, static_cast<std::uint32_t>(count), written);
  os.Sleep(3);
}
