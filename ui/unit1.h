// Unit1: the main window.
#pragma once

#include <cstdint>
#include <string>

#include "framework/controls.h"

class TForm1 : public TForm {
 public:
  TButton* Button1;      // "UID": starts and stops continuous reading
  TButton* Button4;      // "exit": closes the window
  TEdit* Edit1;          // the reading: a tag identifier, or a single read's hex digits
  TComboBox* ComboBox1;  // the port number ("01" is COM1)
  TEdit* Edit2;          // the date of the last reading
  TEdit* Edit3;          // the time of the last reading
  TButton* Button2;      // "Start" (busy: a red "Stop"): one single read
  TLabel* Label1;        // "Single", the caption beside Button2

  // Builds the window from its stored layout.
  TForm1();

  void Button1Click(TObject* Sender);
  void Button2Click(TObject* Sender);
  void Button4Click(TObject* Sender);

 private:
  // What the UID loop has collected: two hex digits a byte, and the last identifier found.
  struct UidScan {
    std::string collected;
    std::string identifier;
  };
  // Puts every byte that has come through TakeUidByte, in order. False when the port has
  // been lost (and closed).
  bool TakeUidBytes(UidScan& scan);
  // One received byte: its digits are collected, and from 24 bytes on Edit1 is emptied and
  // the collected text scanned; a found identifier is shown with the date and time.
  void TakeUidByte(std::uint8_t byte, UidScan& scan);
  // The idle look of Button2 after a single read: enabled, green, "Start".
  void MakeStartIdle();
};

extern TForm1* Form1;

// Closes the port if a UID loop has it open, for an end of the process that gives the
// loop no chance to close it itself.
void ReleaseUidLoopPort();

// The port number both reading actions take from ComboBox1: the low eight bits of its value.
extern std::uint8_t PortNumber;

// Continuous UID reading: 1 from the moment a loop has opened its port until a click asks
// it to stop; the stop request is read by the loop once per pass. Both hold 0 or 1.
extern std::uint8_t UidLoopRunning;
extern std::uint8_t UidStopRequested;

// The UID command frame before its checksum: 12 11 0E, eleven 00, 2B F0.
constexpr int UidCommandSize = 16;
extern const std::uint8_t UidCommand[UidCommandSize];

// The snapshot command of a single read before its checksum: 05 11 1E.
constexpr int SnapshotCommandSize = 3;
extern const std::uint8_t SnapshotCommand[SnapshotCommandSize];

// The record file of single reads, in the current working directory.
constexpr const char* RecordFileName = "RFID.txt";
