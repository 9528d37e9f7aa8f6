#pragma once
// A synthetic twelve-lead ECG with respiration, as pure functions of time.
//
// Each beat is a P wave, a QRS complex and a T wave built from Gaussian bumps.
// Leads I and II are modelled; III and the augmented leads follow from them
// (III = II - I, aVR = -(I + II) / 2, aVL = I - II / 2, aVF = II - I / 2), so
// the limb leads agree with each other exactly in millivolts. The chest leads
// C1..C6 have their own shapes, from a deep S in C1 to a tall R in C5.
#include <array>
#include <cstdint>

// Lead voltages in millivolts, in the order of the sample record.
enum SimLead : int { slI = 0, slII, slIII, slAVR, slAVL, slAVF, slC1, slC2, slC3, slC4, slC5, slC6, slLeadCount };

struct LeadVoltages {
  std::array<double, slLeadCount> mV{};
  double respiration = 0;  // -1..+1, a fraction of the respiration channel's swing
};

// One sample's bytes: I, II, III, aVR, aVL, aVF, C1, Resp, then C2..C6.
struct SampleBytes {
  std::array<std::uint8_t, 8> channels{};
  std::array<std::uint8_t, 5> chest{};
};

class SyntheticEcg {
 public:
  static constexpr int kBaseline = 128;         // byte of 0 mV
  static constexpr int kRespirationSwing = 40;  // bytes either side of the baseline

  explicit SyntheticEcg(int heartRate = 72, int respirationRate = 15);

  // Beats and breaths per minute; clamped to 20..250 and 1..60.
  void SetHeartRate(int beatsPerMinute);
  void SetRespirationRate(int breathsPerMinute);
  int HeartRate() const { return heartRate_; }
  int RespirationRate() const { return respirationRate_; }

  // The leads `seconds` after the start of the signal.
  LeadVoltages At(double seconds) const;

  // Bytes per millivolt at amplification stage index 0..3.
  static double Gain(int amplification);
  // Maps millivolts to a sample byte: baseline plus gain, rounded, clamped
  // to 0..255. Nothing keeps a value out of the frame-start range 0xF8..0xFF:
  // a strong signal at a high stage gets there, as on the real line.
  static std::uint8_t ToByte(double millivolts, int amplification);
  // Every lead and the respiration channel as bytes.
  static SampleBytes ToBytes(const LeadVoltages& leads, int amplification);

  // The calibration signal: every lead at exactly `millivolts` (the
  // rectangle's 1 mV, or its 0 mV shoulders), respiration untouched.
  static LeadVoltages Calibration(const LeadVoltages& leads, double millivolts = 1.0);

 private:
  int heartRate_;
  int respirationRate_;
};
