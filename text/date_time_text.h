// A date-time value as the text the window shows: the time alone below one day, the date
// alone for whole days, otherwise both.
#pragma once

#include <string>

#include "framework/sysutils.h"

void DateTimeText(const TDateTime& value, std::string& text);
