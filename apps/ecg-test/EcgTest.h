#pragma once
// One run of ecg-test: the command line, the plan, the run over the
// acquisition session, the verdict table and the result files. The program's
// main and the tests call the same function.
#include <QStringList>
#include <functional>
#include <iosfwd>

class PlanRunner;

enum EcgTestExit : int {
  kTestPassed = 0,  // every check passed
  kTestFailed = 1,  // some check failed, ended in error, or the run was cancelled
  kTestUsage = 2,   // bad arguments or plan (the plan's line is named), a result file not written
  kTestPort = 3,    // the port is not available
};

// `arguments` as QCoreApplication::arguments() gives them (the program's
// name first). Progress goes to `err`, the verdict table to `out`.
// `running` is told the runner when the run begins and nullptr when it ends
// (the place to cancel it from a signal). Needs a QGuiApplication (the PDF's
// fonts) on the calling thread.
int RunEcgTest(const QStringList& arguments, std::ostream& out, std::ostream& err,
               const std::function<void(PlanRunner*)>& running = {});
