#pragma once
// The event thread of an open port. It waits (poll) on the device layer's
// event descriptor and on its own stop descriptor (StopSignal) and hands
// each set of line events over as the port's SyncMethod says:
//  - smThreadSync: the port's DeliverEvents runs on the main thread (queued
//    through TMainThreadDispatcher). The thread hands over the next set only
//    once that call has run, so at most one delivery is ever in progress;
//    it does not sit waiting for every call to come back, though (that
//    would cost a wake-up of this thread per delivery): it waits when it
//    has the next set, or when it ends. An exception from the call comes
//    back here at once and ends the thread: nothing more is received until
//    the port is closed and opened again.
//  - smWindowSync: as smThreadSync, but the call only takes the set; the
//    actions then run, one event at a time, as queued calls that skip
//    themselves once the port was closed. Their exceptions go to the
//    dispatcher's error reporting and the thread goes on.
//  - smNone: DeliverEvents runs on this thread itself.
// Coalescing (SetHandOverPolicy): after a hand-over the next one waits until
// the interval has passed, unless the events collected meanwhile hold
// evRxFlag, evError or evBreak, the input queue holds more than the
// threshold, or the line hangs up; the events collected go over together.
// The device is read meanwhile (by this thread when it watches, else by the
// device's reader).
// A hang-up of the device (or a failed wait) ends the thread after the
// events still pending were handed over; the port then raises OnLineLost on
// the main thread. A set taken after the thread was told to stop is dropped,
// and every queued delivery checks that the opening it belongs to is still
// the port's, so none reaches a closed, reopened or destroyed port.
//
// Created by TCustomComPort::Open and destroyed by Close, on the main thread;
// the port is its TComThreadTarget.
// Nothing here is called by the application directly.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "serial/ComTypes.h"
#include "serial/MainThreadDispatcher.h"

class SerialDevice;

// What the event thread drives: the port's actions for a set of events, and
// its notice that reception ended with the line. Called on the main thread
// (on the event thread itself with smNone), only while the opening they
// belong to lasts.
class TComThreadTarget {
 public:
  virtual void DeliverEvents(TComEvents events) = 0;
  virtual void RunEventAction(TComEvent event) = 0;
  virtual void LineLost() = 0;

 protected:
  ~TComThreadTarget() = default;
};

class TComThread {
 public:
  // Sets the device's event mask from `events` and starts the thread.
  // `session` expires when the opening ends: calls queued for `target`
  // after that are dropped. `dispatcher` may be null only with smNone.
  TComThread(TComThreadTarget& target, std::weak_ptr<int> session, std::shared_ptr<SerialDevice> device,
             TComEvents events, TSyncMethod syncMethod, TMainThreadDispatcher* dispatcher);
  // Stops the thread and waits for it to end. While waiting, the calling
  // (main) thread runs the hand-over still queued, if any, which the thread
  // waits for before it ends. Called from inside that very
  // hand-over (a handler closing its port), the thread is told to stop and
  // left to end on its own once the hand-over returns.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // True once the thread has ended (stopped, hung up, or ended by an
  // exception from a delivery).
  bool Finished() const;
  // The stop descriptor (an eventfd) standing for the stop event.
  int StopSignal() const;
  // Any thread: the hand-over interval (ms, 0 = none) and the input-queue
  // count above which it is cut short.
  void SetHandOverPolicy(int intervalMs, std::size_t threshold);

  struct Shared;  // state the thread may outlive its owner with

 private:
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};
