#include "analysis/QrsDetector.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

int Samples(double seconds, double rate) { return std::max(1, static_cast<int>(std::lround(seconds * rate))); }

std::size_t Slot(std::int64_t at, std::size_t size) { return static_cast<std::size_t>(at) % size; }

double Median(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

}  // namespace

QrsDetector::QrsDetector(double sampleRate) : rate_(sampleRate) {
  if (!(sampleRate >= 20))
    throw std::invalid_argument("QRS detection needs at least 20 samples/s, not " + std::to_string(sampleRate));
  // The paper's filters at 200 samples/s, in time: a low-pass of two 30 ms
  // moving sums, a high-pass subtracting a 160 ms moving average.
  lowPassLength_ = Samples(0.030, rate_);
  highPassLength_ = 2 * static_cast<int>(std::lround((0.160 * rate_ - 1) / 2)) + 1;
  windowLength_ = Samples(0.150, rate_);
  peakReach_ = Samples(0.200, rate_);
  tWaveReach_ = Samples(0.360, rate_);
  searchMargin_ = Samples(0.040, rate_);
  delay_ = (lowPassLength_ - 1) + (highPassLength_ - 1) / 2;
  learningLength_ = Samples(2.0, rate_);
  relearnAfter_ = Samples(3.0, rate_);
  input_.resize(static_cast<std::size_t>(lowPassLength_));
  lowPass1_.resize(static_cast<std::size_t>(lowPassLength_));
  lowPass2_.resize(static_cast<std::size_t>(highPassLength_));
  // Back far enough for a candidate's QRS at the time it is decided.
  const std::size_t reach = std::size_t{8} + static_cast<std::size_t>(peakReach_ + windowLength_) +
                            2 * static_cast<std::size_t>(searchMargin_);
  bandPass_.resize(reach);
  derivative_.resize(reach);
  squared_.resize(static_cast<std::size_t>(windowLength_));
}

// The filters start as if the first sample had always been there: no
// start-up step for the detector to take for a beat.
void QrsDetector::Prime(int sample) {
  std::fill(input_.begin(), input_.end(), sample);
  sum1_ = std::int64_t{lowPassLength_} * sample;
  std::fill(lowPass1_.begin(), lowPass1_.end(), sum1_);
  sum2_ = std::int64_t{lowPassLength_} * sum1_;
  std::fill(lowPass2_.begin(), lowPass2_.end(), sum2_);
  sum3_ = std::int64_t{highPassLength_} * sum2_;
}

// Band-pass (exact, in whole numbers), derivative, square, integration.
double QrsDetector::Integrate(int sample) {
  const std::int64_t n = fed_;
  std::int64_t& oldInput = input_[Slot(n, input_.size())];
  sum1_ += sample - oldInput;
  oldInput = sample;
  std::int64_t& oldLow1 = lowPass1_[Slot(n, lowPass1_.size())];
  sum2_ += sum1_ - oldLow1;
  oldLow1 = sum1_;
  std::int64_t& oldLow2 = lowPass2_[Slot(n, lowPass2_.size())];
  sum3_ += sum2_ - oldLow2;
  oldLow2 = sum2_;
  const std::int64_t centre = lowPass2_[Slot(n - (highPassLength_ - 1) / 2 + highPassLength_, lowPass2_.size())];
  const double scale = double(lowPassLength_) * lowPassLength_ * highPassLength_;
  const double band = static_cast<double>(centre * highPassLength_ - sum3_) / scale;

  const auto past = [&](int k) {
    return bandPass_[Slot(n - k + static_cast<std::int64_t>(bandPass_.size()), bandPass_.size())];
  };
  bandPass_[Slot(n, bandPass_.size())] = band;
  const double slope = (2 * band + past(1) - past(3) - 2 * past(4)) * rate_ / 8;
  derivative_[Slot(n, derivative_.size())] = slope;

  double& oldSquare = squared_[Slot(n, squared_.size())];
  integral_ += slope * slope - oldSquare;
  oldSquare = slope * slope;
  // Summed afresh once per window, so rounding cannot pile up.
  if (Slot(n, squared_.size()) == squared_.size() - 1) {
    integral_ = 0;
    for (double v : squared_) integral_ += v;
  }
  return std::max(0.0, integral_ / windowLength_);
}

void QrsDetector::Feed(int sample) {
  if (fed_ == 0) Prime(sample);
  last_ = sample;
  const double integrated = Integrate(sample);
  if (learning_) {
    learningMax_ = std::max(learningMax_, integrated);
    learningSum_ += integrated;
  }
  FindPeak(integrated);
  ++fed_;
  if (learning_ && fed_ - learningStart_ >= learningLength_) EndLearning();
  if (!learning_) WatchForMissedBeats();
}

// A candidate is the largest value within peakReach_ either side (the
// earliest of equal ones); it is known peakReach_ samples later.
void QrsDetector::FindPeak(double integrated) {
  const std::int64_t n = fed_;
  while (!dominant_.empty() && dominant_.back().second < integrated) dominant_.pop_back();
  dominant_.emplace_back(n, integrated);
  while (dominant_.front().first < n - 2 * std::int64_t{peakReach_}) dominant_.pop_front();
  const std::int64_t centre = n - peakReach_;
  if (centre < 0 || dominant_.front().first != centre || dominant_.front().second <= 0) return;
  const Peak peak = Describe(centre, dominant_.front().second);
  if (learning_) learnt_.push_back(peak);
  else Classify(peak);
}

// Where the integration window that peaks at `at` saw its QRS: the R peak
// is the band-passed signal's largest excursion there, less the band-pass's
// delay; the slope is the steepest derivative there.
QrsDetector::Peak QrsDetector::Describe(std::int64_t at, double value) const {
  Peak peak{at, value, 0, 0};
  const std::int64_t oldest = fed_ - static_cast<std::int64_t>(bandPass_.size()) + 1;
  const std::int64_t from = std::max({std::int64_t{0}, oldest, at - windowLength_ - 1 - searchMargin_});
  const std::int64_t to = std::min(fed_, at - 2 + searchMargin_);
  std::int64_t r = from;
  double largest = -1;
  for (std::int64_t k = from; k <= to; ++k) {
    const double excursion = std::fabs(bandPass_[Slot(k, bandPass_.size())]);
    if (excursion > largest) largest = excursion, r = k;
    peak.slope = std::max(peak.slope, std::fabs(derivative_[Slot(k, derivative_.size())]));
  }
  peak.r = std::max(std::int64_t{0}, r - delay_);
  return peak;
}

// The paper's start: the signal level a third of the largest integrated
// value, the noise level half the mean; then the peaks of the learning
// period are judged with them. A silent stretch (a flat lead) teaches
// nothing: learning starts again.
void QrsDetector::EndLearning() {
  if (learningMax_ <= 0) {
    learningStart_ = fed_;
    learningSum_ = 0;
    learnt_.clear();
    return;
  }
  learning_ = false;
  signalLevel_ = learningMax_ / 3;
  noiseLevel_ = learningSum_ / static_cast<double>(fed_ - learningStart_) / 2;
  quietSince_ = learningStart_;
  const std::vector<Peak> learnt = std::move(learnt_);
  learnt_.clear();
  for (const Peak& peak : learnt) Classify(peak);
}

bool QrsDetector::IsTWave(const Peak& peak) const {
  return lastBeat_ && peak.at - lastBeat_->at < tWaveReach_ && peak.slope < 0.5 * lastBeat_->slope;
}

void QrsDetector::Classify(const Peak& peak) {
  if (peak.value > Threshold() && !IsTWave(peak)) {
    Accept(peak, 0.125);
    return;
  }
  noiseLevel_ = 0.125 * peak.value + 0.875 * noiseLevel_;
  if (!IsTWave(peak) && (!searchBackCandidate_ || peak.value > searchBackCandidate_->value))
    searchBackCandidate_ = peak;
}

void QrsDetector::Accept(const Peak& peak, double weight) {
  signalLevel_ = weight * peak.value + (1 - weight) * signalLevel_;
  if (lastBeat_) {
    intervals_.push_back(peak.at - lastBeat_->at);
    if (intervals_.size() > 8) intervals_.erase(intervals_.begin());
    const double median = Median({intervals_.begin(), intervals_.end()});
    missedAfter_ = static_cast<std::int64_t>(std::lround(1.66 * median));
  }
  lastBeat_ = peak;
  quietSince_ = peak.at;
  searchBackCandidate_.reset();
  // Two candidates 200 ms apart may find the same R peak: one beat.
  if (peak.r > lastReported_ && peak.r < reportBefore_) {
    lastReported_ = peak.r;
    if (OnBeat) OnBeat(peak.r);
  }
}

// Search-back for a beat the threshold missed; after a long silence the
// levels are learnt again (the signal may have changed, or the first
// levels came from an artefact).
void QrsDetector::WatchForMissedBeats() {
  const std::int64_t decided = fed_ - 1 - peakReach_;  // every candidate up to here is classified
  if (lastBeat_ && decided - lastBeat_->at > missedAfter_ && searchBackCandidate_ &&
      searchBackCandidate_->value > 0.5 * Threshold()) {
    Accept(*searchBackCandidate_, 0.25);
    return;
  }
  const std::int64_t quietLimit = intervals_.empty() ? relearnAfter_ : std::max(relearnAfter_, 2 * missedAfter_);
  if (decided - quietSince_ > quietLimit) {
    learning_ = true;
    learningStart_ = fed_;
    learningMax_ = learningSum_ = 0;
    lastBeat_.reset();
    searchBackCandidate_.reset();
    intervals_.clear();
    missedAfter_ = std::numeric_limits<std::int64_t>::max();
  }
}

void QrsDetector::Finish() {
  if (fed_ == 0) return;
  reportBefore_ = fed_;
  const std::int64_t flush = delay_ + 4 + windowLength_ + searchMargin_ + peakReach_ + 1;
  for (std::int64_t i = 0; i < flush; ++i) Feed(last_);
  if (learning_ && learningMax_ > 0) EndLearning();  // a signal shorter than the learning period
}

std::vector<std::int64_t> DetectBeats(const std::vector<int>& samples, double sampleRate) {
  std::vector<std::int64_t> beats;
  QrsDetector detector(sampleRate);
  detector.OnBeat = [&](std::int64_t at) { beats.push_back(at); };
  for (int sample : samples) detector.Feed(sample);
  detector.Finish();
  return beats;
}

HeartRate MedianHeartRate(std::span<const std::int64_t> beats, double sampleRate) {
  HeartRate rate;
  rate.beats = static_cast<int>(beats.size());
  if (beats.size() < 2) return rate;
  std::vector<double> intervals;
  for (std::size_t i = 1; i < beats.size(); ++i) intervals.push_back(static_cast<double>(beats[i] - beats[i - 1]));
  const double median = Median(std::move(intervals));
  if (median > 0) rate.bpm = 60 * sampleRate / median;
  return rate;
}

double BeatScore::Sensitivity() const {
  const int reference = truePositives + missed;
  return reference == 0 ? 100 : 100.0 * truePositives / reference;
}

double BeatScore::PositivePredictivity() const {
  const int detections = truePositives + falsePositives;
  return detections == 0 ? 100 : 100.0 * truePositives / detections;
}

BeatScore ScoreBeats(std::span<const std::int64_t> reference, std::span<const std::int64_t> detected,
                     std::int64_t tolerance) {
  BeatScore score;
  std::size_t d = 0;
  for (const std::int64_t beat : reference) {
    while (d < detected.size() && detected[d] < beat - tolerance) ++score.falsePositives, ++d;
    if (d == detected.size() || detected[d] > beat + tolerance) {
      ++score.missed;
      continue;
    }
    // Of two detections in reach, the nearer one; the other is false.
    if (d + 1 < detected.size() && detected[d + 1] <= beat + tolerance &&
        std::llabs(detected[d + 1] - beat) < std::llabs(detected[d] - beat))
      ++score.falsePositives, ++d;
    ++score.truePositives;
    ++d;
  }
  score.falsePositives += static_cast<int>(detected.size() - d);
  return score;
}
