#include "LocaleFormat.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <cmath>

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

double NowAsDayFraction() {
  return static_cast<double>(QTime::currentTime().msecsSinceStartOfDay()) / static_cast<double>(kMsPerDay);
}

TimeFormatter LocaleTimeFormatter() {
  return [](double dayFraction) { return LongTimeText(dayFraction); };
}
