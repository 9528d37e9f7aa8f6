#pragma once
// The serial port component: its settings, the device it owns, the links of
// the components that listen to it (framers) and the event thread.
//
// Threads: every operation, setter and getter is for the main thread. With
// smThreadSync (the default) every event handler and link slot is called on
// the main thread too, from calls queued through the TMainThreadDispatcher;
// with smNone the receive-side handlers run on the event thread.
//
// Close may be called from any handler, also while it runs inside Close
// (a delivery served while Close waits for the event thread): it then does
// nothing, as does an Open there, and the outermost Close decides. Calls
// queued for the main thread by an earlier opening (or by a port since
// destroyed) do nothing when they run.
//
// Failures raise EComPort (EComPort.h) with the numbered message:
//   Open            1 (device cannot be opened, or no event thread could be
//                   started: system code of the failure), 9/7/8 (applying
//                   settings, device closed again), 11 (reading the line
//                   signals for the after-open notifications; the port stays
//                   open). Only a port without the dispatcher it needs
//                   raises something else (std::logic_error).
//   Close           5 (the port stays open)
//   WriteString     2          ReadBytes  3
//   BytesWaiting, TakeLineErrors 10         LineSignals 11
//   SetDTR, SetRTS  12         SetSyncMethod on an open port 14
//   RegisterLink, UnregisterLink 18
//   a setter whose re-apply fails: 7, 8 or 9 (the new value stays stored)
// On a closed port WriteString, SetDTR, SetRTS, ReadBytes, BytesWaiting,
// LineSignals and TakeLineErrors fail with the system code EBADF (9).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/ComSettings.h"
#include "serial/ComTypes.h"
#include "serial/DeviceControlBlock.h"
#include "serial/EComPort.h"
#include "serial/MainThreadDispatcher.h"
#include "serial/TComThread.h"

class SerialDevice;

// The record by which another component attaches to a port. Its owner
// creates and destroys it; the port only keeps a pointer while registered.
// A slot is called only when set; Sender is always the port.
struct TComLink {
  TComSignalEvent OnPortState;  // true after Open, false after Close
  TRxBufEvent OnRxBuf;          // each received chunk
  TRxBufEvent OnTxData;         // a copy of the bytes of each WriteString
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnRxFlag;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRing;
  TComSignalEvent OnTxActivity;  // true when a write starts, false at evTxEmpty
  TComSignalEvent OnRxActivity;  // true when bytes wait, false when a read emptied the queue
  // The input queue was full and refused bytes: called between the chunk of
  // bytes before the gap and the chunk after it (after the port's own
  // OnRxOverflow), so that a link can forget what it held of the stream.
  TNotifyEvent OnRxOverflow;
};

// Told when a port is destroyed, so that components referring to it let go.
class TComPortObserver {
 public:
  virtual void ComPortRemoved(TCustomComPort& port) = 0;

 protected:
  ~TComPortObserver() = default;
};

// Opens the device at `path`; nullptr plus `systemCode` on failure. The
// default opens the Linux device (OpenPosixSerialDevice).
using TSerialDeviceOpener = std::function<std::shared_ptr<SerialDevice>(const std::string& path, int& systemCode)>;

// The settings objects and the event thread reach the port through the two
// narrow interfaces it implements privately.
class TCustomComPort : private TComSettingsOwner, private TComThreadTarget {
 public:
  explicit TCustomComPort(TMainThreadDispatcher* dispatcher = nullptr);
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // The main-thread hand-over. Needed by Open for smThreadSync and
  // smWindowSync (std::logic_error without one); with smNone it only carries
  // OnLineLost to the main thread (without one, OnLineLost runs on the event
  // thread). Set it while the port is closed.
  void SetDispatcher(TMainThreadDispatcher* dispatcher) { dispatcher_ = dispatcher; }
  TMainThreadDispatcher* Dispatcher() const { return dispatcher_; }
  void SetDeviceOpener(TSerialDeviceOpener opener);

  // Loading from a stored description: between BeginLoading and Loaded the
  // setters only store (Connected included); Loaded then opens the port if
  // Connected was stored as true, an error from it going to the dispatcher
  // (the application's error handler) instead of the caller.
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool Loading() const { return loading_; }

  void Open();
  void Close();
  void SetDTR(bool on);
  void SetRTS(bool on);
  // Writes every byte of Str (0x00 included); returns the count written,
  // which is smaller than Str's length only when the write time-out ran out.
  int WriteString(const std::string& Str);
  int ReadBytes(char* Buffer, int Count);
  int BytesWaiting();  // leaves the line-error flags for TakeLineErrors
  TComSignals LineSignals();
  TComErrors TakeLineErrors();

  void RegisterLink(TComLink& Link);
  void UnregisterLink(TComLink& Link);
  bool HasBufferLink() const { return hasBufferLink_; }

  bool Connected() const { return connected_; }
  void SetConnected(bool value);

  void AddObserver(TComPortObserver& observer);
  void RemoveObserver(TComPortObserver& observer);

  // What the line settings amount to right now (also on a closed port).
  TLineSettings CurrentLineSettings() const;
  // The device a port name stands for: an absolute path as it is, any other
  // name under /dev.
  static std::string DevicePath(const std::string& portName);

  // Whether the event thread is running: false on a closed port, with
  // Events empty, and once reception ended (a handler raised, the line was
  // lost) until the next Close and Open.
  bool EventThreadRunning() const;

  // Raised on the main thread, once per Open, when the device hung up or the
  // event thread's wait failed (a USB adapter pulled out, the far end of a
  // pseudo-terminal closed): reception has ended for good. The port stays
  // open (Connected() is still true); the owner is expected to tell the user
  // and Close it. Not raised when the port is closed first, nor when
  // reception ended through a handler's exception, nor with Events empty
  // (no event thread).
  TNotifyEvent OnLineLost;
  // Raised on the main thread, inside a delivery, at each place where the
  // input queue was full and bytes were lost: the links have had every byte
  // before the gap, and get the bytes after it once this and every link's
  // OnRxOverflow have run. erRxOverflow still reaches OnError as well.
  TNotifyEvent OnRxOverflow;

 protected:
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& value) { parity_ = value; }
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  std::uint8_t EventChar() const { return eventChar_; }
  void SetEventChar(std::uint8_t value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& value) { buffer_ = value; }
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TComFlowControl& value) { flowControl_ = value; }
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& value) { timeouts_ = value; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);
  // Coalesced hand-over: after handing a set of events over, the event
  // thread waits at least this long (ms, 0 = no wait, the default) before it
  // hands over the next, collecting the events meanwhile, unless the input
  // queue holds more than a quarter of Buffer.InputSize, the event character
  // arrives (evRxFlag), a line error or break is reported or the line hangs
  // up. The device is read throughout, so nothing waits in the kernel.
  // Takes effect at once, also on an open port.
  int HandOverInterval() const { return handOverInterval_; }
  void SetHandOverInterval(int milliseconds);
  // How often the device drains the line while bytes stream in (ms, 0 = at
  // every arrival, the default; held at kMaxDrainInterval, 50 ms): see
  // SerialDevice::SetDrainInterval. Equal to the hand-over interval, each
  // drain is handed over as it is made, and one wake-up of the event thread
  // serves both. Takes effect at once, also on an open port.
  int DrainInterval() const { return drainInterval_; }
  void SetDrainInterval(int milliseconds);

  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TRxCharEvent OnRxChar;  // bytes wait and no link takes them; they stay queued
  TRxBufEvent OnRxBuf;    // each chunk, before the links get it
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;

 private:
  // TComSettingsOwner: a settings object changed; hands its group to an
  // open device.
  void ApplyBufferSizes() override;
  void ApplyLineSettings() override;
  void ApplyTimeouts() override;

  bool CanApply() const { return connected_ && !loading_ && device_; }
  SerialDevice& OpenDevice(int errorNumber);  // EBADF error when closed

  // TComThreadTarget: the actions of the event thread's hand-over (main
  // thread with smThreadSync/smWindowSync).
  void DeliverEvents(TComEvents events) override;
  void RunEventAction(TComEvent event) override;
  void LineLost() override;
  void ReceiveAction();
  void SignalAction(TComSignal signal, TComSignalEvent TComLink::*slot, const TComSignalEvent& own);
  void DeliverChunk(const char* data, int count);
  void UpdateHandOverPolicy();

  template <typename Slot, typename... Args>
  void CallLinks(Slot TComLink::*slot, Args&&... args);

  TMainThreadDispatcher* dispatcher_ = nullptr;
  TSerialDeviceOpener opener_;
  std::shared_ptr<SerialDevice> device_;
  std::unique_ptr<TComThread> thread_;
  // Alive from Open to Close: calls queued for the main thread check it, so
  // that none of them touches a port that has been closed or destroyed.
  std::shared_ptr<int> session_;
  std::vector<TComLink*> links_;
  std::vector<TComPortObserver*> observers_;
  bool hasBufferLink_ = false;
  bool connected_ = false;
  bool closing_ = false;  // Close is under way: Open and Close do nothing
  bool loading_ = false;
  int handOverInterval_ = 0;
  int drainInterval_ = 0;

  TBaudRate baudRate_ = br9600;
  std::int32_t customBaudRate_ = 9600;
  std::string port_ = "COM1";
  TComParity parity_{*this};
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  std::uint8_t eventChar_ = 0;
  TComEvents events_ = TComEvents::All();
  TComBuffer buffer_{*this};
  TComFlowControl flowControl_{*this};
  TComTimeouts timeouts_{*this};
  TSyncMethod syncMethod_ = smThreadSync;
};

// The published face of the port: every property and event of the base.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;

  using TCustomComPort::BaudRate;
  using TCustomComPort::SetBaudRate;
  using TCustomComPort::CustomBaudRate;
  using TCustomComPort::SetCustomBaudRate;
  using TCustomComPort::Port;
  using TCustomComPort::SetPort;
  using TCustomComPort::Parity;
  using TCustomComPort::SetParity;
  using TCustomComPort::StopBits;
  using TCustomComPort::SetStopBits;
  using TCustomComPort::DataBits;
  using TCustomComPort::SetDataBits;
  using TCustomComPort::DiscardNull;
  using TCustomComPort::SetDiscardNull;
  using TCustomComPort::EventChar;
  using TCustomComPort::SetEventChar;
  using TCustomComPort::Events;
  using TCustomComPort::SetEvents;
  using TCustomComPort::Buffer;
  using TCustomComPort::SetBuffer;
  using TCustomComPort::FlowControl;
  using TCustomComPort::SetFlowControl;
  using TCustomComPort::Timeouts;
  using TCustomComPort::SetTimeouts;
  using TCustomComPort::SyncMethod;
  using TCustomComPort::SetSyncMethod;
  using TCustomComPort::HandOverInterval;
  using TCustomComPort::SetHandOverInterval;
  using TCustomComPort::DrainInterval;
  using TCustomComPort::SetDrainInterval;

  using TCustomComPort::OnAfterOpen;
  using TCustomComPort::OnAfterClose;
  using TCustomComPort::OnBeforeOpen;
  using TCustomComPort::OnBeforeClose;
  using TCustomComPort::OnRxChar;
  using TCustomComPort::OnRxBuf;
  using TCustomComPort::OnTxEmpty;
  using TCustomComPort::OnBreak;
  using TCustomComPort::OnRing;
  using TCustomComPort::OnCTSChange;
  using TCustomComPort::OnDSRChange;
  using TCustomComPort::OnRLSDChange;
  using TCustomComPort::OnRxFlag;
  using TCustomComPort::OnError;
  using TCustomComPort::OnRx80Full;
};
