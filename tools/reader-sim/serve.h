// The program around the simulator, the same on every system: parses the options, opens
// the line and serves it, tracing every event on standard output.
#pragma once

#include <string>

#include "tools/reader-sim/simulator.h"

namespace readersim {

// One line on standard output, after the local time as HH:MM:SS.mmm.
void Trace(const std::string& text);

// Milliseconds on the steady clock.
Millis SteadyNow();

// The whole program; its exit status.
int Run(int argc, char** argv);

}  // namespace readersim
