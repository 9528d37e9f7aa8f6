#include "analysis/Calibration.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <optional>
#include <stdexcept>

namespace {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

// The median of whole steps, interpolated within its step: the share of
// the samples on it places the level between its lower and upper half-step
// (all on one step: that step). With noise on the signal this resolves a
// level to a fraction of a step, which the plain median of whole numbers
// cannot.
double LevelOf(std::span<const int> x) {
  std::vector<int> values(x.begin(), x.end());
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  const int step = *middle;
  const auto below = static_cast<double>(std::count_if(values.begin(), values.end(), [&](int v) { return v < step; }));
  const auto on = static_cast<double>(std::count(values.begin(), values.end(), step));
  return step - 0.5 + (static_cast<double>(values.size()) / 2 - below) / on;
}

// "40.0": the same in every locale.
std::string Fixed(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
  return {text, result.ptr};
}

// A stretch of samples all within the noise band of each other, held long
// enough; [begin, end).
struct Level {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  double median = 0;
};

struct Edge {
  std::int64_t at = 0;  // the first sample past the middle of the step
  int sign = 0;         // +1 rising, -1 falling
  double low = 0;
  double high = 0;
  bool clipped = false;
};

struct LeadScan {
  bool flat = false;
  std::vector<Edge> edges;
};

class LeadScanner {
 public:
  LeadScanner(std::span<const int> x, int hold, int longestEdge, const CalibrationOptions& options)
      : x_(x), hold_(hold), longestEdge_(longestEdge), options_(options) {}

  LeadScan Scan() {
    LeadScan scan;
    if (x_.empty()) return {true, {}};
    EstimateNoise();
    const auto [lowest, highest] = std::minmax_element(x_.begin(), x_.end());
    if (*highest - *lowest <= band_) return {true, {}};
    const std::vector<Level> levels = Levels();
    for (std::size_t i = 1; i < levels.size(); ++i)
      if (const auto edge = EdgeBetween(levels[i - 1], levels[i])) scan.edges.push_back(*edge);
    return scan;
  }

 private:
  // The noise from the sample-to-sample differences (their median, so the
  // ECG's and the rectangle's own steps do not count, interpolated as the
  // levels are: the differences are mostly 0, 1 or 2 steps); the band a
  // level keeps to is seven of its standard deviations, at least two steps
  // (one step either way is quantisation).
  void EstimateNoise() {
    std::vector<int> differences;
    differences.reserve(x_.size());
    for (std::size_t i = 1; i < x_.size(); ++i) differences.push_back(std::abs(x_[i] - x_[i - 1]));
    sigma_ = differences.empty() ? 0 : std::max(0.0, 1.4826 * LevelOf(differences) / std::sqrt(2.0));
    band_ = std::max(2.0, 7 * sigma_);
  }

  // Every window of hold_ samples whose range stays in the band; runs of
  // such windows are levels. Levels interrupted by a short disturbance at
  // the same height are one.
  std::vector<Level> Levels() const {
    const auto n = static_cast<std::int64_t>(x_.size());
    std::vector<Level> levels;
    std::deque<std::int64_t> highs, lows;  // indices of falling maxima, rising minima
    std::int64_t runStart = -1;
    for (std::int64_t i = 0; i < n; ++i) {
      const int v = x_[static_cast<std::size_t>(i)];
      while (!highs.empty() && x_[static_cast<std::size_t>(highs.back())] <= v) highs.pop_back();
      while (!lows.empty() && x_[static_cast<std::size_t>(lows.back())] >= v) lows.pop_back();
      highs.push_back(i);
      lows.push_back(i);
      const std::int64_t start = i - hold_ + 1;  // the window [start, i]
      if (start < 0) continue;
      while (highs.front() < start) highs.pop_front();
      while (lows.front() < start) lows.pop_front();
      const bool flat =
          x_[static_cast<std::size_t>(highs.front())] - x_[static_cast<std::size_t>(lows.front())] <= band_;
      if (flat && runStart < 0) runStart = start;
      if (!flat && runStart >= 0) {
        AddLevel(levels, runStart, i);  // the last flat window ended at i - 1
        runStart = -1;
      }
    }
    if (runStart >= 0) AddLevel(levels, runStart, n);
    return levels;
  }

  void AddLevel(std::vector<Level>& levels, std::int64_t begin, std::int64_t end) const {
    Level level{begin, end, LevelOf(Part(begin, end))};
    if (!levels.empty()) {
      Level& previous = levels.back();
      if (level.begin - previous.end <= hold_ &&
          std::fabs(level.median - previous.median) <= std::max(1.0, 2 * sigma_)) {
        previous.end = level.end;
        previous.median = LevelOf(Part(previous.begin, previous.end));
        return;
      }
    }
    levels.push_back(level);
  }

  // A level one in twenty of whose samples sit at the converter's end:
  // what lies beyond is not seen, so its median is not the level.
  bool Clipped(std::span<const int> level) const {
    const auto atEnd = std::count_if(level.begin(), level.end(),
                                     [&](int v) { return v <= options_.lowestStep || v >= options_.highestStep; });
    return atEnd * 20 >= static_cast<std::ptrdiff_t>(level.size());
  }

  std::span<const int> Part(std::int64_t begin, std::int64_t end) const {
    return x_.subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
  }

  // A step between two levels: the samples between them either still on
  // one of the levels (noise) or on the way from one to the other, and at
  // most longestEdge_ of those.
  std::optional<Edge> EdgeBetween(const Level& before, const Level& after) const {
    if (after.begin - before.end > hold_ + longestEdge_) return std::nullopt;
    const double from = before.median;
    const double to = after.median;
    const double height = to - from;
    if (std::fabs(height) < std::max<double>(options_.minimumHeight, 5 * sigma_)) return std::nullopt;
    const double low = std::min(from, to);
    const double high = std::max(from, to);
    int moving = 0;
    for (std::int64_t k = before.end; k < after.begin; ++k) {
      const double v = x_[static_cast<std::size_t>(k)];
      if (v < low - band_ || v > high + band_) return std::nullopt;  // something else than a step
      if (v > low + band_ / 2 && v < high - band_ / 2) ++moving;
    }
    if (moving > longestEdge_) return std::nullopt;
    Edge edge;
    edge.sign = height > 0 ? 1 : -1;
    edge.low = low;
    edge.high = high;
    edge.clipped = Clipped(Part(before.begin, before.end)) || Clipped(Part(after.begin, after.end));
    const double middle = (from + to) / 2;
    edge.at = after.begin;
    for (std::int64_t k = before.end - 1; k <= after.begin; ++k) {
      if ((x_[static_cast<std::size_t>(k)] - middle) * edge.sign >= 0) {
        edge.at = k;
        break;
      }
    }
    return edge;
  }

  std::span<const int> x_;
  int hold_;
  int longestEdge_;
  const CalibrationOptions& options_;
  double sigma_ = 0;
  double band_ = 2;
};

// A run of lead names as the user reads it: "I..aVF, C2, C4..C6".
std::string LeadList(const std::vector<LeadCalibration>& leads, LeadCalibrationState state) {
  std::string text;
  for (std::size_t i = 0; i < leads.size();) {
    if (leads[i].state != state) {
      ++i;
      continue;
    }
    std::size_t last = i;
    while (last + 1 < leads.size() && leads[last + 1].state == state) ++last;
    if (!text.empty()) text += ", ";
    text += leads[i].lead;
    if (last >= i + 2) text += ".." + leads[last].lead;
    else if (last == i + 1) text += ", " + leads[last].lead;
    i = last + 1;
  }
  return text;
}

}  // namespace

bool CalibrationResult::Found() const {
  return std::any_of(leads.begin(), leads.end(), [](const auto& l) { return l.state == LeadCalibrationState::Found; });
}

std::vector<std::string> CalibrationResult::OffLeads() const {
  std::vector<std::string> names;
  for (const LeadCalibration& lead : leads)
    if (lead.off) names.push_back(lead.lead);
  return names;
}

std::string LeadCalibrationStateText(LeadCalibrationState state) {
  switch (state) {
    case LeadCalibrationState::Found: return "found";
    case LeadCalibrationState::NoRectangle: return "no rectangle found";
    case LeadCalibrationState::Flat: return "flat";
    case LeadCalibrationState::Clipped: return "clipped";
    case LeadCalibrationState::OppositeStep: return "step of the other sign";
  }
  return {};
}

std::string CalibrationResult::Summary() const {
  if (!Found()) return "No rectangle found";
  std::string text = Fixed(meanStepsPerMv) + " steps/mV; " + LeadList(leads, LeadCalibrationState::Found) + " within " +
                     Fixed(spreadPercent) + " %";
  for (const LeadCalibration& lead : leads)
    if (lead.off) text += "; " + lead.lead + " " + Fixed(std::fabs(lead.deviation)) + " % off the others";
  for (const auto state : {LeadCalibrationState::NoRectangle, LeadCalibrationState::Flat, LeadCalibrationState::Clipped,
                           LeadCalibrationState::OppositeStep}) {
    const std::string names = LeadList(leads, state);
    if (names.empty()) continue;
    text += "; no rectangle found in " + names;
    if (state != LeadCalibrationState::NoRectangle) text += " (" + LeadCalibrationStateText(state) + ")";
  }
  return text;
}

CalibrationResult FindCalibration(const std::vector<LeadSamples>& leads, double sampleRate,
                                  const CalibrationOptions& options) {
  if (!(sampleRate > 0)) throw std::invalid_argument("a calibration needs a sample rate above 0");
  const int hold = std::max(2, static_cast<int>(std::ceil(options.minimumHold * sampleRate - 1e-9)));
  const int longestEdge = std::max(2, static_cast<int>(std::lround(options.maximumEdge * sampleRate)));
  std::vector<LeadScan> scans;
  scans.reserve(leads.size());
  for (const LeadSamples& lead : leads) scans.push_back(LeadScanner(lead.samples, hold, longestEdge, options).Scan());

  // The rectangle's step is the moment most leads step at (within half a
  // level's length); the rise before the fall when as many show either.
  const std::int64_t reach = hold / 2;
  const auto stepsNear = [&](std::int64_t at) {
    std::vector<const Edge*> near(scans.size(), nullptr);
    for (std::size_t l = 0; l < scans.size(); ++l) {
      const std::vector<Edge>& edges = scans[l].edges;  // in time order
      auto edge = std::lower_bound(edges.begin(), edges.end(), at - reach,
                                   [](const Edge& e, std::int64_t from) { return e.at < from; });
      for (; edge != edges.end() && edge->at <= at + reach; ++edge)
        if (!near[l] || std::llabs(edge->at - at) < std::llabs(near[l]->at - at)) near[l] = &*edge;
    }
    return near;
  };
  const auto signOf = [](const std::vector<const Edge*>& near) {
    int sum = 0;
    for (const Edge* edge : near) sum += edge ? edge->sign : 0;
    return sum >= 0 ? 1 : -1;
  };
  std::vector<const Edge*> best(scans.size(), nullptr);
  int bestCount = 0;
  for (const LeadScan& scan : scans) {
    for (const Edge& anchor : scan.edges) {
      const auto near = stepsNear(anchor.at);
      const int count = static_cast<int>(std::count_if(near.begin(), near.end(), [](const Edge* e) { return e; }));
      const bool better = count > bestCount || (count == bestCount && signOf(near) > signOf(best));
      if (better) best = near, bestCount = count;
    }
  }

  // The rectangle is the same 1 mV in every lead: a step of less than half
  // or more than twice the leads' usual height at that moment is something
  // else (a wave of the ECG). And it is in every lead: a moment at which
  // only a minority of the live leads step is not the rectangle.
  const int sign = signOf(best);
  std::vector<double> heights;
  for (const Edge* edge : best)
    if (edge && edge->sign == sign && !edge->clipped) heights.push_back(edge->high - edge->low);
  const double usual = Median(heights);
  for (const Edge*& edge : best)
    if (edge && edge->sign == sign && !edge->clipped &&
        (edge->high - edge->low < usual / 2 || edge->high - edge->low > usual * 2))
      edge = nullptr;
  const auto stepping = std::count_if(best.begin(), best.end(), [](const Edge* e) { return e; });
  const auto live = std::count_if(scans.begin(), scans.end(), [](const LeadScan& s) { return !s.flat; });
  if (2 * stepping <= live) std::fill(best.begin(), best.end(), nullptr);

  CalibrationResult result;
  result.rising = sign > 0;
  std::vector<double> found;
  for (std::size_t l = 0; l < leads.size(); ++l) {
    LeadCalibration lead;
    lead.lead = leads[l].name;
    const Edge* edge = best[l];
    if (scans[l].flat) lead.state = LeadCalibrationState::Flat;
    else if (!edge) lead.state = LeadCalibrationState::NoRectangle;
    else if (edge->sign != (result.rising ? 1 : -1)) lead.state = LeadCalibrationState::OppositeStep;
    else if (edge->clipped) lead.state = LeadCalibrationState::Clipped;
    else {
      lead.state = LeadCalibrationState::Found;
      lead.stepsPerMv = edge->high - edge->low;
      lead.zero = edge->low;
      lead.edge = edge->at;
      found.push_back(lead.stepsPerMv);
    }
    result.leads.push_back(lead);
  }
  if (found.empty()) return result;

  double sum = 0;
  for (double value : found) sum += value;
  result.meanStepsPerMv = sum / static_cast<double>(found.size());
  for (double value : found)
    result.spreadPercent =
        std::max(result.spreadPercent, 100 * std::fabs(value - result.meanStepsPerMv) / result.meanStepsPerMv);
  if (found.size() < 2) return result;
  for (LeadCalibration& lead : result.leads) {
    if (lead.state != LeadCalibrationState::Found) continue;
    std::vector<double> others;
    for (const LeadCalibration& other : result.leads)
      if (&other != &lead && other.state == LeadCalibrationState::Found) others.push_back(other.stepsPerMv);
    const double reference = Median(std::move(others));
    lead.deviation = 100 * (lead.stepsPerMv - reference) / reference;
    lead.off = std::fabs(lead.deviation) > options.offLimit;
  }
  return result;
}
