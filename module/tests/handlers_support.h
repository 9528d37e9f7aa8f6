#pragma once
// A frame-handler rig: the store, the handlers and a view that writes down
// every value and event they report, as the window would receive them.
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "module/FrameHandlers.h"
#include "store/SampleStore.h"

namespace module_test {

class RecordingView : public TSessionView {
 public:
  explicit RecordingView(SampleStore& store) : store_(store) {}

  void StatusReceived(const TModuleStatus& s) override {
    status = s;
    ++statusFrames;
  }
  void ChestStatusReceived(const std::array<bool, 5>& connected) override { chestConnected = connected; }
  void Identified(std::string_view text) override { identifications.emplace_back(text); }
  void PulseReceived(int value) override { pulse = value; }
  void RespirationReceived(int value) override { respiration = value; }
  void RecordCount(int c, bool lost) override {
    count = c;
    dataLost = lost;
    ++countsTold;
    events.push_back("count " + std::to_string(c));
  }
  // Each record as it was when reported ready: a twelve-channel record must
  // have its chest leads by then.
  void RecordReady(int slot) override {
    readySlots.push_back(slot);
    readyRecords.push_back(store_.At(slot));
    events.push_back("ready " + std::to_string(slot));
  }
  void ReportError(const std::string& text) override {
    errors.push_back(text);
    if (reportThrows) throw std::runtime_error("message box failed");
  }

  // The handlers' stop at the limit, as the session makes it: Idle first,
  // then what the owner does there (the offer to save).
  void StopAtLimit() {
    ++stopCalls;
    events.push_back("stop");
    if (stopSetsIdle) store_.Settings().state = AcquisitionState::Idle;
    if (onStop) onStop();
  }

  bool stopSetsIdle = true;
  bool reportThrows = false;
  std::function<void()> onStop;  // the offer to save

  std::optional<TModuleStatus> status;
  int statusFrames = 0;
  std::optional<std::array<bool, 5>> chestConnected;
  std::vector<std::string> identifications;
  std::optional<int> pulse;
  std::optional<int> respiration;
  std::optional<int> count;  // the last record count told
  bool dataLost = false;
  int countsTold = 0;
  std::vector<int> readySlots;
  std::vector<SampleRecord> readyRecords;
  int stopCalls = 0;
  std::vector<std::string> events;  // counts, ready records and stops in order
  std::vector<std::string> errors;

 private:
  SampleStore& store_;
};

inline constexpr double kFixedClock = 0.5;  // noon

struct HandlerRig {
  HandlerRig();

  // Set-up OK for eight or twelve channels, as the session does it.
  void SetUp8(const std::array<bool, kChannelBoxCount>& selection);
  void SetUp12();
  // Read: count 0, Receiving; what was reported ready before is forgotten.
  void StartRecording();
  // Records reported ready since the recording started.
  int Plotted() const { return static_cast<int>(view.readySlots.size()); }

  SampleStore store;
  RecordingView view;
  TFrameHandlers handlers;
};

// Builds a byte string from byte values (packets hold any byte, 0x00 too).
std::string Bytes(std::initializer_list<int> values);

}  // namespace module_test
