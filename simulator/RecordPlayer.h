#pragma once
// A recorded ECG played as the module's leads instead of the synthetic one:
// a WFDB record (header .hea beside its signal files, and its beat
// annotations .atr when there are any), so that a detector or a display can
// be checked against a reference record over the whole line.
//
// Which signal feeds which lead:
// - A record of twelve signals or more is a twelve-lead record: the leads
//   take the signals of their names (I, II, III, aVR, aVL, aVF, V1..V6 as
//   C1..C6; any letter case) when every one is there, else the first twelve
//   signals in that order.
// - Otherwise the first signal is lead II and the second (the first again in
//   a record of one) stands in for lead I and for each of C1..C6; III, aVR,
//   aVL and aVF follow from I and II as in a module (III = II - I, aVR =
//   -(I + II) / 2, aVL = I - II / 2, aVF = II - I / 2). Only lead II is then
//   the record's own lead; the others are real waveforms that keep the limb
//   leads consistent with each other.
//
// The record plays from its start at whatever rate the module is set to,
// and starts over at its end. PlayAt() resamples it to that rate with a
// low-pass (analysis/Resample.h) when the record's own rate is a whole
// number; otherwise, and before PlayAt(), each value is interpolated
// linearly between the record's samples. Values are millivolts (µV and V
// converted); the caller turns them into the set stage's steps.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "simulator/SyntheticEcg.h"

// The value `position` samples into `samples`, linear between neighbours.
// The signal repeats: a position past the end (or before the start) is
// taken modulo its length, and the last sample runs on into the first.
double InterpolateLooped(const std::vector<int>& samples, double position);

class RecordPlayer {
 public:
  // Reads the record; raises ESimulator naming the file and what is wrong
  // (unreadable, no samples, a played signal not in volts, a broken .atr).
  explicit RecordPlayer(const std::string& headerPath);

  // Resamples the record for `rate` samples per second; for a set-up, as
  // it takes a moment (about 0.2 s for record 100's 30 minutes).
  void PlayAt(int rate);
  // The twelve leads `seconds` into the playback; respiration stays 0.
  LeadVoltages At(double seconds) const;
  // Beats per minute over the annotated beats of the last 10 s played, or
  // the whole record's mean where those are fewer than two; nothing when the
  // record has no annotations.
  std::optional<int> HeartRate(double seconds) const;
  double Duration() const;  // seconds, one pass
  // For the log, e.g. "100: 360 samples/s, 1805 s; II = MLII, I and C1..C6 = V5, 2273 beats annotated".
  const std::string& Description() const { return description_; }

 private:
  struct Signal {
    std::vector<int> samples;
    int zero = 0;                  // the step value of 0 mV
    double stepsPerMillivolt = 1;  // the record's own steps
    std::vector<int> resampled{};  // at playRate_; empty: `samples` are played
  };
  double Millivolts(std::size_t signal, double position) const;

  double frequency_ = 0;
  double playRate_ = 0;                 // samples per second of what is played
  std::size_t length_ = 0;              // samples per signal
  std::vector<Signal> signals_;         // the ones played, in the record's order
  std::array<std::size_t, 12> lead_{};  // twelve-lead: the signal of each lead I..C6
  bool twelveLead_ = false;
  std::vector<double> beats_;  // seconds from the record's start
  std::string description_;
};
