#include "bench/bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace bench {

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Worst(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void Print(const std::vector<Figure>& figures, bool tsv) {
  if (!tsv) {
    std::printf("%-58s %-4s %10s %10s %5s  %s\n", "figure", "unit", "median", "worst", "runs",
                "reference");
  }
  for (const Figure& f : figures) {
    const char* format =
        tsv ? "%s\t%s\t%.3f\t%.3f\t%zu\t%s\n" : "%-58s %-4s %10.3f %10.3f %5zu  %s\n";
    std::printf(format, f.name.c_str(), f.unit.c_str(), Median(f.samples), Worst(f.samples),
                f.samples.size(), f.reference.c_str());
  }
  std::fflush(stdout);
}

bool TsvRequested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tsv") == 0) {
      return true;
    }
  }
  return false;
}

int RunsArgument(int argc, char** argv, int fallback) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tsv") != 0) {
      return std::max(1, std::atoi(argv[i]));
    }
  }
  return fallback;
}

Reader::Reader(const fake::PseudoTerminal& line, Respond respond)
    : master_(line.MasterFd()), respond_(std::move(respond)) {
  if (pipe2(wake_, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  thread_ = std::thread([this] { Run(); });
}

Reader::~Reader() {
  const char stop = 0;
  if (write(wake_[1], &stop, 1) != 1) {
    std::perror("reader stop");
  }
  thread_.join();
  close(wake_[0]);
  close(wake_[1]);
}

void Reader::Run() {
  Bytes frame;
  for (;;) {
    // Blocks until the line or the stop pipe has something: no CPU spent while idle.
    pollfd p[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      continue;
    }
    if (p[1].revents != 0) {
      return;
    }
    unsigned char buffer[256];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) {
      continue;
    }
    frame.insert(frame.end(), buffer, buffer + n);
    while (!frame.empty() && frame[0] != 0 && frame.size() >= frame[0]) {
      const Bytes complete(frame.begin(), frame.begin() + frame[0]);
      frame.erase(frame.begin(), frame.begin() + frame[0]);
      const Bytes reply = respond_(complete);
      if (!reply.empty() &&
          write(master_, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) {
        std::perror("reader write");
      }
    }
  }
}

Bytes TagReply() {
  return {0x0E, 0x11, 0x1E, 0x00, 0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
}

platform::Handle TimingPlatform::CreateFile(const std::string& name, std::uint32_t desiredAccess,
                                            std::uint32_t shareMode,
                                            std::uint32_t creationDisposition,
                                            std::uint32_t flagsAndAttributes) {
  afterPassSleep_ = false;
  return Inner().CreateFile(name, desiredAccess, shareMode, creationDisposition,
                            flagsAndAttributes);
}
bool TimingPlatform::WriteFile(platform::Handle h, const void* data, std::uint32_t count,
                               std::uint32_t& written) {
  afterPassSleep_ = false;
  return Inner().WriteFile(h, data, count, written);
}
bool TimingPlatform::ReadFile(platform::Handle h, void* buffer, std::uint32_t count,
                              std::uint32_t& read) {
  if (afterPassSleep_) {
    afterPassSleep_ = false;
    if (OnPass) {
      OnPass(++passes_);
    }
  }
  return Inner().ReadFile(h, buffer, count, read);
}
bool TimingPlatform::CloseHandle(platform::Handle h) {
  afterPassSleep_ = false;
  const bool closed = Inner().CloseHandle(h);
  lastCloseEnd_ = Clock::now();
  return closed;
}
void TimingPlatform::Sleep(std::uint32_t milliseconds) {
  Inner().Sleep(milliseconds);
  lastSleepEnd_ = Clock::now();
  afterPassSleep_ = milliseconds == 100;
}

}  // namespace bench
