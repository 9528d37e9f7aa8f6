#pragma once
// The results of an acceptance run: one CheckResult per check and setting,
// and the run around them. Every writer (JUnit, JSON, the verdict table)
// takes the same RunReport, so the files and the screen can never disagree.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QDateTime>

#include "acceptance/TestPlan.h"

enum class Verdict {
  Pass,   // measured within the limits
  Fail,   // measured outside the limits
  Error,  // nothing could be measured (no answer, no frames, the port went away)
  Sent,   // sent and not verifiable: the protocol has no read-back (register writes)
};
// "pass", "fail", "error", "sent": the JSON's words; the table shows them in capitals.
std::string_view VerdictName(Verdict verdict);

struct CheckResult {
  std::string check;    // the plan's check name, e.g. "rate"
  std::string setting;  // e.g. "100 / sec", "Stage 2 lead II"; empty when the check has one step
  Verdict verdict = Verdict::Error;
  // A measured number with its unit, and the range it had to lie in (an end
  // left out is open). For what is not a number (an identification text,
  // electrode states) measuredText and limitsText say it instead.
  std::optional<double> measured;
  std::string unit;  // "/ sec", "steps/mV", "%", "bpm", "steps", "µV", "samples"
  std::optional<double> low;
  std::optional<double> high;
  std::string measuredText;
  std::string limitsText;
  std::string message;  // why it failed, what was seen; may be empty on a pass
  double seconds = 0;   // how long the step took
};

// measuredText, else the number with its unit ("99.87 / sec"), else "-".
std::string MeasuredText(const CheckResult& result);
// limitsText, else the range with its unit ("99.00 .. 101.00 / sec", "<= 3 steps", ">= 1"), else "-".
std::string LimitsText(const CheckResult& result);
// The name of a JUnit testcase and a table row: the setting, else the check.
std::string CaseName(const CheckResult& result);

// A number checked against a range: Pass inside it (ends included), Fail
// outside, Error when `measured` is not a finite number (nothing measured
// must never count as within the limits). Fills in a message on Fail and Error.
CheckResult Measured(std::string check, std::string setting, double measured, std::string unit,
                     std::optional<double> low, std::optional<double> high, double seconds = 0);
// The range ±percent around `target`.
CheckResult WithinPercent(std::string check, std::string setting, double measured, double target, double percent,
                          std::string unit, double seconds = 0);

// One stage's calibration rectangle as recorded in every lead, for the
// report's plots: the samples around the rectangle and what was found.
struct CalibrationPlot {
  struct Lead {
    std::string name;                  // I, II, III, aVR, aVL, aVF, C1..C6
    std::vector<int> samples;          // steps
    std::optional<double> stepsPerMv;  // the rectangle's height when found
    double zero = 0;                   // its low level (found), else the median
    std::string state;                 // "found", else why not ("flat", "no rectangle", ...)
  };
  std::string stage;  // "Stage 2"
  double samplesPerSecond = 0;
  std::vector<Lead> leads;
};

// A transmission setting's rate as measured.
struct RateFigure {
  std::string setting;  // "100 / sec"
  double set = 0;       // samples per second
  std::optional<double> measured;
  std::uint64_t records = 0;
  double seconds = 0;
};

struct RunReport {
  std::string planName;
  std::string planSource;  // the plan file as named on the command line
  std::string planSha256;
  std::string port;
  std::string identification;  // the module's answer to "I", when it gave one
  QDateTime started;           // local time
  double seconds = 0;          // the whole run
  std::vector<CheckResult> results;
  std::vector<CalibrationPlot> calibrations;
  std::vector<RateFigure> rates;

  // The run's header fields from the plan (name, source, checksum).
  void SetPlan(const TestPlan& plan);
};

struct RunCounts {
  std::size_t tests = 0;
  std::size_t passed = 0;
  std::size_t failures = 0;
  std::size_t errors = 0;
  std::size_t sent = 0;
};
RunCounts Counts(const RunReport& report);

// 0 when no result failed or ended in error (sent writes do not fail a
// run), else 1. A run without results is 1: it has shown nothing.
int ExitCode(const RunReport& report);
