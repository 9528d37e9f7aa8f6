#include "Recorder.h"

#include <unistd.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "module/AcquisitionSession.h"
#include "module/QtMainThreadDispatcher.h"
#include "module/SetupChoices.h"
#include "module/SetupCommand.h"
#include "module/StatusFrames.h"
#include "recording/DataFileAppender.h"
#include "recording/FileIO.h"
#include "recording/RecordingFiles.h"
#include "recording/Repair.h"
#include "station/CalibrationMemory.h"
#include "station/RecordingAnalysis.h"
#include "station/RecordingMeasures.h"
#include "station/RecordingSave.h"
#include "station/SessionSidecar.h"
#include "store/LocaleFormat.h"
#include "store/NumberText.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFirstSampleWait = std::chrono::seconds(3);
constexpr auto kIdentificationWait = std::chrono::seconds(2);
constexpr int kProgressIntervalMs = 1000;

// What the session reports, kept for the summary.
class RecorderView : public TSessionView {
 public:
  void StatusReceived(const TModuleStatus& s) override { status = s; }
  void ChestStatusReceived(const std::array<bool, 5>& connected) override { chestConnected = connected; }
  void Identified(std::string_view text) override { identification.emplace(text); }
  void PulseReceived(int value) override {
    pulse = value;
    if (onPulse) onPulse(value);
  }
  void RespirationReceived(int value) override { respiration = value; }
  void RecordReady(int slot) override {
    if (onRecordReady) onRecordReady(slot);
  }
  void RecordingStopped(bool) override {
    if (onStopped) onStopped();
  }
  void PortLost(bool, int) override {
    portLost = true;
    if (onPortLost) onPortLost();
  }
  void Reconnected(bool) override {
    if (onReconnected) onReconnected();
  }
  void PortNotAvailable(const std::string& error) override { portError = error; }
  void ReportError(const std::string& text) override { errors.push_back(text); }

  std::optional<TModuleStatus> status;
  std::optional<std::array<bool, 5>> chestConnected;
  std::optional<std::string> identification;  // the module's bytes
  std::optional<int> pulse;
  std::optional<int> respiration;
  bool portLost = false;
  std::string portError;
  std::vector<std::string> errors;
  std::function<void(int)> onRecordReady;
  std::function<void(int)> onPulse;
  std::function<void()> onStopped;
  std::function<void()> onPortLost;
  std::function<void()> onReconnected;
};

// The port's absences during a recording (--reconnect): how many, and how
// long in all, up to any moment.
class PortAbsences {
 public:
  void Lost(Clock::time_point now) {
    ++count_;
    lostAt_ = now;
  }
  void Back(Clock::time_point now) {
    if (!lostAt_) return;
    done_ += now - *lostAt_;
    lostAt_.reset();
  }
  int Count() const { return count_; }
  bool Now() const { return lostAt_.has_value(); }
  double SecondsUntil(Clock::time_point now) const {
    const Clock::duration open = lostAt_ ? now - *lostAt_ : Clock::duration::zero();
    return std::chrono::duration<double>(done_ + open).count();
  }

 private:
  int count_ = 0;
  Clock::duration done_{};
  std::optional<Clock::time_point> lostAt_;
};

// JSON string of a UTF-8 text.
std::string Json(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

template <typename T, typename Write>
std::string OrNull(const std::optional<T>& value, Write write) {
  return value ? write(*value) : std::string("null");
}

std::string Bool(bool value) { return value ? "true" : "false"; }

// A set-up item's name, or null for an index without one.
std::string Item(const RadioGroupChoice& choice, int index) {
  const std::string_view item = ChoiceItem(choice, index);
  return item.empty() ? std::string("null") : Json(item);
}

// The figures of a stretch: `now` less `then`, for the counters the
// integrity is judged by.
TLineQuality Difference(const TLineQuality& now, const TLineQuality& then) {
  TLineQuality d = now;
  auto less = [](std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; };
  for (std::size_t kind = 0; kind < d.frames.size(); ++kind) {
    d.frames[kind] = less(now.frames[kind], then.frames[kind]);
    d.framesRejected[kind] = less(now.framesRejected[kind], then.framesRejected[kind]);
  }
  d.inputGaps = less(now.inputGaps, then.inputGaps);
  d.inputOverflows = less(now.inputOverflows, then.inputOverflows);
  d.silentSpells = less(now.silentSpells, then.silentSpells);
  d.chestMissingRecords = less(now.chestMissingRecords, then.chestMissingRecords);
  d.incompleteRecordsDropped = less(now.incompleteRecordsDropped, then.incompleteRecordsDropped);
  return d;
}

// The integrity of a long recording stretch by stretch (an hour each): each
// closed at the first tick past its end, so its figures and its length are
// taken at the same moment. The rate is measured over the time the port was
// there.
class IntegrityLog {
 public:
  IntegrityLog(const AcquisitionSession& session, const PortAbsences& absences, Clock::time_point start,
               std::chrono::milliseconds period)
      : session_(session),
        absences_(absences),
        period_(period),
        from_(start),
        atFrom_(session.RecordingLineQuality()) {}

  void Tick(Clock::time_point now, long long records) {
    if (now - from_ >= period_) Close(now, records);
  }
  void End(Clock::time_point now, long long records) {
    if (records > recordsAtFrom_ || periods_.empty()) Close(now, records);
  }
  const std::vector<IntegrityFigures>& Periods() const { return periods_; }

 private:
  void Close(Clock::time_point now, long long records) {
    const TLineQuality q = session_.RecordingLineQuality();
    IntegrityFigures f;
    f.seconds = std::chrono::duration<double>(now - from_).count();
    f.records = records - recordsAtFrom_;
    f.quality = Difference(q, atFrom_);
    f.expectedRate = session_.ExpectedRate();
    f.portGaps = absences_.Count() - gapsAtFrom_;
    f.secondsWithoutPort = absences_.SecondsUntil(now) - withoutPortAtFrom_;
    const double withPort = f.seconds - f.secondsWithoutPort;
    f.measuredRate = withPort > 0 ? static_cast<double>(f.quality.SampleFrames()) / withPort : 0.0;
    // A stretch too short to measure (the end of a run) is not judged.
    f.rateOff = withPort >= 2 && RateIsOffBy(f.measuredRate, f.expectedRate);
    periods_.push_back(f);
    from_ = now;
    atFrom_ = q;
    recordsAtFrom_ = records;
    gapsAtFrom_ = absences_.Count();
    withoutPortAtFrom_ = absences_.SecondsUntil(now);
  }

  const AcquisitionSession& session_;
  const PortAbsences& absences_;
  std::chrono::milliseconds period_;
  Clock::time_point from_;
  TLineQuality atFrom_;
  long long recordsAtFrom_ = 0;
  int gapsAtFrom_ = 0;
  double withoutPortAtFrom_ = 0;
  std::vector<IntegrityFigures> periods_;
};

std::string FramesRejectedJson(const TLineQuality& q) {
  std::string out = "{";
  for (std::size_t i = 0; i < q.framesRejected.size(); ++i)
    out += (i ? ", " : "") + Json(kFrameKindNames[i]) + ": " + std::to_string(q.framesRejected[i]);
  return out + "}";
}

std::string StretchJson(const IntegrityFigures& f) {
  const TLineQuality& q = f.quality;
  return "\"seconds\": " + Number(f.seconds) + ", \"records\": " + std::to_string(f.records) +
         ", \"measured rate\": " + Number(f.measuredRate) + ", \"rate off\": " + Bool(f.rateOff) +
         ", \"input gaps\": " + std::to_string(q.inputGaps) + ", \"frames rejected\": " + FramesRejectedJson(q) +
         ", \"silent spells\": " + std::to_string(q.silentSpells) + ", \"port gaps\": " + std::to_string(f.portGaps) +
         ", \"seconds without port\": " + Number(f.secondsWithoutPort) +
         ", \"chest missing records\": " + std::to_string(q.chestMissingRecords) +
         ", \"incomplete records dropped\": " + std::to_string(q.incompleteRecordsDropped);
}

std::string IntegrityJson(const IntegrityFigures& total, const std::vector<std::string>& reasons,
                          const std::vector<IntegrityFigures>& periods) {
  std::string out = "{\"whole\": " + Bool(reasons.empty()) + ", \"reasons\": [";
  for (std::size_t i = 0; i < reasons.size(); ++i) out += (i ? ", " : "") + Json(reasons[i]);
  out +=
      "], \"expected rate\": " + std::to_string(total.expectedRate) + ", " + StretchJson(total) + ", \"per hour\": [";
  double from = 0;
  for (std::size_t i = 0; i < periods.size(); ++i) {
    out += (i ? ", {" : "{") + std::string("\"from\": ") + Number(from) + ", " + StretchJson(periods[i]) + "}";
    from += periods[i].seconds;
  }
  return out + "]}";
}

struct RunFacts {
  long long records = 0;
  double seconds = 0;
  std::string port;
  bool dataLost = false;
  std::string integrity;                       // the "integrity" object
  std::string calibration;                     // the "calibration" object; empty: none
  std::string heartRate;                       // the "heart_rate" object
  std::string markers;                         // the "markers" array
  std::string logName, dataName, sidecarName;  // empty: nothing saved
};

void WriteSummary(std::ostream& out, const RecorderView& view, const TLineQuality& q, const RunFacts& run) {
  const auto number = [](int value) { return std::to_string(value); };
  out << "{\"records\": " << run.records << ", \"seconds\": " << Number(run.seconds)
      << ", \"rate\": " << Number(run.seconds > 0 ? static_cast<double>(run.records) / run.seconds : 0.0)
      << ", \"pulse\": " << OrNull(view.pulse, number) << ", \"respiration\": " << OrNull(view.respiration, number)
      << ", \"port\": " << Json(run.port) << ", \"port lost\": " << Bool(view.portLost)
      << ", \"data lost\": " << Bool(run.dataLost);
  // What the module last said it runs with.
  out << ", \"settings\": " << OrNull(view.status, [](const TModuleStatus& s) {
    return "{\"transmission\": " + Item(TransBoxChoice, s.settings.transmission) +
           ", \"amplification\": " + Item(AmpBoxChoice, s.settings.amplification) +
           ", \"filter\": " + Item(FilterBoxChoice, s.settings.filter) + ", \"emg\": " + Bool(s.settings.emg) + "}";
  });
  out << ", \"mode\": "
      << OrNull(view.status ? view.status->mode : std::nullopt,
                [](OperatingMode mode) { return Json(OperatingModeName(mode)); })
      << ", \"mode code\": " << OrNull(view.status, [](const TModuleStatus& s) { return std::to_string(s.modeCode); })
      << ", \"respiration wave\": "
      << OrNull(view.status, [](const TModuleStatus& s) { return Bool(s.respirationTransmitted); });
  // Each electrode: connected, or null until a frame has said.
  std::array<std::optional<bool>, kElectrodeCount> electrodes{};
  if (view.status) {
    for (std::size_t i = 0; i < kStatusFrameElectrodes.size(); ++i)
      electrodes[static_cast<std::size_t>(kStatusFrameElectrodes[i])] = view.status->connected[i];
  }
  if (view.chestConnected) {
    for (std::size_t i = 0; i < kChestStatusElectrodes.size(); ++i)
      electrodes[static_cast<std::size_t>(kChestStatusElectrodes[i])] = (*view.chestConnected)[i];
  }
  out << ", \"electrodes\": {";
  for (std::size_t i = 0; i < kElectrodeCount; ++i) {
    out << (i ? ", " : "") << Json(ElectrodeName(static_cast<ElectrodeId>(i))) << ": "
        << OrNull(electrodes[i], [](bool connected) { return Bool(connected); });
  }
  out << "}, \"identification\": "
      << OrNull(view.identification, [](const std::string& text) { return Json(Latin1ToUtf8(text)); });
  out << ", \"line\": {\"frames\": {";
  for (std::size_t i = 0; i < q.frames.size(); ++i)
    out << (i ? ", " : "") << Json(kFrameKindNames[i]) << ": " << q.frames[i];
  // Each kind of loss apart, so a noisy line never reads as no errors.
  out << "}, \"frames rejected\": " << FramesRejectedJson(q)
      << ", \"records per second\": " << Number(q.recordsPerSecond) << ", \"bytes received\": " << q.bytesReceived
      << ", \"bytes outside frames\": " << q.bytesOutsideFrames << ", \"framer overflows\": " << q.framerOverflows
      << ", \"input overflows\": " << q.inputOverflows << ", \"input gaps\": " << q.inputGaps
      << ", \"silent spells\": " << q.silentSpells << ", \"parity errors\": " << q.parityErrors
      << ", \"framing errors\": " << q.framingErrors << ", \"overrun errors\": " << q.overrunErrors
      << ", \"breaks\": " << q.breaks << "}";
  if (!run.integrity.empty()) out << ", \"integrity\": " << run.integrity;
  if (!run.calibration.empty()) out << ", \"calibration\": " << run.calibration;
  if (!run.heartRate.empty()) out << ", \"heart_rate\": " << run.heartRate;
  if (!run.markers.empty()) out << ", \"markers\": " << run.markers;
  if (!run.logName.empty()) {
    out << ", \"files\": {\"log\": " << Json(run.logName) << ", \"data\": " << Json(run.dataName);
    if (!run.sidecarName.empty()) out << ", \"sidecar\": " << Json(run.sidecarName);
    out << "}";
  }
  out << "}\n";
}

// The bytes of a command as they go on the line.
std::string HexBytes(std::string_view bytes) {
  std::string out;
  char hex[4];
  for (const char c : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += (out.empty() ? "" : " ") + std::string(hex);
  }
  return out;
}

// How often a streamed run's data file is offered its flush when no record
// comes: the schedule's "at least once a second" holds through silences.
constexpr int kStreamTickMs = 250;

std::string MeasuredCalibrationJson(const CalibrationResult& found, int stage) {
  std::string out = "{\"stage\": " + std::to_string(stage) +
                    ", \"source\": \"measured\", \"found\": " + Bool(found.Found()) +
                    ", \"text\": " + Json(CalibrationText(found, stage)) + ", \"leads\": {";
  for (std::size_t i = 0; i < found.leads.size(); ++i) {
    const LeadCalibration& lead = found.leads[i];
    const bool measured = lead.state == LeadCalibrationState::Found;
    out += (i ? ", " : "") + Json(lead.lead) +
           ": {\"state\": " + Json(measured ? "found" : LeadCalibrationStateText(lead.state)) +
           ", \"steps per mV\": " + (measured ? Number(lead.stepsPerMv) : "null") +
           ", \"zero\": " + (measured ? Number(lead.zero) : "null") +
           ", \"deviation\": " + (measured ? Number(lead.deviation) : "null") + ", \"off\": " + Bool(lead.off) + "}";
  }
  return out + "}}";
}

std::string RememberedCalibrationJson(const SidecarCalibration& kept) {
  std::string out = "{\"stage\": " + std::to_string(kept.stage.value_or(0)) +
                    ", \"source\": \"remembered\", \"found\": true, \"leads\": {";
  for (std::size_t i = 0; i < kept.leads.size(); ++i) {
    out += (i ? ", " : "") + Json(kept.leads[i].lead) + ": {\"steps per mV\": " + Number(kept.leads[i].stepsPerMv) +
           ", \"zero\": " + Number(kept.leads[i].zero) + "}";
  }
  return out + "}}";
}

std::string HeartRateJson(const ToolHeartRate& tool, std::optional<double> moduleBpm) {
  const auto bpm = [](double value) { return FixedText(value, 1); };
  return "{\"tool_bpm\": " + OrNull(tool.bpm, bpm) + ", \"module_bpm\": " + OrNull(moduleBpm, bpm) +
         ", \"beats\": " + std::to_string(tool.beats) +
         ", \"lead\": " + (tool.lead.empty() ? std::string("null") : Json(tool.lead)) + "}";
}

std::string MarkersJson(const std::vector<SidecarMarker>& markers) {
  std::string out = "[";
  for (std::size_t i = 0; i < markers.size(); ++i) {
    out += (i ? ", " : "") + std::string("{\"number\": ") + std::to_string(markers[i].number) +
           ", \"record\": " + std::to_string(markers[i].record) + ", \"text\": " + Json(markers[i].text) + "}";
  }
  return out + "]";
}

// The text of a mark input line "mark [TEXT]", or nothing for another line.
std::optional<std::string> MarkText(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (line != "mark" && line.rfind("mark ", 0) != 0) return std::nullopt;
  std::string text = line.substr(std::min<std::size_t>(line.size(), 5));
  // The sidecar keeps a line of text: control characters would break it.
  std::erase_if(text, [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  return text;
}

}  // namespace

bool RateIsOffBy(double measured, int expected) {
  return expected > 0 && std::abs(measured - expected) > 0.02 * expected;
}

std::vector<std::string> DataLossReasons(const IntegrityFigures& f) {
  const TLineQuality& q = f.quality;
  std::vector<std::string> reasons;
  auto times = [](std::uint64_t n) { return std::to_string(n) + (n == 1 ? " time" : " times"); };
  if (q.inputGaps > 0) reasons.push_back("input lost " + times(q.inputGaps) + " (the input queue overflowed)");
  if (const std::uint64_t rejected = q.RejectedFrames(); rejected > 0)
    reasons.push_back(std::to_string(rejected) + (rejected == 1 ? " frame" : " frames") + " rejected as broken");
  if (f.rateOff) {
    char text[120];
    std::snprintf(text, sizeof text, "the module sent %.1f records/s, the set-up asks for %d/s (more than 2 %% off)",
                  f.measuredRate, f.expectedRate);
    reasons.emplace_back(text);
  }
  if (q.silentSpells > 0) reasons.push_back("the line went silent for more than 1 s " + times(q.silentSpells));
  if (f.portGaps > 0) {
    char text[120];
    std::snprintf(text, sizeof text, "the port was lost %s (%.1f s without it)",
                  times(static_cast<std::uint64_t>(f.portGaps)).c_str(), f.secondsWithoutPort);
    reasons.emplace_back(text);
  }
  if (q.chestMissingRecords > 0)
    reasons.push_back(std::to_string(q.chestMissingRecords) + " twelve-channel records without their chest leads");
  return reasons;
}

TRecorder::TRecorder(RecorderOptions options, std::ostream& out, std::ostream& err, bool progressIsTerminal)
    : options_(std::move(options)), out_(out), err_(err), terminal_(progressIsTerminal) {}

void TRecorder::RequestStop() {
  stopRequested_ = true;
  if (stop_) stop_();
}

void TRecorder::RequestMark(const std::string& text) {
  if (mark_) mark_(text);
}

int TRecorder::Run() {
  const RecorderOptions& o = options_;
  const ExistingFiles existing = o.force ? ExistingFiles::Replace : ExistingFiles::Refuse;
  const TSaveNames names = SaveNamesFor(o.out);
  // Before the module is touched: a name that cannot be saved must not cost
  // a recording.
  if (o.Records()) {
    try {
      CheckSaveTarget(names, existing);
    } catch (const ENameTaken& error) {
      err_ << "ecg-record: " << error.what() << " (--force replaces it)\n";
      return kExitUsage;
    } catch (const ERecordingFile& error) {
      err_ << "ecg-record: --out: " << error.what() << "\n";
      return kExitUsage;
    }
  }

  QtMainThreadDispatcher dispatcher;
  RecorderView view;
  AcquisitionSession session(dispatcher, view);
  dispatcher.SetErrorHandler([&view](const std::string& text) { view.ReportError(text); });

  const TSetupResult setup = session.ApplySetup(o.setup);
  if (!setup.opened) {
    err_ << "ecg-record: Com-Port not available !!! " << o.setup.port << ": " << view.portError << "\n";
    return kExitPort;
  }

  QEventLoop loop;
  auto waitFor = [&](const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition() && !stopRequested_ && !view.portLost && Clock::now() < deadline) {
      loop.processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return condition();
  };

  // Each service command says what went on the line.
  try {
    if (o.electrodes) {
      session.SendElectrodeSearch();
      err_ << "ecg-record: sent the electrode search (" << HexBytes(kElectrodeSearchCommand) << ")\n";
    }
    if (o.calibrate) {
      session.SendCalibration();
      err_ << "ecg-record: sent the calibration signal (" << HexBytes(kCalibrationCommand) << ")\n";
    }
    for (const RegisterWriteOption& write : o.registerWrites) {
      session.SendRegisterWrite(write.address, write.bits);
      const unsigned value = RegisterValue(write.bits);
      err_ << "ecg-record: sent register " << *ParseRegisterAddress(write.address) << " = " << value << " ("
           << HexBytes(BuildRegisterWrite(write.address, write.bits).value_or("")) << ")\n";
    }
    if (o.identify) {
      session.SendIdentify();
      err_ << "ecg-record: sent the identification request (" << HexBytes(kIdentifyCommand) << ")\n";
    }
  } catch (const std::exception& error) {
    err_ << "ecg-record: sending to " << o.setup.port << " failed: " << error.what() << "\n";
    return kExitPort;
  }
  if (o.identify) {
    if (!waitFor([&] { return view.identification.has_value(); }, kIdentificationWait)) {
      err_ << "ecg-record: the module sent no identification within 2 s\n";
      return kExitSilent;
    }
    if (!o.Records()) out_ << Latin1ToUtf8(*view.identification) << "\n";
  }
  if (!o.Records()) {
    out_.flush();
    if (!out_) {
      err_ << "ecg-record: the identification could not be written to stdout\n";
      return kExitSummary;
    }
    return kExitDone;
  }

  // ---- The recording.
  SampleStore& store = session.Store();
  bool finished = false;
  int exitCode = kExitDone;
  // Ends the recording between deliveries (the clock, a signal, a lost
  // port): a twelve-channel record still waiting for its chest frame is left
  // out, so every record saved is whole.
  auto finish = [&] {
    if (finished) return;
    finished = true;
    session.StopAtCompleteRecord();
    loop.quit();
  };
  stop_ = finish;
  view.onStopped = [&] {  // also the record limit's and the run limit's stop
    finished = true;
    loop.quit();
  };
  PortAbsences absences;
  view.onPortLost = [&] {
    if (!o.reconnect) {
      err_ << "\necg-record: the port was lost; saving what was recorded\n";
      exitCode = kExitPort;
      finish();
      return;
    }
    absences.Lost(Clock::now());
    err_ << "\necg-record: the port was lost; trying it again every second\n";
  };
  view.onReconnected = [&] {
    absences.Back(Clock::now());
    err_ << "\necg-record: the port is back; the recording goes on (the gap is marked)\n";
  };

  // Records reported complete, in order; with --stream each goes to the data
  // file at once, and the count ends the run (the store's limit does not).
  long long records = 0;
  int lastReadySlot = 0;  // the store's slot of the newest record reported complete
  std::unique_ptr<TDataFileAppender> appender;
  std::optional<std::string> streamError;
  // What the tool measures on the way: the heart rate over every record,
  // the calibration after "K" (sent before the recording) in its first
  // seconds, the markers.
  const int stage = o.setup.indices.amplification + 1;
  RecordingMeasures measures(session.ExpectedRate(), o.setup.twelveChannel, o.setup.channels, stage);
  // The session outlives what its view's callbacks reach: closing the port
  // at its end still delivers what the line held. Whichever way Run leaves,
  // the callbacks go first.
  struct CallbacksOff {
    RecorderView& view;
    ~CallbacksOff() {
      view.onRecordReady = nullptr;
      view.onPulse = nullptr;
      view.onStopped = nullptr;
      view.onPortLost = nullptr;
      view.onReconnected = nullptr;
    }
  } callbacksOff{view};
  if (o.calibrate) measures.CalibrationSent(1);
  view.onPulse = [&](int value) { measures.PulseReceived(value); };
  view.onRecordReady = [&](int slot) {
    if (o.records && records >= *o.records) return;
    ++records;
    lastReadySlot = slot;
    measures.Add(store, slot);
    if (!appender) return;
    try {
      appender->Append(store.At(slot), Clock::now());
    } catch (const std::exception& error) {
      streamError = error.what();
      session.StopRecording();
      return;
    }
    // Every record stored has been written: the store starts over, so the
    // run limit never comes.
    if (store.Count() >= rewindAt_ && slot == store.Count() && session.NewestRecordComplete()) {
      store.BeginRecording();
      lastReadySlot = 0;
    }
    if (o.records && records >= *o.records) session.StopRecording();
  };
  // The session stops exactly at the count, inside the delivery that
  // completes the last record.
  if (o.records && !o.stream) session.SetRecordLimit(static_cast<int>(*o.records));

  const auto started = Clock::now();
  session.StartRecording();
  // The rectangle of a "K" sent before the recording begins with it.
  if (o.calibrate) {
    if (const std::optional<SidecarMarker> marker = measures.AddMarker(1, RecordingMeasures::kCalibrationMarkerText))
      session.AddMarker(static_cast<std::uint8_t>(marker->number));
  }
  if (o.stream) {
    try {
      if (o.force) RemoveQuietly(names.logPath);  // an older log must not sit beside the new data file
      RemoveStaleTemporaries(names.logPath);      // as a save does: what a killed save left
      appender = std::make_unique<TDataFileAppender>(names.dataPath, store.At(0), started, o.force);
      RecordingSidecar begun = SessionSidecar(session);
      begun.records.reset();
      WriteSidecar(names.sidecarPath, begun);
    } catch (const std::exception& error) {
      err_ << "ecg-record: " << error.what() << "\n";
      if (appender) RemoveQuietly(names.dataPath);
      return kExitSave;
    }
  }
  IntegrityLog integrity(session, absences, started, period_);
  auto recordCount = [&] { return o.stream ? records : static_cast<long long>(store.Count()); };
  mark_ = [&](const std::string& text) {
    if (finished || !session.Recording()) return;
    // The record that will carry it: the next one stored, numbered in the file.
    const std::optional<SidecarMarker> marker = measures.AddMarker(records + (store.Count() - lastReadySlot) + 1, text);
    if (!marker) {
      err_ << "\necg-record: marker not added: a recording holds " << RecordingMeasures::kMaxMarkers << "\n";
      return;
    }
    session.AddMarker(static_cast<std::uint8_t>(marker->number));
    err_ << (terminal_ ? "\r\033[K" : "") << "ecg-record: marker " << marker->number << " at record " << marker->record
         << (text.empty() ? "" : ": " + text) << "\n";
  };
  std::unique_ptr<QSocketNotifier> markReader;
  std::string markLine;
  if (markInput_ >= 0) {
    markReader = std::make_unique<QSocketNotifier>(markInput_, QSocketNotifier::Read);
    QObject::connect(markReader.get(), &QSocketNotifier::activated, [&] {
      char buffer[512];
      const ssize_t got = ::read(markInput_, buffer, sizeof buffer);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
      if (got <= 0) {
        markReader->setEnabled(false);  // the end of the input: no more marks from it
        return;
      }
      markLine.append(buffer, static_cast<std::size_t>(got));
      for (std::size_t end; (end = markLine.find('\n')) != std::string::npos;) {
        const std::string line = markLine.substr(0, end);
        markLine.erase(0, end + 1);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (const std::optional<std::string> text = MarkText(line)) {
          RequestMark(*text);
        } else {
          err_ << "\necg-record: input not understood (a line \"mark [TEXT]\" adds a marker): " << line << "\n";
        }
      }
      if (markLine.size() > 4096) markLine.clear();  // no line end in sight: not a mark
    });
  }
  QTimer progress;
  progress.setInterval(kProgressIntervalMs);
  QObject::connect(&progress, &QTimer::timeout, [&] {
    if (o.reconnect && session.PortLostNow()) session.TryReconnect();
    session.Tick();
    integrity.Tick(Clock::now(), recordCount());
    const TLineQuality q = session.LineQuality();
    char line[160];
    std::snprintf(line, sizeof line, "records %lld  rate %.1f/s  outside frames %llu B%s%s", recordCount(),
                  q.recordsPerSecond, static_cast<unsigned long long>(q.bytesOutsideFrames),
                  session.DataLostInRecording() ? "  (data lost)" : "",
                  session.PortLostNow() ? "  port lost - reconnecting..." : "");
    err_ << (terminal_ ? "\r\033[K" : "") << line << (terminal_ ? "" : "\n") << std::flush;
  });
  progress.start();
  QTimer flushing;
  if (appender) {
    flushing.setInterval(kStreamTickMs);
    QObject::connect(&flushing, &QTimer::timeout, [&] {
      try {
        appender->Tick(Clock::now());
      } catch (const std::exception& error) {
        streamError = error.what();
        finish();
      }
    });
    flushing.start();
  }
  bool silent = false;
  QTimer::singleShot(kFirstSampleWait, &loop, [&] {
    if (session.LineQuality().SampleFrames() > 0 || finished) return;
    silent = true;
    finish();
  });
  if (o.seconds) {
    // Precise: a coarse timer may end a long recording up to 5 % early.
    QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(*o.seconds * 1000)), Qt::PreciseTimer, &loop,
                       finish);
  }
  if (stopRequested_) finish();
  if (!finished) loop.exec();
  stop_ = nullptr;
  mark_ = nullptr;
  markReader.reset();
  progress.stop();
  flushing.stop();
  const auto ended = Clock::now();
  const double seconds = std::chrono::duration<double>(ended - started).count();
  if (terminal_) err_ << "\n";
  session.Tick();
  integrity.End(ended, recordCount());
  const long long saved = recordCount();
  if (o.reconnect && absences.Now()) {
    err_ << "ecg-record: the port did not come back; saving what was recorded\n";
    exitCode = kExitPort;
  }
  // A recording shorter than the rectangle's seconds is measured as it is.
  measures.End(store, lastReadySlot);
  const ToolHeartRate& tool = measures.HeartRate();
  const std::optional<double> moduleBpm = measures.ModuleBpm();
  const std::string identification = session.Identification();
  const std::optional<CalibrationResult>& calibration = measures.Calibration();
  std::optional<SidecarCalibration> keptCalibration;
  if (calibration) {
    err_ << "ecg-record: " << CalibrationText(*calibration, stage) << "\n";
    if (calibration->Found()) {
      keptCalibration = measures.FoundCalibration();
      if (settings_ && !identification.empty()) {
        RememberCalibration(*settings_, identification, *keptCalibration);
      } else if (settings_) {
        err_ << "ecg-record: the calibration is not kept for later: the module did not identify itself "
                "(--identify)\n";
      }
    }
  } else if (settings_) {
    keptCalibration = RememberedCalibration(*settings_, identification, stage);
  }
  if (const std::optional<std::string> apart = HeartRateDisagreement(tool, moduleBpm))
    err_ << "ecg-record: heart rate: " << *apart << "\n";

  // Nothing recorded: no files are left to look like a recording.
  auto dropStream = [&] {
    appender.reset();
    RemoveQuietly(names.dataPath);
    RemoveQuietly(names.sidecarPath);
  };
  if (silent) {
    if (appender) dropStream();
    err_ << "ecg-record: no sample frame within 3 s after the set-up (is the module connected and set up?)\n";
    return kExitSilent;
  }
  const TLineQuality quality = session.LineQuality();
  RunFacts run;
  run.records = saved;
  run.seconds = seconds;
  run.port = o.setup.port;
  run.dataLost = session.DataLostInRecording();
  if (streamError) {
    // The data file holds every record up to the last flush; its log and
    // sidecar are made from it below all the same.
    err_ << "ecg-record: writing " << names.dataPath << " failed: " << *streamError << "\n";
    exitCode = kExitSave;
  }
  if (saved == 0) {
    if (appender) dropStream();
    err_ << "ecg-record: the recording ended before its first record; nothing saved\n";
    exitCode = kExitNothingSaved;
  } else {
    try {
      RecordingSidecar sidecar = SessionSidecar(session);
      measures.FillSidecar(sidecar, keptCalibration);
      if (appender) {
        try {
          appender->Finish();
        } catch (const std::exception& error) {
          if (!streamError) err_ << "ecg-record: writing " << names.dataPath << " failed: " << error.what() << "\n";
          exitCode = kExitSave;
        }
        appender.reset();
        CompleteOptions complete;
        complete.endedAbnormally = session.PortLostNow() || exitCode == kExitSave;
        complete.replaceLog = o.force;
        complete.sidecar = sidecar;
        const CompletedRecording done =
            CompleteRecording(names.dataPath, NowDateTimeText(), LocaleTimeFormatter(), complete);
        run.records = done.records;
        run.sidecarName = done.sidecarPath;
      } else {
        // The window's save, with --force replacing the files as a whole.
        const TSavedRecording files =
            RecordingSave(store, sidecar, names.logPath, NowDateTimeText(), LocaleTimeFormatter(), existing);
        if (files.sidecarError) err_ << "ecg-record: the sidecar was not written: " << *files.sidecarError << "\n";
        else run.sidecarName = names.sidecarPath;
      }
      run.logName = names.logPath;
      run.dataName = names.dataPath;
    } catch (const std::exception& error) {
      err_ << "ecg-record: saving failed: " << error.what() << "\n";
      return kExitSave;
    }
  }
  for (const std::string& error : view.errors) err_ << "ecg-record: " << error << "\n";

  IntegrityFigures total;
  total.seconds = seconds;
  total.records = run.records;
  total.measuredRate = session.MeasuredRate();
  total.expectedRate = session.ExpectedRate();
  total.rateOff = session.RateIsOff();
  total.quality = session.RecordingLineQuality();
  total.portGaps = absences.Count();
  total.secondsWithoutPort = absences.SecondsUntil(ended);
  const std::vector<std::string> reasons = DataLossReasons(total);
  for (const std::string& reason : reasons) err_ << "ecg-record: data lost: " << reason << "\n";
  run.dataLost = run.dataLost || !reasons.empty();
  run.integrity = IntegrityJson(total, reasons, integrity.Periods());
  if (calibration) run.calibration = MeasuredCalibrationJson(*calibration, stage);
  else if (keptCalibration) run.calibration = RememberedCalibrationJson(*keptCalibration);
  run.heartRate = HeartRateJson(tool, moduleBpm);
  run.markers = MarkersJson(measures.Markers());
  if (exitCode == kExitDone && !reasons.empty()) exitCode = kExitDataLost;

  WriteSummary(out_, view, quality, run);
  out_.flush();
  if (!out_) {
    // The files are whole; only the report of them is missing.
    err_ << "ecg-record: the summary could not be written to stdout; the files are kept\n";
    return exitCode == kExitDone || exitCode == kExitDataLost ? kExitSummary : exitCode;
  }
  return exitCode;
}
