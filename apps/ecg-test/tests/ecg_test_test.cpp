// ecg-test's command line and whole runs against the module simulator on a
// pseudo-terminal, in process (the code the program's main runs): the exit
// codes, the result files read back by independent readers, and the module
// faults each failing exactly the checks that look for them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "EcgTest.h"
#include "acceptance/PlanRunner.h"
#include "simulator/ModuleSimulator.h"

namespace {

struct Outcome {
  int exit = -1;
  std::string out, err;
};

Outcome EcgTest(const std::vector<std::string>& args, const std::function<void(PlanRunner*)>& running = {}) {
  QStringList arguments{"ecg-test"};
  for (const std::string& arg : args) arguments << QString::fromStdString(arg);
  std::ostringstream out, err;
  Outcome run;
  run.exit = RunEcgTest(arguments, out, err, running);
  run.out = out.str();
  run.err = err.str();
  return run;
}

std::string Write(const QTemporaryDir& dir, const char* name, const std::string& text) {
  const std::string path = dir.filePath(name).toStdString();
  std::ofstream(path) << text;
  return path;
}

// Short steps, so that a whole run takes seconds: every kind of check, each
// kept to what a fault needs to show.
const char* const kQuickPlan = R"(name = "Quick"
[[check]]
kind = "identification"
[[check]]
kind = "rate"
rates = [300]
seconds = 2
[[check]]
kind = "channels"
masks = ["none"]
seconds = 0.5
[[check]]
kind = "calibration"
setup = { twelve_channel = true }
stages = [{ stage = 1, steps_per_mv = [18, 22], ratio = 1 }, { stage = 2, steps_per_mv = [36, 44], ratio = 2 }]
seconds = 3.3
[[check]]
kind = "electrodes"
setup = { twelve_channel = true }
[[check]]
kind = "heart_rate"
setup = { simulation = true }
seconds = 6
[[check]]
kind = "noise"
setup = { twelve_channel = true }
max_steps = 4
max_microvolts = 100
seconds = 1.5
)";

// ---- The command line ----------------------------------------------------------

struct CommandLineCase {
  const char* name;
  std::vector<std::string> args;  // "PLAN" and "BAD" stand for the plans written below
  int exit;
  const char* mentions;  // in stdout for 0, else in stderr
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

class EcgTestCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(EcgTestCommandLine, EndsWithItsExitCodeSayingWhy) {
  QTemporaryDir dir;
  const std::string good = Write(dir, "good.toml", kQuickPlan);
  const std::string bad = Write(dir, "bad.toml", "name = \"x\"\n[[check]]\nkind = \"rate\"\nrates = [120]\n");
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) args.push_back(arg == "PLAN" ? good : arg == "BAD" ? bad : arg);
  const Outcome run = EcgTest(args);
  EXPECT_EQ(run.exit, GetParam().exit) << run.err;
  const std::string& said = GetParam().exit == 0 ? run.out : run.err;
  EXPECT_NE(said.find(GetParam().mentions), std::string::npos) << said;
  if (GetParam().exit != 0) {
    EXPECT_TRUE(run.out.empty()) << "no verdict table without a run";
  }
}

INSTANTIATE_TEST_SUITE_P(
    , EcgTestCommandLine,
    testing::Values(CommandLineCase{"Help", {"--help"}, 0, "--keep-recordings <DIR>"},
                    CommandLineCase{"Version", {"--version"}, 0, "ecg-test "},
                    CommandLineCase{"NoPort", {"--plan", "PLAN"}, 2, "--port PATH is required"},
                    CommandLineCase{"PortWithoutValue", {"--port"}, 2, "Missing value after '--port'"},
                    CommandLineCase{"UnknownOption", {"--port", "p", "--speed"}, 2, "Unknown option 'speed'"},
                    CommandLineCase{
                        "StrayArgument", {"--port", "p", "plan.toml"}, 2, "unexpected argument 'plan.toml'"},
                    CommandLineCase{"PlanMissing",
                                    {"--port", "p", "--plan", "/nonexistent/p.toml"},
                                    2,
                                    "/nonexistent/p.toml:0:0: cannot be read"},
                    CommandLineCase{"PlanLineWrong", {"--port", "p", "--plan", "BAD"}, 2, "bad.toml:4:"},
                    CommandLineCase{"ResultFolderMissing",
                                    {"--port", "p", "--junit", "/nonexistent/r.xml"},
                                    2,
                                    "--junit /nonexistent/r.xml: cannot be written"},
                    CommandLineCase{"PortMissing",
                                    {"--port", "/nonexistent/ttyECG", "--plan", "PLAN"},
                                    3,
                                    "Com-Port not available !!! /nonexistent/ttyECG"}),
    [](const auto& test) { return std::string(test.param.name); });

// ---- Whole runs ----------------------------------------------------------------

std::unique_ptr<ModuleSimulator> StartSimulator(const ModuleFaults& faults = {}, double rateMultiplier = 1.0,
                                                const FaultOptions& line = {}) {
  SimulatorOptions options;
  options.registerLink = false;
  options.moduleFaults = faults;
  options.pace.rateMultiplier = rateMultiplier;
  options.faults = line;
  auto simulator = std::make_unique<ModuleSimulator>(options);
  simulator->Start();
  return simulator;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// What `command` prints; its exit status in `status`.
std::string Output(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  status = ::pclose(pipe);
  return output;
}

TEST(EcgTestRun, HealthyModulePassesWithResultFilesThatIndependentReadersAccept) {
  QTemporaryDir dir;
  const auto simulator = StartSimulator();
  const std::string junit = dir.filePath("r.xml").toStdString();
  const std::string json = dir.filePath("r.json").toStdString();
  const std::string pdf = dir.filePath("r.pdf").toStdString();
  const std::string kept = dir.filePath("kept").toStdString();
  const Outcome run = EcgTest({"--port", simulator->DevicePath(), "--plan", Write(dir, "p.toml", kQuickPlan), "--junit",
                               junit, "--json", json, "--report", pdf, "--keep-recordings", kept});
  ASSERT_EQ(run.exit, 0) << run.out << run.err;
  EXPECT_NE(run.out.find(": PASS\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("[1/9] identification"), std::string::npos) << run.err;

  // JUnit as a CI server reads it (Python's xml.etree, not our writer).
  int status = -1;
  const std::string read = Output("python3 " ECG_JUNIT_READER " " + junit, status);
  ASSERT_EQ(status, 0) << read;
  const QJsonObject cases = QJsonDocument::fromJson(QByteArray::fromStdString(read)).object();
  EXPECT_EQ(cases["name"].toString(), "Quick");
  std::set<std::string> suites;
  for (const QJsonValue value : cases["cases"].toArray()) {
    EXPECT_EQ(value.toObject()["outcome"].toString(), "passed") << value.toObject()["name"].toString().toStdString();
    suites.insert(value.toObject()["suite"].toString().toStdString());
  }
  EXPECT_EQ(suites, (std::set<std::string>{"identification", "rate", "channels", "calibration", "electrodes",
                                           "heart_rate", "noise", "integrity"}));

  const QJsonObject results = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(json))).object();
  EXPECT_EQ(results["verdict"].toString(), "pass");
  EXPECT_EQ(results["identification"].toString(), "ECG-SIM 1.0 12-channel simulator");
  EXPECT_EQ(ReadFile(pdf).rfind("%PDF-", 0), 0u);
  // One recording (log and data file) per step.
  EXPECT_EQ(QDir(QString::fromStdString(kept)).entryList({"*.log"}).size(), 9);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(kept) + "/02-rate-300_sec.dat"));
}

TEST(EcgTestRun, CancelEndsTheRunAtOnceWithoutAPass) {
  QTemporaryDir dir;
  const auto simulator = StartSimulator();
  const Outcome run =
      EcgTest({"--port", simulator->DevicePath(), "--plan", Write(dir, "p.toml", kQuickPlan)}, [](PlanRunner* runner) {
        if (!runner) return;
        runner->OnProgress = [runner](const RunProgress& step) {
          if (step.step == 3) runner->Cancel();
        };
      });
  EXPECT_EQ(run.exit, 1);
  EXPECT_NE(run.out.find("cancelled after 2 of 9 steps"), std::string::npos) << run.out;
}

TEST(EcgTestRun, PortPulledMidRunEndsTheStepsLeftInErrorNotInAPass) {
  QTemporaryDir dir;
  const auto simulator = StartSimulator();
  const std::string json = dir.filePath("r.json").toStdString();
  const Outcome run =
      EcgTest({"--port", simulator->DevicePath(), "--plan", Write(dir, "p.toml", kQuickPlan), "--json", json},
              [&simulator](PlanRunner* runner) {
                if (!runner) return;
                runner->OnProgress = [&simulator](const RunProgress& step) {
                  if (step.step == 3) simulator->HangUp();
                };
              });
  EXPECT_EQ(run.exit, 1);
  const QJsonObject results = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(json))).object();
  int errors = 0;
  for (const QJsonValue value : results["results"].toArray()) {
    const QJsonObject result = value.toObject();
    const QString check = result["check"].toString();
    // Before the hang-up; and no line was watched after it.
    if (check == "identification" || check == "rate" || check == "integrity") continue;
    EXPECT_EQ(result["verdict"].toString(), "error") << result["check"].toString().toStdString();
    ++errors;
  }
  EXPECT_GE(errors, 7) << run.out;  // the seven steps after the hang-up
}

// ---- The faults a module can have, each caught by its own checks ----------------

struct FaultCase {
  const char* name;
  ModuleFaults faults;
  double rateMultiplier;
  std::set<std::string> failing;  // "check: setting" of every result that does not pass
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class EcgTestFaults : public testing::TestWithParam<FaultCase> {};

std::set<std::string> Failing(const std::string& json) {
  std::set<std::string> failing;
  const QJsonObject results = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
  for (const QJsonValue value : results["results"].toArray()) {
    const QJsonObject result = value.toObject();
    if (result["verdict"].toString() != "pass")
      failing.insert((result["check"].toString() + ": " + result["setting"].toString()).toStdString());
  }
  return failing;
}

TEST_P(EcgTestFaults, FailExactlyTheChecksThatLookForThem) {
  QTemporaryDir dir;
  const auto simulator = StartSimulator(GetParam().faults, GetParam().rateMultiplier);
  const std::string json = dir.filePath("r.json").toStdString();
  const Outcome run =
      EcgTest({"--port", simulator->DevicePath(), "--plan", Write(dir, "p.toml", kQuickPlan), "--json", json});
  EXPECT_EQ(run.exit, GetParam().failing.empty() ? 0 : 1) << run.out;
  EXPECT_EQ(Failing(ReadFile(json)), GetParam().failing) << run.out;
}

TEST(EcgTestLineNoise, FailsTheIntegrityOfTheChecksThatRecordAndNothingElse) {
  QTemporaryDir dir;
  FaultOptions line;
  line.garbageChance = 0.02;
  line.dropChance = 0.001;
  line.seed = 7;
  const auto simulator = StartSimulator({}, 1.0, line);
  const std::string json = dir.filePath("r.json").toStdString();
  const Outcome run =
      EcgTest({"--port", simulator->DevicePath(), "--plan", Write(dir, "p.toml", kQuickPlan), "--json", json});
  EXPECT_EQ(run.exit, 1) << run.out;
  const std::set<std::string> failing = Failing(ReadFile(json));
  // Over a second or more of records the noise is all but certain to show.
  for (const char* check : {"rate", "calibration", "heart_rate"})
    EXPECT_TRUE(failing.count(std::string("integrity: ") + check)) << check << "\n" << run.out;
  for (const std::string& result : failing) EXPECT_EQ(result.rfind("integrity: ", 0), 0u) << run.out;
}

ModuleFaults Faults(const std::function<void(ModuleFaults&)>& set) {
  ModuleFaults faults;
  set(faults);
  return faults;
}

INSTANTIATE_TEST_SUITE_P(
    , EcgTestFaults,
    testing::Values(
        FaultCase{"Healthy", {}, 1.0, {}},
        FaultCase{"NoIdentification", Faults([](ModuleFaults& f) { f.noIdent = true; }), 1.0, {"identification: "}},
        FaultCase{"ElectrodeOff", Faults([](ModuleFaults& f) { f.limbOff = 0x01; }), 1.0, {"electrodes: "}},
        FaultCase{"DeadLead",
                  Faults([](ModuleFaults& f) { f.dead.insert(slC3); }),
                  1.0,
                  {"calibration: Stage 1", "calibration: Stage 2"}},
        FaultCase{"GainError",
                  Faults([](ModuleFaults& f) { f.gain[slC2] = 1.2; }),
                  1.0,
                  {"calibration: Stage 1", "calibration: Stage 1 lead to lead", "calibration: Stage 2",
                   "calibration: Stage 2 lead to lead"}},
        FaultCase{"Skew",
                  Faults([](ModuleFaults& f) { f.skew[slC4] = 3; }),
                  1.0,
                  {"calibration: Stage 1 edges", "calibration: Stage 2 edges"}},
        FaultCase{"RateOff", {}, 1.03, {"rate: 300 / sec"}}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
