#include "ui/unit1.h"

#include <string>

#include "framework/application.h"
#include "framework/form_layout.h"
#include "platform/append_file.h"
#include "protocol/command_exchange.h"
#include "serial/serial_port.h"
#include "text/byte_to_hex.h"
#include "text/date_time_text.h"
#include "ui/uid_scan.h"
#include "ui/unit1_layout.h"

TForm1* Form1 = nullptr;

std::uint8_t PortNumber = 0;
std::uint8_t UidLoopRunning = 0;
std::uint8_t UidStopRequested = 0;

const std::uint8_t UidCommand[UidCommandSize] = {0x12, 0x11, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2B, 0xF0};
const std::uint8_t SnapshotCommand[SnapshotCommandSize] = {0x05, 0x11, 0x1E};

namespace {

constexpr const char* LineSettingsText = "9600,n,8,1";
// Both commands expect a 14-byte reply.
constexpr std::uint8_t ReplyLength = 14;

// True while a UID loop holds the port, from its open to its close: longer than
// UidLoopRunning, which the stopping click clears one pass before the close. A loop whose
// port was lost (ComPortOpen() false) keeps holding it while it waits for the reader to
// come back.
bool uidLoopHoldsPort = false;

// One read of the UID loop asks for more than the line carries in a pass (9600 baud is
// 96 bytes a 100 ms), so that it usually takes all that has come at once. A pass reads on
// while reads come back full, up to a bound, so that a flood cannot hold off the window.
constexpr std::uint32_t UidReadSize = 256;
constexpr int UidReadsPerPass = 16;

std::uint8_t LowEightBits(std::int32_t value) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFFu);
}

std::string DateText() {
  std::string text;
  DateTimeText(Date(), text);
  return text;
}

std::string TimeText() {
  std::string text;
  DateTimeText(Time(), text);
  return text;
}

}  // namespace

TForm1::TForm1() : TForm(Form1Layout().className) {
  LoadLayout(*this, Form1Layout(),
             {{"Button1Click", MakeNotify(this, &TForm1::Button1Click)},
              {"Button2Click", MakeNotify(this, &TForm1::Button2Click)},
              {"Button4Click", MakeNotify(this, &TForm1::Button4Click)}});
  Button1 = FindComponent<TButton>(*this, "Button1");
  Button4 = FindComponent<TButton>(*this, "Button4");
  Edit1 = FindComponent<TEdit>(*this, "Edit1");
  ComboBox1 = FindComponent<TComboBox>(*this, "ComboBox1");
  Edit2 = FindComponent<TEdit>(*this, "Edit2");
  Edit3 = FindComponent<TEdit>(*this, "Edit3");
  Button2 = FindComponent<TButton>(*this, "Button2");
  Label1 = FindComponent<TLabel>(*this, "Label1");
}

void TForm1::Button1Click(TObject* /*Sender*/) {
  if (UidLoopRunning == 1) {
    UidLoopRunning = 0;
    UidStopRequested = 1;
    return;
  }

  PortNumber = LowEightBits(StrToInt(ComboBox1->Text()));
  // The port stays the loop's until its close, also in the pass after a stopping click.
  if (uidLoopHoldsPort || !OpenComPort(PortNumber, LineSettingsText)) {
    return;
  }
  uidLoopHoldsPort = true;
  UidStopRequested = 0;
  UidLoopRunning = 1;
  // A single read started meanwhile sets PortNumber too; a lost port is opened again
  // under the number the loop began with.
  const std::uint8_t loopPort = PortNumber;
  platform::Sleep(100);
  SendCommand(UidCommand, ReplyLength);

  UidScan scan;
  for (;;) {
    platform::Sleep(100);
    if (ComPortOpen()) {
      if (!TakeUidBytes(scan)) {
        // The reader has gone: what is shown is no longer current. The port has been
        // closed, and is opened again on the following passes.
        Edit1->SetText("");
      }
    } else if (UidStopRequested == 0 && !Application->Terminated() &&
               OpenComPort(loopPort, LineSettingsText)) {
      // Back again: the reader needs its command anew, and what was collected before is
      // out of step with what it sends now.
      platform::Sleep(100);
      SendCommand(UidCommand, ReplyLength);
      scan.collected.clear();
    }
    if (UidStopRequested == 1) {
      break;
    }
    Application->ProcessMessages();
    if (Application->Terminated()) {
      // The window is to close: stop as a click on "UID" would, but at once, so that the
      // close takes effect as soon as this handler has returned.
      UidLoopRunning = 0;
      UidStopRequested = 1;
      break;
    }
  }
  CloseComPort();
  uidLoopHoldsPort = false;
}

bool TForm1::TakeUidBytes(UidScan& scan) {
  std::uint8_t bytes[UidReadSize];
  for (int read = 0; read < UidReadsPerPass; ++read) {
    std::uint32_t count = 0;
    const bool open = ReadComPort(bytes, UidReadSize, count);
    for (std::uint32_t i = 0; i < count; ++i) {
      TakeUidByte(bytes[i], scan);
    }
    if (!open) {
      return false;
    }
    if (count < UidReadSize) {
      break;
    }
  }
  return true;
}

void TForm1::TakeUidByte(std::uint8_t byte, UidScan& scan) {
  ByteToHex(byte, HexPair);
  scan.collected.append(HexPair, 2);
  if (scan.collected.size() >= UidScanThreshold) {
    Edit1->SetText("");
    if (ScanForIdentifier(scan.collected, scan.identifier)) {
      Edit1->SetText(scan.identifier);
      Edit2->SetText(DateText());
      Edit3->SetText(TimeText());
    }
  }
}

void TForm1::Button2Click(TObject* /*Sender*/) {
  Button2->SetEnabled(false);
  Button2->SetCaption("Stop");
  Button2->SetFontColor(clRed);
  Edit1->SetText("");

  try {
    PortNumber = LowEightBits(StrToInt(ComboBox1->Text()));
  } catch (...) {
    MakeStartIdle();
    throw;
  }

  std::string line;
  std::string notRecorded;
  // A read started inside the UID loop must not touch the loop's port: it fails like a
  // port that cannot be opened.
  if (!uidLoopHoldsPort && OpenComPort(PortNumber, LineSettingsText)) {
    platform::Sleep(100);
    if (SendCommand(SnapshotCommand, ReplyLength)) {
      std::string tagText;
      tagText.reserve(2 * RxBufferSize);
      for (int i = 0; i < RxBufferSize; ++i) {
        ByteToHex(RxBuffer[i], HexPair);
        tagText.append(HexPair, 2);
      }
      Edit1->SetText(tagText);
      Edit2->SetText(DateText());
      Edit3->SetText(TimeText());

      line = tagText + "     " + Edit2->Text() + "     " + Edit3->Text() + "\n";
      notRecorded = platform::AppendToFile(RecordFileName, line);
    }
    CloseComPort();
  }
  MakeStartIdle();

  // The reading is on screen but not in the file: it goes in when the operator has cleared
  // the way (closed the program that holds the file, made room), or stays out when they
  // say so.
  while (!notRecorded.empty() &&
         Application->AskRetry("The reading was not recorded: " + notRecorded +
                               ".\n\nRetry to record it, Cancel to leave it out.")) {
    notRecorded = platform::AppendToFile(RecordFileName, line);
  }
}

void TForm1::MakeStartIdle() {
  Button2->SetEnabled(true);
  Button2->SetFontColor(clGreen);
  Button2->SetCaption("Start");
}

void ReleaseUidLoopPort() {
  if (uidLoopHoldsPort) {
    CloseComPort();
  }
}

void TForm1::Button4Click(TObject* /*Sender*/) {
  Close();
}
