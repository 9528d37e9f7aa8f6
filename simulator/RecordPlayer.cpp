#include "simulator/RecordPlayer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>
#include <utility>

#include "analysis/Resample.h"
#include "analysis/Wfdb.h"
#include "simulator/SimulatorError.h"

namespace {
// The span the module's pulse value looks back over.
constexpr double kHeartRateWindow = 10.0;

constexpr std::array<const char*, 12> kTwelveLeadNames = {"I",  "II", "III", "aVR", "aVL", "aVF",
                                                          "V1", "V2", "V3",  "V4",  "V5",  "V6"};

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// Millivolts per unit of the record's units; nothing for units that are no voltage.
std::optional<double> MillivoltsPer(const std::string& units) {
  if (units == "mV") return 1.0;
  if (units == "uV" || units == "\xC2\xB5V" || units == "\xCE\xBCV") return 0.001;
  if (units == "V") return 1000.0;
  return std::nullopt;
}

// The twelve-lead record's signal of each lead by name; nothing unless
// every lead is named.
std::optional<std::array<std::size_t, 12>> TwelveLeadsByName(const WfdbRecord& record) {
  std::array<std::size_t, 12> order{};
  for (std::size_t lead = 0; lead < order.size(); ++lead) {
    const auto named = std::find_if(record.signals.begin(), record.signals.end(), [&](const WfdbSignal& signal) {
      return SameName(signal.name, kTwelveLeadNames.at(lead));
    });
    if (named == record.signals.end()) return std::nullopt;
    order.at(lead) = static_cast<std::size_t>(named - record.signals.begin());
  }
  return order;
}

std::string NameOf(const WfdbRecord& record, std::size_t signal) {
  const std::string& name = record.signals.at(signal).name;
  return name.empty() ? "signal " + std::to_string(signal + 1) : name;
}
}  // namespace

double InterpolateLooped(const std::vector<int>& samples, double position) {
  if (samples.empty()) return 0;
  const auto length = static_cast<double>(samples.size());
  double at = std::fmod(position, length);
  if (at < 0) at += length;
  const auto index = std::min(static_cast<std::size_t>(at), samples.size() - 1);
  const double fraction = at - static_cast<double>(index);
  const double next = samples[(index + 1) % samples.size()];
  return samples[index] + fraction * (next - samples[index]);
}

RecordPlayer::RecordPlayer(const std::string& headerPath) {
  WfdbRecord record;
  try {
    record = ReadWfdbRecord(headerPath);
  } catch (const EWfdbFormat& error) {
    throw ESimulator(std::string("cannot replay the record: ") + error.what());
  }
  if (record.signals.empty() || record.SampleCount() == 0 || !(record.frequency > 0)) {
    throw ESimulator("cannot replay " + headerPath + ": the record holds no samples");
  }
  frequency_ = record.frequency;
  playRate_ = frequency_;
  length_ = record.SampleCount();
  twelveLead_ = record.signals.size() >= 12;

  // The signals played, in the record's order; the others are not kept.
  std::vector<std::size_t> played;
  const auto byName = twelveLead_ ? TwelveLeadsByName(record) : std::nullopt;
  if (twelveLead_) {
    for (std::size_t lead = 0; lead < lead_.size(); ++lead) lead_.at(lead) = byName ? byName->at(lead) : lead;
    played.assign(lead_.begin(), lead_.end());
    std::sort(played.begin(), played.end());
    for (std::size_t& signal : lead_) {
      signal = static_cast<std::size_t>(std::lower_bound(played.begin(), played.end(), signal) - played.begin());
    }
  } else {
    played.push_back(0);
    if (record.signals.size() > 1) played.push_back(1);
  }
  for (const std::size_t index : played) {
    WfdbSignal& source = record.signals.at(index);
    const auto perUnit = MillivoltsPer(source.units);
    if (!perUnit) {
      throw ESimulator("cannot replay " + headerPath + ": " + NameOf(record, index) + " is in \"" + source.units +
                       "\", not a voltage");
    }
    if (source.samples.size() < length_)
      throw ESimulator("cannot replay " + headerPath + ": signals of unequal length");
    signals_.push_back(Signal{std::move(source.samples), source.baseline, source.gain / *perUnit});
  }

  const std::string atr = std::filesystem::path(headerPath).replace_extension(".atr").string();
  if (std::filesystem::exists(atr)) {
    try {
      for (const WfdbAnnotation& annotation : ReadWfdbAnnotations(atr)) {
        if (IsBeat(annotation.code)) beats_.push_back(static_cast<double>(annotation.sample) / frequency_);
      }
    } catch (const EWfdbFormat& error) {
      throw ESimulator(std::string("cannot replay the record's beats: ") + error.what());
    }
    std::sort(beats_.begin(), beats_.end());
  }

  description_ = record.name + ": " + std::to_string(static_cast<long>(std::lround(frequency_))) + " samples/s, " +
                 std::to_string(static_cast<long>(std::lround(Duration()))) + " s; ";
  if (twelveLead_) {
    description_ += byName ? "twelve leads by name" : "twelve leads by position";
  } else {
    description_ += "II = " + NameOf(record, 0) + ", I and C1..C6 = " + NameOf(record, played.back());
  }
  description_ += beats_.empty() ? ", no beats annotated" : ", " + std::to_string(beats_.size()) + " beats annotated";
}

double RecordPlayer::Duration() const { return static_cast<double>(length_) / frequency_; }

void RecordPlayer::PlayAt(int rate) {
  const bool whole = frequency_ == std::round(frequency_) && frequency_ <= std::numeric_limits<int>::max();
  const bool resample = whole && rate > 0 && rate != static_cast<int>(frequency_);
  if (resample && playRate_ == rate) return;
  playRate_ = resample ? rate : frequency_;
  for (Signal& signal : signals_) {
    signal.resampled =
        resample ? ResampleSteps(signal.samples, static_cast<int>(frequency_), rate) : std::vector<int>{};
  }
}

double RecordPlayer::Millivolts(std::size_t signal, double position) const {
  const Signal& s = signals_.at(signal);
  const std::vector<int>& played = s.resampled.empty() ? s.samples : s.resampled;
  return (InterpolateLooped(played, position) - s.zero) / s.stepsPerMillivolt;
}

LeadVoltages RecordPlayer::At(double seconds) const {
  const double position = seconds * playRate_;
  LeadVoltages leads;
  if (twelveLead_) {
    for (std::size_t lead = 0; lead < lead_.size(); ++lead) leads.mV.at(lead) = Millivolts(lead_.at(lead), position);
    return leads;
  }
  const double ii = Millivolts(0, position);
  const double i = Millivolts(signals_.size() - 1, position);
  leads.mV[slI] = i;
  leads.mV[slII] = ii;
  leads.mV[slIII] = ii - i;
  leads.mV[slAVR] = -(i + ii) / 2;
  leads.mV[slAVL] = i - ii / 2;
  leads.mV[slAVF] = ii - i / 2;
  for (std::size_t lead = slC1; lead <= slC6; ++lead) leads.mV.at(lead) = i;
  return leads;
}

std::optional<int> RecordPlayer::HeartRate(double seconds) const {
  if (beats_.size() < 2) return std::nullopt;
  auto rate = [](std::vector<double>::const_iterator first, std::vector<double>::const_iterator last) {
    const double span = *(last - 1) - *first;
    return span > 0
               ? std::optional<int>(static_cast<int>(std::lround(60.0 * static_cast<double>(last - first - 1) / span)))
               : std::nullopt;
  };
  const double now = std::fmod(std::max(seconds, 0.0), Duration());
  const auto first = std::upper_bound(beats_.begin(), beats_.end(), now - kHeartRateWindow);
  const auto last = std::upper_bound(beats_.begin(), beats_.end(), now);
  if (last - first >= 2) {
    if (const auto recent = rate(first, last)) return recent;
  }
  return rate(beats_.begin(), beats_.end());
}
