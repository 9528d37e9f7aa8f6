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
        AcceptedCase{"None", {}, [](const auto& a) { return a.options.moduleFaults == ModuleFaults{} && !a.help; }},
        AcceptedCase{"Version", {"--version"}, [](const auto& a) { return a.version && !a.help; }},
        AcceptedCase{"HelpBeforeAnythingUnknown", {"--help", "--bogus"}, [](const auto& a) { return a.help; }},
        AcceptedCase{"NameAndDirectory",
                     {"--name", "ECG-B", "--dir", "/tmp/ports"},
                     [](const auto& a) { return a.options.name == "ECG-B" && a.options.directory == "/tmp/ports"; }},
        AcceptedCase{"RateMultiplier",
                     {"--rate-multiplier", "1.01"},
                     [](const auto& a) { return a.options.pace.rateMultiplier == 1.01; }},
        AcceptedCase{"Noise", {"--noise"}, [](const auto& a) { return a.options.faults.Any(); }},
        AcceptedCase{"GainErrors",
                     {"--gain-error", "II=1.1", "--gain-error", "c2=0.5", "--gain-error", "II=1.2"},
                     [](const auto& a) {
                       return a.options.moduleFaults.gain == std::map<SimLead, double>{{slII, 1.2}, {slC2, 0.5}};
                     }},
        AcceptedCase{"DeadLeads",
                     {"--dead-lead", "aVF", "--dead-lead", "C6"},
                     [](const auto& a) {
                       return a.options.moduleFaults.dead == std::set<SimLead>{slAVF, slC6};
                     }},
        AcceptedCase{"Skews",
                     {"--skew", "III=0", "--skew", "C4=1000"},
                     [](const auto& a) {
                       return a.options.moduleFaults.skew == std::map<SimLead, int>{{slIII, 0}, {slC4, 1000}};
                     }},
        AcceptedCase{"ElectrodesOff",
                     {"--lead-off", "RA", "--lead-off", "C1", "--lead-off", "C5", "--lead-off", "ll"},
                     [](const auto& a) {
                       return a.options.moduleFaults.limbOff == 0x19 && a.options.moduleFaults.chestOff == 0x08;
                     }},
        AcceptedCase{
            "Replay", {"--replay", "data/100.hea"}, [](const auto& a) { return a.options.replay == "data/100.hea"; }},
        AcceptedCase{"NoIdent", {"--no-ident"}, [](const auto& a) { return a.options.moduleFaults.noIdent; }},
        AcceptedCase{
            "QuietWithDump", {"--quiet", "--register-dump"}, [](const auto& a) { return a.quiet && a.registerDump; }}),
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
        RefusedCase{"RateOutOfRange", {"--rate-multiplier", "0"}, "--rate-multiplier needs a number from 0.01 to 1000"},
        RefusedCase{"RateAndFixedRate",
                    {"--rate-multiplier", "2", "--fast"},
                    "--rate-multiplier cannot be combined with a fixed rate"},
        RefusedCase{"GainWithoutFactor", {"--gain-error", "II"}, "--gain-error needs LEAD=FACTOR, e.g. II=1.1"},
        RefusedCase{"GainWithoutLead", {"--gain-error", "=1.1"}, "--gain-error needs LEAD=FACTOR, e.g. II=1.1"},
        RefusedCase{"GainNotANumber", {"--gain-error", "II=x"}, "--gain-error II needs a number from -100 to 100"},
        RefusedCase{"GainUnknownLead",
                    {"--gain-error", "V2=1.1"},
                    "--gain-error: no lead named V2 (I, II, III, aVR, aVL, aVF, C1..C6)"},
        RefusedCase{"DeadUnknownLead",
                    {"--dead-lead", "Resp"},
                    "--dead-lead: no lead named Resp (I, II, III, aVR, aVL, aVF, C1..C6)"},
        RefusedCase{"SkewNegative", {"--skew", "I=-1"}, "--skew I needs a whole number of samples from 0 to 1000"},
        RefusedCase{"SkewFraction", {"--skew", "I=1.5"}, "--skew I needs a whole number of samples from 0 to 1000"},
        RefusedCase{"SkewWithoutSamples", {"--skew", "I="}, "--skew needs LEAD=SAMPLES, e.g. C2=3"},
        RefusedCase{"LeadOffUnknownElectrode",
                    {"--lead-off", "II"},
                    "--lead-off: no electrode named II (LL, RL, LA, RA, C1..C6)"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SimulatorVersion, IsTheProjectsDottedVersion) {
  const std::string version = SimulatorVersion();
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
}

TEST(SimulatorUsage, NamesEveryOption) {
  const std::string usage = SimulatorUsage();
  for (const char* option :
       {"--gain-error LEAD=FACTOR", "--dead-lead LEAD", "--skew LEAD=SAMPLES", "--lead-off ELECTRODE", "--no-ident",
        "--rate-multiplier", "--noise", "--version", "--replay RECORD.hea"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}
}  // namespace
