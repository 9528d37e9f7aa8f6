#include "station/RecordingMeasures.h"

#include <chrono>

#include "station/SessionSidecar.h"

RecordingMeasures::RecordingMeasures(double sampleRate, bool twelveChannel, const std::array<bool, 8>& channels,
                                     int stage)
    : rate_(sampleRate),
      twelveChannel_(twelveChannel),
      channels_(channels),
      stage_(stage),
      heart_(sampleRate, twelveChannel, channels),
      calibrationRecords_(static_cast<int>(kCalibrationSeconds * sampleRate)) {}

void RecordingMeasures::CalibrationSent(int firstSlot) { calibrationFrom_ = std::max(1, firstSlot); }

bool RecordingMeasures::Add(const SampleStore& store, int slot) {
  if (ended_) return false;
  if (calibrationFrom_ > 0 && slot >= calibrationFrom_) {
    // The rectangle is no heartbeat: the detector does not see it.
    if (slot - calibrationFrom_ + 1 < calibrationRecords_) return false;
    MeasureCalibration(store, slot);
    return true;
  }
  heart_.Add(store.At(slot));
  return false;
}

bool RecordingMeasures::End(const SampleStore& store, int lastSlot) {
  if (ended_) return false;
  ended_ = true;
  heartRate_ = heart_.Finish();
  if (calibrationFrom_ == 0 || lastSlot < calibrationFrom_) {
    calibrationFrom_ = 0;
    return false;
  }
  MeasureCalibration(store, lastSlot);
  return true;
}

void RecordingMeasures::MeasureCalibration(const SampleStore& store, int lastSlot) {
  calibration_ = FindCalibration(
      AsLeadSamples(RecordedLeads(store, calibrationFrom_, lastSlot, twelveChannel_, channels_)), rate_);
  calibrationFrom_ = 0;
}

std::optional<SidecarCalibration> RecordingMeasures::FoundCalibration() const {
  if (!calibration_ || !calibration_->Found()) return std::nullopt;
  return SidecarCalibrationOf(*calibration_, stage_);
}

std::optional<int> RecordingMeasures::LastPulse() const {
  if (pulses_.empty()) return std::nullopt;
  return pulses_.back();
}

std::optional<SidecarMarker> RecordingMeasures::AddMarker(long long record, const std::string& text) {
  if (markers_.size() >= kMaxMarkers) return std::nullopt;
  if (!markers_.empty()) record = std::max(record, markers_.back().record + 1);
  markers_.push_back(
      {static_cast<int>(markers_.size()) + 1, record, LocalDateTimeOf(std::chrono::system_clock::now()), text});
  return markers_.back();
}

void RecordingMeasures::FillSidecar(RecordingSidecar& sidecar,
                                    const std::optional<SidecarCalibration>& calibration) const {
  sidecar.markers = markers_;
  sidecar.heartRate = SidecarHeartRateOf(heartRate_, ModuleBpm());
  if (calibration) sidecar.calibration = calibration;
}
