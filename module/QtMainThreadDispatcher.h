#pragma once
// The port's way to the main thread, over the Qt event loop: every posted
// call is queued here and an object living on the main thread is woken once
// per call, so calls run there in posting order whenever the loop runs, also
// inside modal dialogs. The blocking part of the hand-over (the event thread
// waiting for its call to finish) lies in serial/ on top of this.
//
// Post may be called from any thread. Calls still queued when the dispatcher
// is destroyed are dropped. An exception escaping a call goes to the error
// handler (on the main thread) and the queue goes on.
#include <QObject>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "serial/MainThreadDispatcher.h"

class QtMainThreadDispatcher : public QObject, public TMainThreadDispatcher {
  Q_OBJECT

 public:
  using ErrorHandler = std::function<void(const std::string& text)>;

  // Must be created on the main thread (the thread whose loop serves calls).
  QtMainThreadDispatcher();
  ~QtMainThreadDispatcher() override;

  void Post(std::function<void()> call) override;
  void SetErrorHandler(ErrorHandler handler) { errorHandler_ = std::move(handler); }

  // Calls served so far (tests).
  long long Served() const { return served_; }

 protected:
  void customEvent(QEvent* wakeUp) override;

 private:
  void RunNext();

  // The calls themselves stay out of Qt's event queue: they are handed from
  // thread to thread under our own lock, and Qt only carries the wake-up.
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  ErrorHandler errorHandler_;
  long long served_ = 0;
};
