#include "testing/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "serial/mode_string.h"

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

}  // namespace

std::string Hex(const Bytes& bytes) {
  std::string text;
  char pair[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    if (!text.empty()) {
      text += ' ';
    }
    text += pair;
  }
  return text;
}

std::string Call::ToString() const {
  const std::string target = port.empty() ? "#" + std::to_string(handle) : port;
  std::string s = function + "(";
  if (function == "CreateFile") {
    char access[16];
    std::snprintf(access, sizeof access, "0x%08X", numbers.at(0));
    s += text + ", " + access + ", " + std::to_string(numbers.at(1)) + ", " +
         std::to_string(numbers.at(2)) + ", " + std::to_string(numbers.at(3)) + ")";
  } else if (function == "SetCommTimeouts") {
    s += target + ", ";
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      s += (i ? "/" : "") + std::to_string(numbers[i]);
    }
    s += ")";
  } else if (function == "SetCommState") {
    s += target + ", " + text + ")";
  } else if (function == "BuildCommDCB") {
    s += text + ")";
  } else if (function == "WriteFile") {
    s += target + ", " + (bytes.empty() ? std::string("0 bytes") : Hex(bytes)) + ")";
  } else if (function == "ReadFile") {
    s += target + ", " + std::to_string(numbers.at(0)) +
         ") = " + (bytes.empty() ? std::string("none") : Hex(bytes));
  } else if (function == "Sleep") {
    s += std::to_string(numbers.at(0)) + ")";
  } else if (function == "PurgeComm") {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%X", numbers.at(0));
    s += target + ", " + flags + ")";
  } else if (function == "TimeGetTime") {
    s += ") = " + std::to_string(numbers.at(0));
  } else {
    s += target + ")";
  }
  if (!result) {
    s += " -> false";
  }
  return s;
}

void FakePort::Receive(const Bytes& bytes, std::uint64_t delay) {
  ReceiveAt(os_.Now() + delay, bytes);
}

void FakePort::ReceiveAt(std::uint64_t time, const Bytes& bytes) {
  // Keep the queue ordered by time; bytes of the same time stay in their order.
  auto at = std::upper_bound(input_.begin(), input_.end(), time,
                             [](std::uint64_t t, const Arrival& a) { return t < a.time; });
  for (std::uint8_t b : bytes) {
    at = input_.insert(at, Arrival{time, b});
    ++at;
  }
}

void FakePort::FailReadsFrom(std::uint64_t time) {
  failReadsFrom_ = time;
}

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;

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

FakePort& FakePlatform::Port(const std::string& name) {
  const auto it = ports_.find(name);
  if (it == ports_.end()) {
    throw std::out_of_range("no fake port " + name);
  }
  return *it->second;
}

void FakePlatform::At(std::uint64_t time, std::function<void()> action) {
  actions_.push_back(Action{time, actionOrder_++, std::move(action)});
}

void FakePlatform::Advance(std::uint64_t ms) {
  AdvanceTo(now_ + ms);
}

std::vector<std::string> FakePlatform::Trace(std::initializer_list<const char*> skip) const {
  std::vector<std::string> lines;
  for (const Call& call : calls_) {
    const bool skipped = std::any_of(skip.begin(), skip.end(),
                                     [&](const char* name) { return call.function == name; });
    if (!skipped) {
      lines.push_back(call.ToString());
    }
  }
  return lines;
}

std::size_t FakePlatform::Count(const std::string& function) const {
  return static_cast<std::size_t>(std::count_if(
      calls_.begin(), calls_.end(), [&](const Call& call) { return call.function == function; }));
}

FakePort* FakePlatform::Find(platform::Handle h) {
  if (h == platform::InvalidHandle) {
    return nullptr;
  }
  for (auto& entry : ports_) {
    if (entry.second->handle_ == h) {
      return entry.second.get();
    }
  }
  for (auto& port : removed_) {
    if (port->handle_ == h) {
      return port.get();
    }
  }
  return nullptr;
}

Call& FakePlatform::Record(const char* function, FakePort* port) {
  // Not recording: the caller fills a scratch call that nobody reads, which keeps the
  // memory of its members from one call to the next.
  static Call discarded;
  if (!Recording) {
    return discarded;
  }
  Call call;
  call.time = now_;
  call.function = function;
  if (port != nullptr) {
    call.port = port->name_;
    call.handle = port->handle_;
  }
  calls_.push_back(std::move(call));
  return calls_.back();
}

void FakePlatform::RunDue() {
  AdvanceTo(now_);
}

void FakePlatform::AdvanceTo(std::uint64_t time) {
  while (!actions_.empty()) {
    auto next = actions_.end();
    for (auto it = actions_.begin(); it != actions_.end(); ++it) {
      if (it->time <= time && (next == actions_.end() || it->time < next->time ||
                               (it->time == next->time && it->order < next->order))) {
        next = it;
      }
    }
    if (next == actions_.end()) {
      break;
    }
    now_ = std::max(now_, next->time);
    std::function<void()> action = std::move(next->action);
    actions_.erase(next);
    action();
  }
  now_ = std::max(now_, time);
}

std::uint64_t FakePlatform::NextEvent(const FakePort* port) const {
  std::uint64_t next = kNever;
  for (const Action& action : actions_) {
    next = std::min(next, std::max(action.time, now_));
  }
  if (port != nullptr) {
    for (const auto& arrival : port->input_) {
      if (arrival.time > now_) {
        next = std::min(next, arrival.time);
        break;
      }
    }
    if (port->failReadsFrom_ > now_) {
      next = std::min(next, port->failReadsFrom_);
    }
  }
  return next;
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
  Call& call = Record("CreateFile", opens ? port : nullptr);
  call.text = name;
  call.numbers = {desiredAccess, shareMode, creationDisposition, flagsAndAttributes};
  call.result = opens;
  return opens ? port->handle_ : platform::InvalidHandle;
}

bool FakePlatform::GetCommTimeouts(platform::Handle h, platform::CommTimeouts& timeouts) {
  FakePort* port = Find(h);
  Call& call = Record("GetCommTimeouts", port);
  call.handle = h;
  call.result = port != nullptr;
  if (port != nullptr) {
    timeouts = port->Timeouts;
  }
  return port != nullptr;
}

bool FakePlatform::SetCommTimeouts(platform::Handle h, const platform::CommTimeouts& timeouts) {
  FakePort* port = Find(h);
  Call& call = Record("SetCommTimeouts", port);
  call.handle = h;
  call.numbers = {timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                  timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                  timeouts.WriteTotalTimeoutConstant};
  const bool ok = port != nullptr && !port->RefuseTimeouts;
  call.result = ok;
  if (ok) {
    port->Timeouts = timeouts;
  }
  return ok;
}

bool FakePlatform::GetCommState(platform::Handle h, platform::LineSettings& settings) {
  FakePort* port = Find(h);
  Call& call = Record("GetCommState", port);
  call.handle = h;
  call.result = port != nullptr;
  if (port != nullptr) {
    settings = port->Settings;
  }
  return port != nullptr;
}

bool FakePlatform::BuildCommDCB(const char* definition, platform::LineSettings& settings) {
  const bool ok = ParseModeString(definition, settings);
  Call& call = Record("BuildCommDCB", nullptr);
  call.text = definition != nullptr ? definition : "(null)";
  call.result = ok;
  return ok;
}

bool FakePlatform::SetCommState(platform::Handle h, const platform::LineSettings& settings) {
  FakePort* port = Find(h);
  Call& call = Record("SetCommState", port);
  call.handle = h;
  if (Recording) {
    call.text = SettingsText(settings);
  }
  const bool ok = port != nullptr && !port->RefuseSettings;
  call.result = ok;
  if (ok) {
    port->Settings = settings;
  }
  return ok;
}

bool FakePlatform::WriteFile(platform::Handle h, const void* data, std::uint32_t count,
                             std::uint32_t& written) {
  FakePort* port = Find(h);
  const auto* begin = static_cast<const std::uint8_t*>(data);
  Bytes bytes(begin, begin + count);
  Call& call = Record("WriteFile", port);
  call.handle = h;
  call.numbers = {count};
  if (Recording) {
    call.bytes = bytes;
  }
  const bool ok = port != nullptr && now_ < port->failWritesFrom_;
  call.result = ok;
  written = ok ? count : 0;
  if (ok) {
    port->line_.insert(port->line_.end(), bytes.begin(), bytes.end());
    if (port->OnWrite) {
      port->OnWrite(*port, bytes);
    }
  }
  return ok;
}

bool FakePlatform::ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                            std::uint32_t& read) {
  read = 0;
  FakePort* port = Find(h);
  const std::size_t index = calls_.size();
  if (Recording) {
    Call& call = Record("ReadFile", port);
    call.handle = h;
    call.numbers = {count};
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  // Ends the read with `read` bytes in the buffer.
  auto finish = [&](bool ok) {
    if (Recording && index < calls_.size()) {
      calls_[index].result = ok;
      calls_[index].bytes.assign(out, out + read);
    }
    return ok;
  };
  if (port == nullptr) {
    return finish(false);
  }
  RunDue();

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
      if (deadline != kNever) {
        AdvanceTo(deadline);
      }
      return finish(false);
    }
    while (read < count && !port->input_.empty() && port->input_.front().time <= now_) {
      out[read++] = port->input_.front().byte;
      port->input_.pop_front();
    }
    if (read == count || now_ >= deadline) {
      return finish(true);
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
  Call& call = Record("PurgeComm", port);
  call.handle = h;
  call.numbers = {flags};
  call.result = port != nullptr;
  if (port == nullptr) {
    return false;
  }
  RunDue();
  if ((flags & platform::PurgeRxClear) != 0) {
    while (!port->input_.empty() && port->input_.front().time <= now_) {
      port->input_.pop_front();
    }
  }
  return true;
}

bool FakePlatform::CloseHandle(platform::Handle h) {
  FakePort* port = Find(h);
  Call& call = Record("CloseHandle", port);
  call.handle = h;
  call.result = port != nullptr;
  if (port != nullptr) {
    port->handle_ = platform::InvalidHandle;
  }
  return port != nullptr;
}

void FakePlatform::Sleep(std::uint32_t milliseconds) {
  if (Recording) {
    Record("Sleep", nullptr).numbers = {milliseconds};
  }
  AdvanceTo(now_ + milliseconds);
}

std::uint32_t FakePlatform::TimeGetTime() {
  const auto value = static_cast<std::uint32_t>(StartClock + now_);
  if (Recording) {
    Record("TimeGetTime", nullptr).numbers = {value};
  }
  return value;
}

ScopedPlatform::ScopedPlatform(platform::Platform& platform) : previous_(&platform::Current()) {
  platform::Install(&platform);
}

ScopedPlatform::~ScopedPlatform() {
  platform::Install(previous_);
}

}  // namespace fake
