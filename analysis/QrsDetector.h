#pragma once
// The tool's own beat detection: the real-time QRS detector of Pan and
// Tompkins (IEEE Trans Biomed Eng 32(3):230-236, 1985), written here from
// its published description, with its filters laid out in time rather than
// in samples so that it runs at any rate of the module (50 to 300 samples/s,
// and 360 for the reference records).
//
// The stages, each linear-phase so that its delay is a whole number of
// samples: a band-pass of about 5..12 Hz (two moving sums for the low-pass,
// a 160 ms moving average subtracted for the high-pass), the five-point
// derivative, squaring, and a 150 ms moving-window integration. Peaks of the
// integrated signal at least 200 ms from any larger one are QRS candidates;
// a candidate above the adaptive threshold (a quarter of the way from the
// noise level to the signal level) is a beat, unless within 360 ms of the
// previous beat with less than half its steepest slope (a T wave). When no
// beat came for 1.66 times the recent RR interval, the largest candidate
// since the last beat counts if it reaches half the threshold (search-back).
// Thresholds are learnt over the first two seconds that carry a signal.
//
// Differences from the paper: the RR interval for the search-back is the
// median of the last eight rather than the mean of those within limits (one
// missed beat cannot then set it for good); each beat is placed on the
// band-passed signal's largest excursion in the QRS the integration window
// covers, not on the integrated signal's peak.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <vector>

class QrsDetector {
 public:
  // std::invalid_argument for a rate below 20 samples/s (no QRS fits).
  explicit QrsDetector(double sampleRate);

  // Called with the index of each beat's R peak (0 for the first sample
  // fed), in increasing order, once it is decided: about half a second
  // after the peak; up to 1.66 RR intervals for a beat found by search-back;
  // the beats of the first two seconds when their learning ends.
  std::function<void(std::int64_t sample)> OnBeat;

  // The next sample, in steps (any offset; either polarity of QRS).
  void Feed(int sample);
  // The signal has ended: decides what is still pending (the last beat).
  // Nothing may be fed afterwards.
  void Finish();

  double SampleRate() const { return rate_; }
  std::int64_t SamplesFed() const { return fed_; }

 private:
  struct Peak {
    std::int64_t at = 0;  // in the integrated signal's time
    double value = 0;     // the integrated signal there
    std::int64_t r = 0;   // the R peak, in input samples
    double slope = 0;     // the steepest derivative in its QRS
  };
  void Prime(int sample);
  double Integrate(int sample);
  void FindPeak(double integrated);
  Peak Describe(std::int64_t at, double value) const;
  void EndLearning();
  void Classify(const Peak& peak);
  void Accept(const Peak& peak, double weight);
  bool IsTWave(const Peak& peak) const;
  void WatchForMissedBeats();
  double Threshold() const { return noiseLevel_ + 0.25 * (signalLevel_ - noiseLevel_); }

  double rate_;
  int lowPassLength_;   // each of the two moving sums
  int highPassLength_;  // the moving average subtracted, odd
  int windowLength_;    // the moving-window integration, 150 ms
  int peakReach_;       // 200 ms: how far a candidate must dominate
  int tWaveReach_;      // 360 ms
  int searchMargin_;    // 40 ms beyond the integration window where the R peak may lie
  std::int64_t delay_;  // of the band-pass, in samples
  std::int64_t learningLength_;
  std::int64_t relearnAfter_;
  std::int64_t fed_ = 0;  // samples fed; also the time of the newest sample in every stage
  std::int64_t reportBefore_ = std::numeric_limits<std::int64_t>::max();  // while finishing: the end of the real signal
  int last_ = 0;

  // Histories, each indexed by sample time modulo its size.
  std::vector<std::int64_t> input_, lowPass1_, lowPass2_;
  std::int64_t sum1_ = 0, sum2_ = 0, sum3_ = 0;
  std::vector<double> bandPass_, derivative_, squared_;
  double integral_ = 0;
  std::deque<std::pair<std::int64_t, double>> dominant_;  // falling maxima of the last 2 * peakReach_ samples

  bool learning_ = true;
  std::int64_t learningStart_ = 0;
  double learningMax_ = 0, learningSum_ = 0;
  std::vector<Peak> learnt_;

  double signalLevel_ = 0, noiseLevel_ = 0;
  std::optional<Peak> lastBeat_;
  std::int64_t quietSince_ = 0;  // the last beat, or the end of learning
  std::optional<Peak> searchBackCandidate_;
  std::vector<std::int64_t> intervals_;                                  // the last eight RR intervals
  std::int64_t missedAfter_ = std::numeric_limits<std::int64_t>::max();  // 1.66 times their median
  std::int64_t lastReported_ = -1;
};

// Every beat of a whole signal (fed, then finished).
std::vector<std::int64_t> DetectBeats(const std::vector<int>& samples, double sampleRate);

// The heart rate over beats: the median of the beat-to-beat rates in beats
// per minute (0 with fewer than two beats), and the number of beats.
struct HeartRate {
  double bpm = 0;
  int beats = 0;
};
HeartRate MedianHeartRate(std::span<const std::int64_t> beats, double sampleRate);

// A detector's beats against reference beats, both sorted: a detection
// within `tolerance` samples of a reference beat (the nearest one not yet
// taken) is a true positive; reference beats left are missed, detections
// left are false.
struct BeatScore {
  int truePositives = 0;
  int missed = 0;
  int falsePositives = 0;
  double Sensitivity() const;           // percent of reference beats found
  double PositivePredictivity() const;  // percent of detections that are beats
};
BeatScore ScoreBeats(std::span<const std::int64_t> reference, std::span<const std::int64_t> detected,
                     std::int64_t tolerance);
