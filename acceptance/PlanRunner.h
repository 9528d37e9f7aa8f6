#pragma once
// Runs an acceptance plan against a module on a port, step after step, over
// the same acquisition session the window and ecg-record use, and judges
// every step into CheckResults.
//
// Each step begins with its own set-up (the port is opened afresh with the
// step's indices), waits a moment for the stream to settle, then does what
// its check needs: sends "I", "K", "q0" or register writes, records for the
// plan's seconds, and evaluates the records with analysis/. The line is
// watched during every step (integrity): rejected frames, stray bytes, input
// queue gaps, silent spells and device line errors, judged per check.
//
// Threads: main thread only; Run drives the Qt event loop of the calling
// thread, so a QCoreApplication (or QGuiApplication) must exist. Cancel may
// be called from that thread while Run waits (a timer, a signal notifier, a
// dialog's button): the step running ends at once, the steps left are not
// run, and the report says so.
//
// Errors: EPortNotAvailable when the port cannot be opened for the first
// step (nothing was run). A port lost or refused later makes the steps that
// cannot run end in Error, never in Pass.
#include <cstddef>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>

#include "acceptance/CheckResults.h"
#include "acceptance/TestPlan.h"

class SampleStore;

// Records per second from their arrival times (seconds, any origin, in the
// order the records came) on a line set to `nominal`. A record never arrives
// before its time on the line, but may arrive late: deliveries come in
// bursts, and on a loaded machine the tool may be held up for a while and
// then catch up. The rate is the slope of the line under the arrivals, which
// neither a burst nor a hold-up moves. NaN for fewer than 10 records.
double ArrivalRate(std::span<const double> arrivalSeconds, double nominal);

class EPortNotAvailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where a run is: step `step` (from 1) of `steps` is about to begin.
struct RunProgress {
  std::size_t step = 0;
  std::size_t steps = 0;
  std::string check;
  std::string setting;
};

class PlanRunner {
 public:
  // Told before each step.
  using ProgressHandler = std::function<void(const RunProgress&)>;
  // Told with each result as soon as it is judged.
  using ResultHandler = std::function<void(const CheckResult&)>;
  // Told after each step that recorded, with the step's records (slots
  // 1..Count()) still in the store: the place to keep them.
  using RecordedHandler = std::function<void(const RunProgress&, const SampleStore&)>;

  PlanRunner(TestPlan plan, std::string port);
  ~PlanRunner();
  PlanRunner(const PlanRunner&) = delete;
  PlanRunner& operator=(const PlanRunner&) = delete;

  ProgressHandler OnProgress;
  ResultHandler OnResult;
  RecordedHandler OnRecorded;

  // Runs every step of the plan and returns the report: the plan's header,
  // the port, the module's identification, every result in plan order, the
  // calibration plots and the measured rates. Raises EPortNotAvailable.
  RunReport Run();
  void Cancel();
  bool Cancelled() const { return cancelled_; }

  // The steps the plan makes (for a progress bar before the run).
  static std::size_t StepCount(const TestPlan& plan);

 private:
  struct Impl;
  TestPlan plan_;
  std::string port_;
  bool cancelled_ = false;
};
