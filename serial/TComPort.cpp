#include "serial/TComPort.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "serial/SerialDevice.h"
#include "serial/TComThread.h"

namespace {
// Handlers are copied before they run: one may replace or clear itself (or
// the link holding it) while it runs.
template <typename Handler, typename... Args>
void Fire(const Handler& handler, Args&&... args) {
  if (!handler) return;
  Handler copy = handler;
  copy(std::forward<Args>(args)...);
}

// The settings object's values as the device takes them: -1 is the largest.
TDeviceTimeouts DeviceTimeoutsOf(const TComTimeouts& t) {
  auto ms = [](std::int32_t value) { return static_cast<std::uint32_t>(value); };
  return {ms(t.ReadInterval()), ms(t.ReadTotalMultiplier()), ms(t.ReadTotalConstant()), ms(t.WriteTotalMultiplier()),
          ms(t.WriteTotalConstant())};
}

// What the system said when a device or a thread could not be had.
int SystemCodeOf(const std::system_error& e) { return e.code().value() != 0 ? e.code().value() : EIO; }
}  // namespace

TCustomComPort::TCustomComPort(TMainThreadDispatcher* dispatcher)
    : dispatcher_(dispatcher), opener_(OpenPosixSerialDevice) {}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    // Closing cannot be refused at destruction; the device goes anyway.
  }
  thread_.reset();
  if (device_) device_->Close();
  // Components referring to the port let go of it now (framers unregister
  // their links); the link list itself goes last, with the members.
  std::vector<TComPortObserver*> observers;
  observers.swap(observers_);
  for (TComPortObserver* observer : observers) observer->ComPortRemoved(*this);
}

void TCustomComPort::SetDeviceOpener(TSerialDeviceOpener opener) {
  opener_ = opener ? std::move(opener) : TSerialDeviceOpener(OpenPosixSerialDevice);
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (!connected_) return;
  connected_ = false;
  try {
    Open();
  } catch (...) {
    if (!dispatcher_) throw;
    dispatcher_->Post([error = std::current_exception()] { std::rethrow_exception(error); });
  }
}

std::string TCustomComPort::DevicePath(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  return "/dev/" + portName;
}

SerialDevice& TCustomComPort::OpenDevice(int errorNumber) {
  // What the system answers for an operation on no device at all.
  if (!device_) throw EComPort(errorNumber, EBADF);
  return *device_;
}

template <typename Slot, typename... Args>
void TCustomComPort::CallLinks(Slot TComLink::*slot, Args&&... args) {
  // By index, re-reading the size: a handler may register or unregister.
  for (std::size_t i = 0; i < links_.size(); ++i) Fire(links_[i]->*slot, *this, args...);
}

// ---- open and close ----

void TCustomComPort::Open() {
  if (connected_ || closing_) return;
  if (!events_.Empty() && syncMethod_ != smNone && !dispatcher_)
    throw std::logic_error("TCustomComPort::Open: no main-thread dispatcher for the event thread");
  Fire(OnBeforeOpen, *this);

  int systemCode = 0;
  std::shared_ptr<SerialDevice> device;
  // Whatever keeps the port from opening reaches the caller as the serial
  // error, which is what a set-up handler catches.
  try {
    device = opener_(DevicePath(port_), systemCode);
  } catch (const std::system_error& e) {
    throw EComPort(ComError::OpenFailed, SystemCodeOf(e));
  } catch (const std::bad_alloc&) {
    throw EComPort(ComError::OpenFailed, ENOMEM);
  }
  if (!device) throw EComPort(ComError::OpenFailed, systemCode != 0 ? systemCode : EIO);
  device_ = std::move(device);
  connected_ = true;
  try {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeouts();
    device_->SetDrainInterval(drainInterval_);
  } catch (...) {
    device_->Close();
    device_.reset();
    connected_ = false;
    throw;
  }

  session_ = std::make_shared<int>(0);
  if (!events_.Empty()) {
    // Without its thread the port could never receive: stay closed.
    auto fail = [&](int code) {
      thread_.reset();
      session_.reset();
      device_->Close();
      device_.reset();
      connected_ = false;
      return EComPort(ComError::OpenFailed, code);
    };
    try {
      thread_ = std::make_unique<TComThread>(static_cast<TComThreadTarget&>(*this), session_, device_, events_,
                                             syncMethod_, dispatcher_);
    } catch (const std::system_error& e) {
      throw fail(SystemCodeOf(e));
    } catch (const std::bad_alloc&) {
      throw fail(ENOMEM);
    }
    UpdateHandOverPolicy();
  }

  CallLinks(&TComLink::OnPortState, true);
  Fire(OnAfterOpen, *this);
  SignalAction(csCTS, &TComLink::OnCTSChange, OnCTSChange);
  SignalAction(csDSR, &TComLink::OnDSRChange, OnDSRChange);
  SignalAction(csRLSD, &TComLink::OnRLSDChange, OnRLSDChange);
}

void TCustomComPort::Close() {
  if (!connected_ || closing_) return;
  if (!device_) {
    // Connected was only stored while loading: nothing was ever opened.
    connected_ = false;
    return;
  }
  // Handlers run from here on (the notifications, a hand-over served while
  // the thread stops) find Close and Open doing nothing: this Close decides.
  closing_ = true;
  struct Closing {
    bool& flag;
    ~Closing() { flag = false; }
  } closing{closing_};
  CallLinks(&TComLink::OnCTSChange, false);
  CallLinks(&TComLink::OnDSRChange, false);
  CallLinks(&TComLink::OnRLSDChange, false);
  Fire(OnCTSChange, *this, false);
  Fire(OnDSRChange, *this, false);
  Fire(OnRLSDChange, *this, false);
  Fire(OnBeforeClose, *this);

  RaiseOnFailure(device_->Purge(PURGE_TXABORT | PURGE_RXABORT), ComError::PurgeFailed);
  // Stopping the thread may run the hand-over it is blocked in.
  std::unique_ptr<TComThread> thread = std::move(thread_);
  thread.reset();
  // Whatever the thread still hands over belongs to this opening: dropped.
  session_.reset();
  // A module may reset or keep streaming while its lines stay raised; after a
  // hang-up there is nobody left to tell, which is no failure here.
  device_->Escape(TEscapeFunction::ClearDTR);
  device_->Escape(TEscapeFunction::ClearRTS);
  device_->Close();
  device_.reset();
  connected_ = false;
  closing_ = false;

  CallLinks(&TComLink::OnPortState, false);
  Fire(OnAfterClose, *this);
}

bool TCustomComPort::EventThreadRunning() const { return thread_ && !thread_->Finished(); }

void TCustomComPort::SetConnected(bool value) {
  if (loading_) {
    connected_ = value;
    return;
  }
  if (value == connected_) return;
  if (value) Open();
  else Close();
}

// ---- apply steps ----

TLineSettings TCustomComPort::CurrentLineSettings() const {
  TLineSettings s;
  s.BaudRate = baudRate_;
  s.CustomBaudRate = customBaudRate_;
  s.Parity = parity_;
  s.StopBits = stopBits_;
  s.DataBits = dataBits_;
  s.DiscardNull = discardNull_;
  s.EventChar = eventChar_;
  s.FlowControl = flowControl_;
  s.InputSize = buffer_.InputSize();
  return s;
}

void TCustomComPort::ApplyBufferSizes() {
  UpdateHandOverPolicy();
  if (!CanApply()) return;
  RaiseOnFailure(device_->SetQueueSizes(buffer_.InputSize(), buffer_.OutputSize()), ComError::SetupComFailed);
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  RaiseOnFailure(device_->SetLineSettings(MakeDeviceControlBlock(CurrentLineSettings())), ComError::SetStateFailed);
}

void TCustomComPort::ApplyTimeouts() {
  if (!CanApply()) return;
  RaiseOnFailure(device_->SetTimeouts(DeviceTimeoutsOf(timeouts_)), ComError::TimeoutsFailed);
}

// ---- setters ----

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (value == baudRate_) return;
  baudRate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
  if (value == customBaudRate_) return;
  customBaudRate_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  if (connected_ && !loading_) {
    Close();
    port_ = value;
    Open();
  } else {
    port_ = value;
  }
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (value == stopBits_) return;
  stopBits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (value == dataBits_) return;
  dataBits_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (value == discardNull_) return;
  discardNull_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetEventChar(std::uint8_t value) {
  if (value == eventChar_) return;
  eventChar_ = value;
  ApplyLineSettings();
}

void TCustomComPort::SetHandOverInterval(int milliseconds) {
  handOverInterval_ = std::max(0, milliseconds);
  UpdateHandOverPolicy();
}

void TCustomComPort::SetDrainInterval(int milliseconds) {
  drainInterval_ = std::clamp(milliseconds, 0, kMaxDrainInterval);
  if (device_) device_->SetDrainInterval(drainInterval_);
}

void TCustomComPort::UpdateHandOverPolicy() {
  if (!thread_) return;
  const std::int32_t inputSize = std::max(buffer_.InputSize(), 1);
  thread_->SetHandOverPolicy(handOverInterval_, static_cast<std::size_t>(inputSize) / 4);
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (connected_ && !loading_) throw EComPort(ComError::ConnChangeProp);
  syncMethod_ = value;
}

// ---- line operations ----

void TCustomComPort::SetDTR(bool on) {
  SerialDevice& device = OpenDevice(ComError::EscapeComFailed);
  RaiseOnFailure(device.Escape(on ? TEscapeFunction::SetDTR : TEscapeFunction::ClearDTR), ComError::EscapeComFailed);
}

void TCustomComPort::SetRTS(bool on) {
  SerialDevice& device = OpenDevice(ComError::EscapeComFailed);
  RaiseOnFailure(device.Escape(on ? TEscapeFunction::SetRTS : TEscapeFunction::ClearRTS), ComError::EscapeComFailed);
}

int TCustomComPort::WriteString(const std::string& Str) {
  if (Str.empty()) return 0;
  SerialDevice& device = OpenDevice(ComError::WriteFailed);
  // The links get the bytes as they were handed over, also if a handler
  // changes the caller's string.
  const std::string copy = Str;  // NOLINT(performance-unnecessary-copy-initialization): a handler may change Str
  const int count = static_cast<int>(copy.size());
  int written = 0;
  RaiseOnFailure(device.Write(copy.data(), count, written), ComError::WriteFailed);
  CallLinks(&TComLink::OnTxActivity, true);
  CallLinks(&TComLink::OnTxData, copy.data(), count);
  return written;
}

int TCustomComPort::ReadBytes(char* Buffer, int Count) {
  SerialDevice& device = OpenDevice(ComError::ReadFailed);
  int read = 0;
  RaiseOnFailure(device.Read(Buffer, Count, read), ComError::ReadFailed);
  if (BytesWaiting() == 0) CallLinks(&TComLink::OnRxActivity, false);
  return read;
}

int TCustomComPort::BytesWaiting() {
  SerialDevice& device = OpenDevice(ComError::ClearComFailed);
  int count = 0;
  // Counting must not swallow a framing error that evError is still to
  // report.
  RaiseOnFailure(device.InputCount(count), ComError::ClearComFailed);
  return count;
}

TComErrors TCustomComPort::TakeLineErrors() {
  SerialDevice& device = OpenDevice(ComError::ClearComFailed);
  int count = 0;
  TComErrors errors;
  RaiseOnFailure(device.QueueStatus(count, errors), ComError::ClearComFailed);
  if (!parity_.Check()) errors.Exclude(erParity);
  return errors;
}

TComSignals TCustomComPort::LineSignals() {
  SerialDevice& device = OpenDevice(ComError::ModemStatFailed);
  std::uint32_t status = 0;
  RaiseOnFailure(device.ModemStatus(status), ComError::ModemStatFailed);
  TComSignals signals;
  if (status & MS_CTS_ON) signals.Include(csCTS);
  if (status & MS_DSR_ON) signals.Include(csDSR);
  if (status & MS_RING_ON) signals.Include(csRing);
  if (status & MS_RLSD_ON) signals.Include(csRLSD);
  return signals;
}

// ---- links and observers ----

void TCustomComPort::RegisterLink(TComLink& Link) {
  if (std::find(links_.begin(), links_.end(), &Link) != links_.end()) throw EComPort(ComError::RegFailed);
  links_.push_back(&Link);
  hasBufferLink_ = std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->OnRxBuf); });
}

void TCustomComPort::UnregisterLink(TComLink& Link) {
  auto it = std::find(links_.begin(), links_.end(), &Link);
  if (it == links_.end()) throw EComPort(ComError::RegFailed);
  links_.erase(it);
  hasBufferLink_ = std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->OnRxBuf); });
}

void TCustomComPort::AddObserver(TComPortObserver& observer) {
  if (std::find(observers_.begin(), observers_.end(), &observer) == observers_.end()) observers_.push_back(&observer);
}

void TCustomComPort::RemoveObserver(TComPortObserver& observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), &observer), observers_.end());
}

// ---- event actions ----

void TCustomComPort::DeliverEvents(TComEvents events) {
  for (TComEvent event : kDeliveryOrder)
    if (events.Contains(event)) RunEventAction(event);
}

void TCustomComPort::RunEventAction(TComEvent event) {
  switch (event) {
    case evError: {
      const TComErrors errors = TakeLineErrors();
      if (!errors.Empty()) Fire(OnError, *this, errors);
      break;
    }
    case evRxChar: ReceiveAction(); break;
    case evTxEmpty:
      CallLinks(&TComLink::OnTxActivity, false);
      CallLinks(&TComLink::OnTxEmpty);
      Fire(OnTxEmpty, *this);
      break;
    case evBreak: Fire(OnBreak, *this); break;
    case evRing:
      CallLinks(&TComLink::OnRing);
      Fire(OnRing, *this);
      break;
    case evCTS: SignalAction(csCTS, &TComLink::OnCTSChange, OnCTSChange); break;
    case evDSR: SignalAction(csDSR, &TComLink::OnDSRChange, OnDSRChange); break;
    case evRxFlag:
      CallLinks(&TComLink::OnRxFlag);
      Fire(OnRxFlag, *this);
      break;
    case evRLSD: SignalAction(csRLSD, &TComLink::OnRLSDChange, OnRLSDChange); break;
    case evRx80Full: Fire(OnRx80Full, *this); break;
  }
}

void TCustomComPort::SignalAction(TComSignal signal, TComSignalEvent TComLink::*slot, const TComSignalEvent& own) {
  const bool on = LineSignals().Contains(signal);
  CallLinks(slot, on);
  Fire(own, *this, on);
}

void TCustomComPort::ReceiveAction() {
  if (!hasBufferLink_) {
    const int count = BytesWaiting();
    if (count <= 0) return;
    CallLinks(&TComLink::OnRxActivity, true);
    Fire(OnRxChar, *this, count);  // the bytes stay queued for the handler
    return;
  }
  // Everything waiting, in one call down to the device, into one buffer that
  // every link shares; a local buffer, since a handler's modal loop may let
  // another delivery run meanwhile.
  std::vector<char> buffer;
  std::vector<std::size_t> gaps;
  RaiseOnFailure(OpenDevice(ComError::ReadFailed).TakeInput(buffer, gaps), ComError::ReadFailed);
  if (buffer.empty()) return;
  CallLinks(&TComLink::OnRxActivity, true);
  CallLinks(&TComLink::OnRxActivity, false);  // the queue was emptied
  // Bytes from both sides of an overflow never reach a link as one chunk:
  // they are not contiguous on the line.
  std::size_t from = 0;
  for (std::size_t gap : gaps) {
    if (gap > from) DeliverChunk(buffer.data() + from, static_cast<int>(gap - from));
    from = gap;
    Fire(OnRxOverflow, *this);
    CallLinks(&TComLink::OnRxOverflow);
  }
  if (buffer.size() > from) DeliverChunk(buffer.data() + from, static_cast<int>(buffer.size() - from));
}

void TCustomComPort::DeliverChunk(const char* data, int count) {
  Fire(OnRxBuf, *this, data, count);
  CallLinks(&TComLink::OnRxBuf, data, count);
}

void TCustomComPort::LineLost() { Fire(OnLineLost, *this); }
