#include "serial/PosixSerialDevice.h"

#include <fcntl.h>
#include <pthread.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <new>
#include <optional>
#include <system_error>
#include <vector>

#include "serial/EventSignal.h"
#include "serial/LineEvents.h"
#include "serial/Termios2.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::size_t kReadChunk = 4096;

// A pseudo-terminal (and any tty without modem control) answers the modem
// ioctls so.
bool NoSuchFeature(int error) { return error == ENOTTY || error == EINVAL; }

int PollMilliseconds(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// The time-outs multiply a byte count by up to 2^32 - 1 ms; beyond about 35
// years the clock itself would overflow, and no caller can tell the
// difference from waiting that long.
constexpr std::uint64_t kLongestWait = std::uint64_t{1} << 40;

std::uint64_t TotalMilliseconds(std::uint32_t multiplier, std::size_t count, std::uint32_t constant) {
  if (multiplier != 0 && count > kLongestWait / multiplier) return kLongestWait;
  return std::min(kLongestWait, std::uint64_t{multiplier} * count + constant);
}

Clock::time_point DeadlineAfter(std::uint64_t milliseconds) {
  return Clock::now() + std::chrono::milliseconds(std::min(milliseconds, kLongestWait));
}

// Raw at once, before anything reads the line: in the terminal's initial
// canonical, echoing mode the first bytes of a module that already streams
// would be echoed back to it and cooked.
void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD | HUPCL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}
}  // namespace

std::shared_ptr<SerialDevice> OpenPosixSerialDevice(const std::string& path, int& systemCode) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    systemCode = errno;
    return nullptr;
  }
  auto fail = [&](int error) {
    ::close(fd);
    systemCode = error;
    return nullptr;
  };
  if (!isatty(fd)) return fail(ENOTTY);
  // TIOCEXCL keeps other openers out, but not root; the lock does.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (ioctl(fd, TIOCEXCL) != 0) return fail(errno);
  try {
    return std::make_shared<PosixSerialDevice>(fd);
  } catch (const std::system_error& e) {
    return fail(e.code().value());
  } catch (const std::bad_alloc&) {
    return fail(ENOMEM);
  }
}

PosixSerialDevice::PosixSerialDevice(int fd) : fd_(fd) {
  eventFd_ = MakeEventSignal();
  try {
    wakeFd_ = MakeEventSignal();
  } catch (...) {
    ::close(eventFd_);
    throw;
  }
  hasModemLines_ = ioctl(fd_, TIOCMGET, &modemBits_) == 0;
  hasCounters_ = ioctl(fd_, TIOCGICOUNT, &counters_) == 0;
  MakeRaw(fd_);
  try {
    reader_ = std::thread([this] { ReaderLoop(); });
  } catch (...) {
    ::close(eventFd_);
    ::close(wakeFd_);
    throw;
  }
}

PosixSerialDevice::~PosixSerialDevice() {
  Close();
  ::close(eventFd_);
  ::close(wakeFd_);
}

void PosixSerialDevice::Close() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    dataArrived_.notify_all();
  }
  stopping_ = true;
  { std::lock_guard park(parkMutex_); }
  parkChanged_.notify_all();
  WakeReader();  // and a watcher: both wait on the wake descriptor too
  if (reader_.joinable()) reader_.join();
  std::unique_lock lock(mutex_);
  // A watcher (an event thread left to end on its own after its port was
  // closed from inside a delivery) may be in a wait on the descriptor: it
  // leaves it at the wake-up above and does not look at the line again.
  // Closing under it could hand its number to another file meanwhile.
  lineIdle_.wait(lock, [&] { return !lineBusy_; });
  // The exclusive mode outlives the descriptor on a pseudo-terminal: lift it
  // so that the port can be opened again.
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void PosixSerialDevice::WakeReader() { RaiseEventSignal(wakeFd_); }

// ---- settings ----

int PosixSerialDevice::SetQueueSizes(std::int32_t inputSize, std::int32_t outputSize) {
  bool announce = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    // The output queue is the kernel's; its size cannot be chosen and is only
    // checked for sense. The input queue is ours.
    constexpr std::int32_t kLargest = 64 * 1024 * 1024;
    if (inputSize < 1 || inputSize > kLargest || outputSize < 0) return EINVAL;
    const InputQueue::Outcome outcome = queue_.Resize(static_cast<std::size_t>(inputSize));
    errors_ = TComErrors::FromBits(errors_.Bits() | outcome.errors.Bits());
    announce = Raise(outcome.events);
  }
  if (announce) RaiseEventSignal(eventFd_);
  return 0;
}

int PosixSerialDevice::SetLineSettings(const TDeviceControlBlock& dcb) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
  }
  TTermiosSettings termios;
  if (!TermiosFromDeviceControlBlock(dcb, termios)) return EINVAL;
  if (int error = ApplyTermios2(fd_, termios)) return error;
  {
    std::lock_guard lock(mutex_);
    queue_.Configure({dcb.fErrorChar, dcb.fNull, dcb.ErrorChar}, dcb.EvtChar);
    rtsToggle_ = dcb.fRtsControl == RTS_CONTROL_TOGGLE;
  }
  // A changed control mode decides its line at once, as the driver does when
  // it takes a new control block. In the handshake modes the kernel
  // (CRTSCTS) or nobody drives the line; it is raised so that the far end
  // may send.
  const TModemLineChanges changes = ModemLineChanges(lineModes_ ? &*lineModes_ : nullptr, dcb);
  if (changes.DTR != TLineChange::Keep)
    if (int error = ModemLine(TIOCM_DTR, changes.DTR == TLineChange::Raise)) return error;
  if (changes.RTS != TLineChange::Keep)
    if (int error = ModemLine(TIOCM_RTS, changes.RTS == TLineChange::Raise)) return error;
  lineModes_ = dcb;
  return 0;
}

int PosixSerialDevice::SetTimeouts(const TDeviceTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  timeouts_ = timeouts;
  return 0;
}

// ---- data ----

int PosixSerialDevice::Write(const char* data, int count, int& written) {
  written = 0;
  bool toggle;
  TDeviceTimeouts timeouts;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    toggle = rtsToggle_;
    timeouts = timeouts_;
  }
  if (count <= 0) return 0;
  const std::uint32_t multiplier = timeouts.WriteTotalMultiplier;
  const std::uint32_t constant = timeouts.WriteTotalConstant;
  const bool limited = multiplier != 0 || constant != 0;
  const auto deadline = DeadlineAfter(TotalMilliseconds(multiplier, static_cast<std::size_t>(count), constant));
  if (toggle) ModemLine(TIOCM_RTS, true);

  int result = 0;
  std::size_t done = 0;
  const auto total = static_cast<std::size_t>(count);
  while (done < total) {
    ssize_t n = ::write(fd_, data + done, total - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (limited && Clock::now() >= deadline) break;  // time-out: not an error
      pollfd p{fd_, POLLOUT, 0};
      int r = poll(&p, 1, limited ? PollMilliseconds(deadline) : -1);
      if (r < 0 && errno != EINTR) {
        result = errno;
        break;
      }
      if (r > 0 && !(p.revents & POLLOUT) && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
        result = EIO;
        break;
      }
      continue;
    }
    result = n < 0 ? errno : EIO;
    break;
  }
  written = static_cast<int>(done);
  if (done > 0) {
    std::lock_guard lock(mutex_);
    txPending_ = true;
  }
  WakeReader();
  return result;
}

int PosixSerialDevice::Read(char* buffer, int count, int& read) {
  read = 0;
  std::unique_lock lock(mutex_);
  if (closed_) return EBADF;
  if (count <= 0) return 0;
  const std::uint32_t interval = timeouts_.ReadInterval;
  const std::uint32_t multiplier = timeouts_.ReadTotalMultiplier;
  const std::uint32_t constant = timeouts_.ReadTotalConstant;
  const auto want = static_cast<std::size_t>(count);
  std::size_t got = queue_.Pop(buffer, want);

  // Largest interval and no totals: return at once with what is there.
  if (interval == kNoTimeLimit && multiplier == 0 && constant == 0) {
    read = static_cast<int>(got);
    return 0;
  }
  // Largest interval and multiplier with a constant: wait for the first byte
  // at most that long, then return with what is there.
  const bool anyByte = interval == kNoTimeLimit && multiplier == kNoTimeLimit && constant != 0 && constant != kNoTimeLimit;
  const auto start = Clock::now();
  std::optional<Clock::time_point> totalDeadline;
  if (anyByte) totalDeadline = DeadlineAfter(constant);
  else if (multiplier != 0 || constant != 0)
    totalDeadline = DeadlineAfter(TotalMilliseconds(multiplier, want, constant));
  const bool useInterval = !anyByte && interval != 0 && interval != kNoTimeLimit;
  auto lastByte = start;
  const unsigned generation = abortGeneration_;

  while (got < want && !(anyByte && got > 0)) {
    if (closed_ || lost_ || abortGeneration_ != generation) break;
    std::optional<Clock::time_point> deadline = totalDeadline;
    if (useInterval && got > 0) {
      auto next = lastByte + std::chrono::milliseconds(interval);
      deadline = deadline ? std::min(*deadline, next) : next;
    }
    bool timedOut = false;
    if (deadline) timedOut = dataArrived_.wait_until(lock, *deadline) == std::cv_status::timeout;
    else dataArrived_.wait(lock);
    const std::size_t before = got;
    const std::size_t more = queue_.Pop(buffer + got, want - got);
    got += more;
    if (got > before) lastByte = Clock::now();
    if (timedOut) break;
  }
  read = static_cast<int>(got);
  return 0;
}

int PosixSerialDevice::QueueStatus(int& inputCount, TComErrors& errors) {
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  inputCount = static_cast<int>(queue_.Size());
  errors = errors_;
  errors_ = TComErrors();
  return 0;
}

int PosixSerialDevice::InputCount(int& inputCount) {
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  inputCount = static_cast<int>(queue_.Size());
  return 0;
}

int PosixSerialDevice::TakeInput(std::vector<char>& data, std::vector<std::size_t>& gaps) {
  std::lock_guard lock(mutex_);
  if (closed_) {
    gaps.clear();
    data.clear();
    return EBADF;
  }
  queue_.TakeAll(data, gaps);
  return 0;
}

int PosixSerialDevice::Purge(std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  // Nothing is ever pending asynchronously here; aborting only releases a
  // read that waits for bytes.
  if (flags & (PURGE_RXABORT | PURGE_TXABORT)) {
    ++abortGeneration_;
    dataArrived_.notify_all();
  }
  if (flags & PURGE_RXCLEAR) {
    queue_.Clear();
    if (tcflush(fd_, TCIFLUSH) != 0 && !lost_) return errno;
  }
  if (flags & PURGE_TXCLEAR) {
    if (tcflush(fd_, TCOFLUSH) != 0 && !lost_) return errno;
  }
  return 0;
}

// ---- modem lines ----

int PosixSerialDevice::ModemLine(int bits, bool on) {
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
  return NoSuchFeature(errno) ? 0 : errno;
}

int PosixSerialDevice::Escape(TEscapeFunction function) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
  }
  switch (function) {
    case TEscapeFunction::SetDTR: return ModemLine(TIOCM_DTR, true);
    case TEscapeFunction::ClearDTR: return ModemLine(TIOCM_DTR, false);
    case TEscapeFunction::SetRTS: return ModemLine(TIOCM_RTS, true);
    case TEscapeFunction::ClearRTS: return ModemLine(TIOCM_RTS, false);
  }
  return EINVAL;
}

int PosixSerialDevice::ModemStatus(std::uint32_t& status) {
  status = 0;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
  }
  int bits = 0;
  if (ioctl(fd_, TIOCMGET, &bits) != 0) return NoSuchFeature(errno) ? 0 : errno;
  if (bits & TIOCM_CTS) status |= MS_CTS_ON;
  if (bits & TIOCM_DSR) status |= MS_DSR_ON;
  if (bits & TIOCM_RI) status |= MS_RING_ON;
  if (bits & TIOCM_CD) status |= MS_RLSD_ON;
  return 0;
}

// ---- events ----

void PosixSerialDevice::SetEventMask(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  mask_ = mask;
  pending_ &= mask;
}

std::uint32_t PosixSerialDevice::TakeEvents(bool& lineLost) {
  std::lock_guard lock(mutex_);
  // A signal may be on its way from a Raise whose caller has not written it
  // yet; drained here or not, the events it stands for are taken now. While
  // watched nothing but a hang-up signals, so the read is saved then.
  if (eventSignalled_ || !watched_) DrainEventSignal(eventFd_);
  eventSignalled_ = false;
  std::uint32_t events = pending_;
  pending_ = 0;
  lineLost = lost_;
  return events;
}

bool PosixSerialDevice::Raise(std::uint32_t events) {
  const std::uint32_t wanted = events & mask_;
  if (wanted == 0) return false;
  pending_ |= wanted;
  // A signal not yet taken still stands for these too; and a watcher takes
  // the events after each of its waits without being told.
  if (eventSignalled_ || watched_) return false;
  eventSignalled_ = true;
  return true;
}

void PosixSerialDevice::MarkLost() {
  std::lock_guard lock(mutex_);
  lost_ = true;
  dataArrived_.notify_all();
  eventSignalled_ = true;
  RaiseEventSignal(eventFd_);
}

// ---- the reader ----

int PosixSerialDevice::PollTimeout() {
  std::lock_guard lock(mutex_);
  if (txPending_) return 2;                       // watch the output queue drain
  if (hasCounters_ || hasModemLines_) return 50;  // modem lines and line errors are polled
  return -1;
}

void PosixSerialDevice::ReaderLoop() {
  pthread_setname_np(pthread_self(), "ecg-port-reader");  // for top, perf and the benchmarks
  std::vector<char> scratch(kReadChunk);
  while (!stopping_) {
    {
      std::unique_lock park(parkMutex_);
      if (watched_ && !stopping_) {
        readerParked_ = true;
        parkChanged_.notify_all();
        parkChanged_.wait(park, [&] { return !watched_ || stopping_.load(); });
        readerParked_ = false;
        continue;
      }
    }
    int pollError = 0;
    if (!Pump(nullptr, 0, -1, scratch.data(), pollError)) break;
  }
  std::lock_guard park(parkMutex_);
  readerEnded_ = true;
  parkChanged_.notify_all();
}

bool PosixSerialDevice::Pump(pollfd* extra, int count, int timeoutMs, char* scratch, int& pollError) {
  int fd;
  bool lost;
  std::optional<Clock::time_point> sleepUntil;  // the next timed drain: the line is left alone until then
  {
    std::lock_guard lock(mutex_);
    fd = closed_ ? -1 : fd_;
    lost = lost_;
    // After a hang-up (or once closed) the line is not looked at again: a
    // hung-up descriptor would only report the hang-up over and over.
    if (fd >= 0 && !lost) {
      lineBusy_ = true;
      if (timed_) sleepUntil = nextDrain_;
    }
  }
  const bool line = fd >= 0 && !lost;
  struct LineDone {
    PosixSerialDevice& device;
    bool busy;
    ~LineDone() {
      if (!busy) return;
      {
        std::lock_guard lock(device.mutex_);
        device.lineBusy_ = false;
      }
      device.lineIdle_.notify_all();
    }
  } done{*this, line};

  pollfd fds[2 + kMaxExtra];
  int n = 0;
  fds[n++] = {wakeFd_, POLLIN, 0};
  const bool watchLine = line && !sleepUntil;
  if (watchLine) fds[n++] = {fd, POLLIN, 0};
  const int first = n;
  count = std::clamp(count, 0, kMaxExtra);
  for (int i = 0; i < count; ++i) fds[n++] = {extra[i].fd, extra[i].events, 0};
  int timeout = sleepUntil ? PollMilliseconds(*sleepUntil) : watchLine ? PollTimeout() : -1;
  if (timeoutMs >= 0 && (timeout < 0 || timeoutMs < timeout)) timeout = timeoutMs;
  const int r = poll(fds, static_cast<nfds_t>(n), timeout);
  if (stopping_ && count == 0) return true;  // the reader: Close is waiting for it
  if (r < 0) {
    if (errno == EINTR) return true;
    pollError = errno;
    MarkLost();
    return false;
  }
  for (int i = 0; i < count; ++i) extra[i].revents = fds[first + i].revents;
  if (fds[0].revents & POLLIN) DrainEventSignal(wakeFd_);
  if (!line) return !lost;
  if (stopping_) return true;  // closing: the line is not read any more
  const Clock::time_point start = Clock::now();
  short revents = 0;
  if (sleepUntil) {
    // Woken before the drain is due (the caller's own descriptors or time
    // limit, a write): the line stays alone.
    if (start < *sleepUntil) return true;
    // Read without asking first: a hung-up tty reads as 0 or EIO. One that
    // only polls as hung up finds nothing here, and the wait on the line
    // that follows an empty drain reports it.
    revents = POLLIN;
  } else {
    revents = fds[1].revents;
  }
  std::size_t drained = 0;
  if ((revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) && !Drain(fd, revents, scratch, drained)) return false;
  {
    std::lock_guard lock(mutex_);
    ScheduleDrains(start, drained > 0, sleepUntil.has_value());
  }
  Housekeeping();
  return true;
}

bool PosixSerialDevice::Drain(int fd, short revents, char* scratch, std::size_t& drained) {
  ssize_t got;
  do {
    got = ::read(fd, scratch, kReadChunk);
    if (got > 0) {
      Queue(scratch, static_cast<std::size_t>(got));
      drained += static_cast<std::size_t>(got);
    }
  } while (got == static_cast<ssize_t>(kReadChunk) && !stopping_);
  const bool nothingNow = got < 0 && (errno == EAGAIN || errno == EINTR);
  // read() of 0 or EIO is a hang-up; so is a hang-up poll that finds
  // nothing to read (waiting again would only spin).
  if (got == 0 || (got < 0 && !nothingNow) || (nothingNow && (revents & (POLLHUP | POLLERR | POLLNVAL)))) {
    MarkLost();
    return false;
  }
  return true;
}

void PosixSerialDevice::ScheduleDrains(Clock::time_point start, bool found, bool timed) {
  if (drainInterval_ <= 0) return;
  const auto interval = std::chrono::milliseconds(drainInterval_);
  if (found) {
    // Bytes that follow the last ones within the interval are a stream: the
    // next drain waits for the interval, and arrivals meanwhile wake nobody.
    // A lone arrival is not waited for (that sleep would cost a wake-up of
    // its own and bring nothing).
    if (start - lastFound_ < interval) timed_ = true;
    lastFound_ = start;
    nextDrain_ = start + interval;
  } else if (timed) {
    timed_ = false;  // the stream paused: back to waiting on the line
  }
}

void PosixSerialDevice::SetDrainInterval(int milliseconds) {
  {
    std::lock_guard lock(mutex_);
    const int interval = std::clamp(milliseconds, 0, kMaxDrainInterval);
    if (interval == drainInterval_) return;
    drainInterval_ = interval;
    // A sleep of the old length is cut short: the schedule starts afresh
    // with the next arrival.
    timed_ = false;
  }
  WakeReader();
}

int PosixSerialDevice::NextDrainInMs() {
  std::lock_guard lock(mutex_);
  return timed_ && !lost_ && !closed_ ? PollMilliseconds(nextDrain_) : -1;
}

// ---- the watcher ----

bool PosixSerialDevice::AttachWatcher() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
  }
  std::unique_lock park(parkMutex_);
  if (watched_) return false;  // one watcher at a time
  watched_ = true;
  if (watchScratch_.empty()) watchScratch_.resize(kReadChunk);
  park.unlock();
  WakeReader();  // out of its wait, to rest
  park.lock();
  parkChanged_.wait(park, [&] { return readerParked_ || readerEnded_; });
  return true;
}

void PosixSerialDevice::DetachWatcher() {
  {
    std::lock_guard park(parkMutex_);
    if (!watched_) return;
    watched_ = false;
  }
  parkChanged_.notify_all();
}

int PosixSerialDevice::Watch(pollfd* extra, int count, int timeoutMs) {
  int pollError = 0;
  Pump(extra, count, timeoutMs, watchScratch_.data(), pollError);
  return pollError;
}

void PosixSerialDevice::Queue(const char* data, std::size_t count) {
  if (QueueLocked(data, count)) RaiseEventSignal(eventFd_);
}

bool PosixSerialDevice::QueueLocked(const char* data, std::size_t count) {
  std::lock_guard lock(mutex_);
  const InputQueue::Outcome outcome = queue_.Arrive(data, count);
  errors_ = TComErrors::FromBits(errors_.Bits() | outcome.errors.Bits());
  if (outcome.events & EV_RXCHAR) dataArrived_.notify_all();
  return Raise(outcome.events);
}

void PosixSerialDevice::Housekeeping() {
  LineEvents changes;
  if (hasCounters_) {
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) == 0) {
      changes = LineEventsBetween(counters_, now);
      counters_ = now;
    }
  } else if (hasModemLines_) {
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) == 0) {
      changes = ModemLineEventsBetween(modemBits_, bits);
      modemBits_ = bits;
    }
  }
  std::uint32_t events = changes.events;

  bool lowerRts = false;
  bool announce = false;
  {
    std::lock_guard lock(mutex_);
    if (txPending_) {
      int queued = 0;
      if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) {
        txPending_ = false;
        events |= EV_TXEMPTY;
        lowerRts = rtsToggle_;
      }
    }
    errors_ = TComErrors::FromBits(errors_.Bits() | changes.errors.Bits());
    announce = Raise(events);
  }
  if (announce) RaiseEventSignal(eventFd_);
  if (lowerRts) ModemLine(TIOCM_RTS, false);
}
