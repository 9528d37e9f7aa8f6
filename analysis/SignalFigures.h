#pragma once
// Small figures of a recorded signal for the checks of a module: the
// peak-to-peak of a stretch (noise on a baseline), the sample rate actually
// received, and its distance from the rate that was set.
#include <cstdint>
#include <optional>
#include <span>

// Largest less smallest sample of the stretch; nullopt for an empty one.
std::optional<int> PeakToPeak(std::span<const int> samples);

// Records per second: `records` received over `seconds`, the span they
// arrived in (a window of the clock, not first-to-last record, which would
// count one interval fewer). nullopt when no time has passed.
std::optional<double> MeasuredRate(std::int64_t records, double seconds);

// The same from the arrival times of the first and the last record: the
// records between them are one interval fewer than their count. nullopt for
// fewer than two records or no time between them.
std::optional<double> MeasuredRateBetween(std::int64_t records, double firstSeconds, double lastSeconds);

// How far the measured rate is from the set one, in percent of the set one
// (+1.0: one percent fast). nullopt for a set rate not above 0.
std::optional<double> RateDeviationPercent(double measured, double nominal);
