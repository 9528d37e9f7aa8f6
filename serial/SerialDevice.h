#pragma once
// The device layer below TComPort: one open serial device and the driver's
// part of the work that Linux leaves to user space, i.e. an input queue that
// keeps filling whatever the main thread does, line-error flags and line
// events that a poll()-able descriptor announces.
//
// Every operation returns 0 or an errno value; the port turns a failure into
// its numbered EComPort (RaiseOnFailure). All operations may be called from
// any thread: the device layer is the one place in serial/ that locks.
#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/ComTypes.h"
#include "serial/DeviceControlBlock.h"

// Modem status bits (LineSignals).
inline constexpr std::uint32_t MS_CTS_ON = 0x10;
inline constexpr std::uint32_t MS_DSR_ON = 0x20;
inline constexpr std::uint32_t MS_RING_ON = 0x40;
inline constexpr std::uint32_t MS_RLSD_ON = 0x80;

// Purge flags.
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

enum class TEscapeFunction { SetDTR, ClearDTR, SetRTS, ClearRTS };

inline constexpr int kMaxDrainInterval = 50;  // ms

// The time-outs in milliseconds, as the device applies them. kNoTimeLimit
// (the largest value) means "no limit" for a total and "return at once with
// what is there" for ReadInterval without totals.
inline constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFFu;
struct TDeviceTimeouts {
  std::uint32_t ReadInterval = kNoTimeLimit;
  std::uint32_t ReadTotalMultiplier = 0;
  std::uint32_t ReadTotalConstant = 0;
  std::uint32_t WriteTotalMultiplier = 100;
  std::uint32_t WriteTotalConstant = 1000;
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  virtual int SetQueueSizes(std::int32_t inputSize, std::int32_t outputSize) = 0;
  virtual int SetLineSettings(const TDeviceControlBlock& dcb) = 0;
  virtual int SetTimeouts(const TDeviceTimeouts& timeouts) = 0;

  // Writes all `count` bytes unless the write time-out runs out first;
  // `written` tells how many went out (a time-out is no failure).
  virtual int Write(const char* data, int count, int& written) = 0;
  // Takes up to `count` bytes from the input queue, waiting as the read
  // time-outs say (with the defaults: not at all).
  virtual int Read(char* buffer, int count, int& read) = 0;
  // Input-queue count and the line-error flags (TComErrors bits, erParity
  // whether or not parity is checked); the flags are cleared.
  virtual int QueueStatus(int& inputCount, TComErrors& errors) = 0;
  // Input-queue count alone; the line-error flags stay for QueueStatus.
  virtual int InputCount(int& inputCount) = 0;
  // Takes everything waiting in the input queue in one go, replacing the
  // contents of `data`. `gaps` gets the positions in `data` (ascending, 0 to
  // data.size()) where the queue had to refuse bytes because it was full:
  // the bytes before a gap and those after it are not contiguous on the
  // line. A gap that lies behind the last byte queued is reported with that
  // byte.
  virtual int TakeInput(std::vector<char>& data, std::vector<std::size_t>& gaps) = 0;
  virtual int ModemStatus(std::uint32_t& status) = 0;  // MS_* bits
  virtual int Escape(TEscapeFunction function) = 0;
  virtual int Purge(std::uint32_t flags) = 0;

  // How often the line is drained while bytes stream in (ms; 0, the
  // default, drains at every arrival; held at kMaxDrainInterval). While
  // bytes follow each other within the interval, the thread that reads the
  // line drains it once per interval and sleeps in between without looking
  // at it, so that arrivals between drains wake nobody; a drain that finds
  // nothing sends it back to waiting on the line, and the next arrival is
  // drained at once. A hang-up, a line error or a break is noticed at the
  // next drain, so within one interval. The kernel holds what comes
  // meanwhile (its few kilobytes last 0.39 s at 115200 baud: the cap keeps
  // an eightfold margin).
  virtual void SetDrainInterval(int milliseconds) { (void)milliseconds; }
  // Milliseconds until the next drain while the line is drained on that
  // schedule; -1 while it is drained at every arrival.
  virtual int NextDrainInMs() { return -1; }

  // Line events (EV_* flags) to report from now on; 0 stops and forgets
  // reporting.
  virtual void SetEventMask(std::uint32_t mask) = 0;
  // Readable while events are pending or the line is lost; stays valid for
  // the life of the object, also after Close.
  virtual int EventDescriptor() const = 0;
  // Takes the pending events (resetting the descriptor). `lineLost` tells
  // that the device hung up (adapter pulled out, far end closed): no further
  // bytes or events will come.
  virtual std::uint32_t TakeEvents(bool& lineLost) = 0;

  // The event thread may take over the device's own waiting and reading, so
  // that one thread instead of two is woken for every arrival of bytes.
  // AttachWatcher returns false when the device does not offer that; the
  // event thread then waits on EventDescriptor(). Once attached, the
  // watcher waits only through Watch() and calls DetachWatcher() before it
  // ends; meanwhile the device's own reader rests.
  virtual bool AttachWatcher() { return false; }
  virtual void DetachWatcher() {}
  // One wait of the watcher: until bytes or line events arrive, one of the
  // `count` descriptors of `extra` becomes readable (their revents are set),
  // the device's own polling interval passes or `timeoutMs` (when not
  // negative) runs out. Bytes that came are queued and line events noted for
  // TakeEvents. Returns 0, or an errno value when the wait itself failed.
  virtual int Watch(pollfd* extra, int count, int timeoutMs) {
    (void)extra;
    (void)count;
    (void)timeoutMs;
    return ENOTSUP;
  }
  int Watch(pollfd* extra, int count) { return Watch(extra, count, -1); }

  // Releases the device; later calls fail with EBADF. Idempotent.
  virtual void Close() = 0;
};

// Opens `path` read-write, non-blocking, without becoming its controlling
// terminal and exclusively (TIOCEXCL and a non-blocking exclusive flock, so
// that root is kept out as well). On failure returns nullptr and sets
// `systemCode` (EBUSY when another opener holds the device).
std::shared_ptr<SerialDevice> OpenPosixSerialDevice(const std::string& path, int& systemCode);
