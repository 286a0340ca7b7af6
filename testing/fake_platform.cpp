#include "testing/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/mode_string.h"

namespace fake {

namespace {

constexpr std::uint64_t kNever = UINT64_MAX;

// "9600 N 8 1", with " xon/xoff" and " rts/cts" when flow control is on.
std::string SettingsText(const platform::LineSettings& settings) {
  static const char* const kStops[] = {"1", "1.5", "2"};
  return std::to_string(settings.BaudRate) + " " + "NOEMS"[static_cast<int>(settings.Parity)] +
         " " + std::to_string(settings.ByteSize) + " " +
         kStops[static_cast<int>(settings.StopBits)] +
         (settings.SoftwareFlowControl ? " xon/xoff" : "") +
         (settings.HardwareFlowControl ? " rts/cts" : "");
}

std::string HexNumber(std::uint32_t value, const char* format) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// "05 11 1E": bytes as upper-case hex pairs separated by blanks.
std::string Hex(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    text += (text.empty() ? "" : " ") + HexNumber(b, "%02X");
  }
  return text;
}

}  // namespace

void FakePort::Receive(const Bytes& bytes, std::uint64_t delay) {
  ReceiveAt(os_.Now() + delay, bytes);
}

void FakePort::ReceiveAt(std::uint64_t time, const Bytes& bytes) {
  // Keep the queue ordered by time; bytes of the same time stay in their order.
  auto at = std::upper_bound(input_.begin(), input_.end(), time,
                             [](std::uint64_t t, const Arrival& a) { return t < a.time; });
  for (std::uint8_t b : bytes) {
    at = input_.insert(at, Arrival{time, b}) + 1;
  }
}

FakePort& FakePlatform::AddPort(const std::string& name) {
  auto& slot = ports_[name];
  if (!slot) {
    slot.reset(new FakePort(*this, name));
  }
  return *slot;
}

void FakePlatform::RemovePort(const std::string& name) {
  const auto it = ports_.find(name);
  if (it != ports_.end()) {
    removed_.push_back(std::move(it->second));
    ports_.erase(it);
  }
}

void FakePlatform::At(std::uint64_t time, std::function<void()> action) {
  actions_.push_back(Action{time, actionOrder_++, std::move(action)});
}

std::vector<std::string> FakePlatform::Trace(std::initializer_list<const char*> skip) const {
  std::vector<std::string> lines;
  for (const Call& call : calls_) {
    if (std::none_of(skip.begin(), skip.end(),
                     [&](const char* name) { return call.function == name; })) {
      lines.push_back(call.text);
    }
  }
  return lines;
}

std::size_t FakePlatform::Count(const std::string& function) const {
  return static_cast<std::size_t>(std::count_if(
      calls_.begin(), calls_.end(), [&](const Call& call) { return call.function == function; }));
}

FakePort* FakePlatform::Find(platform::Handle h) {
  FakePort* found = nullptr;
  for (auto& entry : ports_) {
    if (h != platform::InvalidHandle && entry.second->handle_ == h) {
      found = entry.second.get();
    }
  }
  for (auto& port : removed_) {
    if (h != platform::InvalidHandle && port->handle_ == h) {
      found = port.get();
    }
  }
  return found;
}

bool FakePlatform::Log(const char* function, platform::Handle h, const std::string& args, bool ok) {
  if (Recording) {
    const FakePort* port = Find(h);
    const std::string target = h == platform::InvalidHandle ? std::string()  // on no port
                               : port != nullptr            ? port->name_
                                                            : "#" + std::to_string(h);
    const char* separator = !target.empty() && !args.empty() ? ", " : "";
    Call call;
    call.time = now_;
    call.function = function;
    call.text = std::string(function) + "(" + target + separator + args + ")";
    call.text += ok ? "" : " -> false";
    calls_.push_back(std::move(call));
  }
  return ok;
}

void FakePlatform::AdvanceTo(std::uint64_t time) {
  while (!actions_.empty()) {
    const auto next = std::min_element(actions_.begin(), actions_.end(), [](auto& a, auto& b) {
      return a.time < b.time || (a.time == b.time && a.order < b.order);
    });
    if (next->time > time) {
      break;
    }
    now_ = std::max(now_, next->time);
    std::function<void()> action = std::move(next->action);
    actions_.erase(next);
    action();
  }
  now_ = std::max(now_, time);
}

// Called by a read that has taken every byte due by now: the next arrival is the queue's front.
std::uint64_t FakePlatform::NextEvent(const FakePort* port) const {
  std::uint64_t next = std::max(port->failReadsFrom_, now_);
  for (const Action& action : actions_) {
    next = std::min(next, std::max(action.time, now_));
  }
  return port->input_.empty() ? next : std::min(next, port->input_.front().time);
}

platform::Handle FakePlatform::CreateFile(const std::string& name, std::uint32_t desiredAccess,
                                          std::uint32_t shareMode,
                                          std::uint32_t creationDisposition,
                                          std::uint32_t flagsAndAttributes) {
  const auto it = ports_.find(name);
  FakePort* port = it == ports_.end() ? nullptr : it->second.get();
  // A serial port is never shared: a held port does not open again; nor does a device back
  // under the name of one removed while a handle to that one is still held (as Windows
  // refuses it, or hides the new device, until the old handle is closed).
  const bool staleHeld = std::any_of(removed_.begin(), removed_.end(), [&](const auto& old) {
    return old->name_ == name && old->IsOpen();
  });
  const bool opens = port != nullptr && !port->IsOpen() && !staleHeld &&
                     creationDisposition == platform::OpenExisting;
  if (opens) {
    port->handle_ = nextHandle_++;
    ++port->opens_;
  }
  Log("CreateFile", platform::InvalidHandle,
      name + ", " + HexNumber(desiredAccess, "0x%08X") + ", " + std::to_string(shareMode) + ", " +
          std::to_string(creationDisposition) + ", " + std::to_string(flagsAndAttributes),
      opens);
  return opens ? port->handle_ : platform::InvalidHandle;
}

bool FakePlatform::GetCommTimeouts(platform::Handle h, platform::CommTimeouts& timeouts) {
  FakePort* port = Find(h);
  if (port != nullptr) {
    timeouts = port->Timeouts;
  }
  return Log("GetCommTimeouts", h, "", port != nullptr);
}

bool FakePlatform::SetCommTimeouts(platform::Handle h, const platform::CommTimeouts& timeouts) {
  FakePort* port = Find(h);
  const bool ok = port != nullptr && !port->RefuseTimeouts;
  if (ok) {
    port->Timeouts = timeouts;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%u/%u/%u/%u/%u", timeouts.ReadIntervalTimeout,
                timeouts.ReadTotalTimeoutMultiplier, timeouts.ReadTotalTimeoutConstant,
                timeouts.WriteTotalTimeoutMultiplier, timeouts.WriteTotalTimeoutConstant);
  return Log("SetCommTimeouts", h, text, ok);
}

bool FakePlatform::GetCommState(platform::Handle h, platform::LineSettings& settings) {
  FakePort* port = Find(h);
  if (port != nullptr) {
    settings = port->Settings;
  }
  return Log("GetCommState", h, "", port != nullptr);
}

bool FakePlatform::BuildCommDCB(const char* definition, platform::LineSettings& settings) {
  return Log("BuildCommDCB", platform::InvalidHandle, definition != nullptr ? definition : "(null)",
             ParseModeString(definition, settings));
}

bool FakePlatform::SetCommState(platform::Handle h, const platform::LineSettings& settings) {
  FakePort* port = Find(h);
  const bool ok = port != nullptr && !port->RefuseSettings;
  if (ok) {
    port->Settings = settings;
  }
  return Log("SetCommState", h, Recording ? SettingsText(settings) : "", ok);
}

bool FakePlatform::WriteFile(platform::Handle h, const void* data, std::uint32_t count,
                             std::uint32_t& written) {
  FakePort* port = Find(h);
  const auto* begin = static_cast<const std::uint8_t*>(data);
  const bool ok = port != nullptr;
  written = ok ? count : 0;
  if (ok) {
    port->line_.insert(port->line_.end(), begin, begin + count);
  }
  if (Recording) {
    const Bytes bytes(begin, begin + count);
    Log("WriteFile", h, count == 0 ? "0 bytes" : Hex(bytes), ok);
    calls_.back().bytes = bytes;
  }
  if (ok && port->OnWrite) {
    port->OnWrite(*port, Bytes(begin, begin + count));
  }
  return ok;
}

bool FakePlatform::ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                            std::uint32_t& read) {
  // Recorded where it began; what it read is added when it ends.
  const std::size_t index = calls_.size();
  if (Recording) {
    Log("ReadFile", h, std::to_string(count), true);
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  read = 0;
  const bool ok = Read(Find(h), out, count, read);
  if (Recording) {
    Call& call = calls_[index];
    call.number = count;
    call.bytes.assign(out, out + read);
    call.text += " = " + (read == 0 ? std::string("none") : Hex(call.bytes));
    call.text += ok ? "" : " -> false";
  }
  return ok;
}

bool FakePlatform::Read(FakePort* port, std::uint8_t* out, std::uint32_t count,
                        std::uint32_t& read) {
  if (port == nullptr) {
    return false;
  }
  AdvanceTo(now_);  // what is due now
  // A total time-out of multiplier * count + constant, none when both are 0 (the read then
  // waits for all its bytes): the time-outs the program puts on a port, and those it finds.
  const platform::CommTimeouts t = port->Timeouts;
  std::uint64_t deadline = kNever;
  if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    deadline =
        now_ + std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
  }
  for (;;) {
    if (now_ >= port->failReadsFrom_) {
      port->input_.clear();
      AdvanceTo(deadline == kNever ? now_ : deadline);
      return false;
    }
    while (read < count && !port->input_.empty() && port->input_.front().time <= now_) {
      out[read++] = port->input_.front().byte;
      port->input_.pop_front();
    }
    if (read == count || now_ >= deadline) {
      return true;
    }
    const std::uint64_t target = std::min(deadline, NextEvent(port));
    if (target == kNever) {
      throw std::logic_error("fake ReadFile on " + port->name_ +
                             " would wait forever: no time-out and no input to come");
    }
    AdvanceTo(target);
  }
}

bool FakePlatform::PurgeComm(platform::Handle h, std::uint32_t flags) {
  FakePort* port = Find(h);
  if (port != nullptr && (flags & platform::PurgeRxClear) != 0) {
    AdvanceTo(now_);
    while (!port->input_.empty() && port->input_.front().time <= now_) {
      port->input_.pop_front();
    }
  }
  return Log("PurgeComm", h, Recording ? HexNumber(flags, "0x%X") : "", port != nullptr);
}

bool FakePlatform::CloseHandle(platform::Handle h) {
  FakePort* port = Find(h);
  const bool ok = Log("CloseHandle", h, "", port != nullptr);
  if (ok) {
    port->handle_ = platform::InvalidHandle;
  }
  return ok;
}

void FakePlatform::Sleep(std::uint32_t milliseconds) {
  if (Recording) {
    Log("Sleep", platform::InvalidHandle, std::to_string(milliseconds), true);
  }
  AdvanceTo(now_ + milliseconds);
}

std::uint32_t FakePlatform::TimeGetTime() {
  const auto value = static_cast<std::uint32_t>(StartClock + now_);
  if (Recording) {
    Log("TimeGetTime", platform::InvalidHandle, "", true);
    calls_.back().text += " = " + std::to_string(value);
    calls_.back().number = value;
  }
  return value;
}

ScopedPlatform::ScopedPlatform(platform::Platform& platform) : previous_(&platform::Current()) {
  platform::Install(&platform);
}

}  // namespace fake
