#pragma once
// The tool's own heart rate as the records arrive: the beat detector runs on
// the beat lead of the set-up (II where it is recorded, else the first ECG
// lead), one sample per record, so a recording of any length is measured
// without keeping it. The window shows the recent figure beside the
// module's Pulse; ecg-record reports the figure over the whole recording.
//
// Main thread (or any one thread).
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/RecordingAnalysis.h"
#include "store/SampleStore.h"

class QrsDetector;

class LiveHeartRate {
 public:
  LiveHeartRate(double sampleRate, bool twelveChannel, const std::array<bool, 8>& channels);
  ~LiveHeartRate();
  LiveHeartRate(const LiveHeartRate&) = delete;
  LiveHeartRate& operator=(const LiveHeartRate&) = delete;

  // Empty when the set-up records no ECG lead (nothing is measured then).
  const std::string& Lead() const { return lead_; }
  void Add(const SampleRecord& record);
  // The median of the last eight beat-to-beat rates; nothing before two
  // beats, or when the last beat is more than two of those intervals old
  // (the signal is gone).
  std::optional<double> RecentBpm() const;
  // Over everything added: decides the last pending beat; nothing may be
  // added afterwards.
  ToolHeartRate Finish();
  // Beat positions, 0 for the first record added.
  const std::vector<std::int64_t>& Beats() const { return beats_; }

 private:
  double rate_;
  std::string lead_;
  int channel_ = -1;  // index into SampleRecord::channels
  std::unique_ptr<QrsDetector> detector_;
  std::vector<std::int64_t> beats_;
  std::int64_t added_ = 0;
};
