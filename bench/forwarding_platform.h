// A platform that passes every call on to another one, for benchmarks that time or bend a
// few calls of the real or the fake platform.
#pragma once

#include "platform/platform.h"

namespace bench {

// Passes every call on to another platform (by default the operating system's), so that a
// benchmark can watch or bend the few calls it cares about and override only those.
class ForwardingPlatform : public platform::Platform {
 public:
  explicit ForwardingPlatform(platform::Platform& inner = platform::OperatingSystem())
      : inner_(inner) {}

  platform::Handle CreateFile(const std::string& name, std::uint32_t desiredAccess,
                              std::uint32_t shareMode, std::uint32_t creationDisposition,
                              std::uint32_t flagsAndAttributes) override {
    return inner_.CreateFile(name, desiredAccess, shareMode, creationDisposition,
                             flagsAndAttributes);
  }
  bool GetCommTimeouts(platform::Handle h, platform::CommTimeouts& timeouts) override {
    return inner_.GetCommTimeouts(h, timeouts);
  }
  bool SetCommTimeouts(platform::Handle h, const platform::CommTimeouts& timeouts) override {
    return inner_.SetCommTimeouts(h, timeouts);
  }
  bool GetCommState(platform::Handle h, platform::LineSettings& settings) override {
    return inner_.GetCommState(h, settings);
  }
  bool BuildCommDCB(const char* definition, platform::LineSettings& settings) override {
    return inner_.BuildCommDCB(definition, settings);
  }
  bool SetCommState(platform::Handle h, const platform::LineSettings& settings) override {
    return inner_.SetCommState(h, settings);
  }
  bool WriteFile(platform::Handle h, const void* data, std::uint32_t count,
                 std::uint32_t& written) override {
    return inner_.WriteFile(h, data, count, written);
  }
  bool ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                std::uint32_t& read) override {
    return inner_.ReadFile(h, buffer, count, read);
  }
  bool PurgeComm(platform::Handle h, std::uint32_t flags) override {
    return inner_.PurgeComm(h, flags);
  }
  bool CloseHandle(platform::Handle h) override { return inner_.CloseHandle(h); }
  void Sleep(std::uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
  std::uint32_t TimeGetTime() override { return inner_.TimeGetTime(); }

 protected:
  platform::Platform& Inner() { return inner_; }

 private:
  platform::Platform& inner_;
};

}  // namespace bench
