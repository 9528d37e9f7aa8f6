#pragma once
// Changing a signal's sample rate by the ratio of two whole rates (360 to
// 300, 150, 100 or 50 samples/s and back), with a windowed-sinc low-pass
// whose stop band starts below the lower rate's half: what lies above it is
// removed before decimating instead of folding back onto the ECG.
//
// The pass band is flat to about 0.4 of the lower rate (20 Hz at 50/s); the
// stop band is about 80 dB down. The signal is held at its first and last
// value beyond its ends, so a signal on a large offset (raw steps) does not
// ring at its edges, and a constant signal stays that constant.
#include <cstdint>
#include <vector>

// The output's sample n lies at time n / toRate; it covers the input's span:
// floor((size - 1) * toRate / fromRate) + 1 samples. std::invalid_argument
// for a rate not above 0.
std::vector<double> Resample(const std::vector<double>& samples, int fromRate, int toRate);
// The same on whole steps, each output rounded to the nearest step.
std::vector<int> ResampleSteps(const std::vector<int>& samples, int fromRate, int toRate);

// The sample at the other rate nearest to the same time (for annotations).
std::int64_t ResampledIndex(std::int64_t index, int fromRate, int toRate);
