// A COM port served on Windows (--port N): one end of a virtual null-modem pair whose
// other end the program opens, or a real port wired null-modem to the program's.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/reader-sim/line.h"

namespace readersim {

// Where the port carries the far end's DTR as its DSR (a null-modem pair does), DSR tells
// when the program has its side open; where the port shows no modem lines at all (Wine
// maps COM ports to Unix terminals), or bytes come while DSR is off (a cable or pair that
// does not carry DTR over), the line counts as open. A port that goes away (an adapter
// unplugged, a pair removed) is traced and opened again once it is back.
class ComLine : public Line {
 public:
  explicit ComLine(int number);
  ~ComLine() override;

  // Opens the port, trying again every second while it cannot be opened (saying why once).
  // False with a message on failure; false with an empty message when a stop was requested
  // meanwhile.
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
  // One attempt: opens the port and sets it to 9600 8N1, no flow control.
  bool OpenPort(std::string* error);
  void ClosePort();
  // Whether the far end has its side open, by DSR; true when the port shows no modem lines.
  bool FarEndOpen();
  // The number of bytes received and not yet read.
  DWORD BytesWaiting();
  // The port went away: says why, and looks for it again from now on.
  void Lost(const std::string& why);
  void TryReopen();

  std::string name_;    // "COM6"
  std::string device_;  // "\\.\COM6": the only name that reaches COM10 and above
  HANDLE port_ = INVALID_HANDLE_VALUE;
  bool byDsr_ = false;        // the port shows DSR, and it follows the far end's open
  bool closedSince_ = false;  // the far end closed, or the port went away, since Look
  bool dsrWasOn_ = false;     // DSR at the last look
  bool dsrSeen_ = false;      // DSR has been on since the port was opened
  Millis nextTry_ = 0;        // while the port is away: when to try opening it again
  std::string lastFailure_;   // while the port is away: the last reason traced
};

}  // namespace readersim
