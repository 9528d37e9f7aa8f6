#include "store/LocaleFormat.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <cmath>
#include <ctime>

namespace {

constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;

// Qt's long time format may end in a time-zone name ("t", "tttt"); the tool
// shows hours, minutes and seconds only.
QString LongTimePattern() {
  static const QString pattern = [] {
    QString f = QLocale::system().timeFormat(QLocale::LongFormat);
    f.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?")));
    f = f.trimmed();
    if (!f.contains(QLatin1Char('s'))) f = QStringLiteral("HH:mm:ss");
    return f;
  }();
  return pattern;
}

QString ShortDatePattern() {
  static const QString pattern = QLocale::system().dateFormat(QLocale::ShortFormat);
  return pattern;
}

}  // namespace

std::string LongTimeText(const QTime& time) {
  return QLocale::system().toString(time, LongTimePattern()).toStdString();
}

std::string LongTimeText(double dayFraction) {
  double ms = std::round(dayFraction * static_cast<double>(kMsPerDay));
  if (!std::isfinite(ms)) ms = 0;
  qint64 wrapped = static_cast<qint64>(std::fmod(ms, static_cast<double>(kMsPerDay)));
  if (wrapped < 0) wrapped += kMsPerDay;
  return LongTimeText(QTime::fromMSecsSinceStartOfDay(static_cast<int>(wrapped)));
}

std::string ShortDateText(const QDate& date) {
  return QLocale::system().toString(date, ShortDatePattern()).toStdString();
}

std::string NowDateTimeText() {
  const QDateTime now = QDateTime::currentDateTime();
  return ShortDateText(now.date()) + " " + LongTimeText(now.time());
}

// Called for every sample: asking for the local time each time would have
// the C library look at the time-zone file each time. The offset from UTC is
// looked up once per second instead, so a change of zone or of summer time
// shows within a second.
double NowAsDayFraction() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  thread_local time_t offsetSecond = -1;
  thread_local qint64 offsetMs = 0;
  if (now.tv_sec != offsetSecond) {
    offsetSecond = now.tv_sec;
    offsetMs = 1000LL * QDateTime::fromSecsSinceEpoch(now.tv_sec).offsetFromUtc();
  }
  const qint64 ms = static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + offsetMs;
  qint64 ofDay = ms % kMsPerDay;
  if (ofDay < 0) ofDay += kMsPerDay;
  return static_cast<double>(ofDay) / static_cast<double>(kMsPerDay);
}

TimeFormatter LocaleTimeFormatter() {
  return [](double dayFraction) { return LongTimeText(dayFraction); };
}
