// Mode strings as the serial port's line settings are written on Windows, for the
// backends that have no BuildCommDCB of their own (POSIX, the test fake). Only the form
// the program uses is read: "baud,parity,data,stop", e.g. "9600,n,8,1", with the baud rate
// in decimal, parity one of n o e m s (either case), 5 to 8 data bits and 1, 1.5 or 2 stop
// bits. Flow control ends up off, as BuildCommDCB turns it off for such a string.
#pragma once

#include "platform/platform.h"

// Applies the mode string to the portable members of settings. False when text is
// malformed (or null); settings are then left exactly as they were.
bool ParseModeString(const char* text, platform::LineSettings& settings);
