#include <windows.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "framework/date_format.h"
#include "framework/sysutils.h"

namespace {

constexpr std::int64_t kMsecsPerDay = 24 * 60 * 60 * 1000;
// 30 December 1899 counted from 1 March of year 0 (the civil-calendar algorithm's epoch).
constexpr std::int64_t kEpochDays = 693899;

// Days since 1 March of year 0 for a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe);
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

// The calendar date and time of day of a value, to the millisecond, as the locale
// functions take it. Dates outside what SYSTEMTIME holds give 1 January 1601.
SYSTEMTIME Decode(TDateTime value) {
  SYSTEMTIME st{};
  const double days = std::trunc(value);
  std::int64_t msecs = std::llround(std::fabs(value - days) * kMsecsPerDay);
  if (msecs >= kMsecsPerDay) {
    msecs = kMsecsPerDay - 1;
  }
  std::int64_t year = 1601;
  unsigned month = 1;
  unsigned day = 1;
  if (std::isfinite(days) && std::fabs(days) < 1e7) {
    CivilFromDays(static_cast<std::int64_t>(days) + kEpochDays, year, month, day);
  }
  if (year < 1601 || year > 30827) {
    year = 1601;
    month = 1;
    day = 1;
  }
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(msecs / 3600000);
  st.wMinute = static_cast<WORD>(msecs / 60000 % 60);
  st.wSecond = static_cast<WORD>(msecs / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(msecs % 1000);
  return st;
}

// A date or time text from the locale functions as the window and the record file take
// it: with plain spaces, in the ANSI code page (where a narrow no-break space would not
// even exist).
std::string Narrow(const wchar_t* wide) {
  const std::u16string plain = WithPlainSpaces(reinterpret_cast<const char16_t*>(wide));
  char text[256] = {};
  if (WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(plain.c_str()), -1, text,
                          sizeof text, nullptr, nullptr) == 0) {
    return std::string();
  }
  return text;
}

// The user's short date, with the year's century where the user's format leaves it out
// ("M/d/yy" shows as "M/d/yyyy"). Pictures are taken as UTF-16 (wchar_t is 16 bits here):
// in a double-byte code page the second byte of a character can be a 'y'.
std::string DateText(const SYSTEMTIME& st) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
  wchar_t picture[128] = {};
  std::u16string format;
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, picture, 128) != 0) {
    const std::u16string own(reinterpret_cast<const char16_t*>(picture));
    format = WithCenturyInYears(own);
    if (format == own) {
      format.clear();
    }
  }
  wchar_t wide[128] = {};
  if (GetDateFormatW(LOCALE_USER_DEFAULT, format.empty() ? DATE_SHORTDATE : 0, &st,
                     format.empty() ? nullptr : reinterpret_cast<const wchar_t*>(format.c_str()),
                     wide, 128) == 0) {
    return std::string();
  }
  return Narrow(wide);
}

// The user's time format, which shows seconds (TIME_NOSECONDS is not given): readings
// taken a few seconds apart must be told apart in the window and in the record file.
std::string TimeText(const SYSTEMTIME& st) {
  wchar_t wide[128] = {};
  if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, wide, 128) == 0) {
    return std::string();
  }
  return Narrow(wide);
}

}  // namespace

TDateTime Date() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return static_cast<TDateTime>(DaysFromCivil(st.wYear, st.wMonth, st.wDay) - kEpochDays);
}

TDateTime Time() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  const std::int64_t msecs =
      ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
  return static_cast<TDateTime>(msecs) / kMsecsPerDay;
}

std::string DateToStr(TDateTime value) {
  return DateText(Decode(value));
}

std::string TimeToStr(TDateTime value) {
  return TimeText(Decode(value));
}

std::string DateTimeToStr(TDateTime value) {
  const SYSTEMTIME st = Decode(value);
  return DateText(st) + " " + TimeText(st);
}
