#include "serial/TComThread.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <utility>

#include "serial/EventSignal.h"
#include "serial/SerialDevice.h"

struct TComThread::Shared {
  TComThreadTarget* target = nullptr;
  std::shared_ptr<SerialDevice> device;
  TSyncMethod syncMethod = smThreadSync;
  TMainThreadDispatcher* dispatcher = nullptr;
  std::weak_ptr<int> session;  // expires when the port closes
  int stopSignal = -1;
  int handOverFailed = -1;  // eventfd: the last hand-over raised, the thread must end
  int handOverDone = -1;    // eventfd: a hand-over the watching thread waits for has run
  // The thread does the device's waiting and reading itself (see
  // SerialDevice::AttachWatcher): it then waits through the device, also
  // while it waits for a hand-over, so that the line is read all the time.
  bool watching = false;
  // The coalesced hand-over (TCustomComPort::SetHandOverInterval), set by
  // the main thread at any time.
  std::atomic<int> interval{0};
  std::atomic<std::size_t> threshold{0};

  // The blocking hand-over: one call at a time travels to the main thread.
  // The event thread does not sit waiting for each call to come back: it
  // waits for that only before it hands over the next set of events (or
  // before it ends), which is when it matters. Most calls have long
  // finished by then, so the main thread need not wake the thread for each
  // one; it wakes it only when the thread is actually waiting, or when the
  // call raised (which ends the thread at once).
  enum class HandOver { Idle, Pending, Running, Done };
  std::mutex mutex;
  std::condition_variable changed;
  HandOver state = HandOver::Idle;
  std::function<void()> call;
  std::exception_ptr error;
  bool threadWaiting = false;  // the event thread waits for Done (on `changed` or handOverDone)
  bool stopRequested = false;
  bool finished = false;

  ~Shared() {
    if (stopSignal >= 0) ::close(stopSignal);
    if (handOverFailed >= 0) ::close(handOverFailed);
    if (handOverDone >= 0) ::close(handOverDone);
  }
};

namespace {
using Shared = TComThread::Shared;

// Main thread: runs the pending hand-over, if there is one.
void Serve(Shared& s) {
  std::function<void()> call;
  {
    std::lock_guard lock(s.mutex);
    if (s.state != Shared::HandOver::Pending) return;
    s.state = Shared::HandOver::Running;
    call = std::move(s.call);
  }
  std::exception_ptr error;
  try {
    call();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(s.mutex);
  s.state = Shared::HandOver::Done;
  s.error = error;
  if (s.threadWaiting) {
    s.changed.notify_all();
    if (s.watching) RaiseEventSignal(s.handOverDone);
  }
  if (error) RaiseEventSignal(s.handOverFailed);
}

bool HandOverFinished(const Shared& s) {
  return s.state == Shared::HandOver::Idle || s.state == Shared::HandOver::Done;
}

// Event thread: waits until the hand-over in flight, if any, has run on the
// main thread; its exception is raised again here. True when it had to wait.
bool AwaitHandOver(Shared& s) {
  std::exception_ptr error;
  bool waited = false;
  {
    std::unique_lock lock(s.mutex);
    waited = !HandOverFinished(s);
    if (s.watching) {
      // Reading the line meanwhile, as the device's own reader would.
      while (!HandOverFinished(s)) {
        s.threadWaiting = true;
        lock.unlock();
        pollfd done{s.handOverDone, POLLIN, 0};
        const int failed = s.device->Watch(&done, 1);
        if (done.revents != 0) DrainEventSignal(s.handOverDone);
        lock.lock();
        // A wait that cannot be made at all: wait without reading instead
        // of spinning.
        if (failed != 0) s.changed.wait(lock, [&] { return HandOverFinished(s); });
      }
    } else {
      s.threadWaiting = true;
      s.changed.wait(lock, [&] { return HandOverFinished(s); });
    }
    s.threadWaiting = false;
    s.state = Shared::HandOver::Idle;
    error = std::exchange(s.error, nullptr);
  }
  if (error) std::rethrow_exception(error);
  return waited;
}

// Event thread: runs `call` on the main thread, one call at a time: the
// previous one has finished before this one is queued. True when it had to
// wait for the previous one.
bool RunOnMainThread(const std::shared_ptr<Shared>& shared, std::function<void()> call) {
  Shared& s = *shared;
  const bool waited = AwaitHandOver(s);
  {
    std::lock_guard lock(s.mutex);
    // Told to stop meanwhile (a Close from inside the delivery just awaited):
    // the set belongs to an opening that is over.
    if (s.stopRequested) return waited;
    s.call = std::move(call);
    s.state = Shared::HandOver::Pending;
    s.changed.notify_all();  // a Close waiting for the thread serves it itself
  }
  s.dispatcher->Post([weak = std::weak_ptr<Shared>(shared)] {
    if (auto alive = weak.lock()) Serve(*alive);
  });
  return waited;
}

// Hands the set over as SyncMethod says. True when it had to wait for the
// previous hand-over (a watching thread has read the line meanwhile, and
// what that brought is still to be taken).
bool HandOver(const std::shared_ptr<Shared>& shared, TComEvents events) {
  Shared& s = *shared;
  switch (s.syncMethod) {
    case smThreadSync:
      // The port may have been closed (and opened again) or destroyed by the
      // time the call runs: then the set is not its business any more.
      return RunOnMainThread(shared, [target = s.target, session = s.session, events] {
        if (auto open = session.lock()) target->DeliverEvents(events);
      });
    case smWindowSync:
      // The main thread takes the set and releases this thread at once; the
      // actions follow as queued calls, each skipped once the port closed.
      return RunOnMainThread(shared, [target = s.target, dispatcher = s.dispatcher, session = s.session, events] {
        for (TComEvent event : kDeliveryOrder) {
          if (!events.Contains(event)) continue;
          dispatcher->Post([target, session, event] {
            if (auto open = session.lock()) target->RunEventAction(event);
          });
        }
      });
    case smNone: s.target->DeliverEvents(events); break;
  }
  return false;
}

// One wait of the event thread: on the stop signal, the line's events and
// the failure of a hand-over, for at most `timeoutMs` (-1: no limit). fds[1]
// reports line events (with a watching thread: always, for TakeEvents to
// tell). `atOnce`: only look, do not wait.
int Wait(Shared& s, pollfd (&fds)[3], bool atOnce, int timeoutMs) {
  fds[0] = {s.stopSignal, POLLIN, 0};
  fds[2] = {s.handOverFailed, POLLIN, 0};
  if (!s.watching) {
    fds[1] = {s.device->EventDescriptor(), POLLIN, 0};
    return poll(fds, 3, atOnce ? 0 : timeoutMs);
  }
  if (atOnce) {
    pollfd own[2] = {fds[0], fds[2]};
    const int r = poll(own, 2, 0);
    fds[0].revents = own[0].revents;
    fds[2].revents = own[1].revents;
    fds[1].revents = POLLIN;
    return r < 0 ? r : 1;
  }
  pollfd extra[2] = {fds[0], fds[2]};
  const int failed = s.device->Watch(extra, 2, timeoutMs);
  fds[0].revents = extra[0].revents;
  fds[2].revents = extra[1].revents;
  fds[1].revents = POLLIN;
  if (failed == 0) return 1;
  errno = failed;
  return -1;
}

using Clock = std::chrono::steady_clock;

// Events that are handed over at once, whatever the interval.
constexpr TComEvent kUrgent[] = {evRxFlag, evError, evBreak};

// A hand-over due within this long is made now: waiting for it would cost
// a wake-up of its own (and the device's timed drains land a hair either
// side of it).
constexpr auto kHandOverSlack = std::chrono::milliseconds(1);

// Whether the events collected so far go to the main thread now.
bool HandOverDue(Shared& s, TComEvents collected, Clock::time_point earliest) {
  if (s.interval.load() <= 0 || Clock::now() + kHandOverSlack >= earliest) return true;
  for (TComEvent event : kUrgent)
    if (collected.Contains(event)) return true;
  int waiting = 0;
  return s.device->InputCount(waiting) != 0 || static_cast<std::size_t>(waiting) > s.threshold.load();
}

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// How long collected events wait for their hand-over: until `earliest`, or,
// while the device drains the line on a schedule, until its first drain
// after that, which brings what came meanwhile along (handing over just
// before it would take a wake-up more and leave those bytes for the next).
int HandOverWait(Shared& s, Clock::time_point earliest) {
  const int untilEarliest = MillisecondsUntil(earliest);
  return std::max(untilEarliest, s.device->NextDrainInMs());
}

// `shared` is the copy std::thread holds until Run returns: it keeps the
// state alive also after the port's side has detached and let go of it.
void Run(const std::shared_ptr<Shared>& shared) {
  pthread_setname_np(pthread_self(), "ecg-port-events");  // for top, perf and the benchmarks
  Shared& s = *shared;
  bool lost = false;
  // With the thread-sync methods the deliveries run on the main thread and
  // this thread only waits, so it can watch the line itself. (With smNone
  // the deliveries run here, and the line must be read meanwhile.)
  if (s.syncMethod != smNone) {
    const bool watching = s.device->AttachWatcher();
    std::lock_guard lock(s.mutex);
    s.watching = watching;
  }
  struct Detach {
    Shared& s;
    ~Detach() {
      if (s.watching) s.device->DetachWatcher();
    }
  } detach{s};
  try {
    // A watching thread takes the events without waiting first: at the start
    // (the device's reader may have noted some while it was handing over the
    // line), and after it read the line while waiting to hand over.
    bool takeAgain = s.watching;
    // Taken from the device but not handed over yet (the interval holds them
    // back), and the earliest moment of the next hand-over.
    TComEvents collected;
    Clock::time_point earliest = Clock::now();
    for (;;) {
      pollfd fds[3];
      const int r = Wait(s, fds, takeAgain, collected.Empty() ? -1 : HandOverWait(s, earliest));
      takeAgain = false;
      if (r < 0 && errno == EINTR) continue;
      // The line is gone (or the wait failed, which ends the thread the
      // same way) once the last delivery has run; if that raised, the
      // thread ends for that reason instead.
      auto endLost = [&] {
        AwaitHandOver(s);
        lost = true;
      };
      if (r < 0) {
        endLost();
        break;
      }
      if (fds[0].revents != 0) break;  // the stop wins over events
      if (fds[2].revents != 0) {
        DrainEventSignal(s.handOverFailed);
        AwaitHandOver(s);  // raises what the last delivery raised
      }
      if (fds[1].revents & (POLLERR | POLLNVAL)) {
        endLost();
        break;
      }
      bool lineLost = false;
      if (fds[1].revents != 0)
        collected = TComEvents::FromBits(collected.Bits() | EventsOfMask(s.device->TakeEvents(lineLost)).Bits());
      // Whatever came before a hang-up is still handed over, at once.
      if (!collected.Empty() && (lineLost || HandOverDue(s, collected, earliest))) {
        takeAgain = HandOver(shared, std::exchange(collected, TComEvents())) && s.watching;
        earliest = Clock::now() + std::chrono::milliseconds(s.interval.load());
      }
      if (lineLost) {
        endLost();
        break;
      }
    }
    // The last hand-over has run before the thread ends (a Close serves it
    // itself).
    AwaitHandOver(s);
    s.device->SetEventMask(0);
    // The input queue is discarded on a stop; after a hang-up the last bytes
    // stay readable for a delivery already queued. The output queue is left
    // to drain: a Linux write is complete once the kernel holds the bytes,
    // so discarding it would cut off a command WriteString reported sent.
    if (!lost) s.device->Purge(PURGE_RXCLEAR);
  } catch (...) {
    // A delivery raised: the thread ends and nothing more is received until
    // the port is closed and opened again.
  }

  // Finished before the loss is told, so that its handler finds reception
  // ended; the queued call checks for itself that the port is still open.
  bool stopped;
  {
    std::lock_guard lock(s.mutex);
    stopped = s.stopRequested;
    s.finished = true;
    s.changed.notify_all();
  }
  if (lost && !stopped) {
    if (s.dispatcher) {
      s.dispatcher->Post([target = s.target, session = s.session] {
        if (auto open = session.lock()) target->LineLost();
      });
    } else {
      s.target->LineLost();
    }
  }
}
}  // namespace

TComThread::TComThread(TComThreadTarget& target, std::weak_ptr<int> session, std::shared_ptr<SerialDevice> device,
                       TComEvents events, TSyncMethod syncMethod, TMainThreadDispatcher* dispatcher)
    : shared_(std::make_shared<Shared>()) {
  shared_->target = &target;
  shared_->device = std::move(device);
  shared_->syncMethod = syncMethod;
  shared_->dispatcher = dispatcher;
  shared_->session = std::move(session);
  shared_->stopSignal = MakeEventSignal();
  shared_->handOverFailed = MakeEventSignal();
  shared_->handOverDone = MakeEventSignal();
  shared_->device->SetEventMask(EventMaskOf(events));
  thread_ = std::thread(Run, shared_);
}

TComThread::~TComThread() {
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  s.stopRequested = true;
  RaiseEventSignal(s.stopSignal);
  // Asked to stop from inside its own hand-over (or, with smNone, from its
  // own delivery): waiting here would never end. The thread sees the stop
  // once the hand-over returns and ends by itself; it keeps what it needs.
  if (s.state == Shared::HandOver::Running || std::this_thread::get_id() == thread_.get_id()) {
    lock.unlock();
    thread_.detach();
    return;
  }
  while (!s.finished) {
    if (s.state == Shared::HandOver::Pending) {
      lock.unlock();
      Serve(s);
      lock.lock();
      continue;
    }
    s.changed.wait(lock);
  }
  lock.unlock();
  thread_.join();
}

bool TComThread::Finished() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->finished;
}

int TComThread::StopSignal() const { return shared_->stopSignal; }

void TComThread::SetHandOverPolicy(int intervalMs, std::size_t threshold) {
  shared_->interval = intervalMs;
  shared_->threshold = threshold;
}
