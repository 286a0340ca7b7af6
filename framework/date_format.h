// The rules both front ends apply to the locale's date and time texts before they show
// them: the year with its century, and plain spaces. A record file keeps its dates for
// years, a short date such as "12/7/26" cannot tell 1926 from 2026, and a line recorded
// on one system must read the same as one recorded on another.
#pragma once

#include <string>

// The date format (a picture such as "M/d/yy", in the notation Qt and Windows share:
// runs of 'y' are the year, text between single quotes is literal, "''" a quote) with
// every year of fewer than four 'y' made "yyyy"; everything else stays as it is.
template <class Char>
std::basic_string<Char> WithCenturyInYears(const std::basic_string<Char>& format) {
  std::basic_string<Char> result;
  bool quoted = false;
  for (std::size_t i = 0; i < format.size();) {
    const Char c = format[i];
    if (c == Char('\'')) {
      quoted = !quoted;
    } else if (!quoted && c == Char('y')) {
      const std::size_t end = format.find_first_not_of(Char('y'), i);
      const std::size_t run = (end == std::basic_string<Char>::npos ? format.size() : end) - i;
      result.append(run < 4 ? 4 : run, Char('y'));
      i += run;
      continue;
    }
    result += c;
    ++i;
  }
  return result;
}

// The text with every no-break space (U+00A0) and narrow no-break space (U+202F) made a
// plain one. Newer locale data puts a narrow no-break space before "AM" and "PM" where
// older data and Windows have a plain space; a record file read by its columns (a
// spreadsheet import, a script splitting on spaces) must see the same bytes either way.
inline std::u16string WithPlainSpaces(std::u16string text) {
  for (char16_t& c : text) {
    if (c == u'\u00A0' || c == u'\u202F') {
      c = u' ';
    }
  }
  return text;
}
