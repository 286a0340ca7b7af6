// Text files the program appends to: the record of readings and the command log. A line
// goes in whole or not at all, and nothing waits on a file that cannot take it.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Appends text to the named file (created when missing) in text mode with one write, as
// fopen(name, "a"), fwrite and fclose do, but never waits and never leaves a piece of the
// text behind: a write that fails half-way (a full disk) is cut off again. Returns "" when
// all of it is in the file, else what went wrong, for the operator: the step, the file and
// the cause, e.g. "cannot open \"RFID.txt\": Permission denied".
std::string AppendToFile(const char* name, const std::string& text);

// Defined by the operating system's backend:
// Opens name for appending in text mode, never waiting: a file that would make the open
// or a later write wait (a pipe with no reader, a full one) fails instead. On failure
// returns null and puts in whyNot the cause in the operator's words.
std::FILE* OpenForAppend(const char* name, std::string& whyNot);
// Cuts the open file back to size bytes.
bool TruncateFile(std::FILE* file, long size);

}  // namespace platform
