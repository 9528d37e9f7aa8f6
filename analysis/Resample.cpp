#include "analysis/Resample.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace {

// Where the low-pass ends, as a share of the lower rate, and how many of the
// sinc's zero crossings each side it keeps: with the Kaiser window below the
// transition band is about 5 / kZeroCrossings of the cut-off wide, so it
// spans 0.39..0.46 of the lower rate, under its half.
constexpr double kCutoff = 0.42;
constexpr int kZeroCrossings = 32;
constexpr double kKaiserBeta = 8.0;  // about 80 dB stop band

double BesselI0(double x) {
  double sum = 1;
  double term = 1;
  for (int k = 1; k < 50 && term > sum * 1e-17; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

// The filter's taps for each of the `up` phases, each normalised to a sum
// of 1 (the gain at 0 Hz); phase p sits p/up of an input sample past the
// input sample `reach - 1` taps into it.
struct Polyphase {
  int reach = 0;
  std::vector<std::vector<double>> phases;
};

Polyphase Design(int fromRate, int toRate, std::int64_t up) {
  const double cutoff = kCutoff * std::min(fromRate, toRate) / fromRate;  // cycles per input sample
  const double halfWidth = kZeroCrossings / (2 * cutoff);                 // in input samples
  Polyphase filter;
  filter.reach = static_cast<int>(std::ceil(halfWidth));
  const double windowNorm = BesselI0(kKaiserBeta);
  for (std::int64_t p = 0; p < up; ++p) {
    std::vector<double> taps;
    const double fraction = static_cast<double>(p) / static_cast<double>(up);
    for (int j = -filter.reach + 1; j <= filter.reach; ++j) {
      const double distance = fraction - j;  // from the tap's input sample to the output's time
      const double x = distance / halfWidth;
      double tap = 0;
      if (std::fabs(x) < 1) {
        const double arg = 2 * cutoff * distance;
        const double sinc = arg == 0 ? 1 : std::sin(std::numbers::pi * arg) / (std::numbers::pi * arg);
        tap = sinc * BesselI0(kKaiserBeta * std::sqrt(1 - x * x)) / windowNorm;
      }
      taps.push_back(tap);
    }
    const double sum = std::accumulate(taps.begin(), taps.end(), 0.0);
    for (double& tap : taps) tap /= sum;
    filter.phases.push_back(std::move(taps));
  }
  return filter;
}

void CheckRates(int fromRate, int toRate) {
  if (fromRate <= 0 || toRate <= 0)
    throw std::invalid_argument("sample rates must be above 0 (" + std::to_string(fromRate) + " to " +
                                std::to_string(toRate) + ")");
}

}  // namespace

std::vector<double> Resample(const std::vector<double>& samples, int fromRate, int toRate) {
  CheckRates(fromRate, toRate);
  if (samples.empty() || fromRate == toRate) return samples;
  const int common = std::gcd(fromRate, toRate);
  const std::int64_t up = toRate / common;
  const std::int64_t down = fromRate / common;
  const auto inputs = static_cast<std::int64_t>(samples.size());
  const std::int64_t outputs = (inputs - 1) * up / down + 1;
  const Polyphase filter = Design(fromRate, toRate, up);
  const auto at = [&](std::int64_t k) {
    return samples[static_cast<std::size_t>(std::clamp<std::int64_t>(k, 0, inputs - 1))];
  };

  std::vector<double> result(static_cast<std::size_t>(outputs));
  for (std::int64_t n = 0; n < outputs; ++n) {
    const std::int64_t position = n * down;
    const std::int64_t base = position / up;
    const std::vector<double>& taps = filter.phases[static_cast<std::size_t>(position % up)];
    const std::int64_t first = base - filter.reach + 1;
    double sum = 0;
    if (first >= 0 && first + static_cast<std::int64_t>(taps.size()) <= inputs) {
      const double* x = samples.data() + first;
      for (std::size_t j = 0; j < taps.size(); ++j) sum += taps[j] * x[j];
    } else {
      for (std::size_t j = 0; j < taps.size(); ++j) sum += taps[j] * at(first + static_cast<std::int64_t>(j));
    }
    result[static_cast<std::size_t>(n)] = sum;
  }
  return result;
}

std::vector<int> ResampleSteps(const std::vector<int>& samples, int fromRate, int toRate) {
  const std::vector<double> resampled = Resample(std::vector<double>(samples.begin(), samples.end()), fromRate, toRate);
  std::vector<int> steps(resampled.size());
  std::transform(resampled.begin(), resampled.end(), steps.begin(),
                 [](double v) { return static_cast<int>(std::lround(v)); });
  return steps;
}

std::int64_t ResampledIndex(std::int64_t index, int fromRate, int toRate) {
  CheckRates(fromRate, toRate);
  // Whole-number arithmetic, rounding half up: no drift over a long record.
  return (2 * index * toRate + fromRate) / (2 * static_cast<std::int64_t>(fromRate));
}
