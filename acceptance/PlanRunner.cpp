#include "acceptance/PlanRunner.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "analysis/Calibration.h"
#include "analysis/SignalFigures.h"
#include "module/AcquisitionSession.h"
#include "module/FrameKinds.h"
#include "module/QtMainThreadDispatcher.h"
#include "station/RecordingAnalysis.h"

namespace {

using Clock = std::chrono::steady_clock;

// After a set-up the port has been opened afresh: its first bytes may start
// in the middle of a frame. Nothing is watched or judged before this.
constexpr auto kSettle = std::chrono::milliseconds(500);
// The loop wakes at least this often, so a wait notices its deadline and a
// cancel without any byte arriving.
constexpr int kWakeMs = 50;
// Records arriving within this of each other came in one burst.
constexpr auto kBurst = std::chrono::milliseconds(50);
// The noise check's baseline stretch.
constexpr double kBaselineSeconds = 0.2;
constexpr double kNotMeasured = std::numeric_limits<double>::quiet_NaN();

double Since(Clock::time_point from, Clock::time_point to = Clock::now()) {
  return std::chrono::duration<double>(to - from).count();
}

Clock::duration Duration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string Fixed(double value, int decimals) { return QString::number(value, 'f', decimals).toStdString(); }

std::string Joined(const std::vector<std::string>& parts, const char* separator = ", ") {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

double Median(std::vector<double> values) {
  if (values.empty()) return kNotMeasured;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

TSetupRequest Request(const StepSetup& setup, const std::string& port) {
  TSetupRequest request;
  request.port = port;
  request.indices.transmission = static_cast<std::uint8_t>(setup.transmission);
  request.indices.amplification = static_cast<std::uint8_t>(setup.amplification);
  request.indices.filter = static_cast<std::uint8_t>(setup.filter);
  request.indices.mode = static_cast<std::uint8_t>(setup.mode);
  request.indices.pacer = setup.pacer ? 1 : 0;
  request.indices.simulation = setup.simulation ? 1 : 0;
  request.emg = setup.emg;
  request.twelveChannel = setup.twelveChannel;
  request.channels = setup.channels;
  return request;
}

// What the session tells, kept for the step that waits on it.
class RunnerView : public TSessionView {
 public:
  void StatusReceived(const TModuleStatus& s) override { statuses.push_back({Clock::now(), s}); }
  void ChestStatusReceived(const std::array<bool, 5>& connected) override {
    chestStatuses.push_back({Clock::now(), connected});
  }
  void Identified(std::string_view text) override {
    if (!identification) identification = {Clock::now(), std::string(text)};
  }
  void PulseReceived(int value) override { pulses.push_back({Clock::now(), value}); }
  void RecordReady(int) override { arrivals.push_back(Clock::now()); }
  void PortNotAvailable(const std::string& error) override { portError = error; }
  void PortLost(bool, int) override { portLost = true; }
  void ReportError(const std::string& text) override { errors.push_back(text); }

  template <typename T>
  struct Stamped {
    Clock::time_point at;
    T value;
  };
  std::vector<Stamped<TModuleStatus>> statuses;
  std::vector<Stamped<std::array<bool, 5>>> chestStatuses;
  std::optional<Stamped<std::string>> identification;
  std::vector<Stamped<int>> pulses;
  std::vector<Clock::time_point> arrivals;
  std::string portError;
  bool portLost = false;
  std::vector<std::string> errors;
};

// How the line behaved over one check's steps.
struct IntegrityTally {
  std::uint64_t rejected = 0, stray = 0, gaps = 0, silent = 0, lineErrors = 0;
  std::vector<std::string> over;  // the steps that went over a limit, with what
  double seconds = 0;
  bool watched = false;
};

std::uint64_t Grown(std::uint64_t before, std::uint64_t after) { return after > before ? after - before : 0; }

}  // namespace

// The slope of the line under the arrivals: through the least late record of
// the first fifth and the least late of the last fifth, "late" measured
// against the rate itself (found again once from the first estimate).
double ArrivalRate(std::span<const double> arrivalSeconds, double nominal) {
  const std::size_t n = arrivalSeconds.size();
  if (n < 10 || !(nominal > 0)) return kNotMeasured;
  const std::size_t fifth = n / 5;
  double rate = nominal;
  for (int pass = 0; pass < 2; ++pass) {
    const auto earliest = [&](std::size_t from, std::size_t to) {
      std::size_t best = from;
      double least = std::numeric_limits<double>::infinity();
      for (std::size_t i = from; i < to; ++i) {
        const double lateness = arrivalSeconds[i] - static_cast<double>(i) / rate;
        if (lateness < least) {
          least = lateness;
          best = i;
        }
      }
      return best;
    };
    const std::size_t first = earliest(0, fifth);
    const std::size_t last = earliest(n - fifth, n);
    const double seconds = arrivalSeconds[last] - arrivalSeconds[first];
    if (!(seconds > 0)) return kNotMeasured;
    rate = static_cast<double>(last - first) / seconds;
  }
  return rate;
}

struct PlanRunner::Impl {
  Impl(PlanRunner& runner, RunReport& filled)
      : owner(runner), plan(runner.plan_), port(runner.port_), report(filled), session(dispatcher, view) {
    dispatcher.SetErrorHandler([this](const std::string& text) { view.ReportError(text); });
    wake.setInterval(kWakeMs);
    wake.start();
  }

  PlanRunner& owner;
  const TestPlan& plan;
  const std::string& port;
  RunReport& report;

  QtMainThreadDispatcher dispatcher;
  RunnerView view;
  AcquisitionSession session;
  QEventLoop loop;
  QTimer wake;  // keeps the loop turning while nothing arrives

  // The step running.
  StepSetup setup;
  RunProgress where;
  Clock::time_point stepStart;
  Clock::time_point watchFrom;
  TLineQuality before;
  std::int64_t framedBefore = 0;  // bytes cut into frames or waiting in one
  std::size_t arrivalsFrom = 0;
  int firstSlot = 1;  // the first record the step judges
  IntegrityTally tally;
  bool anyStepOpened = false;

  // Steps per mV of each lead per stage, for the stages' ratios and the
  // noise in µV.
  std::map<int, std::vector<std::pair<std::string, double>>> calibrated;

  bool Stopped() const { return owner.cancelled_ || view.portLost; }

  // Runs the loop until `done` holds, `deadline` passes, the port is lost or
  // the run is cancelled. Returns whether `done` holds.
  bool Wait(Clock::time_point deadline, const std::function<bool()>& done = {}) {
    while (!(done && done()) && !Stopped() && Clock::now() < deadline) {
      // A recording that reached the store's run limit goes on as a new one:
      // the arrivals still count, and no step judges that many records.
      if (!session.Recording()) session.StartRecording();
      // Blocks until something happens; the wake timer is such a thing.
      loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done && done();
  }

  void Add(CheckResult result) {
    if (result.seconds <= 0) result.seconds = Since(stepStart);
    if (owner.OnResult) owner.OnResult(result);
    report.results.push_back(std::move(result));
  }

  CheckResult Failure(Verdict verdict, const std::string& message) const {
    CheckResult result;
    result.check = where.check;
    result.setting = where.setting;
    result.verdict = verdict;
    result.message = message;
    return result;
  }

  // Sets the module up for the step and lets the stream settle; then the
  // line is watched. False, with an Error result given, when the step
  // cannot run.
  bool Begin(const StepSetup& stepSetup) {
    stepStart = Clock::now();
    if (session.Recording()) session.StopAtCompleteRecord();
    view.portLost = false;
    view.portError.clear();
    const TSetupResult opened = session.ApplySetup(Request(stepSetup, port));
    if (!opened.opened) {
      const std::string why = opened.error.empty() ? view.portError : opened.error;
      if (!anyStepOpened) throw EPortNotAvailable(port + ": " + why);
      Add(Failure(Verdict::Error, "the port could not be opened: " + why));
      return false;
    }
    anyStepOpened = true;
    setup = stepSetup;
    session.StartRecording();
    Wait(Clock::now() + kSettle);
    if (Interrupted()) return false;
    before = session.LineQuality();
    framedBefore = Framed();
    watchFrom = Clock::now();
    arrivalsFrom = view.arrivals.size();
    firstSlot = session.Store().Count() + 1;
    return true;
  }

  // Ends a step early with an Error when it was cancelled or lost its port.
  bool Interrupted() {
    if (owner.cancelled_) return true;
    if (view.portLost) {
      Add(Failure(Verdict::Error, "the port was lost during the step"));
      return true;
    }
    return false;
  }

  // Bytes the framers have cut into frames or hold for the frame arriving.
  std::int64_t Framed() const {
    std::uint64_t bytes = session.Framers().Counts().packetBytes;
    for (const TComDataPacket* framer : session.Framers().InBindingOrder()) {
      if (framer->InPacket()) bytes += framer->PendingBytes().size();
    }
    return static_cast<std::int64_t>(bytes);
  }

  // Records of the step holding a frame's start byte (0xF8..0xFF) as a
  // value: no sample is that high, so the frame was cut from a broken line
  // (a byte lost, or stray bytes that began a frame).
  std::uint64_t BrokenRecords() const {
    const SampleStore& store = session.Store();
    std::uint64_t broken = 0;
    for (int slot = firstSlot; slot <= store.Count(); ++slot) {
      const SampleRecord& record = store.At(slot);
      const auto high = [](std::uint8_t value) { return value >= kSampleFrameStart; };
      if (std::any_of(record.channels.begin(), record.channels.end(), high) ||
          std::any_of(record.chest.begin(), record.chest.end(), high))
        ++broken;
    }
    return broken;
  }

  // The line's figures from the end of the settling to now, into the check's tally.
  void Watch() {
    const TLineQuality after = session.LineQuality();
    const Clock::time_point now = Clock::now();
    std::uint64_t rejected = Grown(before.framerOverflows, after.framerOverflows) + BrokenRecords();
    for (std::size_t kind = 0; kind < after.framesRejected.size(); ++kind)
      rejected += Grown(before.framesRejected[kind], after.framesRejected[kind]);
    // Measured over the step itself: the session's own figure is kept since
    // it began and cannot fall when frames cut from stray bytes overlap.
    const std::int64_t outside =
        static_cast<std::int64_t>(Grown(before.bytesReceived, after.bytesReceived)) - (Framed() - framedBefore);
    const std::uint64_t stray = outside > 0 ? static_cast<std::uint64_t>(outside) : 0;
    const std::uint64_t gaps = Grown(before.inputGaps, after.inputGaps);
    const std::uint64_t lineErrors =
        Grown(before.parityErrors, after.parityErrors) + Grown(before.framingErrors, after.framingErrors) +
        Grown(before.overrunErrors, after.overrunErrors) + Grown(before.breaks, after.breaks);
    // A gap in the arrivals is a silent spell of the line unless the records
    // due in it came in a burst right after it: then the line went on and
    // the tool (or the machine) was held up.
    std::uint64_t silent = 0;
    Clock::time_point last = watchFrom;
    const auto spell = Duration(plan.integrity.silentSpellSeconds);
    const double rate = setup.SamplesPerSecond();
    for (std::size_t i = arrivalsFrom; i < view.arrivals.size(); ++i) {
      const auto gap = view.arrivals[i] - last;
      if (gap >= spell) {
        std::size_t burst = 0;
        while (i + burst < view.arrivals.size() && view.arrivals[i + burst] - view.arrivals[i] < kBurst) ++burst;
        const double due = std::chrono::duration<double>(gap).count() * rate;
        if (static_cast<double>(burst) < due / 2) ++silent;
      }
      last = view.arrivals[i];
    }
    if (now - last >= spell) ++silent;

    const IntegrityLimits& limits = plan.integrity;
    std::vector<std::string> over;
    const auto judge = [&over](std::uint64_t count, std::uint64_t most, const char* what) {
      if (count > most) over.push_back(std::to_string(count) + " " + what);
    };
    judge(rejected, limits.maxRejectedFrames, "rejected frames");
    judge(stray, limits.maxStrayBytes, "stray bytes");
    judge(gaps, limits.maxQueueGaps, "input queue gaps");
    judge(silent, limits.maxSilentSpells, "silent spells");
    judge(lineErrors, limits.maxLineErrors, "line errors");
    tally.rejected += rejected;
    tally.stray += stray;
    tally.gaps += gaps;
    tally.silent += silent;
    tally.lineErrors += lineErrors;
    tally.seconds += Since(watchFrom, now);
    tally.watched = true;
    if (!over.empty())
      tally.over.push_back((where.setting.empty() ? where.check : where.setting) + ": " + Joined(over));
  }

  void Recorded() {
    if (owner.OnRecorded) owner.OnRecorded(where, session.Store());
  }

  // Records the step's seconds, then watches the line over them.
  bool Record(double seconds) {
    Wait(watchFrom + Duration(seconds));
    if (Interrupted()) return false;
    Watch();
    Recorded();
    return true;
  }

  std::vector<LeadTrace> Leads() const {
    return RecordedLeads(session.Store(), firstSlot, session.Store().Count(), setup.twelveChannel, setup.channels);
  }

  // ---- The checks ----------------------------------------------------------

  void Identification(const IdentificationLimits& limits) {
    view.identification.reset();
    const Clock::time_point sent = Clock::now();
    session.SendIdentify();
    Wait(sent + Duration(limits.timeoutSeconds), [this] { return view.identification.has_value(); });
    if (Interrupted()) return;
    Watch();
    Recorded();
    CheckResult result = Failure(Verdict::Fail, "");
    result.limitsText = "an answer within " + Fixed(limits.timeoutSeconds, 1) + " s";
    if (!limits.pattern.empty()) result.limitsText += " matching /" + limits.pattern + "/";
    if (!view.identification) {
      result.measuredText = "no answer";
      result.message = "the module did not answer \"I\" within " + Fixed(limits.timeoutSeconds, 1) + " s";
      Add(result);
      return;
    }
    // The module's text is single-byte (Latin-1).
    const QString text = QString::fromLatin1(view.identification->value.data(),
                                             static_cast<qsizetype>(view.identification->value.size()));
    report.identification = text.toStdString();
    const double after = Since(sent, view.identification->at);
    result.measured = after;
    result.unit = "s";
    result.measuredText = "\"" + report.identification + "\" after " + Fixed(after, 2) + " s";
    const bool matches =
        limits.pattern.empty() || QRegularExpression(QString::fromStdString(limits.pattern)).match(text).hasMatch();
    if (text.isEmpty()) {
      result.message = "the answer holds no text";
    } else if (!matches) {
      result.message = "the text does not match /" + limits.pattern + "/";
    } else {
      result.verdict = Verdict::Pass;
    }
    Add(result);
  }

  void Rate(const RateLimits& limits) {
    if (!Record(limits.seconds)) return;
    const std::span<const Clock::time_point> arrivals(view.arrivals.begin() + static_cast<std::ptrdiff_t>(arrivalsFrom),
                                                      view.arrivals.end());
    const double set = setup.SamplesPerSecond();
    std::vector<double> seconds;
    seconds.reserve(arrivals.size());
    for (const auto at : arrivals) seconds.push_back(Since(watchFrom, at));
    const double rate = ArrivalRate(seconds, set);
    RateFigure figure{where.setting, set, std::nullopt, arrivals.size(), limits.seconds};
    if (std::isfinite(rate)) figure.measured = rate;
    report.rates.push_back(figure);
    CheckResult result = WithinPercent(where.check, where.setting, rate, set, limits.tolerancePercent, "/ sec");
    if (result.verdict != Verdict::Error) {
      const std::string counted = std::to_string(arrivals.size()) + " records in " + Fixed(limits.seconds, 1) + " s";
      result.message = result.message.empty() ? counted : result.message + "; " + counted;
    }
    Add(result);
  }

  void Channels(const ChannelLimits& limits) {
    if (!Record(limits.seconds)) return;
    const TLineQuality after = session.LineQuality();
    const auto grown = [&](std::size_t kind) {
      return static_cast<double>(Grown(before.frames[kind], after.frames[kind]));
    };
    // Every byte received but those of the other kinds' frames (fixed sizes)
    // belongs to the sample frames and, in twelve-channel mode, their chest
    // frames; bytes of no frame count against them, so a frame longer than
    // the set-up asks for shows.
    constexpr std::array<std::pair<std::size_t, int>, 4> kOthers{
        {{1, kPulseFrameSize}, {2, kRespFrameSize}, {3, kStatusFrameSize}, {5, kChestStatusFrameSize}}};
    double bytes = static_cast<double>(Grown(before.bytesReceived, after.bytesReceived));
    for (const auto& [kind, size] : kOthers) bytes -= grown(kind) * size;
    const double samples = grown(TModuleFramers::kSampleKind);
    const double chests = grown(TModuleFramers::kChestKind);
    const int expected = setup.SampleFrameSize() + setup.ChestFrameSize();
    const double measured = samples > 0 ? bytes / samples : kNotMeasured;
    CheckResult result = Measured(where.check, where.setting, measured, "bytes", expected - 0.25, expected + 0.25);
    result.limitsText = std::to_string(setup.SampleFrameSize()) + " bytes a sample" +
                        (setup.twelveChannel ? " + " + std::to_string(setup.ChestFrameSize()) + " a chest frame" : "");
    std::string seen = Fixed(samples, 0) + " sample frames";
    if (setup.twelveChannel) seen += ", " + Fixed(chests, 0) + " chest frames";
    const double least = 0.5 * setup.SamplesPerSecond() * limits.seconds;
    if (result.verdict == Verdict::Pass && samples < least) {
      result.verdict = Verdict::Fail;
      result.message = "too few frames: ";
    } else if (result.verdict == Verdict::Pass && setup.twelveChannel && std::abs(chests - samples) > 2) {
      result.verdict = Verdict::Fail;
      result.message = "sample and chest frames do not pair: ";
    } else if (!result.message.empty()) {
      result.message += "; ";
    }
    result.message += seen;
    Add(result);
  }

  void Calibration(const CalibrationLimits& limits, std::size_t stepIndex) {
    const StageLimits& stage = limits.stages.at(stepIndex);
    // The rectangle follows "K": the records before it are not looked at.
    firstSlot = session.Store().Count() + 1;
    session.SendCalibration();
    if (!Record(limits.seconds)) return;
    const std::vector<LeadTrace> leads = Leads();
    const double rate = setup.SamplesPerSecond();
    const CalibrationResult found = FindCalibration(AsLeadSamples(leads), rate);

    CalibrationPlot plot{where.setting, rate, {}};
    std::vector<std::string> missing, outside;
    std::vector<double> heights;
    std::vector<std::int64_t> edges;
    auto& stageLeads = calibrated[stage.stage];
    stageLeads.clear();
    for (std::size_t i = 0; i < leads.size(); ++i) {
      const LeadCalibration& lead = found.leads.at(i);
      CalibrationPlot::Lead shown{
          lead.lead, leads[i].samples, std::nullopt, 0,
          lead.state == LeadCalibrationState::Found ? "found" : LeadCalibrationStateText(lead.state)};
      if (lead.state == LeadCalibrationState::Found) {
        shown.stepsPerMv = lead.stepsPerMv;
        shown.zero = lead.zero;
        heights.push_back(lead.stepsPerMv);
        edges.push_back(lead.edge);
        stageLeads.emplace_back(lead.lead, lead.stepsPerMv);
        if (lead.stepsPerMv < stage.minStepsPerMv || lead.stepsPerMv > stage.maxStepsPerMv)
          outside.push_back(lead.lead + " " + Fixed(lead.stepsPerMv, 1));
      } else {
        std::vector<double> values(leads[i].samples.begin(), leads[i].samples.end());
        shown.zero = Median(values);
        missing.push_back(lead.lead + " (" + LeadCalibrationStateText(lead.state) + ")");
      }
      plot.leads.push_back(std::move(shown));
    }
    report.calibrations.push_back(std::move(plot));

    // The stage's height: every lead found, each within the band.
    CheckResult height =
        Measured(where.check, where.setting, Median(heights), "steps/mV", stage.minStepsPerMv, stage.maxStepsPerMv);
    std::vector<std::string> why;
    if (!missing.empty()) why.push_back("no rectangle in " + Joined(missing));
    if (!outside.empty()) why.push_back("outside the band: " + Joined(outside));
    if (!heights.empty() && !why.empty()) {
      height.verdict = Verdict::Fail;
      height.message = Joined(why, "; ");
    } else if (height.verdict == Verdict::Pass) {
      height.message = "median of " + std::to_string(heights.size()) + " leads";
    }
    Add(height);

    // Lead to lead: each lead against the median of the others.
    double worst = heights.size() >= 2 ? 0 : kNotMeasured;
    std::string worstLead;
    for (const LeadCalibration& lead : found.leads) {
      if (lead.state == LeadCalibrationState::Found && std::abs(lead.deviation) >= worst) {
        worst = std::abs(lead.deviation);
        worstLead = lead.lead;
      }
    }
    CheckResult spread =
        Measured(where.check, where.setting + " lead to lead", worst, "%", std::nullopt, limits.leadTolerancePercent);
    if (worst > 0) spread.message = (spread.message.empty() ? "" : spread.message + "; ") + "most: " + worstLead;
    Add(spread);

    // The rising edges across leads.
    const double skew = edges.size() >= 2 ? static_cast<double>(*std::max_element(edges.begin(), edges.end()) -
                                                                *std::min_element(edges.begin(), edges.end()))
                                          : kNotMeasured;
    Add(Measured(where.check, where.setting + " edges", skew, "samples", std::nullopt, limits.edgeSkewSamples));
  }

  // Each stage's height against the first stage's, as the plan's ratios say.
  void CalibrationRatios(const PlanCheck& check, const CalibrationLimits& limits) {
    if (!limits.Ratios() || limits.stages.size() < 2) return;
    const auto median = [this](int stage) {
      std::vector<double> values;
      for (const auto& lead : calibrated[stage]) values.push_back(lead.second);
      return Median(values);
    };
    const StageLimits& first = limits.stages.front();
    for (std::size_t i = 1; i < limits.stages.size(); ++i) {
      const StageLimits& stage = limits.stages[i];
      const std::string setting = check.steps[i].setting + " ratio to " + check.steps.front().setting;
      const double ratio = median(stage.stage) / median(first.stage);
      CheckResult result =
          WithinPercent(check.name, setting, ratio, *stage.ratio / *first.ratio, limits.ratioTolerancePercent, "");
      result.seconds = 0.001;
      Add(result);
    }
  }

  void Electrodes(const ElectrodeLimits& limits) {
    const Clock::time_point sent = Clock::now();
    const std::size_t statusFrom = view.statuses.size();
    const std::size_t chestFrom = view.chestStatuses.size();
    session.SendElectrodeSearch();
    const std::size_t reported = setup.twelveChannel ? kPlanElectrodeCount : kPlanLimbElectrodeCount;
    std::optional<std::array<bool, kPlanElectrodeCount>> seen;
    // The newest report after "q0" once the search is over: a status frame
    // not in the searching (or initializing) mode, and in twelve-channel mode
    // a chest status frame after it.
    const auto latest = [&]() -> std::optional<std::array<bool, kPlanElectrodeCount>> {
      if (view.statuses.size() <= statusFrom) return std::nullopt;
      const auto& status = view.statuses.back();
      if (status.value.mode == OperatingMode::Searching || status.value.mode == OperatingMode::Initializing)
        return std::nullopt;
      std::array<bool, kPlanElectrodeCount> states{};
      for (std::size_t e = 0; e < kPlanLimbElectrodeCount; ++e) states[e] = status.value.connected[e];
      if (setup.twelveChannel) {
        if (view.chestStatuses.size() <= chestFrom || view.chestStatuses.back().at < status.at) return std::nullopt;
        for (std::size_t e = 0; e < 5; ++e) states[kPlanLimbElectrodeCount + e] = view.chestStatuses.back().value[e];
      }
      return states;
    };
    const auto matches = [&] {
      seen = latest();
      return seen &&
             std::equal(seen->begin(), seen->begin() + static_cast<std::ptrdiff_t>(reported), limits.connected.begin());
    };
    Wait(sent + Duration(limits.timeoutSeconds), matches);
    if (Interrupted()) return;
    Watch();
    Recorded();
    const auto offList = [reported](const std::array<bool, kPlanElectrodeCount>& states) {
      std::vector<std::string> off;
      for (std::size_t e = 0; e < reported; ++e) {
        if (!states[e]) off.emplace_back(kPlanElectrodeNames[e]);
      }
      return off.empty() ? std::string("all connected") : "off: " + Joined(off);
    };
    CheckResult result = Failure(Verdict::Error, "");
    result.limitsText = offList(limits.connected);
    if (!seen) {
      result.message = "no status frame after the electrode search within " + Fixed(limits.timeoutSeconds, 1) + " s";
      Add(result);
      return;
    }
    result.measuredText = offList(*seen);
    const bool same =
        std::equal(seen->begin(), seen->begin() + static_cast<std::ptrdiff_t>(reported), limits.connected.begin());
    result.verdict = same ? Verdict::Pass : Verdict::Fail;
    if (!same) result.message = "the status frames report " + result.measuredText;
    Add(result);
  }

  void HeartRate(const HeartRateLimits& limits) {
    const std::size_t pulsesFrom = view.pulses.size();
    if (!Record(limits.seconds)) return;
    const ToolHeartRate figure = HeartRateOf(Leads(), setup.SamplesPerSecond());
    const double tool = figure.bpm.value_or(kNotMeasured);
    const std::string beats =
        figure.lead.empty() ? "no ECG lead recorded" : std::to_string(figure.beats) + " beats in " + figure.lead;
    double pulse = kNotMeasured;
    if (view.pulses.size() > pulsesFrom) pulse = view.pulses.back().value;
    const std::string pulseText = std::isfinite(pulse) ? Fixed(pulse, 0) + " bpm" : std::string("none");

    CheckResult agree = Measured(where.check, "tool against module", tool, "bpm",
                                 std::isfinite(pulse) ? std::optional(pulse - limits.toleranceBpm) : std::nullopt,
                                 std::isfinite(pulse) ? std::optional(pulse + limits.toleranceBpm) : std::nullopt);
    if (!std::isfinite(pulse)) {
      agree.verdict = Verdict::Error;
      agree.message = "no pulse value from the module";
    }
    agree.message += (agree.message.empty() ? "" : "; ") + ("module " + pulseText + ", " + beats);
    Add(agree);
    if (limits.expectedBpm) {
      const double low = *limits.expectedBpm - limits.toleranceBpm;
      const double high = *limits.expectedBpm + limits.toleranceBpm;
      Add(Measured(where.check, "module pulse", pulse, "bpm", low, high));
      Add(Measured(where.check, "tool", tool, "bpm", low, high));
    }
  }

  void Noise(const NoiseLimits& limits) {
    if (!Record(limits.seconds)) return;
    const std::vector<LeadTrace> leads = Leads();
    const std::size_t count = leads.empty() ? 0 : leads.front().samples.size();
    const auto window =
        static_cast<std::size_t>(std::max(3.0, std::round(kBaselineSeconds * setup.SamplesPerSecond())));
    // The baseline: the stretch where the leads together vary least (the
    // ECG's quiet time between beats is the same moment in every lead).
    std::optional<std::size_t> best;
    long long bestSum = std::numeric_limits<long long>::max();
    for (std::size_t start = 0; start + window <= count; ++start) {
      long long sum = 0;
      for (const LeadTrace& lead : leads) sum += PeakToPeak(std::span(lead.samples).subspan(start, window)).value_or(0);
      if (sum < bestSum) {
        bestSum = sum;
        best = start;
      }
    }
    double worst = kNotMeasured;
    std::string worstLead;
    double worstMicrovolts = kNotMeasured;
    std::string worstMicrovoltLead;
    const auto stage = calibrated.find(setup.amplification);
    std::size_t uncalibrated = 0;
    if (best) {
      worst = 0;
      for (const LeadTrace& lead : leads) {
        const double peak = PeakToPeak(std::span(lead.samples).subspan(*best, window)).value_or(0);
        if (peak >= worst) {
          worst = peak;
          worstLead = lead.name;
        }
        if (stage == calibrated.end()) continue;
        const auto calibration = std::find_if(stage->second.begin(), stage->second.end(),
                                              [&](const auto& found) { return found.first == lead.name; });
        if (calibration == stage->second.end()) {
          ++uncalibrated;
          continue;
        }
        const double microvolts = peak / calibration->second * 1000;
        if (!std::isfinite(worstMicrovolts) || microvolts >= worstMicrovolts) {
          worstMicrovolts = microvolts;
          worstMicrovoltLead = lead.name;
        }
      }
    }
    const std::string stretch = Fixed(kBaselineSeconds, 1) + " s baseline";
    CheckResult steps = Measured(where.check, "steps", worst, "steps", std::nullopt, limits.maxSteps);
    steps.message +=
        (steps.message.empty() ? "" : "; ") + (worst > 0 ? "most: " + worstLead + ", " + stretch : stretch);
    Add(steps);
    if (!limits.maxMicrovolts) return;
    if (stage == calibrated.end()) {
      CheckResult result = Failure(Verdict::Error, "");
      result.setting = "µV";
      result.limitsText = "<= " + Fixed(*limits.maxMicrovolts, 0) + " µV";
      result.message = "not calibrated: this run measured no rectangle at Stage " +
                       std::to_string(setup.amplification + 1) + " (add it to the calibration check)";
      Add(result);
      return;
    }
    CheckResult microvolts = Measured(where.check, "µV", worstMicrovolts, "µV", std::nullopt, *limits.maxMicrovolts);
    std::string note = worstMicrovolts > 0 ? "most: " + worstMicrovoltLead : "";
    if (uncalibrated > 0)
      note += (note.empty() ? "" : "; ") + std::to_string(uncalibrated) + " leads without a rectangle left out";
    if (!note.empty()) microvolts.message += (microvolts.message.empty() ? "" : "; ") + note;
    Add(microvolts);
  }

  void RegisterWrite(const RegisterWrite& write) {
    std::array<bool, 8> bits{};
    for (std::size_t bit = 0; bit < 8; ++bit) bits[bit] = (write.value >> (7 - bit)) & 1;
    const bool sent = session.SendRegisterWrite(std::to_string(write.address), bits);
    CheckResult result = Failure(sent ? Verdict::Sent : Verdict::Error, "");
    result.measuredText = sent ? "sent" : "not sent";
    result.limitsText = "no read-back";
    result.message = sent ? "the module's protocol has no read-back: the write was sent, not verified"
                          : "the address is not one of 0..25";
    Watch();
    Add(result);
  }

  void Integrity(const PlanCheck& check) {
    if (!plan.integrity.enabled || !tally.watched) return;
    const IntegrityLimits& l = plan.integrity;
    CheckResult result;
    result.check = "integrity";
    result.setting = check.name;
    result.seconds = tally.seconds;
    result.measuredText = std::to_string(tally.rejected) + " rejected, " + std::to_string(tally.stray) + " stray B, " +
                          std::to_string(tally.gaps) + " gaps, " + std::to_string(tally.silent) + " silent, " +
                          std::to_string(tally.lineErrors) + " line errors";
    result.limitsText = "a step at most " + std::to_string(l.maxRejectedFrames) + ", " +
                        std::to_string(l.maxStrayBytes) + " B, " + std::to_string(l.maxQueueGaps) + ", " +
                        std::to_string(l.maxSilentSpells) + " (" + Fixed(l.silentSpellSeconds, 1) + " s), " +
                        std::to_string(l.maxLineErrors);
    result.verdict = tally.over.empty() ? Verdict::Pass : Verdict::Fail;
    result.message = Joined(tally.over, "; ");
    if (owner.OnResult) owner.OnResult(result);
    report.results.push_back(std::move(result));
  }

  void Step(const PlanCheck& check, std::size_t index) {
    try {
      if (!Begin(check.steps[index].setup)) return;
      std::visit(
          [&](const auto& limits) {
            using Limits = std::decay_t<decltype(limits)>;
            if constexpr (std::is_same_v<Limits, IdentificationLimits>) Identification(limits);
            if constexpr (std::is_same_v<Limits, RateLimits>) Rate(limits);
            if constexpr (std::is_same_v<Limits, ChannelLimits>) Channels(limits);
            if constexpr (std::is_same_v<Limits, CalibrationLimits>) Calibration(limits, index);
            if constexpr (std::is_same_v<Limits, ElectrodeLimits>) Electrodes(limits);
            if constexpr (std::is_same_v<Limits, HeartRateLimits>) HeartRate(limits);
            if constexpr (std::is_same_v<Limits, NoiseLimits>) Noise(limits);
            if constexpr (std::is_same_v<Limits, RegisterWriteLimits>) RegisterWrite(limits.writes.at(index));
          },
          check.limits);
    } catch (const EPortNotAvailable&) {
      throw;
    } catch (const std::exception& error) {
      // The port's write failed, or an analysis refused its input: the step
      // measured nothing it can be judged by.
      Add(Failure(Verdict::Error, error.what()));
    }
  }
};

PlanRunner::PlanRunner(TestPlan plan, std::string port) : plan_(std::move(plan)), port_(std::move(port)) {}

PlanRunner::~PlanRunner() = default;

std::size_t PlanRunner::StepCount(const TestPlan& plan) {
  std::size_t steps = 0;
  for (const PlanCheck& check : plan.checks) steps += check.steps.size();
  return steps;
}

void PlanRunner::Cancel() { cancelled_ = true; }

RunReport PlanRunner::Run() {
  RunReport report;
  report.SetPlan(plan_);
  report.port = port_;
  report.started = QDateTime::currentDateTime();
  const Clock::time_point started = Clock::now();
  Impl impl(*this, report);
  const std::size_t steps = StepCount(plan_);
  std::size_t done = 0;
  for (const PlanCheck& check : plan_.checks) {
    impl.tally = {};
    for (std::size_t i = 0; i < check.steps.size() && !cancelled_; ++i) {
      impl.where = {done + 1, steps, check.name, check.steps[i].setting};
      if (OnProgress) OnProgress(impl.where);
      if (cancelled_) break;
      impl.Step(check, i);
      ++done;
    }
    if (cancelled_) break;
    if (const auto* calibration = std::get_if<CalibrationLimits>(&check.limits)) {
      impl.stepStart = Clock::now();
      impl.CalibrationRatios(check, *calibration);
    }
    impl.Integrity(check);
  }
  if (impl.session.Recording()) impl.session.StopAtCompleteRecord();
  if (cancelled_) {
    CheckResult result;
    result.check = "run";
    result.verdict = Verdict::Error;
    result.message = "cancelled after " + std::to_string(done) + " of " + std::to_string(steps) + " steps";
    report.results.push_back(result);
  }
  for (const std::string& error : impl.view.errors) {
    CheckResult result;
    result.check = "run";
    result.setting = "reception";
    result.verdict = Verdict::Error;
    result.message = error;
    report.results.push_back(result);
  }
  report.seconds = Since(started);
  return report;
}
