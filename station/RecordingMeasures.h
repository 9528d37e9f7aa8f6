#pragma once
// What the station measures and keeps while one recording runs, the same in
// the window and in ecg-record: the module's 1 mV rectangle after a "K",
// the tool's own heart rate beside the module's Pulse values, and the
// user's numbered markers. Fed with each record the session reports
// complete; nothing here keeps the recording itself, so a streamed
// recording of hours is measured as well as one in the store.
//
// Main thread (or any one thread).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Calibration.h"
#include "recording/Sidecar.h"
#include "station/LiveHeartRate.h"
#include "station/RecordingAnalysis.h"
#include "store/SampleStore.h"

class RecordingMeasures {
 public:
  // The rectangle after "K" lasts 3 s (0 mV, 1 mV, 0 mV); it is measured
  // over the records of this many seconds after the command.
  static constexpr double kCalibrationSeconds = 4;
  static constexpr std::size_t kMaxMarkers = 255;  // the marker byte's numbers
  // The marker's text at the record a "K" was sent before: the exports
  // annotate the rectangle with it.
  static constexpr const char* kCalibrationMarkerText = "1 mV calibration";

  // The recording's set-up: its rate, mode, channels and amplification
  // stage (1..4).
  RecordingMeasures(double sampleRate, bool twelveChannel, const std::array<bool, 8>& channels, int stage);

  // "K" went out: the rectangle is looked for in the records from the store's
  // slot `firstSlot` on.
  void CalibrationSent(int firstSlot);
  bool CalibrationPending() const { return calibrationFrom_ > 0; }
  // A record reported complete, at `slot` of `store`. True when it was the
  // last the rectangle needed and the calibration has just been measured.
  bool Add(const SampleStore& store, int slot);
  // The recording ended with `lastSlot` the newest complete record: a
  // calibration still waiting is measured on what came (true when one was),
  // and the heart rate is decided.
  bool End(const SampleStore& store, int lastSlot);

  int Stage() const { return stage_; }
  const std::optional<CalibrationResult>& Calibration() const { return calibration_; }
  // The found leads, for the sidecar and the settings; nothing when no
  // rectangle was found.
  std::optional<SidecarCalibration> FoundCalibration() const;

  void PulseReceived(int value) { pulses_.push_back(value); }
  std::optional<int> LastPulse() const;
  std::optional<double> RecentBpm() const { return heart_.RecentBpm(); }
  // After End: the tool's figure over the recording, and the module's
  // (the median of its Pulse values).
  const ToolHeartRate& HeartRate() const { return heartRate_; }
  std::optional<double> ModuleBpm() const { return MedianOf(pulses_); }

  // The next numbered marker at record `record` (numbered from 1 in the
  // recording's file), or the record after the last marker's when that is
  // not before it (one marker per record, as the session queues them), with
  // `text`; nothing once 255 were added. The owner puts its number into the
  // session (AcquisitionSession::AddMarker).
  std::optional<SidecarMarker> AddMarker(long long record, const std::string& text);
  const std::vector<SidecarMarker>& Markers() const { return markers_; }

  // The markers, the heart rate and `calibration` (measured here or kept
  // from before) into a recording's sidecar.
  void FillSidecar(RecordingSidecar& sidecar, const std::optional<SidecarCalibration>& calibration) const;

 private:
  void MeasureCalibration(const SampleStore& store, int lastSlot);

  double rate_;
  bool twelveChannel_;
  std::array<bool, 8> channels_;
  int stage_;
  LiveHeartRate heart_;
  ToolHeartRate heartRate_;
  std::vector<int> pulses_;
  int calibrationFrom_ = 0;  // 0: no "K" waiting for its measure
  int calibrationRecords_;
  std::optional<CalibrationResult> calibration_;
  std::vector<SidecarMarker> markers_;
  bool ended_ = false;
};
