// The reader's end of the serial line. The serving loop (serve.cpp) is the same on every
// system and runs against this; each system has its own kinds of line behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/reader-sim/options.h"
#include "tools/reader-sim/simulator.h"

namespace readersim {

class Line {
 public:
  struct State {
    bool open = false;         // the program has its side open now
    bool closedSince = false;  // a close was seen since the last Look, even if it reopened
    bool lost = false;         // the line went away for good: serving cannot go on
  };

  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  virtual ~Line() = default;

  // For the start-up trace: where the reader is served ("link COM1 -> /dev/pts/4"), and a
  // remark that goes after the options, either empty or beginning with a space.
  virtual std::string Where() const = 0;
  virtual std::string Remark() const { return {}; }

  // What became of the program's side since the last call.
  virtual State Look() = 0;

  // What the program sent: the number of bytes read, 0 when nothing waits.
  virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;
  // As much as the line takes now: the number of bytes written, 0 when it takes none.
  virtual std::size_t Write(const std::uint8_t* data, std::size_t size) = 0;

  // The program has closed its side: throws away what it left unread, as a UART loses its
  // input at the close. The number of bytes dropped, or -1 when that cannot be told.
  virtual long DiscardUnread() { return -1; }

  // Before the hangup scenario drops the line: returns once the program has read what was
  // sent, has closed its side, or a stop is requested, or after a bounded wait where the
  // line cannot tell.
  virtual void AwaitDrain() = 0;

  // Sleeps until the line may have something to report, a stop is requested or `timeout`
  // ms have passed. `open` is what the last Look said; `writing` means bytes wait that the
  // line did not take.
  virtual void Wait(Millis timeout, bool open, bool writing) = 0;

  // The hangup scenario: the reader is unplugged, and later plugged in again. Replug sets
  // `back` to the rest of the trace line "back: ...". False with a message on failure.
  virtual bool Unplug(std::string* error) = 0;
  virtual bool Replug(std::string* back, std::string* error) = 0;

  // The end: gives the line up. The trace line that says so, beginning "line closed".
  virtual std::string Close() = 0;
};

// The line the options ask for, open. Null with a message on failure; null with an empty
// message when a stop was requested before the line could be opened.
std::unique_ptr<Line> OpenLine(const Options& options, std::string* error);

}  // namespace readersim
