#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "acceptance/PlanRunner.h"

namespace {

// Arrivals of `count` records sent at `rate`, each delayed as `delay` says
// (seconds late, never early).
template <typename Delay>
std::vector<double> Arrivals(double rate, int count, Delay delay) {
  std::vector<double> arrivals;
  for (int i = 0; i < count; ++i) arrivals.push_back(i / rate + delay(i));
  return arrivals;
}

struct ArrivalCase {
  const char* name;
  double sent;  // the line's true rate
  std::vector<double> arrivals;
};

void PrintTo(const ArrivalCase& c, std::ostream* os) { *os << c.name; }

class ArrivalRateOf : public testing::TestWithParam<ArrivalCase> {};

TEST_P(ArrivalRateOf, IsTheLinesRateWhateverTheDeliveriesDid) {
  // Set to 100 / sec: the true rate is found whether the set one is right or not.
  EXPECT_NEAR(ArrivalRate(GetParam().arrivals, 100), GetParam().sent, GetParam().sent * 0.001);
}

std::mt19937 random(7);
std::uniform_real_distribution<double> upTo30ms(0, 0.030);

INSTANTIATE_TEST_SUITE_P(
    , ArrivalRateOf,
    testing::Values(ArrivalCase{"Steady", 100, Arrivals(100, 1000, [](int) { return 0.0; })},
                    ArrivalCase{"ThreePercentFast", 103, Arrivals(103, 1030, [](int) { return 0.0; })},
                    ArrivalCase{"InBurstsOfTen", 300, Arrivals(300, 3000, [](int i) { return (9 - i % 10) / 300.0; })},
                    ArrivalCase{"JitteredDeliveries", 150, Arrivals(150, 1500, [](int) { return upTo30ms(random); })},
                    // Held up for a second in the middle, then everything at once.
                    ArrivalCase{
                        "HeldUpThenCaughtUp", 100,
                        Arrivals(100, 1000, [](int i) { return i >= 400 && i < 500 ? (500 - i) / 100.0 : 0.0; })}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ArrivalRate, NeedsTenRecordsAndTime) {
  EXPECT_TRUE(std::isnan(ArrivalRate(std::vector<double>(9, 0.0), 100)));
  EXPECT_TRUE(std::isnan(ArrivalRate(std::vector<double>(50, 1.0), 100)));  // all at once
}

}  // namespace
