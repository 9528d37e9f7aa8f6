#pragma once
// What the station measures in a recording's records: the leads a set-up
// records, the module's 1 mV rectangle after a "K" and the tool's own heart
// rate, in the sidecar's values. The window, ecg-record and the acceptance
// test measure with these, so all three say the same of the same records.
//
// Pure functions; any thread.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Calibration.h"
#include "recording/Sidecar.h"
#include "store/SampleStore.h"

struct LeadTrace {
  std::string name;  // "I" .. "C6"
  std::vector<int> samples;
};

// The ECG leads a set-up records (I, II, III, aVR, aVL, aVF, C1 as the
// channel boxes select them, or all of them and C2..C6 in twelve-channel
// mode; the respiration channel is no lead), with the samples of slots
// first..last.
std::vector<LeadTrace> RecordedLeads(const SampleStore& store, int first, int last, bool twelveChannel,
                                     const std::array<bool, 8>& channels);
std::vector<LeadSamples> AsLeadSamples(const std::vector<LeadTrace>& leads);

// The calibration a measure found, for the sidecar and the settings: the
// leads found, at the amplification stage (1..4) it was measured at.
SidecarCalibration SidecarCalibrationOf(const CalibrationResult& found, int stage);
// "Calibrated, stage 2: 40.0 steps/mV; I..C6 within 1.5 %" (with the leads
// off the others and those without a rectangle as the summary names them),
// or "Calibration, stage 2: No rectangle found".
std::string CalibrationText(const CalibrationResult& found, int stage);

// The lead the tool finds beats in: II where it is recorded, else the
// first; null without any.
const LeadTrace* BeatLead(const std::vector<LeadTrace>& leads);
// The same rule over a set-up: the index into SampleRecord::channels of
// the beat lead, and its name; nothing when no ECG lead is recorded.
std::optional<std::size_t> BeatChannel(bool twelveChannel, const std::array<bool, 8>& channels);
std::string_view LimbLeadName(std::size_t channel);  // "I" .. "C1" of channels 0..6

// The tool's own heart rate over a stretch of records.
struct ToolHeartRate {
  std::string lead;           // where the beats were found; empty: no ECG lead recorded
  std::optional<double> bpm;  // the median; nothing with fewer than two beats
  long long beats = 0;
};
ToolHeartRate HeartRateOf(const std::vector<LeadTrace>& leads, double sampleRate);

// The sidecar's heart rate: the tool's and the module's figures.
SidecarHeartRate SidecarHeartRateOf(const ToolHeartRate& tool, std::optional<double> moduleBpm);
// The tool's and the module's figures more than 5 bpm apart (both known).
bool HeartRatesDisagree(std::optional<double> toolBpm, std::optional<double> moduleBpm);
// The tool and the module disagree by more than 5 bpm: the sentence that
// says so ("the tool counts 80 bpm, the module says 72 bpm"), or nothing.
std::optional<std::string> HeartRateDisagreement(const ToolHeartRate& tool, std::optional<double> moduleBpm);

// The median of the module's pulse values (its Pulse frames), or nothing.
std::optional<double> MedianOf(std::vector<int> values);
