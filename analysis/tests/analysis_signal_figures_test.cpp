#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/SignalFigures.h"

namespace {

TEST(PeakToPeak, IsTheRangeOfTheStretchAndNothingForAnEmptyOne) {
  const std::vector<int> baseline{128, 127, 129, 131, 126, 128};
  EXPECT_EQ(PeakToPeak(baseline), 5);
  EXPECT_EQ(PeakToPeak(std::span<const int>(baseline).subspan(0, 3)), 2);
  EXPECT_EQ(PeakToPeak(std::vector<int>{200}), 0);
  EXPECT_EQ(PeakToPeak({}), std::nullopt);
}

struct RateCase {
  const char* name;
  std::int64_t records;
  double first, last;             // seconds
  std::optional<double> window;   // MeasuredRate(records, last - first)
  std::optional<double> between;  // MeasuredRateBetween(records, first, last)
  std::optional<double> deviationAt300;
};

void PrintTo(const RateCase& c, std::ostream* out) { *out << c.name; }

class MeasuredRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(MeasuredRates, CountsRecordsOrIntervalsAndComparesWithTheSetRate) {
  const RateCase& c = GetParam();
  const auto near = [](std::optional<double> got, std::optional<double> want) {
    return got.has_value() == want.has_value() && (!got || std::fabs(*got - *want) < 1e-9);
  };
  const auto window = MeasuredRate(c.records, c.last - c.first);
  EXPECT_TRUE(near(window, c.window)) << window.value_or(-1);
  EXPECT_TRUE(near(MeasuredRateBetween(c.records, c.first, c.last), c.between));
  EXPECT_TRUE(near(window ? RateDeviationPercent(*window, 300) : std::nullopt, c.deviationAt300));
}

INSTANTIATE_TEST_SUITE_P(Cases, MeasuredRates,
                         ::testing::Values(RateCase{"OnRate", 3000, 5, 15, 300, 299.9, 0},
                                           RateCase{"OnePercentFast", 3030, 0, 10, 303, 302.9, 1},
                                           RateCase{"TwoPercentSlow", 2940, 0, 10, 294, 293.9, -2},
                                           RateCase{"NoTimePassed", 10, 4, 4, std::nullopt, std::nullopt, std::nullopt},
                                           RateCase{"ClockWentBack", 10, 4, 3, std::nullopt, std::nullopt,
                                                    std::nullopt},
                                           RateCase{"OneRecord", 1, 0, 1, 1, std::nullopt, -100 + 1 / 3.0}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(RateDeviationPercent, NothingAgainstASetRateOfZero) {
  EXPECT_EQ(RateDeviationPercent(300, 0), std::nullopt);
  EXPECT_EQ(RateDeviationPercent(std::numeric_limits<double>::quiet_NaN(), 300), std::nullopt);
}

}  // namespace
