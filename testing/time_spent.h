// Wall and process CPU time of a call, for tests of waits on POSIX: a wait that spins shows as
// CPU time, a wait that ends late shows as wall time.
#pragma once

#include <time.h>

namespace fake {

// Milliseconds.
struct Spent {
  double wall, cpu;
};

template <class F>
Spent Measure(F call) {
  const auto now = [](clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  };
  const Spent start{now(CLOCK_MONOTONIC), now(CLOCK_PROCESS_CPUTIME_ID)};
  call();
  return {now(CLOCK_MONOTONIC) - start.wall, now(CLOCK_PROCESS_CPUTIME_ID) - start.cpu};
}

}  // namespace fake
