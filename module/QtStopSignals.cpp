#include "module/QtStopSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  // Nothing else is safe in a signal handler; the loop reads the byte.
  (void)!::write(signalPipe[1], &byte, 1);
}

}  // namespace

bool RouteStopSignals(QObject& parent, std::initializer_list<int> stopSignals, std::function<void()> onSignal) {
  if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return false;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &parent);
  QObject::connect(notifier, &QSocketNotifier::activated, &parent, [onSignal = std::move(onSignal)] {
    char byte = 0;
    (void)!::read(signalPipe[0], &byte, 1);
    onSignal();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : stopSignals) sigaction(signal, &action, nullptr);
  return true;
}
