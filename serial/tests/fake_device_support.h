#pragma once
// A device layer the test drives by hand: it records what the port asks of
// it, fails on request, and delivers bytes and line events when told to.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/TComPort.h"

class FakeSerialDevice : public SerialDevice {
 public:
  FakeSerialDevice();
  ~FakeSerialDevice() override;

  // Operation names for Fail(): "SetQueueSizes", "SetLineSettings",
  // "SetTimeouts", "Write", "Read", "QueueStatus", "InputCount",
  // "TakeInput", "ModemStatus", "Escape", "Purge".
  void Fail(const std::string& operation, int error);
  // Queues bytes and announces `events` (EV_* flags, filtered by the mask).
  void Receive(const std::string& bytes, std::uint32_t events = EV_RXCHAR);
  void Announce(std::uint32_t events, TComErrors errors = {});
  void SetModemStatus(std::uint32_t status);
  void Lose();
  // Marks that the input queue refused bytes after those queued so far.
  void Gap();
  // Events announced but not yet taken by the event thread.
  std::uint32_t PendingEvents() const;

  std::vector<TDeviceControlBlock> LineSettings() const;
  std::vector<std::pair<int, int>> QueueSizes() const;
  std::string Written() const;
  std::vector<std::string> Calls() const;
  std::uint32_t Mask() const;
  TDeviceTimeouts Timeouts() const;  // the last handed over
  int DrainInterval() const;         // the last handed over, -1 before any
  bool Closed() const;
  std::size_t Waiting() const;

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
  void SetEventMask(std::uint32_t mask) override;
  int EventDescriptor() const override { return eventFd_; }
  std::uint32_t TakeEvents(bool& lineLost) override;
  void Close() override;

 private:
  int Check(const std::string& operation);  // lock held

  mutable std::mutex mutex_;
  int eventFd_;
  std::map<std::string, int> failures_;
  std::vector<std::string> calls_;
  std::vector<TDeviceControlBlock> dcbs_;
  std::vector<std::pair<int, int>> queueSizes_;
  std::string written_;
  std::string input_;
  std::vector<std::size_t> gaps_;  // positions in input_
  TComErrors errors_;
  std::uint32_t modem_ = 0;
  TDeviceTimeouts timeouts_;
  int drainInterval_ = -1;
  std::uint32_t mask_ = 0;
  std::uint32_t pending_ = 0;
  bool lost_ = false;
  bool closed_ = false;
};

// A port whose device is a FakeSerialDevice, opened fresh on every Open.
struct FakePortRig {
  FakePortRig();
  TComPort port;
  std::shared_ptr<FakeSerialDevice> device;  // the last one opened
  std::vector<std::string> openedPaths;
  int openError = 0;  // when not 0, Open fails with it
};
