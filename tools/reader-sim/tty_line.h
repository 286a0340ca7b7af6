// A terminal that exists already, served as it is (--tty PATH): the host end of an
// emulated USB-serial adapter, or a real adapter wired null-modem to the program's port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/reader-sim/line.h"

namespace readersim {

// No open or close of the program's side can be seen on such a line, so it counts as open
// from the start. When the terminal goes away (a read error or a hangup: the adapter was
// unplugged, the emulator that made the pseudo-terminal ended) this is traced; a device
// is opened again once it is back, while a pseudo-terminal, whose number never comes back
// to the same line, ends the serving.
class TtyLine : public Line {
 public:
  explicit TtyLine(std::string path);
  ~TtyLine() override;

  // Opens the terminal and sets it up. False with a message on failure.
  bool Open(std::string* error);

  std::string Where() const override;
  std::string Remark() const override;
  State Look() override;
  std::size_t Read(std::uint8_t* data, std::size_t size) override;
  std::size_t Write(const std::uint8_t* data, std::size_t size) override;
  void AwaitDrain() override;
  void Wait(Millis timeout, bool open, bool writing) override;
  bool Unplug(std::string* error) override;
  bool Replug(std::string* back, std::string* error) override;
  std::string Close() override;

 private:
  // Opens path_ non-blocking and sets it raw, 9600 8N1, no flow control.
  bool OpenTerminal(std::string* error);
  void CloseTerminal();
  // The terminal went away: says why, and gives it up.
  void Lost(const std::string& why);
  // While it is away: tries to open it again when the time has come.
  void TryReopen();

  std::string path_;
  bool pseudo_ = false;  // a pseudo-terminal's slave side: it never comes back once gone
  int fd_ = -1;
  bool closedSince_ = false;  // it went away since the last Look
  bool hangupSeen_ = false;   // the last Wait saw a hangup, with input still to read
  bool lost_ = false;         // it went away for good
  Millis nextTry_ = 0;        // while it is away: when to try opening it again
  std::string lastFailure_;   // while it is away: why the last try failed, traced once
};

}  // namespace readersim
