// How closely the command exchange keeps its timing on a real pseudo-terminal:
//  - the time SendCommand takes beyond its fixed pauses (3 + 1 + 1 ms) when the reader
//    answers at once;
//  - how far past 501 ms an unanswered exchange ends;
//  - how long an empty one-byte read with the 1 ms time-out takes.
// Usage: bench_exchange [runs]   (default 40 runs of each exchange)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "protocol/command_exchange.h"
#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  double median;
  double worst;
  double best;
};

Figures Summarize(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return Figures{median, values.back(), values.front()};
}

// The reader's side: answers every complete frame with a 14-byte reply at once, or
// stays silent.
class Reader {
 public:
  explicit Reader(int master) : master_(master), thread_([this] { Run(); }) {}
  ~Reader() {
    stop_ = true;
    thread_.join();
  }
  std::atomic<bool> answer{true};

 private:
  void Run() {
    std::vector<unsigned char> frame;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) {
        continue;
      }
      unsigned char buffer[64];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) {
        continue;
      }
      frame.insert(frame.end(), buffer, buffer + n);
      if (!frame.empty() && frame.size() >= frame[0]) {
        frame.clear();
        if (answer) {
          const unsigned char reply[14] = {0x0E, 0x00, 0xE0, 0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
          if (write(master_, reply, sizeof reply) != static_cast<ssize_t>(sizeof reply)) {
            std::perror("reader write");
          }
        }
      }
    }
  }
  int master_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char slave[128];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, slave, sizeof slave) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  const int keepOpen = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  const auto original = std::filesystem::current_path();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("pavo-bench-" + std::to_string(static_cast<long>(getpid())));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::filesystem::create_symlink(slave, "COM1");

  if (!OpenComPort(1, "9600,n,8,1")) {
    std::fprintf(stderr, "cannot open COM1 -> %s\n", slave);
    return 1;
  }
  const std::uint8_t snapshot[] = {0x05, 0x11, 0x1E};
  std::vector<double> answered, silent, emptyReads;
  int failures = 0;
  {
    Reader reader(master);
    for (int i = 0; i < runs; ++i) {
      const auto start = Clock::now();
      failures += SendCommand(snapshot, 14) ? 0 : 1;
      answered.push_back(Ms(Clock::now() - start) - 5.0);
    }
    reader.answer = false;
    for (int i = 0; i < runs; ++i) {
      const auto start = Clock::now();
      failures += SendCommand(snapshot, 14) ? 1 : 0;
      silent.push_back(Ms(Clock::now() - start) - 5.0 - 501.0);
    }
    platform::Platform& os = platform::Current();
    for (int i = 0; i < 1000; ++i) {
      std::uint8_t byte = 0;
      std::uint32_t got = 0;
      const auto start = Clock::now();
      os.ReadFile(PortHandle, &byte, 1, got);
      emptyReads.push_back(Ms(Clock::now() - start));
    }
  }
  CloseComPort();
  close(keepOpen);
  close(master);
  std::filesystem::current_path(original);
  std::filesystem::remove_all(dir);

  const Figures a = Summarize(answered);
  const Figures s = Summarize(silent);
  const Figures r = Summarize(emptyReads);
  std::printf("exchange timing on a pseudo-terminal (%d runs each, times in ms)\n", runs);
  std::printf("%-48s %9s %9s %9s\n", "", "median", "worst", "best");
  std::printf("%-48s %9.3f %9.3f %9.3f\n", "answered at once: beyond the 5 ms of pauses", a.median,
              a.worst, a.best);
  std::printf("%-48s %9.3f %9.3f %9.3f\n", "unanswered: end past 501 ms (after pauses)", s.median,
              s.worst, s.best);
  std::printf("%-48s %9.3f %9.3f %9.3f\n", "empty 1-byte read, 1 ms time-out (1000 reads)",
              r.median, r.worst, r.best);
  if (failures != 0) {
    std::printf("unexpected results: %d\n", failures);
  }
  return 0;
}
