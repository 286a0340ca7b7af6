#include "text/date_time_text.h"

#include <cmath>

void DateTimeText(const TDateTime& value, std::string& text) {
  if (value < 1.0) {
    text = TimeToStr(value);
  } else if (value - std::trunc(value) == 0.0) {
    text = DateToStr(value);
  } else {
    text = DateTimeToStr(value);
  }
}
