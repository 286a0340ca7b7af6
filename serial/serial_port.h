// The one serial port of the process: open by number with fixed line settings and
// time-outs, two paced writes, and a close that gives the port back its time-outs.
#pragma once

#include <cstdint>

#include "serial/platform.h"

// The handle of the open port: set by a successful OpenComPort, used by every writer and
// reader of the port, handed to CloseComPort (which does not clear it).
extern platform::Handle PortHandle;
// The port's time-outs as read at the last successful open; written back at close.
extern platform::CommTimeouts SavedTimeouts;
// The time-outs put on the port at open: a read returns once the requested bytes are
// there, otherwise after at most 1 ms; writes have no time-out.
extern const platform::CommTimeouts WorkingTimeouts;

// Opens "COM<portNumber>" exclusively and puts WorkingTimeouts and the line settings of
// definition (a mode string such as "9600,n,8,1") on it. True when the port is open;
// refused settings do not make it fail.
bool OpenComPort(std::int32_t portNumber, const char* definition);
// Restores SavedTimeouts and closes PortHandle.
void CloseComPort();
// Reads what has come, up to count bytes, within the port's read time-out; read receives
// the count. False when the port is lost (the device went away, the line hung up): the
// port has then been closed as by CloseComPort and must not be closed again.
bool ReadComPort(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& read);
// Writes one byte, then pauses 1 ms.
void WriteByte(std::uint8_t value);
// Writes count bytes, then pauses 3 ms (also when count is 0 or the write failed).
void WriteBlock(const std::uint8_t* data, std::int32_t count);
