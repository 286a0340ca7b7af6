// reader-sim as a child process in a given working directory, its trace (standard output)
// and errors going to files there. The process is ended when the object goes, whatever
// happened in between.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fake {

using std::chrono::milliseconds;

// Polls done every few milliseconds until it holds or limit has passed; true if it held.
bool WaitUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(5000));

class ReaderSimProcess {
 public:
  // Starts reader-sim with args in directory; traceName is the file its output goes to.
  ReaderSimProcess(const std::filesystem::path& directory, std::vector<std::string> args,
                   const std::string& traceName = "sim-trace.txt");
  ~ReaderSimProcess();
  ReaderSimProcess(const ReaderSimProcess&) = delete;
  ReaderSimProcess& operator=(const ReaderSimProcess&) = delete;

  bool Running();
  // Waits until the link `name` in the directory leads to an existing pseudo-terminal;
  // false when the process ended first or it took too long.
  bool WaitForLink(const std::string& name = "COM1");
  // The exit code (128 + signal number for a signal), once the process has ended.
  std::optional<int> WaitForExit(milliseconds limit = milliseconds(5000));
  // Asks the process to end (SIGTERM) and waits for it; kills it if it does not.
  void Stop();

  std::string Trace() const;
  std::string Errors() const;
  bool WaitForTrace(const std::string& part, milliseconds limit = milliseconds(5000));
  // How often part occurs in the trace.
  std::size_t CountInTrace(const std::string& part) const;

 private:
  void Reap();

  std::filesystem::path directory_;
  std::filesystem::path trace_;
  std::filesystem::path errors_;
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
};

}  // namespace fake
