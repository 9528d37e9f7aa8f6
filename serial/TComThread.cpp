#include "TComThread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>

#include "SerialDevice.h"
#include "TComPort.h"

// The parts of the port the event thread drives.
struct ComThreadAccess {
  static void DeliverEvents(TCustomComPort& port, TComEvents events) { port.DeliverEvents(events); }
  static void RunEventAction(TCustomComPort& port, TComEvent event) { port.RunEventAction(event); }
  static void LineLost(TCustomComPort& port) { port.LineLost(); }
  static std::weak_ptr<int> Session(TCustomComPort& port) { return port.session_; }
};

struct TComThread::Shared {
  TCustomComPort* port = nullptr;
  std::shared_ptr<SerialDevice> device;
  TSyncMethod syncMethod = smThreadSync;
  TMainThreadDispatcher* dispatcher = nullptr;
  std::weak_ptr<int> session;  // expires when the port closes
  int stopSignal = -1;

  // The blocking hand-over: one call at a time travels to the main thread.
  enum class HandOver { Idle, Pending, Running, Done };
  std::mutex mutex;
  std::condition_variable changed;
  HandOver state = HandOver::Idle;
  std::function<void()> call;
  std::exception_ptr error;
  bool stopRequested = false;
  bool finished = false;

  ~Shared() {
    if (stopSignal >= 0) ::close(stopSignal);
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
  s.changed.notify_all();
}

// Event thread: runs `call` on the main thread and waits until it has run
// there; its exception is raised again here.
void RunOnMainThread(const std::shared_ptr<Shared>& shared, std::function<void()> call) {
  Shared& s = *shared;
  {
    std::lock_guard lock(s.mutex);
    s.call = std::move(call);
    s.state = Shared::HandOver::Pending;
    s.changed.notify_all();  // a Close waiting for the thread serves it itself
  }
  s.dispatcher->Post([weak = std::weak_ptr<Shared>(shared)] {
    if (auto alive = weak.lock()) Serve(*alive);
  });
  std::exception_ptr error;
  {
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return s.state == Shared::HandOver::Done; });
    error = s.error;
    s.error = nullptr;
    s.state = Shared::HandOver::Idle;
  }
  if (error) std::rethrow_exception(error);
}

void HandOver(const std::shared_ptr<Shared>& shared, TComEvents events) {
  Shared& s = *shared;
  switch (s.syncMethod) {
    case smThreadSync:
      RunOnMainThread(shared, [port = s.port, events] { ComThreadAccess::DeliverEvents(*port, events); });
      break;
    case smWindowSync:
      // The main thread takes the set and releases this thread at once; the
      // actions follow as queued calls, each skipped once the port closed.
      RunOnMainThread(shared, [port = s.port, dispatcher = s.dispatcher, session = s.session, events] {
        for (TComEvent event : kDeliveryOrder) {
          if (!events.Contains(event)) continue;
          dispatcher->Post([port, session, event] {
            if (auto open = session.lock()) ComThreadAccess::RunEventAction(*port, event);
          });
        }
      });
      break;
    case smNone:
      ComThreadAccess::DeliverEvents(*s.port, events);
      break;
  }
}

void Run(std::shared_ptr<Shared> shared) {
  Shared& s = *shared;
  bool lost = false;
  try {
    for (;;) {
      pollfd fds[2] = {{s.stopSignal, POLLIN, 0}, {s.device->EventDescriptor(), POLLIN, 0}};
      const int r = poll(fds, 2, -1);
      if (r < 0) {
        if (errno == EINTR) continue;
        lost = true;  // the wait failed: end as the line were gone
        break;
      }
      if (fds[0].revents != 0) break;  // the stop wins over events
      if (fds[1].revents & (POLLERR | POLLNVAL)) {
        lost = true;
        break;
      }
      bool lineLost = false;
      const TComEvents events = EventsOfMask(s.device->TakeEvents(lineLost));
      // Whatever came before a hang-up is still handed over.
      if (!events.Empty()) HandOver(shared, events);
      if (lineLost) {
        lost = true;
        break;
      }
    }
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
      s.dispatcher->Post([port = s.port, session = s.session] {
        if (auto open = session.lock()) ComThreadAccess::LineLost(*port);
      });
    } else {
      ComThreadAccess::LineLost(*s.port);
    }
  }
}
}  // namespace

TComThread::TComThread(TCustomComPort& port, std::shared_ptr<SerialDevice> device, TComEvents events,
                       TSyncMethod syncMethod, TMainThreadDispatcher* dispatcher)
    : shared_(std::make_shared<Shared>()) {
  shared_->port = &port;
  shared_->device = std::move(device);
  shared_->syncMethod = syncMethod;
  shared_->dispatcher = dispatcher;
  shared_->session = ComThreadAccess::Session(port);
  shared_->stopSignal = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (shared_->stopSignal < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  shared_->device->SetEventMask(EventMaskOf(events));
  thread_ = std::thread(Run, shared_);
}

TComThread::~TComThread() {
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  s.stopRequested = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(s.stopSignal, &one, sizeof one);
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
