#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <random>

#include "analysis/Calibration.h"

namespace {

constexpr std::array<const char*, 12> kLeads{"I", "II", "III", "aVR", "aVL", "aVF", "C1", "C2", "C3", "C4", "C5", "C6"};
using State = LeadCalibrationState;

struct LeadSpec {
  int zero = 0;  // steps; 0: 120 plus the lead's index
  double stepsPerMv = 40;
  int sign = 1;  // the rectangle's direction; 0: none in this lead
  bool dead = false;
};

struct Recording {
  int rate = 300;
  double noise = 0;  // steps, standard deviation
  bool rectangle = true;
  bool startsInside = false;  // the recording begins during the rectangle
  std::array<LeadSpec, 12> leads{};
};

constexpr double kRise = 1.5;  // seconds: ECG 0..1.1 s, zero to 1.5 s, the rectangle to 2.5 s, zero, ECG from 2.9 s

// An ECG beat a second, the rectangle between flat stretches at the lead's
// zero, in the converter's 0..247.
std::vector<int> Lead(const Recording& r, std::size_t index, std::mt19937& random) {
  const LeadSpec& spec = r.leads[index];
  const int zero = spec.zero ? spec.zero : 120 + static_cast<int>(index);
  std::normal_distribution<double> noise(0, r.noise);
  std::vector<int> steps;
  for (int n = 0; n < 4 * r.rate; ++n) {
    const double t = double(n) / r.rate;
    double mv = 0;
    const double u = std::fmod(t, 1.0) - 0.5;
    if (t < 1.1 || t >= 2.9)
      mv = 1.2 * std::exp(-0.5 * std::pow(u / 0.012, 2)) + 0.3 * std::exp(-0.5 * std::pow((u - 0.25) / 0.05, 2));
    const bool inside = r.startsInside ? t < 2.5 : (t >= kRise && t < 2.5);
    if (r.rectangle && inside) mv = spec.sign;
    const double value = spec.dead ? 128 : zero + spec.stepsPerMv * mv + (r.noise > 0 ? noise(random) : 0);
    steps.push_back(std::clamp(static_cast<int>(std::lround(value)), 0, 247));
  }
  return steps;
}

struct Case {
  const char* name;
  std::function<void(Recording&)> change;
  std::map<std::string, State> states;       // leads not named: Found
  std::map<std::string, double> stepsPerMv;  // leads not named and found: 40
  std::vector<std::string> off;
  const char* summary;  // nullptr: not compared
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::map<std::string, State> NoneFound() {
  std::map<std::string, State> states;
  for (const char* lead : kLeads) states[lead] = State::NoRectangle;
  return states;
}

class CalibrationRectangle : public ::testing::TestWithParam<Case> {};

TEST_P(CalibrationRectangle, MeasuredPerLeadOrReportedMissingWithoutAGuess) {
  const Case& c = GetParam();
  Recording recording;
  if (c.change) c.change(recording);
  std::mt19937 random(11);
  std::vector<std::vector<int>> signals;
  std::vector<LeadSamples> leads;
  for (std::size_t i = 0; i < kLeads.size(); ++i) signals.push_back(Lead(recording, i, random));
  for (std::size_t i = 0; i < kLeads.size(); ++i) leads.push_back({kLeads[i], signals[i]});

  const CalibrationResult result = FindCalibration(leads, recording.rate);
  ASSERT_EQ(result.leads.size(), kLeads.size());
  // Steps: three standard errors of the medians with noise; without, the end
  // of a T wave on the zero level moves its interpolated median a little.
  const double tolerance = recording.noise > 0 ? 0.6 : 0.1;
  for (std::size_t i = 0; i < kLeads.size(); ++i) {
    const LeadCalibration& lead = result.leads[i];
    SCOPED_TRACE(lead.lead);
    const auto state = c.states.find(lead.lead);
    EXPECT_EQ(lead.state, state == c.states.end() ? State::Found : state->second);
    if (lead.state != State::Found) {
      EXPECT_EQ(lead.stepsPerMv, 0) << "no figure without a rectangle";
      continue;
    }
    const auto steps = c.stepsPerMv.find(lead.lead);
    EXPECT_NEAR(lead.stepsPerMv, steps == c.stepsPerMv.end() ? 40 : steps->second, tolerance);
    EXPECT_NEAR(lead.zero, 120 + static_cast<double>(i), tolerance);
    if (!recording.startsInside) {
      EXPECT_NEAR(static_cast<double>(lead.edge), kRise * recording.rate, recording.noise > 0 ? 1 : 0);
    }
  }
  EXPECT_EQ(result.OffLeads(), c.off);
  EXPECT_EQ(result.rising, !recording.startsInside);
  if (c.summary) {
    EXPECT_EQ(result.Summary(), c.summary);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CalibrationRectangle,
    ::testing::Values(
        Case{"Clean", {}, {}, {}, {}, "40.0 steps/mV; I..C6 within 0.0 %"},
        Case{"CleanAt50PerSecond", [](Recording& r) { r.rate = 50; }, {}, {}, {}, "40.0 steps/mV; I..C6 within 0.0 %"},
        Case{"Noisy", [](Recording& r) { r.noise = 1.5; }, {}, {}, {}, nullptr},
        Case{"NoisyAt100PerSecond", [](Recording& r) { r.noise = 0.8, r.rate = 100; }, {}, {}, {}, nullptr},
        // aVR's zero so high that its top is cut at 247: its height is unknown.
        Case{"Clipped",
             [](Recording& r) {
               r.leads[3] = {220, 40, 1, false};
             },
             {{"aVR", State::Clipped}},
             {},
             {},
             "40.0 steps/mV; I..III, aVL..C6 within 0.0 %; no rectangle found in aVR (clipped)"},
        Case{"NoRectangle", [](Recording& r) { r.rectangle = false; }, NoneFound(), {}, {}, "No rectangle found"},
        Case{"OneLeadTenPercentHigh",
             [](Recording& r) { r.leads[1].stepsPerMv = 44; },
             {},
             {{"II", 44}},
             {"II"},
             "40.3 steps/mV; I..C6 within 9.1 %; II 10.0 % off the others"},
        Case{"DeadLead",
             [](Recording& r) { r.leads[8].dead = true; },
             {{"C3", State::Flat}},
             {},
             {},
             "40.0 steps/mV; I..C2, C4..C6 within 0.0 %; no rectangle found in C3 (flat)"},
        Case{"OneLeadSteppingDown",
             [](Recording& r) { r.leads[11].sign = -1; },
             {{"C6", State::OppositeStep}},
             {},
             {},
             "40.0 steps/mV; I..C5 within 0.0 %; no rectangle found in C6 (step of the other sign)"},
        // A step at one moment in three leads of twelve is not the rectangle.
        Case{"StepInAMinorityOfLeads",
             [](Recording& r) {
               for (std::size_t i = 3; i < 12; ++i) r.leads[i].sign = 0;
             },
             NoneFound(),
             {},
             {},
             "No rectangle found"},
        // Only the rectangle's end was recorded: measured from its fall.
        Case{"StartsInsideTheRectangle", [](Recording& r) { r.startsInside = true; }, {}, {}, {}, nullptr}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(FindCalibration, RefusesASampleRateNotAboveZero) {
  const std::vector<int> samples(100, 128);
  EXPECT_THROW(FindCalibration({{"I", samples}}, 0), std::invalid_argument);
}

}  // namespace
