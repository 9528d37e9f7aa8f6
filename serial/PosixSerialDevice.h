#pragma once
// The Linux serial device behind SerialDevice (termios, ioctl, poll).
//
// Linux keeps no user-visible input queue of a chosen size: when nobody
// reads, the line discipline's few kilobytes fill, the kernel throttles and
// a USB adapter's own small FIFO overflows within a second at 115200 baud.
// So a reader thread drains the descriptor all the time into a ByteRing of
// Buffer.InputSize bytes and notes, as the driver would:
//   EV_RXCHAR    bytes were queued          EV_RXFLAG  the event character came
//   EV_RX80FULL  the queue passed 80 %      EV_ERR     a line error or a queue
//                                                      overflow (erRxOverflow)
//   EV_BREAK, EV_CTS, EV_DSR, EV_RLSD, EV_RING  from the TIOCGICOUNT counters
//                (or TIOCMGET changes) where the device has modem lines
//   EV_TXEMPTY   the kernel's output queue (TIOCOUTQ) drained after a write
// and announces the events of the mask through an eventfd. A hang-up
// (POLLHUP/POLLERR, read() giving 0 or EIO) ends the reader without
// spinning and is announced through the same descriptor. With a drain
// interval (SetDrainInterval) a stream of bytes is drained once per interval
// instead of at every arrival.
//
// While the port's event thread is attached as the watcher, that thread does
// the reader's work in its own waits (Watch) and the reader rests: bytes then
// wake one thread, not two. The reader takes over again when the watcher
// detaches (the event thread ends).
//
// A pseudo-terminal has no modem lines: TIOCM* ioctls answer ENOTTY/EINVAL,
// which makes DTR/RTS do nothing and the modem status read all off.
#include <linux/serial.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "serial/InputQueue.h"
#include "serial/SerialDevice.h"

class PosixSerialDevice final : public SerialDevice {
 public:
  // Takes over an open, locked descriptor and starts the reader.
  explicit PosixSerialDevice(int fd);
  ~PosixSerialDevice() override;

  int SetQueueSizes(std::int32_t inputSize, std::int32_t outputSize) override;
  int SetLineSettings(const TDeviceControlBlock& dcb) override;
  int SetTimeouts(const TDeviceTimeouts& timeouts) override;
  int Write(const char* data, int count, int& written) override;
  int Read(char* buffer, int count, int& read) override;
  int QueueStatus(int& inputCount, TComErrors& errors) override;
  int InputCount(int& inputCount) override;
  int TakeInput(std::vector<char>& data, std::vector<std::size_t>& gaps) override;
  int ModemStatus(std::uint32_t& status) override;
  int Escape(TEscapeFunction function) override;
  int Purge(std::uint32_t flags) override;
  void SetDrainInterval(int milliseconds) override;
  int NextDrainInMs() override;
  void SetEventMask(std::uint32_t mask) override;
  int EventDescriptor() const override { return eventFd_; }
  std::uint32_t TakeEvents(bool& lineLost) override;
  bool AttachWatcher() override;
  void DetachWatcher() override;
  using SerialDevice::Watch;
  int Watch(pollfd* extra, int count, int timeoutMs) override;
  void Close() override;

 private:
  static constexpr int kMaxExtra = 4;  // extra descriptors a watcher may pass

  void ReaderLoop();
  // One wait on the line (and `extra`), then reading and housekeeping.
  // False once the line is lost: it is not read again. `pollError` is set
  // when the wait itself failed.
  bool Pump(pollfd* extra, int count, int timeoutMs, char* scratch, int& pollError);
  int PollTimeout();
  // Reads everything the line holds; false once it hung up. `drained` counts
  // the bytes read.
  bool Drain(int fd, short revents, char* scratch, std::size_t& drained);
  // Lock held: the drain schedule after a drain that began at `start`.
  void ScheduleDrains(std::chrono::steady_clock::time_point start, bool found, bool timed);
  void Queue(const char* data, std::size_t count);
  bool QueueLocked(const char* data, std::size_t count);  // true: signal the events
  void Housekeeping();
  // Lock held. Notes `events` as pending; true when the event descriptor
  // must be signalled, which the caller does once it has let go of the lock
  // (signalled under the lock, the event thread would wake only to block on
  // it again).
  bool Raise(std::uint32_t events);
  void MarkLost();
  void WakeReader();
  int ModemLine(int bits, bool on);

  int fd_;
  int eventFd_ = -1;  // line events for the event thread
  int wakeFd_ = -1;   // wakes the reader (stop, write started)
  bool hasModemLines_ = false;
  bool hasCounters_ = false;

  std::mutex mutex_;
  std::condition_variable dataArrived_;
  bool closed_ = false;
  bool lost_ = false;
  std::uint32_t mask_ = 0;
  std::uint32_t pending_ = 0;
  TComErrors errors_;
  InputQueue queue_;
  bool rtsToggle_ = false;
  bool txPending_ = false;
  unsigned abortGeneration_ = 0;
  TDeviceTimeouts timeouts_;
  serial_icounter_struct counters_{};
  // The modem-line modes last handed to the lines (none before the first
  // SetLineSettings): the lines are set only when a mode changes.
  std::optional<TDeviceControlBlock> lineModes_;
  int modemBits_ = 0;

  bool eventSignalled_ = false;  // eventFd_ holds a signal not yet drained

  // The drain schedule (mutex_ guards it). `timed_`: bytes stream in, and
  // the line is left alone until `nextDrain_`.
  int drainInterval_ = 0;
  bool timed_ = false;
  std::chrono::steady_clock::time_point nextDrain_;
  std::chrono::steady_clock::time_point lastFound_;  // the start of the last drain that found bytes

  // The reader and the watcher (parkMutex_ guards these).
  std::mutex parkMutex_;
  std::condition_variable parkChanged_;
  std::atomic<bool> watched_{false};  // a watcher is attached (changed under parkMutex_)
  bool readerParked_ = false;         // the reader rests while watched_
  bool readerEnded_ = false;
  std::vector<char> watchScratch_;
  // A wait or a read on the descriptor is under way (mutex_ guards it):
  // Close waits for it to end before it closes the descriptor.
  bool lineBusy_ = false;
  std::condition_variable lineIdle_;

  std::atomic<bool> stopping_{false};
  std::thread reader_;
};
