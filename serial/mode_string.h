// Mode strings as the serial port's line settings are written on Windows, parsed
// portably so that every backend and the test fake read them alike.
//
// Two forms are accepted, either of them after an optional device prefix "COMn:" (or
// "COMn" followed by blanks):
//   "baud,parity,data,stop[,x|p]"   e.g. "9600,n,8,1", "96,e,7,2,x"
//   "baud=9600 parity=n data=8 stop=1 [xon=on|off] [octs=on|off]"
// Baud is a positive decimal number; the two-digit abbreviations 11 15 30 60 12 24 48 96
// 19 stand for 110 150 300 600 1200 2400 4800 9600 19200. Parity is one of n o e m s,
// data bits 5 to 8, stop bits 1, 1.5 or 2. Letters may be upper or lower case, blanks
// around the separators are ignored. In the comma form a field may be left empty (or
// trailing fields left out) to keep its current value; in the key form keys may come in
// any order, at most once each. Flow control ends up off unless the string asks for it:
// x (or xon=on) means XON/XOFF, p (or octs=on) the RTS/CTS handshake.
#pragma once

#include "serial/platform.h"

// Applies the mode string to the portable members of settings. False when text is
// malformed (or null); settings are then left exactly as they were.
bool ParseModeString(const char* text, platform::LineSettings& settings);
