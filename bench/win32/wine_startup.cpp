// Start-up of a Win32 program against a floor: the program, a bare themed window with the
// same manifest (bare_window.cpp) and, where given, the bare window with the program's form's
// controls (bare_form.exe) are started in turn, RUNS times each, from this process, and
// each start is timed on the performance counter from the CreateProcess call to the moment
// its main window (a top-level window of the given class, of that process) is visible. The
// window is then closed with WM_CLOSE and the process waited for before the next start.
// Rounds rotate which program goes first, so that a change in the machine's load falls on
// all alike; one start of each before the runs is not counted (files not yet cached).
// Prints rows as the benchmarks do: "figure<TAB>unit<TAB>median<TAB>worst<TAB>runs<TAB>reference".
//   wine_startup.exe RUNS PROGRAM.exe PROGRAM_CLASS FLOOR.exe FLOOR_CLASS [FORM.exe FORM_CLASS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWindowLimitMs = 30000;  // a start that takes longer has failed
constexpr DWORD kExitLimitMs = 10000;

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

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency;
}

// The visible top-level window of the class that belongs to the process, or null.
HWND VisibleWindow(const char* windowClass, DWORD process) {
  for (HWND w = FindWindowExA(nullptr, nullptr, windowClass, nullptr); w != nullptr;
       w = FindWindowExA(nullptr, w, windowClass, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == process && IsWindowVisible(w)) {
      return w;
    }
  }
  return nullptr;
}

// Starts the program and times it until its window is visible, in ms; closes it again.
// Negative, with the reason on stderr, when it failed to come up or to end.
double TimedStart(const std::string& program, const char* windowClass) {
  std::string command = "\"" + program + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER launched;
  QueryPerformanceCounter(&launched);
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "wine_startup: cannot start %s (error %lu)\n", program.c_str(),
                 GetLastError());
    return -1;
  }
  CloseHandle(process.hThread);
  double ms = -1;
  HWND window = nullptr;
  // Looks once a millisecond; the wait on the process also notices an early end.
  for (;;) {
    window = VisibleWindow(windowClass, process.dwProcessId);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (window != nullptr) {
      ms = Seconds(launched, now) * 1000;
      break;
    }
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
      std::fprintf(stderr, "wine_startup: %s ended without showing a %s window\n", program.c_str(),
                   windowClass);
      break;
    }
    if (Seconds(launched, now) * 1000 > kWindowLimitMs) {
      std::fprintf(stderr, "wine_startup: %s showed no %s window in %lu ms\n", program.c_str(),
                   windowClass, kWindowLimitMs);
      break;
    }
  }
  if (window != nullptr) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
  if (WaitForSingleObject(process.hProcess, window != nullptr ? kExitLimitMs : 0) !=
      WAIT_OBJECT_0) {
    if (window != nullptr) {
      std::fprintf(stderr, "wine_startup: %s did not end on WM_CLOSE\n", program.c_str());
    }
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, kExitLimitMs);
    ms = -1;
  }
  CloseHandle(process.hProcess);
  return ms;
}

void PrintRow(const char* name, const char* unit, const std::vector<double>& samples,
              const std::string& reference) {
  std::printf("%s\t%s\t%.3f\t%.3f\t%zu\t%s\n", name, unit, Median(samples), Worst(samples),
              samples.size(), reference.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 8) {
    std::fprintf(stderr,
                 "usage: wine_startup.exe RUNS PROGRAM.exe PROGRAM_CLASS FLOOR.exe FLOOR_CLASS "
                 "[FORM.exe FORM_CLASS]\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  // The program first, then the floor and the bare form where given.
  struct Subject {
    std::string exe;
    const char* windowClass;
    std::vector<double> ms;
  };
  std::vector<Subject> subjects;
  for (int i = 2; i + 1 < argc; i += 2) {
    subjects.push_back({argv[i], argv[i + 1], {}});
  }
  for (const Subject& s : subjects) {
    TimedStart(s.exe, s.windowClass);
  }
  // Each round starts every subject once, beginning with a different one each time.
  int failed = 0;
  std::vector<std::vector<double>> ratios(subjects.size());
  for (int i = 0; i < runs; ++i) {
    std::vector<double> round(subjects.size());
    bool ok = true;
    for (std::size_t k = 0; k < subjects.size(); ++k) {
      const std::size_t which = (static_cast<std::size_t>(i) + k) % subjects.size();
      round[which] = TimedStart(subjects[which].exe, subjects[which].windowClass);
      ok = ok && round[which] >= 0;
    }
    if (!ok) {
      ++failed;
      continue;
    }
    for (std::size_t k = 0; k < subjects.size(); ++k) {
      subjects[k].ms.push_back(round[k]);
      ratios[k].push_back(round[0] / round[k]);
    }
  }

  const std::vector<double>& program = subjects[0].ms;
  const std::vector<double>& floor = subjects[1].ms;
  char reference[80];
  std::snprintf(reference, sizeof reference, "goal <= 1.1 x floor (medians: %.3f x)",
                Median(floor) > 0 ? Median(program) / Median(floor) : 0.0);
  PrintRow("Wine start-up: launch to shown, bare themed window", "ms", floor, "floor");
  if (subjects.size() > 2) {
    PrintRow("Wine start-up: launch to shown, bare window with the form's controls", "ms",
             subjects[2].ms, "the controls without pavo's layers");
  }
  PrintRow("Wine start-up: launch to shown, pavo.exe main window", "ms", program, reference);
  PrintRow("Wine start-up: pavo.exe / bare window, pair by pair", "x", ratios[1], "goal <= 1.1");
  if (subjects.size() > 2) {
    PrintRow("Wine start-up: pavo.exe / bare window with the controls", "x", ratios[2],
             "pavo's own layers");
  }
  std::fflush(stdout);
  if (failed != 0) {
    std::fprintf(stderr, "wine_startup: %d of %d rounds left out: a start failed\n", failed, runs);
  }
  return 0;
}
