// Exceptions, integer parsing and the date-time value the program relies on.
// Texts are std::string in the local 8-bit encoding, the same bytes that go into files.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// Base of the exceptions the application object knows how to show.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Raised when a text does not convert to the requested type.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The value of a decimal integer text: an optional '+' or '-', then one or more digits,
// within the signed 32-bit range. Anything else (empty, blanks, hex, overflow) raises
// EConvertError with the message "'<text>' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);

// Days since 30 December 1899; the fraction is the time of day. For negative values the
// whole part counts days before that date and the absolute fraction is still the time.
using TDateTime = double;

// Today's local date, a whole number of days.
TDateTime Date();
// The local time of day, at least 0 and below 1.
TDateTime Time();

// The date, the time of day, and both, in the system locale's short formats.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);
