// How closely the command exchange keeps its timing on a real pseudo-terminal:
//  - the time SendCommand takes beyond its fixed pauses (3 + 1 + 1 ms) when the reader
//    answers at once;
//  - an unanswered exchange: from the end of its last pause to SendCommand returning
//    false (the limit ends at the first empty read that finds 501 ms or more elapsed);
//  - how long an empty one-byte read with the 1 ms time-out takes.
// Usage: bench_exchange [--tsv] [runs]   (default 40 runs of each exchange)
#include <cstdio>

#include "bench/bench_support.h"
#include "protocol/command_exchange.h"
#include "serial/serial_port.h"

int main(int argc, char** argv) {
  using namespace bench;
  const int runs = RunsArgument(argc, argv, 40);

  fake::PseudoTerminal line(1);
  TimingPlatform timing;
  platform::Install(&timing);
  if (!OpenComPort(1, "9600,n,8,1")) {
    std::fprintf(stderr, "bench_exchange: cannot open COM1\n");
    return 1;
  }
  const std::uint8_t snapshot[] = {0x05, 0x11, 0x1E};
  Figure answered{"exchange answered at once: beyond its 5 ms of pauses", "ms", {}, "goal < 1"};
  Figure silent{"exchange unanswered: last pause end to false", "ms", {}, "floor 501 clock ms"};
  Figure emptyRead{"empty 1-byte read, 1 ms time-out", "ms", {}, "floor 1"};
  int unexpected = 0;
  {
    std::atomic<bool> answer{true};
    Reader reader(line, [&answer](const Bytes&) { return answer ? TagReply() : Bytes{}; });
    for (int i = 0; i < runs; ++i) {
      const auto start = Clock::now();
      unexpected += SendCommand(snapshot, 14) ? 0 : 1;
      answered.samples.push_back(Ms(Clock::now() - start) - 5.0);
    }
    answer = false;
    for (int i = 0; i < runs; ++i) {
      unexpected += SendCommand(snapshot, 14) ? 1 : 0;
      silent.samples.push_back(Ms(Clock::now() - timing.LastSleepEnd()));
    }
    for (int i = 0; i < 10 * runs; ++i) {
      std::uint8_t byte = 0;
      std::uint32_t got = 0;
      const auto start = Clock::now();
      timing.ReadFile(PortHandle, &byte, 1, got);
      emptyRead.samples.push_back(Ms(Clock::now() - start));
    }
  }
  CloseComPort();
  platform::Install(nullptr);

  Print({answered, silent, emptyRead}, TsvRequested(argc, argv));
  if (unexpected != 0) {
    std::fprintf(stderr, "bench_exchange: %d exchanges ended otherwise than expected\n",
                 unexpected);
  }
  return 0;
}
