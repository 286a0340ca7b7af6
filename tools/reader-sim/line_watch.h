// Notices every open and close of the slave side of the pseudo-terminal, however quickly
// the program closes its port and opens it again. Where the system offers no such
// notice, Take() reports nothing and the simulator goes by the master's hangup alone.
#pragma once

#include <string>

namespace readersim {

class LineWatch {
 public:
  struct Events {
    int opens = 0;
    int closes = 0;
  };

  LineWatch() = default;
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;
  ~LineWatch();

  // Starts watching `path`; false when this system cannot.
  bool Start(const std::string& path);
  bool active() const { return fd_ >= 0; }
  // A descriptor that becomes readable when there is something to Take, or -1.
  int Fd() const { return fd_; }

  // The opens and closes since the last call, less those announced with Own().
  Events Take();
  // The simulator opened and closed the slave itself once; that is not the program.
  void Own() {
    ++own_.opens;
    ++own_.closes;
  }

 private:
  int fd_ = -1;
  Events own_;  // not yet subtracted
};

}  // namespace readersim
