#include <cstdlib>
#include <string>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "acceptance/DefaultPlan.h"
#include "acceptance/TestPlan.h"

namespace {

// The smallest plan the cases below grow from.
const std::string kHead = "name = \"bench\"\n";

struct RefusedPlan {
  const char* what;
  std::string text;
  int line;
  int column;
  const char* reason;  // part of the message
};

void PrintTo(const RefusedPlan& plan, std::ostream* out) { *out << plan.what; }

class PlanParserRefuses : public testing::TestWithParam<RefusedPlan> {};

TEST_P(PlanParserRefuses, NamingLineColumnAndWhatIsWrong) {
  const RefusedPlan& plan = GetParam();
  try {
    ParsePlan(plan.text, "plan.toml");
    FAIL() << "accepted:\n" << plan.text;
  } catch (const EPlan& error) {
    EXPECT_EQ(error.Line(), plan.line) << error.what();
    EXPECT_EQ(error.Column(), plan.column) << error.what();
    EXPECT_NE(error.Reason().find(plan.reason), std::string::npos) << error.what();
    const std::string where = "plan.toml:" + std::to_string(plan.line) + ":" + std::to_string(plan.column) + ": ";
    EXPECT_EQ(std::string(error.what()).rfind(where, 0), 0u) << error.what();
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, PlanParserRefuses, testing::Values(
  RefusedPlan{"not TOML", kHead + "[[check]]\nkind = \n", 3, 8, "not TOML"},
  RefusedPlan{"no name", "[[check]]\nkind = \"rate\"\n", 1, 1, "needs a 'name'"},
  RefusedPlan{"empty name", "name = \"\"\n[[check]]\nkind = \"rate\"\n", 1, 8, "needs a 'name'"},
  RefusedPlan{"no check", kHead, 1, 1, "no check"},
  RefusedPlan{"check as one table", kHead + "[check]\nkind = \"rate\"\n", 2, 1, "begin each check with [[check]]"},
  RefusedPlan{"unknown top-level key", kHead + "title = \"x\"\n[[check]]\nkind = \"rate\"\n", 2, 1, "'title' is not a key of the plan"},
  RefusedPlan{"check without kind", kHead + "[[check]]\nseconds = 2\n", 2, 1, "needs a 'kind'"},
  RefusedPlan{"unknown kind", kHead + "[[check]]\nkind = \"speed\"\n", 3, 8, "not 'speed'"},
  RefusedPlan{"integrity as a check", kHead + "[[check]]\nkind = \"integrity\"\n", 3, 8, "give its limits in [integrity]"},
  RefusedPlan{"kind not a text", kHead + "[[check]]\nkind = 3\n", 3, 8, "must be a text"},
  RefusedPlan{"misspelt limit", kHead + "[[check]]\nkind = \"rate\"\ntolerence_percent = 2\n", 4, 1, "'tolerence_percent' is not a key of a rate check"},
  RefusedPlan{"negative tolerance", kHead + "[[check]]\nkind = \"rate\"\ntolerance_percent = -1\n", 4, 21, "above 0"},
  RefusedPlan{"nan seconds", kHead + "[[check]]\nkind = \"rate\"\nseconds = nan\n", 4, 11, "not nan"},
  RefusedPlan{"seconds as text", kHead + "[[check]]\nkind = \"rate\"\nseconds = \"10\"\n", 4, 11, "must be a number, not a text"},
  RefusedPlan{"an hour and more", kHead + "[[check]]\nkind = \"rate\"\nseconds = 3601\n", 4, 11, "at most 3600"},
  RefusedPlan{"rate not offered", kHead + "[[check]]\nkind = \"rate\"\nrates = [100, 200]\n", 4, 15, "'rates' lists samples per second"},
  RefusedPlan{"rate twice", kHead + "[[check]]\nkind = \"rate\"\nrates = [100, 100]\n", 4, 15, "listed twice"},
  RefusedPlan{"no rates", kHead + "[[check]]\nkind = \"rate\"\nrates = []\n", 4, 9, "lists nothing"},
  RefusedPlan{"rate check setting its rate", kHead + "[[check]]\nkind = \"rate\"\nsetup = { transmission = 50 }\n", 4, 11, "chosen step by step"},
  RefusedPlan{"unknown set-up key", kHead + "[setup]\nspeed = 3\n[[check]]\nkind = \"rate\"\n", 3, 1, "'speed' is not a key of a set-up"},
  RefusedPlan{"transmission not offered", kHead + "[setup]\ntransmission = 120\n[[check]]\nkind = \"rate\"\n", 3, 16, "not 120"},
  RefusedPlan{"stage 5", kHead + "[setup]\namplification = 5\n[[check]]\nkind = \"rate\"\n", 3, 17, "from 1 to 4"},
  RefusedPlan{"unknown filter", kHead + "[setup]\nfilter = \"55 Hz\"\n[[check]]\nkind = \"rate\"\n", 3, 10, "not '55 Hz'"},
  RefusedPlan{"unknown lead", kHead + "[setup]\nchannels = [\"I\", \"V7\"]\n[[check]]\nkind = \"rate\"\n", 3, 18, "leads by name"},
  RefusedPlan{"lead twice", kHead + "[setup]\nchannels = [\"I\", \"i\"]\n[[check]]\nkind = \"rate\"\n", 3, 18, "listed twice"},
  RefusedPlan{"pacer as text", kHead + "[setup]\npacer = \"on\"\n[[check]]\nkind = \"rate\"\n", 3, 9, "true or false"},
  RefusedPlan{"unknown mask", kHead + "[[check]]\nkind = \"channels\"\nmasks = [\"some\"]\n", 4, 10, "a lead's name"},
  RefusedPlan{"mask twice", kHead + "[[check]]\nkind = \"channels\"\nmasks = [\"aVR\", [\"aVR\"]]\n", 4, 17, "listed twice"},
  RefusedPlan{"calibration without stages", kHead + "[[check]]\nkind = \"calibration\"\n", 2, 1, "needs 'stages'"},
  RefusedPlan{"stage not a table", kHead + "[[check]]\nkind = \"calibration\"\nstages = [2]\n", 4, 11, "lists tables"},
  RefusedPlan{"stage twice", kHead + "[[check]]\nkind = \"calibration\"\nstages = [{ stage = 2, steps_per_mv = [1, 2] }, { stage = 2, steps_per_mv = [1, 2] }]\n", 4, 59, "stage 2 is listed twice"},
  RefusedPlan{"band upside down", kHead + "[[check]]\nkind = \"calibration\"\nstages = [{ stage = 1, steps_per_mv = [44, 36] }]\n", 4, 39, "lowest value first"},
  RefusedPlan{"band of one", kHead + "[[check]]\nkind = \"calibration\"\nstages = [{ stage = 1, steps_per_mv = [40] }]\n", 4, 39, "band [lowest, highest]"},
  RefusedPlan{"ratio for one stage only", kHead + "[[check]]\nkind = \"calibration\"\nstages = [{ stage = 1, steps_per_mv = [1, 2], ratio = 1 },\n  { stage = 2, steps_per_mv = [3, 4] }]\n", 5, 3, "for every stage or for none"},
  RefusedPlan{"calibration of respiration only", kHead + "[[check]]\nkind = \"calibration\"\nsetup = { channels = [\"Resp\"] }\nstages = [{ stage = 1, steps_per_mv = [1, 2] }]\n", 4, 9, "needs a lead of the electrocardiogram"},
  RefusedPlan{"unknown electrode", kHead + "[[check]]\nkind = \"electrodes\"\ndisconnected = [\"V1\"]\n", 4, 17, "electrodes by name"},
  RefusedPlan{"chest electrode in eight-channel mode", kHead + "[[check]]\nkind = \"electrodes\"\ndisconnected = [\"LL\", \"C3\"]\n", 4, 23, "only in twelve-channel mode"},
  RefusedPlan{"expected rate out of range", kHead + "[[check]]\nkind = \"heart_rate\"\nexpected_bpm = 400\n", 4, 16, "at most 300"},
  RefusedPlan{"noise without limit", kHead + "[[check]]\nkind = \"noise\"\nseconds = 3\n", 2, 1, "needs 'max_steps'"},
  RefusedPlan{"register 26", kHead + "[[check]]\nkind = \"register_writes\"\nwrites = [{ address = 26, value = 1 }]\n", 4, 23, "from 0 to 25"},
  RefusedPlan{"value above a byte", kHead + "[[check]]\nkind = \"register_writes\"\nwrites = [{ address = 5, value = 0x100 }]\n", 4, 34, "from 0 to 255, not 256"},
  RefusedPlan{"write without value", kHead + "[[check]]\nkind = \"register_writes\"\nwrites = [{ address = 5 }]\n", 4, 11, "needs 'value'"},
  RefusedPlan{"pattern not a regular expression", kHead + "[[check]]\nkind = \"identification\"\npattern = \"ECG(\"\n", 4, 16, "not a regular expression"},
  RefusedPlan{"two checks of one name", kHead + "[[check]]\nkind = \"rate\"\n[[check]]\nkind = \"rate\"\n", 5, 8, "comes already at line 2"},
  RefusedPlan{"unknown integrity key", kHead + "[integrity]\nmax_gaps = 1\n[[check]]\nkind = \"rate\"\n", 3, 1, "'max_gaps' is not a key of [integrity]"},
  RefusedPlan{"negative count", kHead + "[integrity]\nmax_queue_gaps = -1\n[[check]]\nkind = \"rate\"\n", 3, 18, "from 0 to"},
  RefusedPlan{"stray bytes as text", kHead + "[integrity]\nmax_stray_bytes = \"2\"\n[[check]]\nkind = \"rate\"\n", 3, 19, "must be a whole number"}
));
// clang-format on

const std::string kPlan = R"(name = "bench"
[setup]
amplification = 3
filter = "Off"
channels = ["II"]

[[check]]
kind = "rate"
rates = [300, 50]
setup = { emg = true }

[[check]]
kind = "channels"
masks = ["none", ["I", "resp."]]

[[check]]
name = "gain"
kind = "calibration"
stages = [{ stage = 4, steps_per_mv = [72, 88] }, { stage = 1, steps_per_mv = [18, 22] }]

[[check]]
kind = "register_writes"
writes = [{ address = 25, value = 0b1000_0001 }, { address = 0, value = 0 }]

[[check]]
kind = "electrodes"
setup = { twelve_channel = true }
disconnected = ["c3", "RA"]
)";

TEST(PlanParser, StepsStartFromThePlansSetUpAndChangeOnlyWhatTheyName) {
  const TestPlan plan = ParsePlan(kPlan, "plan.toml");
  StepSetup base;
  base.amplification = 2;
  base.filter = 0;
  base.channels = {false, true, false, false, false, false, false, false};
  EXPECT_EQ(plan.setup, base);
  ASSERT_EQ(plan.checks.size(), 5u);

  const PlanCheck& rate = plan.checks[0];
  ASSERT_EQ(rate.steps.size(), 2u);
  EXPECT_EQ(rate.steps[0].setting, "300 / sec");
  EXPECT_EQ(rate.steps[0].setup.SamplesPerSecond(), 300);
  EXPECT_EQ(rate.steps[1].setting, "50 / sec");
  StepSetup rateSetup = base;
  rateSetup.emg = true;
  rateSetup.transmission = 0;
  EXPECT_EQ(rate.steps[1].setup, rateSetup);
}

TEST(PlanParser, ChannelMasksGiveTheirFrameLengthsAndTwelveChannelModeByDefault) {
  const TestPlan plan = ParsePlan(kPlan, "plan.toml");
  const PlanCheck& channels = plan.checks[1];
  ASSERT_EQ(channels.steps.size(), 3u);
  EXPECT_EQ(channels.steps[0].setting, "none");
  EXPECT_EQ(channels.steps[0].setup.SampleFrameSize(), 2);
  EXPECT_EQ(channels.steps[1].setting, "I+Resp");
  EXPECT_EQ(channels.steps[1].setup.SampleFrameSize(), 4);
  EXPECT_EQ(channels.steps[1].setup.ChestFrameSize(), 0);
  EXPECT_EQ(channels.steps[2].setting, "12-Channel");
  EXPECT_EQ(channels.steps[2].setup.SampleFrameSize(), 9);
  EXPECT_EQ(channels.steps[2].setup.ChestFrameSize(), 7);
}

TEST(PlanParser, CalibrationStepsFollowTheStagesInTheOrderWritten) {
  const TestPlan plan = ParsePlan(kPlan, "plan.toml");
  const PlanCheck& gain = plan.checks[2];
  EXPECT_EQ(gain.name, "gain");
  EXPECT_EQ(gain.line, 16);
  const auto& limits = std::get<CalibrationLimits>(gain.limits);
  ASSERT_EQ(gain.steps.size(), 2u);
  EXPECT_EQ(gain.steps[0].setting, "Stage 4");
  EXPECT_EQ(gain.steps[0].setup.amplification, 3);
  EXPECT_EQ(limits.stages[1].stage, 0);
  EXPECT_FALSE(limits.Ratios());
}

TEST(PlanParser, RegisterWritesAndElectrodesKeepTheirValues) {
  const TestPlan plan = ParsePlan(kPlan, "plan.toml");
  const auto& writes = std::get<RegisterWriteLimits>(plan.checks[3].limits).writes;
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], (RegisterWrite{25, 0x81}));
  EXPECT_EQ(plan.checks[3].steps[0].setting, "register 25 = 0x81");
  const auto& electrodes = std::get<ElectrodeLimits>(plan.checks[4].limits);
  EXPECT_EQ(electrodes.connected,
            (std::array<bool, kPlanElectrodeCount>{false, true, true, true, true, true, false, true, true, true}));
}

TEST(PlanParser, ChecksumIsTheSha256OfTheBytesRead) {
  // sha256sum of the text, computed apart from this code.
  EXPECT_EQ(ParsePlan("name = \"x\"\n[[check]]\nkind = \"rate\"\n", "p").sha256,
            "d97e12bb80836de1ca89a7e37573619a4c3d8b6ee70ec65b29969bca5156984e");
}

TEST(PlanParser, DefaultPlanHasEveryCheckButRegisterWrites) {
  const std::string path = std::string(std::getenv("ECG_SOURCE_DIR")) + "/acceptance/default-plan.toml";
  const TestPlan plan = LoadPlan(path);
  std::vector<CheckKind> kinds;
  for (const PlanCheck& check : plan.checks) kinds.push_back(check.kind);
  EXPECT_EQ(kinds, (std::vector<CheckKind>{CheckKind::Identification, CheckKind::Rate, CheckKind::Channels,
                                           CheckKind::Calibration, CheckKind::Electrodes, CheckKind::HeartRate,
                                           CheckKind::Noise}));
  EXPECT_TRUE(std::get<CalibrationLimits>(plan.checks[3].limits).Ratios());
  EXPECT_EQ(plan.checks[2].steps.size(), 11u);
}

TEST(PlanParser, BuiltInDefaultPlanIsTheInstalledFileByteForByte) {
  const std::string path = std::string(std::getenv("ECG_SOURCE_DIR")) + "/acceptance/default-plan.toml";
  const TestPlan installed = LoadPlan(path);
  const TestPlan builtIn = ParsePlan(DefaultPlanText(), std::string(kDefaultPlanName));
  EXPECT_EQ(builtIn.sha256, installed.sha256);
  EXPECT_EQ(builtIn.integrity.maxStrayBytes, 0u);
}

TEST(PlanParser, FileThatCannotBeReadIsRefusedWithoutALine) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/missing.toml";
  try {
    LoadPlan(path);
    FAIL();
  } catch (const EPlan& error) {
    EXPECT_EQ(error.Line(), 0);
    EXPECT_EQ(std::string(error.what()).rfind(path + ":0:0: cannot be read", 0), 0u) << error.what();
  }
}

}  // namespace
