#include "framework/sysutils.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>
#include <cmath>

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

std::string Local8Bit(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

}  // namespace

TDateTime Date() {
  return static_cast<TDateTime>(Epoch().daysTo(QDate::currentDate()));
}

TDateTime Time() {
  return static_cast<TDateTime>(QTime::currentTime().msecsSinceStartOfDay()) / kMsecsPerDay;
}

namespace {

// The locale's short time format, with seconds where it leaves them out: readings taken
// a few seconds apart must be told apart in the window and in the record file.
QString TimeFormat() {
  QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1Char('s'))) {
    const int minutes = format.lastIndexOf(QLatin1String("mm"));
    if (minutes >= 0) {
      format.insert(minutes + 2, QLatin1String(":ss"));
    }
  }
  return format;
}

}  // namespace

std::string DateToStr(TDateTime value) {
  QDate date;
  QTime time;
  Decode(value, date, time);
  return Local8Bit(QLocale::system().toString(date, QLocale::ShortFormat));
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
  return Local8Bit(locale.toString(date, QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(time, TimeFormat()));
}
