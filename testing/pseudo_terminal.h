// A real pseudo-terminal standing in for a serial port, for integration tests of the
// POSIX backend and for the benchmarks.
//
//   fake::PseudoTerminal pty(5);        // "COM5" link in a fresh temporary working dir
//   ... OpenComPort(5, "9600,n,8,1"), SendCommand(...) on one thread, and on another:
//   fake::Bytes frame = pty.ReadExactly(5, 2000);
//   pty.Write({0x0E, 0x00, ...});
//
// The link "COMn" points at the terminal's slave side, which the program opens; the
// test plays the reader on the master side. The slave stays open in the helper too, so
// the line does not hang up between the program's opens (HangUp() closes the master).
#pragma once

#include <termios.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/temp_directory.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

class PseudoTerminal {
 public:
  // Makes the terminal and a link "COM<portNumber>" to it, in a temporary working
  // directory of its own (entered now, left at destruction).
  explicit PseudoTerminal(int portNumber);
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  std::string PortName() const { return "COM" + std::to_string(portNumber_); }
  const std::filesystem::path& Directory() const { return directory_.Path(); }
  int MasterFd() const { return master_; }
  int SlaveFd() const { return slave_; }

  // The slave side's current line settings (tcgetattr).
  termios LineSettings() const;

  // Reader side. Reads up to n bytes, waiting at most timeoutMs for them in total;
  // returns what came.
  Bytes ReadExactly(std::size_t n, int timeoutMs);
  void Write(const Bytes& bytes);
  // Closes the master: the program's side sees a hung-up line.
  void HangUp();

 private:
  TempWorkingDirectory directory_;
  int portNumber_ = 0;
  int master_ = -1;
  int slave_ = -1;
};

}  // namespace fake
