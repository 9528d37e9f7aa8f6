#include "EcgTest.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <ostream>
#include <string>

#include "acceptance/AcceptanceReport.h"
#include "acceptance/DefaultPlan.h"
#include "acceptance/PlanRunner.h"
#include "acceptance/ResultWriters.h"
#include "acceptance/TestPlan.h"
#include "recording/RecordingFiles.h"
#include "store/LocaleFormat.h"

namespace {

const char* const kDescription =
    "Runs an acceptance test plan against the module on the --port and prints the verdict table.\n"
    "Without --plan the built-in default plan runs (installed as share/ecg-tool/default-plan.toml).\n"
    "\n"
    "Exit codes: 0 every check passed, 1 some check failed, 2 bad arguments or plan,\n"
    "3 the port is not available.";

struct Options {
  std::string port, plan, junit, json, report, keep;
};

class EBadArguments : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file the run will write: its folder must be there to take it, so that a
// mistyped path is refused before the module is tested for minutes.
void CheckWritable(const QCommandLineOption& option, const std::string& path) {
  const QFileInfo file(QString::fromStdString(path));
  const QFileInfo folder(file.absolutePath());
  if (file.isDir() || !folder.isDir() || !folder.isWritable()) {
    throw EBadArguments("--" + option.names().front().toStdString() + " " + path +
                        ": cannot be written (no such folder, not writable, or a folder itself)");
  }
}

// "03-rate-100_sec": the step's number and names, fit for a file name.
std::string StepFileName(const RunProgress& step) {
  char number[16];
  std::snprintf(number, sizeof number, "%02zu-", step.step);
  std::string name = number + step.check + (step.setting.empty() ? "" : "-" + step.setting);
  std::string fit;
  for (const char c : name) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    if (plain) {
      fit += c;
    } else if (!fit.empty() && fit.back() != '_') {
      fit += '_';
    }
  }
  while (!fit.empty() && fit.back() == '_') fit.pop_back();
  return fit;
}

}  // namespace

int RunEcgTest(const QStringList& arguments, std::ostream& out, std::ostream& err,
               const std::function<void(PlanRunner*)>& running) {
  QCommandLineParser parser;
  parser.setApplicationDescription(kDescription);
  const QCommandLineOption help({"h", "help"}, "Shows this help.");
  const QCommandLineOption version("version", "Shows the program's version.");
  const QCommandLineOption port("port", "The module's serial port, e.g. /dev/ttyUSB0.", "PATH");
  const QCommandLineOption plan("plan", "The test plan to run instead of the default one.", "FILE.toml");
  const QCommandLineOption junit("junit", "Writes the results as JUnit XML (for CI servers).", "FILE.xml");
  const QCommandLineOption json("json", "Writes the results as JSON.", "FILE.json");
  const QCommandLineOption report("report", "Writes the PDF report.", "FILE.pdf");
  const QCommandLineOption keep("keep-recordings", "Saves each step's recording (log and data file) in DIR.", "DIR");
  parser.addOptions({help, version, port, plan, junit, json, report, keep});

  Options o;
  try {
    if (!parser.parse(arguments)) throw EBadArguments(parser.errorText().toStdString());
    if (parser.isSet(help)) {
      out << parser.helpText().toStdString();
      return kTestPassed;
    }
    if (parser.isSet(version)) {
      out << "ecg-test " << ECG_VERSION << "\n";
      return kTestPassed;
    }
    if (!parser.positionalArguments().isEmpty())
      throw EBadArguments("unexpected argument '" + parser.positionalArguments().front().toStdString() + "'");
    if (!parser.isSet(port) || parser.value(port).isEmpty()) throw EBadArguments("--port PATH is required");
    o = {parser.value(port).toStdString(), parser.value(plan).toStdString(),   parser.value(junit).toStdString(),
         parser.value(json).toStdString(), parser.value(report).toStdString(), parser.value(keep).toStdString()};
    if (!o.junit.empty()) CheckWritable(junit, o.junit);
    if (!o.json.empty()) CheckWritable(json, o.json);
    if (!o.report.empty()) CheckWritable(report, o.report);
    if (!o.keep.empty() && !QDir().mkpath(QString::fromStdString(o.keep)))
      throw EBadArguments("--keep-recordings " + o.keep + ": the folder cannot be created");
  } catch (const EBadArguments& error) {
    err << "ecg-test: " << error.what() << "\n(ecg-test --help shows the command line)\n";
    return kTestUsage;
  }

  TestPlan testPlan;
  try {
    testPlan = o.plan.empty() ? ParsePlan(DefaultPlanText(), std::string(kDefaultPlanName)) : LoadPlan(o.plan);
  } catch (const EPlan& error) {
    err << "ecg-test: " << error.what() << "\n";
    return kTestUsage;
  }

  PlanRunner runner(testPlan, o.port);
  const std::size_t steps = PlanRunner::StepCount(testPlan);
  err << "ecg-test: plan \"" << testPlan.name << "\" (" << testPlan.source << ", sha256 "
      << testPlan.sha256.substr(0, 12) << "...), " << steps << " steps on " << o.port << "\n";
  runner.OnProgress = [&err](const RunProgress& step) {
    err << "[" << step.step << "/" << step.steps << "] " << step.check
        << (step.setting.empty() ? "" : " " + step.setting) << "\n"
        << std::flush;
  };
  runner.OnResult = [&err](const CheckResult& result) {
    std::string verdict(VerdictName(result.verdict));
    for (char& c : verdict) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    err << "    " << verdict << "  " << CaseName(result) << ": " << MeasuredText(result)
        << (result.message.empty() ? "" : " (" + result.message + ")") << "\n"
        << std::flush;
  };
  int keepFailures = 0;
  if (!o.keep.empty()) {
    runner.OnRecorded = [&](const RunProgress& step, const SampleStore& store) {
      if (store.Count() == 0) return;
      const std::string log =
          (QDir(QString::fromStdString(o.keep)).filePath(QString::fromStdString(StepFileName(step) + ".log")))
              .toStdString();
      try {
        WriteRecordingFiles(store, log, DataNameForLogName(log), NowDateTimeText(), LocaleTimeFormatter(),
                            ExistingFiles::Replace);
      } catch (const std::exception& error) {
        ++keepFailures;
        err << "ecg-test: the step's recording was not kept: " << error.what() << "\n";
      }
    };
  }

  RunReport result;
  if (running) running(&runner);
  try {
    result = runner.Run();
  } catch (const EPortNotAvailable& error) {
    if (running) running(nullptr);
    err << "ecg-test: Com-Port not available !!! " << error.what() << "\n";
    return kTestPort;
  }
  if (running) running(nullptr);

  out << VerdictTable(result) << std::flush;
  int exit = ExitCode(result) == 0 ? kTestPassed : kTestFailed;
  try {
    if (!o.junit.empty()) SaveResultFile(o.junit, JUnitXml(result));
    if (!o.json.empty()) SaveResultFile(o.json, ResultsJson(result));
    if (!o.report.empty()) WriteAcceptancePdf(result, o.report);
  } catch (const EResultFile& error) {
    err << "ecg-test: a result file was not written: " << error.what() << "\n";
    exit = kTestUsage;
  }
  if (keepFailures > 0) err << "ecg-test: " << keepFailures << " recordings were not kept\n";
  return exit;
}
