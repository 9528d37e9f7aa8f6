#include "module/QtStopSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <csignal>

namespace {

int signalPipe[2] = {-1, -1};
// What each routed signal runs on the main thread, by its number.
std::array<std::function<void()>, NSIG> routes;

void OnSignal(int signal) {
  const auto byte = static_cast<unsigned char>(signal);
  // Nothing else is safe in a signal handler; the loop reads the byte.
  (void)!::write(signalPipe[1], &byte, 1);
}

}  // namespace

bool RouteStopSignals(QObject& parent, std::initializer_list<int> stopSignals, const std::function<void()>& onSignal) {
  if (signalPipe[0] < 0) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return false;
    // One reader for every route: the byte says which signal came.
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &parent);
    QObject::connect(notifier, &QSocketNotifier::activated, &parent, [] {
      unsigned char byte = 0;
      if (::read(signalPipe[0], &byte, 1) == 1 && byte < routes.size() && routes[byte]) routes[byte]();
    });
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : stopSignals) {
    if (signal <= 0 || signal >= NSIG) continue;
    routes[static_cast<std::size_t>(signal)] = onSignal;
    sigaction(signal, &action, nullptr);
  }
  return true;
}
