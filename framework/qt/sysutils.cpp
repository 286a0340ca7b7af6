#include "framework/sysutils.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>
#include <cmath>

#include "framework/date_format.h"

namespace {

constexpr std::int64_t kMsecsPerDay = 24 * 60 * 60 * 1000;

QDate Epoch() {
  return QDate(1899, 12, 30);
}

// Splits a value into its calendar date and time of day, to the millisecond.
void Decode(TDateTime value, QDate& date, QTime& time) {
  const double days = std::trunc(value);
  std::int64_t msecs = std::llround(std::fabs(value - days) * kMsecsPerDay);
  if (msecs >= kMsecsPerDay) {
    msecs = kMsecsPerDay - 1;
  }
  date = std::isfinite(days) && std::fabs(days) < 1e8 ? Epoch().addDays(static_cast<qint64>(days))
                                                      : QDate();
  time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs));
}

// A date or time text as the window and the record file take it: in the locale's
// encoding, with plain spaces.
std::string Local8Bit(const QString& text) {
  return QString::fromStdU16String(WithPlainSpaces(text.toStdU16String()))
      .toLocal8Bit()
      .toStdString();
}

}  // namespace

TDateTime Date() {
  return static_cast<TDateTime>(Epoch().daysTo(QDate::currentDate()));
}

TDateTime Time() {
  return static_cast<TDateTime>(QTime::currentTime().msecsSinceStartOfDay()) / kMsecsPerDay;
}

namespace {

// The locale's long time format without its time-zone name, e.g. "HH 'h' mm 'min' ss 's'":
// the zone is a run of 't' outside quotes, and the blanks it leaves go. (Of Qt's locales,
// those whose long format is taken here have the zone bare, at the end.)
QString LongTimeFormatWithoutZone(const QLocale& locale) {
  QString result;
  bool quoted = false;
  for (const QChar c : locale.timeFormat(QLocale::LongFormat)) {
    quoted = quoted != (c == QLatin1Char('\''));
    if (quoted || c != QLatin1Char('t')) {
      result.append(c);
    }
  }
  return result.simplified();
}

// The user's time format with seconds: readings taken a few seconds apart must be told
// apart in the window and in the record file. A short format without seconds gets them
// after the minutes, with the separator it puts between hours and minutes ("H.mm" becomes
// "H.mm.ss", "h:mm AP" becomes "h:mm:ss AP"); where that separator is not a single mark
// (fr_CA: "HH 'h' mm"), the locale's long format is taken, which has seconds in the
// locale's own words, without its time-zone name.
QString TimeFormat() {
  const QLocale locale = QLocale::system();
  QString format = locale.timeFormat(QLocale::ShortFormat);
  if (format.contains(QLatin1Char('s'))) {
    return format;
  }
  const int minutes = format.indexOf(QLatin1String("mm"));
  if (minutes >= 2) {
    const QChar separator = format.at(minutes - 1);
    const QChar hour = format.at(minutes - 2);
    if ((hour == QLatin1Char('h') || hour == QLatin1Char('H')) && !separator.isLetterOrNumber() &&
        !separator.isSpace() && separator != QLatin1Char('\'')) {
      return format.insert(minutes + 2, QString(separator) + QLatin1String("ss"));
    }
  }
  return LongTimeFormatWithoutZone(locale);
}

// The locale's short date format with the year's century (en_US "M/d/yyyy", de_DE
// "dd.MM.yyyy", ko_KR "yyyy. M. d.").
QString DateFormat(const QLocale& locale) {
  return QString::fromStdU16String(
      WithCenturyInYears(locale.dateFormat(QLocale::ShortFormat).toStdU16String()));
}

}  // namespace

std::string DateToStr(TDateTime value) {
  QDate date;
  QTime time;
  Decode(value, date, time);
  const QLocale locale = QLocale::system();
  return Local8Bit(locale.toString(date, DateFormat(locale)));
}

std::string TimeToStr(TDateTime value) {
  QDate date;
  QTime time;
  Decode(value, date, time);
  return Local8Bit(QLocale::system().toString(time, TimeFormat()));
}

std::string DateTimeToStr(TDateTime value) {
  QDate date;
  QTime time;
  Decode(value, date, time);
  const QLocale locale = QLocale::system();
  return Local8Bit(locale.toString(date, DateFormat(locale)) + QLatin1Char(' ') +
                   locale.toString(time, TimeFormat()));
}
