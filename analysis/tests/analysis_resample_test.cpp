#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "analysis/Resample.h"

namespace {

struct SineCase {
  const char* name;
  int from;
  int to;
  double hertz;
  double gain;  // expected output amplitude over input amplitude
};

void PrintTo(const SineCase& c, std::ostream* out) { *out << c.name; }

class ResampledSine : public ::testing::TestWithParam<SineCase> {};

// A sine below the lower rate's pass band comes through whole and in
// phase; one above the output's half is removed rather than folded back.
TEST_P(ResampledSine, KeepsThePassBandAndRemovesWhatWouldFold) {
  const SineCase& c = GetParam();
  const auto wave = [&](double seconds) { return 100 * std::sin(2 * std::numbers::pi * c.hertz * seconds + 0.3); };
  std::vector<double> input;
  for (int n = 0; n < 4 * c.from; ++n) input.push_back(wave(double(n) / c.from));
  const std::vector<double> output = Resample(input, c.from, c.to);
  ASSERT_EQ(output.size(), (input.size() - 1) * static_cast<std::size_t>(c.to) / static_cast<std::size_t>(c.from) + 1);
  double worst = 0;
  for (std::size_t n = output.size() / 4; n < output.size() * 3 / 4; ++n)  // away from the ends
    worst = std::max(worst, std::fabs(output[n] - c.gain * wave(double(n) / c.to)));
  EXPECT_LT(worst, 1.0) << "largest difference from the expected wave, in percent of its amplitude";
}

INSTANTIATE_TEST_SUITE_P(Rates, ResampledSine,
                         ::testing::Values(SineCase{"Down_360_300_10Hz", 360, 300, 10, 1},
                                           SineCase{"Down_360_150_30Hz", 360, 150, 30, 1},
                                           SineCase{"Down_360_50_15Hz", 360, 50, 15, 1},
                                           SineCase{"Up_100_300_20Hz", 100, 300, 20, 1},
                                           SineCase{"Down_360_50_40Hz_Removed", 360, 50, 40, 0},
                                           SineCase{"Down_360_100_60Hz_Removed", 360, 100, 60, 0},
                                           SineCase{"Down_300_150_80Hz_Removed", 300, 150, 80, 0}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ResampleSteps, ConstantOffsetStaysExactToTheEnds) {
  const std::vector<int> steps(1000, 1024);
  for (const int to : {50, 150, 300, 500})
    for (const int value : ResampleSteps(steps, 360, to)) ASSERT_EQ(value, 1024) << "to " << to;
}

TEST(ResampleSteps, StepKeepsItsTimeAndLevels) {
  std::vector<int> steps(720, 0);
  std::fill(steps.begin() + 360, steps.end(), 200);  // the step at 1 s
  const std::vector<int> out = ResampleSteps(steps, 360, 100);
  EXPECT_EQ(out.front(), 0);
  EXPECT_EQ(out.back(), 200);
  EXPECT_LT(out[99], 100);  // crossing half-way within a sample of the step's time
  EXPECT_GT(out[101], 100);
}

TEST(ResampledIndex, MapsToTheNearestSampleWithoutDrift) {
  EXPECT_EQ(ResampledIndex(77, 360, 300), 64);        // 64.17
  EXPECT_EQ(ResampledIndex(649999, 360, 50), 90278);  // 90277.6
  EXPECT_EQ(ResampledIndex(36'000'000, 360, 150), 15'000'000);
}

TEST(Resample, RefusesRatesNotAboveZero) {
  EXPECT_THROW(Resample({1.0, 2.0}, 0, 100), std::invalid_argument);
  EXPECT_THROW(ResampleSteps({1, 2}, 360, -1), std::invalid_argument);
}

}  // namespace
