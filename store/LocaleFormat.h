#pragma once
// The user's regional time and date formats, as every text of the tool shows
// them (status bar clock, time labels on the chart, the log file, the print
// header). Read once from the system locale (LC_TIME / LANG).
#include <functional>
#include <string>

class QTime;
class QDate;

// Formats a time of day given as a fraction of a day (0.5 = noon).
using TimeFormatter = std::function<std::string(double dayFraction)>;

// Long time format of the system locale: hours, minutes and seconds (any
// time-zone part the locale's long format carries is left out).
std::string LongTimeText(double dayFraction);
std::string LongTimeText(const QTime& time);
// Short date format of the system locale.
std::string ShortDateText(const QDate& date);
// "<short date> <long time>" for the current local moment.
std::string NowDateTimeText();
// Current local time of day as a fraction of a day, millisecond resolution.
double NowAsDayFraction();
// The formatter above as a value, for code that takes a TimeFormatter.
TimeFormatter LocaleTimeFormatter();
