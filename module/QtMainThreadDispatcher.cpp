#include "module/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <exception>

namespace {

// The wake-up: a plain event of a type of the dispatcher's own. It carries
// nothing; Qt builds it, queues it under its own lock and deletes it, and
// nothing of ours reads it (customEvent takes every event of a custom type,
// and the dispatcher gets no other). A queued call of a member would carry a
// reference-counted slot object across the threads as well, and a thread
// checker that cannot see into Qt's lock takes its release for a race.
QEvent::Type WakeUpType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

QtMainThreadDispatcher::QtMainThreadDispatcher() = default;

// Wake-ups still queued for this object are discarded by Qt when it is
// destroyed; the calls they stood for go with the queue.
QtMainThreadDispatcher::~QtMainThreadDispatcher() = default;

void QtMainThreadDispatcher::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  QCoreApplication::postEvent(this, new QEvent(WakeUpType()));
}

void QtMainThreadDispatcher::customEvent(QEvent* /*wakeUp*/) { RunNext(); }

// One call per wake-up, not the whole queue: a call may open a modal dialog
// whose loop serves the next wake-ups, and the order is kept either way.
void QtMainThreadDispatcher::RunNext() {
  std::function<void()> call;
  {
    std::lock_guard lock(mutex_);
    if (calls_.empty()) return;
    call = std::move(calls_.front());
    calls_.pop_front();
  }
  ++served_;
  try {
    call();
  } catch (const std::exception& error) {
    if (errorHandler_) errorHandler_(error.what());
  } catch (...) {
    if (errorHandler_) errorHandler_("Unknown error");
  }
}
