#include "station/LiveHeartRate.h"

#include <algorithm>
#include <span>

#include "analysis/QrsDetector.h"

namespace {

constexpr std::size_t kRecentBeats = 9;  // eight intervals

}  // namespace

LiveHeartRate::LiveHeartRate(double sampleRate, bool twelveChannel, const std::array<bool, 8>& channels)
    : rate_(sampleRate) {
  const std::optional<std::size_t> channel = BeatChannel(twelveChannel, channels);
  if (!channel) return;
  channel_ = static_cast<int>(*channel);
  lead_ = std::string(LimbLeadName(*channel));
  detector_ = std::make_unique<QrsDetector>(sampleRate);
  detector_->OnBeat = [this](std::int64_t at) { beats_.push_back(at); };
}

LiveHeartRate::~LiveHeartRate() = default;

void LiveHeartRate::Add(const SampleRecord& record) {
  if (!detector_) return;
  detector_->Feed(record.channels[static_cast<std::size_t>(channel_)]);
  ++added_;
}

std::optional<double> LiveHeartRate::RecentBpm() const {
  if (beats_.size() < 2) return std::nullopt;
  const std::size_t from = beats_.size() - std::min(beats_.size(), kRecentBeats);
  const std::span<const std::int64_t> recent(beats_.data() + from, beats_.size() - from);
  const HeartRate figure = MedianHeartRate(recent, rate_);
  // The detector decides a beat about half a second after it; past two
  // intervals more, no beat is coming.
  const double interval = 60.0 * rate_ / figure.bpm;
  if (static_cast<double>(added_ - beats_.back()) > 2 * interval + 0.5 * rate_) return std::nullopt;
  return figure.bpm;
}

ToolHeartRate LiveHeartRate::Finish() {
  ToolHeartRate rate;
  if (!detector_) return rate;
  detector_->Finish();
  rate.lead = lead_;
  const HeartRate figure = MedianHeartRate(beats_, rate_);
  rate.beats = figure.beats;
  if (figure.beats >= 2) rate.bpm = figure.bpm;
  return rate;
}
