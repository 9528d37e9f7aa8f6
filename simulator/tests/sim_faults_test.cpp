// What the module's own faults do to a stream of samples.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/ModuleFaults.h"

namespace {
// A ramp on every lead: lead L of sample n reads n + L / 100 mV.
LeadVoltages Ramp(int n) {
  LeadVoltages leads;
  for (std::size_t lead = 0; lead < leads.mV.size(); ++lead) leads.mV[lead] = n + static_cast<double>(lead) / 100;
  leads.respiration = 0.25;
  return leads;
}

struct FilterCase {
  const char* name;
  ModuleFaults faults;
  SimLead lead;                  // the lead looked at
  std::vector<double> expected;  // its values for samples 0, 1, 2, 3
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

bool Touched(const ModuleFaults& faults, SimLead lead) {
  return faults.gain.contains(lead) || faults.dead.contains(lead) || faults.skew.contains(lead);
}

class LeadFaults : public testing::TestWithParam<FilterCase> {};

TEST_P(LeadFaults, ChangeOnlyTheirLead) {
  const FilterCase& c = GetParam();
  LeadFaultFilter filter(c.faults);
  for (int n = 0; n < static_cast<int>(c.expected.size()); ++n) {
    const LeadVoltages in = Ramp(n);
    const LeadVoltages out = filter.Next(in);
    for (int lead = 0; lead < slLeadCount; ++lead) {
      const auto index = static_cast<std::size_t>(lead);
      if (lead != c.lead && Touched(c.faults, static_cast<SimLead>(lead))) continue;
      const double expected = lead == c.lead ? c.expected[static_cast<std::size_t>(n)] : in.mV[index];
      EXPECT_DOUBLE_EQ(out.mV[index], expected) << LeadName(static_cast<SimLead>(lead)) << " at sample " << n;
    }
    EXPECT_EQ(out.respiration, in.respiration);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LeadFaults,
    testing::Values(FilterCase{"None", {}, slII, {0.01, 1.01, 2.01, 3.01}},
                    FilterCase{"GainAboutZero", {.gain = {{slII, 1.5}}}, slII, {0.015, 1.515, 3.015, 4.515}},
                    FilterCase{"Inverted", {.gain = {{slAVR, -1}}}, slAVR, {-0.03, -1.03, -2.03, -3.03}},
                    FilterCase{"DeadDespiteAGain", {.gain = {{slC3, 2}}, .dead = {slC3}}, slC3, {0, 0, 0, 0}},
                    FilterCase{"SkewReadsZeroUntilFilled", {.skew = {{slC6, 2}}}, slC6, {0, 0, 0.11, 1.11}},
                    FilterCase{"SkewBesideALongerOne", {.skew = {{slIII, 1}, {slC1, 3}}}, slIII, {0, 0.02, 1.02, 2.02}},
                    FilterCase{
                        "SkewThenGain", {.gain = {{slAVF, 2}}, .skew = {{slAVF, 1}}}, slAVF, {0, 0.1, 2.1, 4.1}}),
    [](const auto& row) { return std::string(row.param.name); });
}  // namespace
