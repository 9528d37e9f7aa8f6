#include "module/QtMainThreadDispatcher.h"

#include <QMetaObject>
#include <exception>

QtMainThreadDispatcher::QtMainThreadDispatcher() = default;

// Wake-ups still queued for this object are discarded by Qt when it is
// destroyed; the calls they stood for go with the queue.
QtMainThreadDispatcher::~QtMainThreadDispatcher() = default;

void QtMainThreadDispatcher::Post(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  // The member pointer, not the method's name: no lookup by string per call.
  QMetaObject::invokeMethod(this, &QtMainThreadDispatcher::RunNext, Qt::QueuedConnection);
}

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
