#include "analysis/SignalFigures.h"

#include <algorithm>
#include <cmath>

std::optional<int> PeakToPeak(std::span<const int> samples) {
  if (samples.empty()) return std::nullopt;
  const auto [lowest, highest] = std::minmax_element(samples.begin(), samples.end());
  return *highest - *lowest;
}

std::optional<double> MeasuredRate(std::int64_t records, double seconds) {
  if (!(seconds > 0) || !std::isfinite(seconds) || records < 0) return std::nullopt;
  return static_cast<double>(records) / seconds;
}

std::optional<double> MeasuredRateBetween(std::int64_t records, double firstSeconds, double lastSeconds) {
  if (records < 2) return std::nullopt;
  return MeasuredRate(records - 1, lastSeconds - firstSeconds);
}

std::optional<double> RateDeviationPercent(double measured, double nominal) {
  if (!(nominal > 0) || !std::isfinite(measured)) return std::nullopt;
  return 100 * (measured - nominal) / nominal;
}
