// The module's own faults: names, and what they do to a stream of samples.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/ModuleFaults.h"
#include "simulator/ModuleFrames.h"

namespace {
struct LeadNameCase {
  const char* text;
  std::optional<SimLead> lead;
};

void PrintTo(const LeadNameCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class LeadNames : public testing::TestWithParam<LeadNameCase> {};

TEST_P(LeadNames, AreTheChannelsNamesInAnyCase) { EXPECT_EQ(LeadByName(GetParam().text), GetParam().lead); }

INSTANTIATE_TEST_SUITE_P(Names, LeadNames,
                         testing::Values(LeadNameCase{"I", slI}, LeadNameCase{"ii", slII}, LeadNameCase{"III", slIII},
                                         LeadNameCase{"aVR", slAVR}, LeadNameCase{"AVL", slAVL},
                                         LeadNameCase{"avf", slAVF}, LeadNameCase{"C1", slC1}, LeadNameCase{"c6", slC6},
                                         LeadNameCase{"V1", std::nullopt}, LeadNameCase{"C7", std::nullopt},
                                         LeadNameCase{"IIII", std::nullopt}, LeadNameCase{"Resp", std::nullopt},
                                         LeadNameCase{"", std::nullopt}));

TEST(LeadNames, ReadBackAsWritten) {
  for (int lead = 0; lead < slLeadCount; ++lead) {
    EXPECT_EQ(LeadByName(LeadName(static_cast<SimLead>(lead))), static_cast<SimLead>(lead));
  }
}

struct ElectrodeCase {
  const char* text;
  std::optional<Electrode> electrode;
};

void PrintTo(const ElectrodeCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ElectrodeNames : public testing::TestWithParam<ElectrodeCase> {};

// The status frame's bits for LL, RL, LA, RA and C1; the chest status
// frame's bits 0..4 for C2..C6.
TEST_P(ElectrodeNames, NameTheirBitInTheStatusFrames) {
  EXPECT_EQ(ElectrodeByName(GetParam().text), GetParam().electrode);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ElectrodeNames,
    testing::Values(ElectrodeCase{"LL", Electrode{false, 0x01}}, ElectrodeCase{"rl", Electrode{false, 0x02}},
                    ElectrodeCase{"LA", Electrode{false, 0x04}}, ElectrodeCase{"RA", Electrode{false, 0x08}},
                    ElectrodeCase{"C1", Electrode{false, 0x10}}, ElectrodeCase{"C2", Electrode{true, 0x01}},
                    ElectrodeCase{"c4", Electrode{true, 0x04}}, ElectrodeCase{"C6", Electrode{true, 0x10}},
                    ElectrodeCase{"N", std::nullopt}, ElectrodeCase{"I", std::nullopt},
                    ElectrodeCase{"C7", std::nullopt}));

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

ModuleFaults Faults(void (*change)(ModuleFaults&)) {
  ModuleFaults faults;
  change(faults);
  return faults;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LeadFaults,
    testing::Values(
        FilterCase{"None", {}, slII, {0.01, 1.01, 2.01, 3.01}},
        FilterCase{
            "GainAboutZero", Faults([](ModuleFaults& f) { f.gain[slII] = 1.5; }), slII, {0.015, 1.515, 3.015, 4.515}},
        FilterCase{
            "Inverted", Faults([](ModuleFaults& f) { f.gain[slAVR] = -1; }), slAVR, {-0.03, -1.03, -2.03, -3.03}},
        FilterCase{"Dead", Faults([](ModuleFaults& f) { f.dead.insert(slC3); }), slC3, {0, 0, 0, 0}},
        FilterCase{"DeadDespiteAGain",
                   Faults([](ModuleFaults& f) {
                     f.dead.insert(slI);
                     f.gain[slI] = 2;
                   }),
                   slI,
                   {0, 0, 0, 0}},
        FilterCase{
            "SkewReadsZeroUntilFilled", Faults([](ModuleFaults& f) { f.skew[slC6] = 2; }), slC6, {0, 0, 0.11, 1.11}},
        FilterCase{"SkewBesideALongerOne",
                   Faults([](ModuleFaults& f) {
                     f.skew[slIII] = 1;
                     f.skew[slC1] = 3;
                   }),
                   slIII,
                   {0, 0.02, 1.02, 2.02}},
        FilterCase{"SkewThenGain",
                   Faults([](ModuleFaults& f) {
                     f.skew[slAVF] = 1;
                     f.gain[slAVF] = 2;
                   }),
                   slAVF,
                   {0, 0.1, 2.1, 4.1}}),
    [](const auto& row) { return std::string(row.param.name); });
}  // namespace
