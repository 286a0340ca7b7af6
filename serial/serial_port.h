// The one serial port of the process: open by number with fixed line settings and
// time-outs, two paced writes, and a close that gives the port back its time-outs.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The handle of the open port: set by a successful OpenComPort, used by every writer and
// reader of the port, handed to CloseComPort (which does not clear it).
extern platform::Handle PortHandle;
// The port's time-outs as read at the last successful open; written back at close.
extern platform::CommTimeouts SavedTimeouts;
// The time-outs put on the port at open: a read returns once the requested bytes are
// there, otherwise after at most 1 ms; writes have no time-out.
extern const platform::CommTimeouts WorkingTimeouts;

// Opens "COM<portNumber>" exclusively and puts WorkingTimeouts and the line settings of
// definition (a mode string such as "9600,n,8,1") on it. True when the port is open.
// Refused line settings do not make it fail; refused time-outs do (the port is closed
// again), since a read without them could wait for ever.
bool OpenComPort(std::int32_t portNumber, const char* definition);
// Restores SavedTimeouts and closes PortHandle; nothing when the port was lost and is
// closed already.
void CloseComPort();
// Whether the port is open: from a successful OpenComPort until CloseComPort or until a
// read finds it lost.
bool ComPortOpen();
// Reads what has come, up to count bytes, within the port's read time-out; read receives
// the count. False when the port is lost (the device went away, the line hung up): it is
// then closed at once, so that a returning device can be opened again, and later reads
// fail without touching it.
bool ReadComPort(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& read);
// Throws away the input that has come and not been read.
void PurgeComPort();
// Writes one byte, then pauses 1 ms.
void WriteByte(std::uint8_t value);
// Writes count bytes, then pauses 3 ms (also when count is 0 or the write failed).
void WriteBlock(const std::uint8_t* data, std::int32_t count);
