// ecg-test: the acceptance test of a module on a serial port, for production
// benches and CI. See --help for the command line.
#include <QGuiApplication>
#include <csignal>
#include <iostream>

#include "EcgTest.h"
#include "acceptance/PlanRunner.h"
#include "module/QtStopSignals.h"

int main(int argc, char** argv) {
  // The PDF report needs fonts, not a screen: a bench has none.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QGuiApplication::setApplicationName("ecg-test");
  QGuiApplication::setApplicationVersion(ECG_VERSION);

  PlanRunner* runner = nullptr;
  RouteStopSignals(app, {SIGINT, SIGTERM}, [&runner] {
    if (runner) runner->Cancel();
  });
  return RunEcgTest(QGuiApplication::arguments(), std::cout, std::cerr,
                    [&runner](PlanRunner* running) { runner = running; });
}
