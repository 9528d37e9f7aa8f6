#include "testsupport/QtWait.h"

#include <QCoreApplication>
#include <thread>

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Poll interval while the port's thread works; not a wait for an outcome.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DrainEvents(std::chrono::milliseconds quiet) {
  const auto until = std::chrono::steady_clock::now() + quiet;
  while (std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
