// Stop requests: signals on POSIX systems, Ctrl+C and the closing console on Windows.
#pragma once

#include <string>

#include "tools/reader-sim/simulator.h"

namespace readersim {

// Catches the requests from now on. False with a message on failure.
bool InstallStopHandlers(std::string* error);

// Whether a stop request is pending or comes within `wait` ms; it stays pending.
bool StopArrived(Millis wait);

// Takes a pending stop request: its name ("SIGINT", "Ctrl+C"), or "" when none is pending.
std::string TakeStop();

#ifndef _WIN32
// A descriptor that becomes readable when a stop request is pending, for poll().
int StopDescriptor();
#endif

}  // namespace readersim
