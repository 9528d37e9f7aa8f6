#include "fake_device_support.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

FakeSerialDevice::FakeSerialDevice() : eventFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
FakeSerialDevice::~FakeSerialDevice() { ::close(eventFd_); }

int FakeSerialDevice::Check(const std::string& operation) {
  calls_.push_back(operation);
  if (closed_) return EBADF;
  auto it = failures_.find(operation);
  return it == failures_.end() ? 0 : it->second;
}

void FakeSerialDevice::Fail(const std::string& operation, int error) {
  std::lock_guard lock(mutex_);
  failures_[operation] = error;
}

void FakeSerialDevice::Receive(const std::string& bytes, std::uint32_t events) {
  {
    std::lock_guard lock(mutex_);
    input_ += bytes;
  }
  Announce(events);
}

void FakeSerialDevice::Announce(std::uint32_t events, TComErrors errors) {
  std::lock_guard lock(mutex_);
  errors_ = TComErrors::FromBits(errors_.Bits() | errors.Bits());
  pending_ |= events & mask_;
  const std::uint64_t one = 1;
  if (pending_) [[maybe_unused]]
    auto n = ::write(eventFd_, &one, sizeof one);
}

void FakeSerialDevice::SetModemStatus(std::uint32_t status) {
  std::lock_guard lock(mutex_);
  modem_ = status;
}

void FakeSerialDevice::Lose() {
  std::lock_guard lock(mutex_);
  lost_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(eventFd_, &one, sizeof one);
}

void FakeSerialDevice::Gap() {
  std::lock_guard lock(mutex_);
  gaps_.push_back(input_.size());
}

std::uint32_t FakeSerialDevice::PendingEvents() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

std::vector<TDeviceControlBlock> FakeSerialDevice::LineSettings() const {
  std::lock_guard lock(mutex_);
  return dcbs_;
}
std::vector<std::pair<int, int>> FakeSerialDevice::QueueSizes() const {
  std::lock_guard lock(mutex_);
  return queueSizes_;
}
std::string FakeSerialDevice::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}
std::vector<std::string> FakeSerialDevice::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}
std::uint32_t FakeSerialDevice::Mask() const {
  std::lock_guard lock(mutex_);
  return mask_;
}
bool FakeSerialDevice::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}
std::size_t FakeSerialDevice::Waiting() const {
  std::lock_guard lock(mutex_);
  return input_.size();
}

int FakeSerialDevice::SetQueueSizes(std::int32_t inputSize, std::int32_t outputSize) {
  std::lock_guard lock(mutex_);
  if (int e = Check("SetQueueSizes")) return e;
  queueSizes_.emplace_back(inputSize, outputSize);
  return 0;
}

int FakeSerialDevice::SetLineSettings(const TDeviceControlBlock& dcb) {
  std::lock_guard lock(mutex_);
  if (int e = Check("SetLineSettings")) return e;
  dcbs_.push_back(dcb);
  return 0;
}

int FakeSerialDevice::SetTimeouts(const TDeviceTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
  return Check("SetTimeouts");
}

int FakeSerialDevice::Write(const char* data, int count, int& written) {
  std::lock_guard lock(mutex_);
  written = 0;
  if (int e = Check("Write")) return e;
  written_.append(data, static_cast<std::size_t>(count));
  written = count;
  return 0;
}

int FakeSerialDevice::Read(char* buffer, int count, int& read) {
  std::lock_guard lock(mutex_);
  read = 0;
  if (int e = Check("Read")) return e;
  const std::size_t n = std::min(input_.size(), static_cast<std::size_t>(count));
  input_.copy(buffer, n);
  input_.erase(0, n);
  std::vector<std::size_t> left;
  for (std::size_t gap : gaps_)
    if (gap > n) left.push_back(gap - n);
  gaps_ = left;
  read = static_cast<int>(n);
  return 0;
}

int FakeSerialDevice::InputCount(int& inputCount) {
  std::lock_guard lock(mutex_);
  if (int e = Check("InputCount")) return e;
  inputCount = static_cast<int>(input_.size());
  return 0;
}

int FakeSerialDevice::TakeInput(std::vector<char>& data, std::vector<std::size_t>& gaps) {
  std::lock_guard lock(mutex_);
  data.clear();
  gaps.clear();
  if (int e = Check("TakeInput")) return e;
  data.assign(input_.begin(), input_.end());
  gaps = gaps_;
  input_.clear();
  gaps_.clear();
  return 0;
}

int FakeSerialDevice::QueueStatus(int& inputCount, TComErrors& errors) {
  std::lock_guard lock(mutex_);
  if (int e = Check("QueueStatus")) return e;
  inputCount = static_cast<int>(input_.size());
  errors = errors_;
  errors_ = TComErrors();
  return 0;
}

int FakeSerialDevice::ModemStatus(std::uint32_t& status) {
  std::lock_guard lock(mutex_);
  if (int e = Check("ModemStatus")) return e;
  status = modem_;
  return 0;
}

int FakeSerialDevice::Escape(TEscapeFunction function) {
  std::lock_guard lock(mutex_);
  static const char* names[] = {"SetDTR", "ClearDTR", "SetRTS", "ClearRTS"};
  if (int e = Check("Escape")) return e;
  calls_.push_back(names[static_cast<int>(function)]);
  return 0;
}

int FakeSerialDevice::Purge(std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (int e = Check("Purge")) return e;
  if (flags & PURGE_RXCLEAR) {
    input_.clear();
    gaps_.clear();
  }
  return 0;
}

void FakeSerialDevice::SetEventMask(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  calls_.push_back("SetEventMask");
  mask_ = mask;
  pending_ &= mask;
}

std::uint32_t FakeSerialDevice::TakeEvents(bool& lineLost) {
  std::lock_guard lock(mutex_);
  std::uint64_t value;
  [[maybe_unused]] auto n = ::read(eventFd_, &value, sizeof value);
  const std::uint32_t events = pending_;
  pending_ = 0;
  lineLost = lost_;
  return events;
}

void FakeSerialDevice::Close() {
  std::lock_guard lock(mutex_);
  calls_.push_back("Close");
  closed_ = true;
}

FakePortRig::FakePortRig() {
  port.SetDeviceOpener([this](const std::string& path, int& systemCode) -> std::shared_ptr<SerialDevice> {
    openedPaths.push_back(path);
    if (openError != 0) {
      systemCode = openError;
      return nullptr;
    }
    device = std::make_shared<FakeSerialDevice>();
    return device;
  });
}

TDeviceTimeouts FakeSerialDevice::Timeouts() const {
  std::lock_guard lock(mutex_);
  return timeouts_;
}

void FakeSerialDevice::SetDrainInterval(int milliseconds) {
  std::lock_guard lock(mutex_);
  drainInterval_ = milliseconds;
}

int FakeSerialDevice::DrainInterval() const {
  std::lock_guard lock(mutex_);
  return drainInterval_;
}
