// ecg-test: the acceptance test of a module on a serial port, for production
// benches and CI. See --help for the command line.
#include <sys/socket.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSocketNotifier>
#include <csignal>
#include <iostream>

#include "EcgTest.h"
#include "acceptance/PlanRunner.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  // Nothing else is safe in a signal handler; the loop reads the byte.
  (void)!::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  // The PDF report needs fonts, not a screen: a bench has none.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QGuiApplication::setApplicationName("ecg-test");
  QGuiApplication::setApplicationVersion(ECG_VERSION);

  PlanRunner* runner = nullptr;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, [&runner] {
      char byte = 0;
      (void)!::read(signalPipe[0], &byte, 1);
      if (runner) runner->Cancel();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }
  return RunEcgTest(QGuiApplication::arguments(), std::cout, std::cerr,
                    [&runner](PlanRunner* running) { runner = running; });
}
