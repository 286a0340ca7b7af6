// Line settings as termios holds them: what the line is told, and what it was told.
#pragma once

#include <termios.h>

#include "platform/platform.h"

namespace platform {

// Puts settings into t as a raw line (no processing, echo or signals; reads that return at
// once), keeping what the settings do not name. False, with errno EINVAL, for a speed, size
// or stop bits no line can have.
bool ToTermios(const LineSettings& settings, termios& t);

// The settings t holds; Native is left empty.
LineSettings FromTermios(const termios& t);

}  // namespace platform
