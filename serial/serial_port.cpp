#include "serial/serial_port.h"

#include <cstdio>

platform::Handle PortHandle = platform::InvalidHandle;
platform::CommTimeouts SavedTimeouts;
const platform::CommTimeouts WorkingTimeouts{0, 0, 1, 0, 0};

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
  // From here on results are not looked at: a refused setting leaves the port open.
  os.GetCommTimeouts(PortHandle, SavedTimeouts);
  os.SetCommTimeouts(PortHandle, WorkingTimeouts);
  platform::LineSettings settings;
  os.GetCommState(PortHandle, settings);
  os.BuildCommDCB(definition, settings);
  os.SetCommState(PortHandle, settings);
  return true;
}

void CloseComPort() {
  platform::Platform& os = platform::Current();
  os.SetCommTimeouts(PortHandle, SavedTimeouts);
  os.CloseHandle(PortHandle);
}

bool ReadComPort(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& read) {
  if (platform::Current().ReadFile(PortHandle, buffer, count, read)) {
    return true;
  }
  // A lost port only fails again: every reader of it finds out here, and it is closed once.
  CloseComPort();
  return false;
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
