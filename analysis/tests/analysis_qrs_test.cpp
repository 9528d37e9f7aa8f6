#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "analysis/QrsDetector.h"
#include "analysis/Resample.h"
#include "analysis/Wfdb.h"
#include "analysis_support.h"

namespace {

// ---- MIT-BIH record 100, lead MLII, at the module's rates --------------------------

struct Reference {
  std::vector<int> mlii;
  std::vector<std::int64_t> beats;
};

const Reference* Record100() {
  static const std::optional<Reference> reference = []() -> std::optional<Reference> {
    const auto folder = Record100Folder();
    if (!folder) return std::nullopt;
    Reference r;
    const WfdbRecord record = ReadWfdbRecord((*folder / "100.hea").string());
    r.mlii = record.Find("MLII")->samples;
    for (const WfdbAnnotation& a : ReadWfdbAnnotations((*folder / "100.atr").string()))
      if (IsBeat(a.code)) r.beats.push_back(a.sample);
    return r;
  }();
  return reference ? &*reference : nullptr;
}

struct RateCase {
  int rate;
  bool moduleSteps;  // scaled to 40 steps/mV in the module's 0..247, as the simulator replays it
  double minimum;    // percent, sensitivity and positive predictivity; 0: reported only
};

void PrintTo(const RateCase& c, std::ostream* out) { *out << c.rate << (c.moduleSteps ? "/s, module steps" : "/s"); }

class Record100Beats : public ::testing::TestWithParam<RateCase> {};

TEST_P(Record100Beats, FoundWithinTheirToleranceAtTheRate) {
  const RateCase& c = GetParam();
  const Reference* reference = Record100();
  if (!reference) GTEST_SKIP() << "MIT-BIH record 100 is not in analysis/tests/data/mitdb-100";
  std::vector<int> signal = ResampleSteps(reference->mlii, 360, c.rate);
  if (c.moduleSteps)
    for (int& v : signal) v = std::clamp(static_cast<int>(std::lround(128 + (v - 1024) / 5.0)), 0, 247);
  std::vector<std::int64_t> expected;
  for (const std::int64_t beat : reference->beats) expected.push_back(ResampledIndex(beat, 360, c.rate));

  const std::vector<std::int64_t> found = DetectBeats(signal, c.rate);
  const BeatScore score = ScoreBeats(expected, found, std::lround(0.150 * c.rate));
  RecordProperty("sensitivity", std::to_string(score.Sensitivity()));
  RecordProperty("positive_predictivity", std::to_string(score.PositivePredictivity()));
  std::cout << c.rate << "/s" << (c.moduleSteps ? " in module steps" : "") << ": sensitivity " << score.Sensitivity()
            << " %, positive predictivity " << score.PositivePredictivity() << " % (" << score.missed << " missed, "
            << score.falsePositives << " false)\n";
  EXPECT_GE(score.Sensitivity(), c.minimum);
  EXPECT_GE(score.PositivePredictivity(), c.minimum);
}

INSTANTIATE_TEST_SUITE_P(Rates, Record100Beats,
                         ::testing::Values(RateCase{360, false, 99}, RateCase{300, false, 99}, RateCase{150, false, 99},
                                           RateCase{100, false, 97}, RateCase{50, false, 0}, RateCase{300, true, 99},
                                           RateCase{150, true, 99}, RateCase{100, true, 97}, RateCase{50, true, 0}),
                         [](const auto& row) {
                           return std::to_string(row.param.rate) + (row.param.moduleSteps ? "_ModuleSteps" : "_Record");
                         });

// ---- Synthetic ECG -----------------------------------------------------------------

struct Synthetic {
  int rate = 300;
  double bpm = 72;
  double seconds = 20;
  double polarity = 1;
  double noise = 0;                                                     // steps, standard deviation
  double wander = 0.3;                                                  // mV of a 0.3 Hz baseline
  std::function<double(double)> gain = [](double) { return 1.0; };      // over time
  std::function<double(double)> artefact = [](double) { return 0.0; };  // mV over time
};

// Beats in steps at 40 steps/mV: P, Q, R, S and T as bumps, the R peak
// every 60/bpm seconds from half a period on; the R peaks' samples.
std::vector<int> Ecg(const Synthetic& s, std::vector<std::int64_t>& peaks) {
  const double period = 60 / s.bpm;
  const auto bump = [](double t, double centre, double width) {
    return std::exp(-0.5 * std::pow((t - centre) / width, 2));
  };
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, s.noise);
  std::vector<int> steps;
  for (int n = 0; n < s.seconds * s.rate; ++n) {
    const double t = double(n) / s.rate;
    const double k = std::round((t - period / 2) / period);
    const double u = t - (k * period + period / 2);
    const double mv = 0.15 * bump(u, -0.16, 0.025) - 0.1 * bump(u, -0.025, 0.01) + bump(u, 0, 0.012) -
                      0.2 * bump(u, 0.025, 0.01) + 0.3 * bump(u, 0.25, 0.05);
    const double total =
        s.polarity * s.gain(t) * mv + s.wander * std::sin(2 * std::numbers::pi * 0.3 * t) + s.artefact(t);
    steps.push_back(static_cast<int>(std::lround(128 + 40 * total + (s.noise > 0 ? noise(random) : 0))));
  }
  for (double t = period / 2; t * s.rate < s.seconds * s.rate; t += period) peaks.push_back(std::lround(t * s.rate));
  return steps;
}

struct SyntheticCase {
  const char* name;
  Synthetic signal;
  std::int64_t firstCounted = 0;  // beats before this sample may be missed (a disturbance)
  double longestReport = 0.6;     // seconds from a peak to its report, past learning; 0: not checked
};
void PrintTo(const SyntheticCase& c, std::ostream* out) { *out << c.name; }

class SyntheticBeats : public ::testing::TestWithParam<SyntheticCase> {};

TEST_P(SyntheticBeats, EveryBeatFoundOnceNearItsPeakWithoutDelayBeyondTheDecision) {
  const SyntheticCase& c = GetParam();
  std::vector<std::int64_t> peaks;
  const std::vector<int> ecg = Ecg(c.signal, peaks);
  std::vector<std::int64_t> found;
  std::int64_t latest = 0;
  QrsDetector detector(c.signal.rate);
  detector.OnBeat = [&](std::int64_t at) {
    EXPECT_TRUE(found.empty() || at > found.back()) << "in order";
    if (at > 3 * c.signal.rate) latest = std::max(latest, detector.SamplesFed() - at);  // past learning
    found.push_back(at);
  };
  for (const int v : ecg) detector.Feed(v);
  detector.Finish();

  std::erase_if(peaks, [&](std::int64_t p) { return p < c.firstCounted; });
  std::erase_if(found, [&](std::int64_t p) { return p < c.firstCounted - c.signal.rate / 5; });
  const BeatScore score = ScoreBeats(peaks, found, std::lround(0.030 * c.signal.rate));
  EXPECT_EQ(score.missed, 0);
  EXPECT_EQ(score.falsePositives, 0);
  EXPECT_NEAR(MedianHeartRate(found, c.signal.rate).bpm, c.signal.bpm, 1.5);
  if (c.longestReport > 0) {
    EXPECT_LE(latest, c.longestReport * c.signal.rate) << "samples from a peak to its report";
  }
}

Synthetic With(int rate, double bpm, std::function<void(Synthetic&)> change = {}) {
  Synthetic s;
  s.rate = rate;
  s.bpm = bpm;
  if (change) change(s);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SyntheticBeats,
    ::testing::Values(
        SyntheticCase{"At300_72bpm", With(300, 72)}, SyntheticCase{"At150_150bpm", With(150, 150)},
        SyntheticCase{"At100_40bpm", With(100, 40)}, SyntheticCase{"At50_90bpm", With(50, 90)},
        SyntheticCase{"Inverted", With(300, 72, [](Synthetic& s) { s.polarity = -1; })},
        SyntheticCase{"Noisy", With(150, 80, [](Synthetic& s) { s.noise = 3; })},
        // The amplitude halves: search-back finds the beats while the levels follow it down.
        SyntheticCase{"AmplitudeHalves",
                      With(300, 72, [](Synthetic& s) { s.gain = [](double at) { return at < 8 ? 1 : 0.5; }; }), 0,
                      0.6 + 1.66 * 60 / 72},
        // A 20 mV artefact while the levels are learnt: they are learnt again.
        SyntheticCase{
            "ArtefactWhileLearning",
            With(300, 72, [](Synthetic& s) { s.artefact = [](double at) { return at > 0.5 && at < 0.6 ? 20 : 0; }; }),
            12 * 300, 0}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(QrsDetector, FlatLeadHasNoBeats) { EXPECT_TRUE(DetectBeats(std::vector<int>(3000, 128), 300).empty()); }

TEST(QrsDetector, RefusesARateNoQrsFits) { EXPECT_THROW(QrsDetector(10), std::invalid_argument); }

// ---- Heart rate and scoring --------------------------------------------------------

TEST(MedianHeartRate, IsTheMedianBeatToBeatRate) {
  const std::vector<std::int64_t> none, one{100}, steady{0, 300, 600, 900}, withExtraBeat{0, 300, 450, 750, 1050};
  EXPECT_EQ(MedianHeartRate(none, 300).bpm, 0);
  EXPECT_EQ(MedianHeartRate(one, 300).beats, 1);
  EXPECT_EQ(MedianHeartRate(one, 300).bpm, 0);
  EXPECT_DOUBLE_EQ(MedianHeartRate(steady, 300).bpm, 60);
  EXPECT_DOUBLE_EQ(MedianHeartRate(withExtraBeat, 300).bpm, 60);  // intervals 300,150,300,300
}

struct ScoreCase {
  const char* name;
  std::vector<std::int64_t> detected;
  int truePositives, missed, falsePositives;
};

void PrintTo(const ScoreCase& c, std::ostream* out) { *out << c.name; }

class BeatScoring : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(BeatScoring, CountsEachDetectionOnce) {
  const std::vector<std::int64_t> reference{100, 400, 700};
  const BeatScore score = ScoreBeats(reference, GetParam().detected, 50);
  EXPECT_EQ(score.truePositives, GetParam().truePositives);
  EXPECT_EQ(score.missed, GetParam().missed);
  EXPECT_EQ(score.falsePositives, GetParam().falsePositives);
}

INSTANTIATE_TEST_SUITE_P(Cases, BeatScoring,
                         ::testing::Values(ScoreCase{"AllWithinTolerance", {60, 450, 700}, 3, 0, 0},
                                           ScoreCase{"OneMissed", {100, 700}, 2, 1, 0},
                                           ScoreCase{"OneExtraBetween", {100, 250, 400, 700}, 3, 0, 1},
                                           ScoreCase{"TwoNearOneBeat", {95, 101, 400, 700}, 3, 0, 1},
                                           ScoreCase{"JustOutsideTolerance", {100, 451, 700}, 2, 1, 1}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(BeatScore, EmptyCountsAsPerfectNotAsDivisionByZero) {
  EXPECT_EQ(BeatScore{}.Sensitivity(), 100);
  EXPECT_EQ(BeatScore{}.PositivePredictivity(), 100);
}

}  // namespace
