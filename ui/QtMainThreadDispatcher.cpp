#include "QtMainThreadDispatcher.h"

#include <QMetaObject>
#include <QPointer>
#include <exception>

QtMainThreadDispatcher::QtMainThreadDispatcher() = default;

QtMainThreadDispatcher::~QtMainThreadDispatcher() = default;

// Queued invocations aimed at this object are discarded by Qt when it is
// destroyed, which is what "dropped" means above.
void QtMainThreadDispatcher::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(
      this, [this, call = std::move(call)] { Run(call); }, Qt::QueuedConnection);
}

void QtMainThreadDispatcher::Run(const std::function<void()>& call) {
  ++served_;
  try {
    call();
  } catch (const std::exception& error) {
    if (errorHandler_) errorHandler_(error.what());
  } catch (...) {
    if (errorHandler_) errorHandler_("Unknown error");
  }
}
