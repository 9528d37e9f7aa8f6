#include "simulator/SyntheticEcg.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
// One beat of one lead: amplitudes in mV of the P wave, Q, R and S, and the
// T wave. Where and how wide each wave is comes from BeatTiming.
struct LeadShape {
  double p, q, r, s, t;
};

// I and II carry the frontal plane; the chest leads go from the right
// ventricle's view (small r, deep S in C1) to the left's (tall R in C5, C6).
constexpr LeadShape kLeadI{0.08, -0.04, 0.60, -0.08, 0.18};
constexpr LeadShape kLeadII{0.14, -0.06, 1.10, -0.15, 0.28};
constexpr LeadShape kChest[6] = {
    {0.06, 0.00, 0.22, -0.85, -0.08},  // C1
    {0.08, 0.00, 0.45, -1.10, 0.35},   // C2
    {0.09, -0.02, 0.80, -0.75, 0.40},  // C3
    {0.10, -0.04, 1.25, -0.45, 0.38},  // C4
    {0.10, -0.06, 1.20, -0.25, 0.30},  // C5
    {0.09, -0.06, 0.85, -0.10, 0.22},  // C6
};

struct Wave {
  double centre;  // seconds from the R peak
  double width;   // standard deviation in seconds
};

struct BeatTiming {
  double period;   // seconds from one R peak to the next
  double rOffset;  // seconds from the beat's start to its R peak
  Wave p, q, r, s, t;
};

BeatTiming TimingFor(int heartRate) {
  BeatTiming timing{};
  timing.period = 60.0 / heartRate;
  timing.rOffset = 0.3 * timing.period;
  // The QT interval shortens with the square root of the beat period.
  const double qtScale = std::sqrt(timing.period / (60.0 / 72.0));
  timing.p = {-0.16, 0.025};
  timing.q = {-0.028, 0.009};
  timing.r = {0.0, 0.011};
  timing.s = {0.030, 0.011};
  timing.t = {0.27 * qtScale, 0.05 * qtScale};
  return timing;
}

double Bump(double t, const Wave& wave) {
  const double x = (t - wave.centre) / wave.width;
  return std::exp(-0.5 * x * x);
}

// The waves of one lead at `t` seconds from an R peak.
double BeatAt(const LeadShape& shape, const BeatTiming& timing, double t) {
  return shape.p * Bump(t, timing.p) + shape.q * Bump(t, timing.q) + shape.r * Bump(t, timing.r) +
         shape.s * Bump(t, timing.s) + shape.t * Bump(t, timing.t);
}
}  // namespace

SyntheticEcg::SyntheticEcg(int heartRate, int respirationRate) {
  SetHeartRate(heartRate);
  SetRespirationRate(respirationRate);
}

void SyntheticEcg::SetHeartRate(int beatsPerMinute) { heartRate_ = std::clamp(beatsPerMinute, 20, 250); }

void SyntheticEcg::SetRespirationRate(int breathsPerMinute) { respirationRate_ = std::clamp(breathsPerMinute, 1, 60); }

LeadVoltages SyntheticEcg::At(double seconds) const {
  const BeatTiming timing = TimingFor(heartRate_);
  // The waves of the neighbouring beats reach into this one at high rates.
  const double beat = std::floor(seconds / timing.period);
  LeadVoltages leads;
  double i = 0, ii = 0;
  std::array<double, 6> chest{};
  for (double n = beat - 1; n <= beat + 1; n += 1) {
    const double t = seconds - (n * timing.period + timing.rOffset);
    i += BeatAt(kLeadI, timing, t);
    ii += BeatAt(kLeadII, timing, t);
    for (std::size_t c = 0; c < chest.size(); ++c) chest[c] += BeatAt(kChest[c], timing, t);
  }
  leads.mV[slI] = i;
  leads.mV[slII] = ii;
  leads.mV[slIII] = ii - i;
  leads.mV[slAVR] = -(i + ii) / 2;
  leads.mV[slAVL] = i - ii / 2;
  leads.mV[slAVF] = ii - i / 2;
  for (std::size_t c = 0; c < chest.size(); ++c) leads.mV[slC1 + c] = chest[c];
  leads.respiration = std::sin(2 * std::numbers::pi * seconds * respirationRate_ / 60.0);
  return leads;
}

double SyntheticEcg::Gain(int amplification) { return 20.0 * (std::clamp(amplification, 0, 3) + 1); }

std::uint8_t SyntheticEcg::ToByte(double millivolts, int amplification) {
  const double value = std::round(kBaseline + Gain(amplification) * millivolts);
  return static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
}

SampleBytes SyntheticEcg::ToBytes(const LeadVoltages& leads, int amplification) {
  SampleBytes bytes;
  for (std::size_t lead = slI; lead <= slC1; ++lead) bytes.channels[lead] = ToByte(leads.mV[lead], amplification);
  bytes.channels[7] = static_cast<std::uint8_t>(std::lround(kBaseline + kRespirationSwing * leads.respiration));
  for (std::size_t lead = slC2; lead <= slC6; ++lead) bytes.chest[lead - slC2] = ToByte(leads.mV[lead], amplification);
  return bytes;
}

LeadVoltages SyntheticEcg::Calibration(const LeadVoltages& leads, double millivolts) {
  LeadVoltages calibration = leads;
  calibration.mV.fill(millivolts);
  return calibration;
}
