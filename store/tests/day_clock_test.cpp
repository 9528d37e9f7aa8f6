// The clock that stamps every record: local time of day as a fraction of a
// day, in step with the local time the rest of the tool shows.
#include <gtest/gtest.h>

#include <QTime>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include "store/LocaleFormat.h"

namespace {

constexpr double kMsPerDay = 86400000.0;

// Distance of two times of day in ms, across midnight.
double ApartMs(double a, double b) {
  const double d = std::fabs(a - b) * kMsPerDay;
  return std::min(d, kMsPerDay - d);
}

class ZoneGuard {
 public:
  ZoneGuard() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
  }
  ~ZoneGuard() {
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static void Set(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST(DayClock, ReadsTheLocalTimeOfDay) {
  const double expected = QTime::currentTime().msecsSinceStartOfDay() / kMsPerDay;
  EXPECT_LT(ApartMs(NowAsDayFraction(), expected), 50.0);
}

TEST(DayClock, FollowsAChangeOfTimeZoneWithinASecond) {
  ZoneGuard guard;
  ZoneGuard::Set("UTC0");
  const double utc = NowAsDayFraction();
  ZoneGuard::Set("XYZ-3");  // three hours east of UTC
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  const double east = NowAsDayFraction();
  const double shifted = std::fmod(utc + 3.0 / 24.0 + 1.1 / 86400.0, 1.0);
  EXPECT_LT(ApartMs(east, shifted), 500.0);
}

}  // namespace
