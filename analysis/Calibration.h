#pragma once
// Finding the module's 1 mV calibration rectangle in the recorded leads and
// measuring each lead's steps per mV from it.
//
// A rectangle is two levels, each held for at least 100 ms, with a quick step
// between them, at the same moment and of the same sign in every lead that
// shows it. Its height in steps is the median of the high level less the
// median of the low one, which is 1 mV; the low level is the lead's zero.
// Nothing is guessed: a lead with no such step, a flat lead, a lead whose
// level sits at the converter's end (clipped) or whose step goes the other
// way is reported as such and gets no figure.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct CalibrationOptions {
  int lowestStep = 0;  // the converter's range: a level at either end is clipped
  int highestStep = 247;
  double minimumHold = 0.100;  // seconds each level lasts at least
  double maximumEdge = 0.040;  // seconds the step may take (at least two samples)
  int minimumHeight = 5;       // steps: a smaller step is not a rectangle
  double offLimit = 5.0;       // percent from the other leads that names a lead
};

enum class LeadCalibrationState {
  Found,
  NoRectangle,   // no step at the rectangle's time
  Flat,          // no signal at all: a dead lead
  Clipped,       // a level at the converter's end: the height is unknown
  OppositeStep,  // a step of the other sign from the other leads
};

struct LeadCalibration {
  std::string lead;
  LeadCalibrationState state = LeadCalibrationState::NoRectangle;
  double stepsPerMv = 0;   // the rectangle's height (Found only)
  double zero = 0;         // the low level, in steps (Found only)
  std::int64_t edge = -1;  // the first sample past the middle of the step (Found only)
  double deviation = 0;    // percent from the median of the other found leads
  bool off = false;        // |deviation| above the options' offLimit
};

struct CalibrationResult {
  std::vector<LeadCalibration> leads;  // in the order given
  bool rising = true;                  // the step found is the rectangle's start (else its end)
  double meanStepsPerMv = 0;           // over the leads found
  double spreadPercent = 0;            // the largest distance of a found lead from that mean

  bool Found() const;  // in at least one lead
  std::vector<std::string> OffLeads() const;
  // "40.0 steps/mV; I..C6 within 1.5 %", then "; II 10.2 % off the others"
  // and "; no rectangle found in V4 (flat)" as they apply; "No rectangle
  // found" when no lead has one.
  std::string Summary() const;
};

struct LeadSamples {
  std::string name;              // I, II, III, aVR, aVL, aVF, C1..C6
  std::span<const int> samples;  // raw steps
};

// std::invalid_argument for a sample rate not above 0.
CalibrationResult FindCalibration(const std::vector<LeadSamples>& leads, double sampleRate,
                                  const CalibrationOptions& options = {});

std::string LeadCalibrationStateText(LeadCalibrationState state);
