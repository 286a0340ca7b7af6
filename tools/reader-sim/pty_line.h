// The pseudo-terminal that stands in for the serial line, and the COMn link to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "tools/reader-sim/line.h"
#include "tools/reader-sim/line_watch.h"

namespace readersim {

// The master side of a pseudo-terminal. The program under test opens the slave side as
// its port; the simulator keeps no slave descriptor open of its own, so the master reports
// a hangup exactly when the program has closed the line.
class Pty {
 public:
  Pty() = default;
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  ~Pty();

  // Opens the master (non-blocking) and sets the slave side raw: no echo, no line editing,
  // no character translation. False with a message on failure.
  bool Open(std::string* error);
  void Close();

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

  // Whether some process has the slave side open.
  bool SlaveOpen() const;

  // The number of bytes waiting on the slave side that nobody has read yet, or -1 when
  // that cannot be told. Opens the slave for a moment.
  long Unread() const;

  // Throws away what is waiting on the slave side unread, as a serial line loses it when
  // the port is closed. Opens the slave for a moment. Returns the number of bytes dropped,
  // or -1 when the slave could not be opened.
  long DiscardUnread() const;

 private:
  int master_ = -1;
  std::string slavePath_;
};

// The entry "COMn" in the current directory: a symbolic link to the slave side.
class PortLink {
 public:
  PortLink() = default;
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  ~PortLink() { Remove(); }

  // Creates the link `name` -> `target`. An existing entry is replaced only when it is a
  // dangling link into /dev/pts/ (left behind by a simulator that was killed); anything
  // else makes this fail with a message. `replaced` tells whether such a leftover went.
  bool Create(const std::string& name, const std::string& target, bool* replaced,
              std::string* error);

  // Points the link made by Create at another target, in one step.
  bool Retarget(const std::string& target, std::string* error);

  // Removes the link if it still points where this object made it point.
  void Remove();

  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::string target_;
};

// The line of a simulator that makes its own pseudo-terminal and links COMn to it: the
// program's opens and closes are seen on the master and, where the system can tell, on
// the slave's every open and close.
class PtyLine : public Line {
 public:
  explicit PtyLine(std::string linkName) : linkName_(std::move(linkName)) {}

  // Makes the pseudo-terminal and the link. False with a message on failure.
  bool Open(std::string* error);

  std::string Where() const override;
  std::string Remark() const override;
  State Look() override;
  std::size_t Read(std::uint8_t* data, std::size_t size) override;
  std::size_t Write(const std::uint8_t* data, std::size_t size) override;
  long DiscardUnread() override;
  void AwaitDrain() override;
  void Wait(Millis timeout, bool open, bool writing) override;
  bool Unplug(std::string* error) override;
  bool Replug(std::string* back, std::string* error) override;
  std::string Close() override;

 private:
  std::string linkName_;
  Pty pty_;
  PortLink link_;
  std::unique_ptr<LineWatch> watch_;
  bool replaced_ = false;    // a leftover link of an earlier simulator went
  bool hangupSeen_ = false;  // the master reported a hangup in the last Wait
};

}  // namespace readersim
