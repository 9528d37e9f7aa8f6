#include "ui/AcceptanceRun.h"

#include <QProgressDialog>
#include <QString>
#include <optional>

#include "acceptance/AcceptanceReport.h"
#include "acceptance/DefaultPlan.h"
#include "acceptance/PlanRunner.h"
#include "acceptance/ResultWriters.h"
#include "acceptance/TestPlan.h"

namespace {

// The window's own words for a port it cannot open.
constexpr const char* kPortNotAvailable = "Com-Port not available !!!";

enum PlanButton : std::size_t { kDefaultPlanButton, kPlanFileButton };
enum VerdictButton : std::size_t { kSaveReportButton, kCloseButton };

// The plan the user asked for; nothing when the question was declined or the
// file could not be read (said in a box).
std::optional<TestPlan> ChoosePlan(const TAcceptanceContext& context) {
  const std::optional<std::size_t> choice =
      context.dialogs.Choose("Test the module on " + context.port +
                                 " with the default plan or with a plan file?\n\n"
                                 "The test takes the port: set up again after it.",
                             kTestCaption, {"Default Plan", "Plan File...", "Cancel"});
  if (choice == kDefaultPlanButton) return ParsePlan(DefaultPlanText(), std::string(kDefaultPlanName));
  if (choice != kPlanFileButton) return std::nullopt;
  FileDialogOptions options;
  options.filter = "Test Plans|*.toml|All Files|*";
  options.defaultExt = "toml";
  options.fileMustExist = options.pathMustExist = true;
  const std::optional<std::string> path = context.dialogs.ExecuteOpenDialog(options);
  if (!path) return std::nullopt;
  try {
    return LoadPlan(*path);
  } catch (const EPlan& error) {
    context.dialogs.ShowMessage(std::string("The test plan cannot be run:\n\n") + error.what(), kTestCaption);
    return std::nullopt;
  }
}

// Runs `runner` under a progress dialog over the window; its Cancel (or
// Escape, or closing it) cancels the run.
RunReport RunWithProgress(const TAcceptanceContext& context, PlanRunner& runner, std::size_t steps) {
  QProgressDialog progress(QString(), QStringLiteral("Cancel"), 0, static_cast<int>(steps), context.window);
  progress.setObjectName(QStringLiteral("TestProgress"));
  progress.setWindowTitle(QString::fromLatin1(kTestCaption));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  // Escape rejects the dialog without its canceled(): the run must not go on
  // behind a dialog that has gone.
  QObject::connect(&progress, &QProgressDialog::canceled, [&runner] { runner.Cancel(); });
  QObject::connect(&progress, &QDialog::rejected, [&runner] { runner.Cancel(); });
  const QString port = QString::fromLocal8Bit(context.port);
  runner.OnProgress = [&progress, &port](const RunProgress& step) {
    progress.setLabelText(QStringLiteral("Testing the module on %1\nStep %2 of %3: %4 %5")
                              .arg(port)
                              .arg(step.step)
                              .arg(step.steps)
                              .arg(QString::fromStdString(step.check), QString::fromStdString(step.setting))
                              .trimmed());
    progress.setValue(static_cast<int>(step.step - 1));
  };
  progress.setValue(0);
  progress.show();
  RunReport report = runner.Run();
  runner.OnProgress = nullptr;
  return report;
}

// The verdict table with the offer to save the report, again after a report
// that could not be written.
void ShowVerdict(const TAcceptanceContext& context, const RunReport& report) {
  const std::string verdict = "Plan \"" + report.planName + "\" on " + report.port + "\n\n" + VerdictTable(report);
  while (context.dialogs.ChooseOnTable(verdict, kTestCaption, {"Save Report...", "Close"}) == kSaveReportButton) {
    FileDialogOptions options;
    options.filter = "PDF Files|*.pdf";
    options.defaultExt = "pdf";
    options.overwritePrompt = true;
    const std::optional<std::string> path = context.dialogs.ExecuteSaveDialog(options);
    if (!path) continue;
    try {
      WriteAcceptancePdf(report, *path);
      return;
    } catch (const EResultFile& error) {
      context.dialogs.ShowMessage(std::string("The report was not written:\n\n") + error.what(), kTestCaption);
    }
  }
}

}  // namespace

TestOutcome RunAcceptanceTest(TAcceptanceContext& context) {
  const std::optional<TestPlan> plan = ChoosePlan(context);
  if (!plan) return TestOutcome::NotRun;
  context.releasePort();
  PlanRunner runner(*plan, context.port);
  RunReport report;
  try {
    report = RunWithProgress(context, runner, PlanRunner::StepCount(*plan));
  } catch (const EPortNotAvailable& error) {
    context.dialogs.ShowMessage(std::string(kPortNotAvailable) + "\n\n" + error.what(), kTestCaption);
    return TestOutcome::PortNotAvailable;
  }
  ShowVerdict(context, report);
  return TestOutcome::Ran;
}
