// The command line of ecg-module-sim.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "simulator/SimulatorArguments.h"

namespace {
struct AcceptedCase {
  const char* name;
  std::vector<std::string> arguments;
  std::function<bool(const SimulatorArguments&)> holds;
};

void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.name; }

class AcceptedArguments : public testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedArguments, SetTheirOptions) {
  const SimulatorArguments args = ParseSimulatorArguments(GetParam().arguments);
  EXPECT_EQ(args.error, "");
  EXPECT_TRUE(GetParam().holds(args));
}

INSTANTIATE_TEST_SUITE_P(
    Options, AcceptedArguments,
    testing::Values(
        AcceptedCase{"Version", {"--version"}, [](const auto& a) { return a.version && !a.help; }},
        AcceptedCase{"HelpBeforeAnythingUnknown", {"--help", "--bogus"}, [](const auto& a) { return a.help; }},
        AcceptedCase{"ModuleFaultsForSeveralLeads",
                     {"--gain-error", "II=1.1", "--gain-error", "c2=0.5", "--gain-error", "II=1.2", "--dead-lead",
                      "aVF", "--skew", "C4=1000", "--lead-off", "RA", "--lead-off", "C1", "--lead-off", "C5",
                      "--lead-off", "ll", "--no-ident"},
                     [](const auto& a) {
                       return a.options.moduleFaults == ModuleFaults{.gain = {{slII, 1.2}, {slC2, 0.5}},
                                                                     .dead = {slAVF},
                                                                     .skew = {{slC4, 1000}},
                                                                     .limbOff = 0x19,
                                                                     .chestOff = 0x08,
                                                                     .noIdent = true};
                     }},
        AcceptedCase{"LineFaultsAsBefore",
                     {"--rate-multiplier", "1.01", "--noise"},
                     [](const auto& a) { return a.options.pace.rateMultiplier == 1.01 && a.options.faults.Any(); }},
        AcceptedCase{
            "Replay", {"--replay", "data/100.hea"}, [](const auto& a) { return a.options.replay == "data/100.hea"; }}),
    [](const auto& row) { return std::string(row.param.name); });

struct RefusedCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* error;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedArguments : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedArguments, SayWhy) { EXPECT_EQ(ParseSimulatorArguments(GetParam().arguments).error, GetParam().error); }

INSTANTIATE_TEST_SUITE_P(
    Options, RefusedArguments,
    testing::Values(
        RefusedCase{"Unknown", {"--bogus", "--help"}, "unknown option --bogus"},
        RefusedCase{"MissingValue", {"--gain-error"}, "--gain-error needs a value"},
        RefusedCase{"GainWithoutFactor", {"--gain-error", "II"}, "--gain-error needs LEAD=FACTOR, e.g. II=1.1"},
        RefusedCase{"GainUnknownLead",
                    {"--gain-error", "V2=1.1"},
                    "--gain-error: no lead named V2 (I, II, III, aVR, aVL, aVF, C1..C6)"},
        RefusedCase{"SkewFraction", {"--skew", "I=1.5"}, "--skew I needs a whole number of samples from 0 to 1000"},
        RefusedCase{"LeadOffUnknownElectrode",
                    {"--lead-off", "II"},
                    "--lead-off: no electrode named II (LL, RL, LA, RA, C1..C6)"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SimulatorVersion, IsTheProjectsDottedVersion) {
  const std::string version = SimulatorVersion();
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
}
}  // namespace
