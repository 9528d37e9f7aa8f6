#pragma once
// How the port's event thread reaches the main thread.
//
// The port needs exactly one thing from the application: a way to queue a
// call for the main thread. Everything else of the blocking hand-over
// (waiting for the call to finish, carrying its exception back, serving a
// pending hand-over while Close waits for the thread) is built on top of it
// inside serial/, so an implementation cannot dead-lock Close.
//
// Contract an implementation must honour:
//  - Post may be called from any thread, also from the main thread itself.
//  - Post never runs `call` inside Post: it queues it and returns.
//  - Queued calls run on the main thread, one at a time, in the order they
//    were posted, whenever the main thread serves its queue (when idle and
//    inside modal loops, like any event of the windowing toolkit).
//  - Calls may be served re-entrantly (a call that opens a modal dialog lets
//    later calls run inside it); the port copes with that.
//  - An exception escaping `call` is the application's to report (its
//    default error handler); it must not stop the queue.
//  - Calls still queued when the application ends may be dropped.
// With Qt: QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection)
// plus a try/catch that hands the error to the application's handler.
#include <functional>

class TMainThreadDispatcher {
 public:
  virtual ~TMainThreadDispatcher() = default;
  virtual void Post(std::function<void()> call) = 0;
};
