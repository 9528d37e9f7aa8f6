#include "station/RecordingAnalysis.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "analysis/QrsDetector.h"
#include "store/NumberText.h"

namespace {

constexpr std::array<std::string_view, 7> kLimbLeadNames{"I", "II", "III", "aVR", "aVL", "aVF", "C1"};
constexpr std::array<std::string_view, 5> kChestLeadNames{"C2", "C3", "C4", "C5", "C6"};
// A difference the module's and the tool's counts may have without a word.
constexpr double kHeartRateAgreementBpm = 5;

}  // namespace

std::vector<LeadTrace> RecordedLeads(const SampleStore& store, int first, int last, bool twelveChannel,
                                     const std::array<bool, 8>& channels) {
  std::vector<LeadTrace> leads;
  const auto add = [&](std::string_view name, auto value) {
    LeadTrace lead{std::string(name), {}};
    lead.samples.reserve(static_cast<std::size_t>(std::max(0, last - first + 1)));
    for (int slot = first; slot <= last; ++slot) lead.samples.push_back(value(store.At(slot)));
    leads.push_back(std::move(lead));
  };
  for (std::size_t channel = 0; channel < kLimbLeadNames.size(); ++channel) {
    if (!twelveChannel && !channels[channel]) continue;
    add(kLimbLeadNames[channel], [channel](const SampleRecord& r) { return int{r.channels[channel]}; });
  }
  if (twelveChannel) {
    for (std::size_t chest = 0; chest < kChestLeadNames.size(); ++chest)
      add(kChestLeadNames[chest], [chest](const SampleRecord& r) { return int{r.chest[chest]}; });
  }
  return leads;
}

std::vector<LeadSamples> AsLeadSamples(const std::vector<LeadTrace>& leads) {
  std::vector<LeadSamples> samples;
  samples.reserve(leads.size());
  for (const LeadTrace& lead : leads) samples.push_back({lead.name, lead.samples});
  return samples;
}

SidecarCalibration SidecarCalibrationOf(const CalibrationResult& found, int stage) {
  SidecarCalibration calibration;
  calibration.stage = stage;
  for (const LeadCalibration& lead : found.leads) {
    if (lead.state == LeadCalibrationState::Found) calibration.leads.push_back({lead.lead, lead.stepsPerMv, lead.zero});
  }
  return calibration;
}

std::string CalibrationText(const CalibrationResult& found, int stage) {
  const std::string where = "stage " + std::to_string(stage) + ": ";
  return (found.Found() ? "Calibrated, " : "Calibration, ") + where + found.Summary();
}

const LeadTrace* BeatLead(const std::vector<LeadTrace>& leads) {
  for (const LeadTrace& lead : leads) {
    if (lead.name == "II") return &lead;
  }
  return leads.empty() ? nullptr : &leads.front();
}

std::optional<std::size_t> BeatChannel(bool twelveChannel, const std::array<bool, 8>& channels) {
  constexpr std::size_t kLeadII = 1;
  if (twelveChannel || channels[kLeadII]) return kLeadII;
  for (std::size_t channel = 0; channel < kLimbLeadNames.size(); ++channel)
    if (channels[channel]) return channel;
  return std::nullopt;
}

std::string_view LimbLeadName(std::size_t channel) { return kLimbLeadNames.at(channel); }

ToolHeartRate HeartRateOf(const std::vector<LeadTrace>& leads, double sampleRate) {
  ToolHeartRate rate;
  const LeadTrace* lead = BeatLead(leads);
  if (!lead) return rate;
  rate.lead = lead->name;
  const std::vector<std::int64_t> beats = DetectBeats(lead->samples, sampleRate);
  const HeartRate figure = MedianHeartRate(beats, sampleRate);
  rate.beats = figure.beats;
  if (figure.beats >= 2) rate.bpm = figure.bpm;
  return rate;
}

SidecarHeartRate SidecarHeartRateOf(const ToolHeartRate& tool, std::optional<double> moduleBpm) {
  SidecarHeartRate heart;
  heart.toolBpm = tool.bpm;
  heart.moduleBpm = moduleBpm;
  if (!tool.lead.empty()) heart.beats = tool.beats;
  return heart;
}

bool HeartRatesDisagree(std::optional<double> toolBpm, std::optional<double> moduleBpm) {
  return toolBpm && moduleBpm && std::abs(*toolBpm - *moduleBpm) > kHeartRateAgreementBpm;
}

std::optional<std::string> HeartRateDisagreement(const ToolHeartRate& tool, std::optional<double> moduleBpm) {
  if (!HeartRatesDisagree(tool.bpm, moduleBpm)) return std::nullopt;
  return "the tool counts " + FixedText(*tool.bpm, 0) + " bpm in " + tool.lead + ", the module says " +
         FixedText(*moduleBpm, 0) + " bpm";
}

std::optional<double> MedianOf(std::vector<int> values) {
  if (values.empty()) return std::nullopt;
  const std::size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
  const double upper = values[middle];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
  return (lower + upper) / 2;
}
