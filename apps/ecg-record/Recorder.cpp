#include "Recorder.h"

#include <QEventLoop>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "module/AcquisitionSession.h"
#include "module/QtMainThreadDispatcher.h"
#include "module/SetupChoices.h"
#include "module/StatusFrames.h"
#include "recording/FileIO.h"
#include "recording/RecordingFiles.h"
#include "station/RecordingSave.h"
#include "station/SessionSidecar.h"
#include "store/LocaleFormat.h"

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
  void PulseReceived(int value) override { pulse = value; }
  void RespirationReceived(int value) override { respiration = value; }
  void RecordingStopped(bool) override {
    if (onStopped) onStopped();
  }
  void PortLost(bool, int) override {
    portLost = true;
    if (onPortLost) onPortLost();
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
  std::function<void()> onStopped;
  std::function<void()> onPortLost;
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

struct RunFacts {
  int records = 0;
  double seconds = 0;
  std::string port;
  bool dataLost = false;
  std::string logName, dataName;  // empty: nothing saved
};

void WriteSummary(std::ostream& out, const RecorderView& view, const TLineQuality& q, const RunFacts& run) {
  static const char* const kFrameNames[] = {"chest",          "pulse",        "respiration", "status",
                                            "identification", "chest status", "sample"};
  const auto number = [](int value) { return std::to_string(value); };
  out << "{\"records\": " << run.records << ", \"seconds\": " << Number(run.seconds)
      << ", \"rate\": " << Number(run.seconds > 0 ? run.records / run.seconds : 0.0)
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
    out << (i ? ", " : "") << Json(kFrameNames[i]) << ": " << q.frames[i];
  out << "}, \"records per second\": " << Number(q.recordsPerSecond) << ", \"bytes received\": " << q.bytesReceived
      << ", \"bytes outside frames\": " << q.bytesOutsideFrames << ", \"framer overflows\": " << q.framerOverflows
      << ", \"input overflows\": " << q.inputOverflows << ", \"parity errors\": " << q.parityErrors
      << ", \"framing errors\": " << q.framingErrors << ", \"overrun errors\": " << q.overrunErrors
      << ", \"breaks\": " << q.breaks << "}";
  if (!run.logName.empty())
    out << ", \"files\": {\"log\": " << Json(run.logName) << ", \"data\": " << Json(run.dataName) << "}";
  out << "}\n";
}

}  // namespace

TRecorder::TRecorder(RecorderOptions options, std::ostream& out, std::ostream& err, bool progressIsTerminal)
    : options_(std::move(options)), out_(out), err_(err), terminal_(progressIsTerminal) {}

void TRecorder::RequestStop() {
  stopRequested_ = true;
  if (stop_) stop_();
}

int TRecorder::Run() {
  const RecorderOptions& o = options_;
  const std::string logName = o.out;
  const std::string dataName = o.Records() ? DataNameForLogName(logName) : std::string();
  if (o.Records() && !o.force) {
    for (const std::string& name : {logName, dataName}) {
      if (PathExists(name)) {
        err_ << "ecg-record: " << name << " exists (--force replaces it)\n";
        return kExitUsage;
      }
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

  if (o.electrodes) session.SendElectrodeSearch();
  if (o.calibrate) session.SendCalibration();
  for (const RegisterWriteOption& write : o.registerWrites) session.SendRegisterWrite(write.address, write.bits);
  if (o.identify) {
    session.SendIdentify();
    if (!waitFor([&] { return view.identification.has_value(); }, kIdentificationWait)) {
      err_ << "ecg-record: the module sent no identification within 2 s\n";
      return kExitSilent;
    }
    if (!o.Records()) out_ << Latin1ToUtf8(*view.identification) << "\n";
  }
  if (!o.Records()) return kExitDone;

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
  view.onPortLost = [&] {
    err_ << "\necg-record: the port was lost; saving what was recorded\n";
    exitCode = kExitPort;
    finish();
  };
  // The session stops exactly at the count, inside the delivery that
  // completes the last record.
  if (o.records) session.SetRecordLimit(*o.records);

  const auto started = Clock::now();
  const auto startedAt = std::chrono::system_clock::now();
  session.StartRecording();
  QTimer progress;
  progress.setInterval(kProgressIntervalMs);
  QObject::connect(&progress, &QTimer::timeout, [&] {
    session.Tick();
    const TLineQuality q = session.LineQuality();
    char line[160];
    std::snprintf(line, sizeof line, "records %d  rate %.1f/s  outside frames %llu B%s", store.Count(),
                  q.recordsPerSecond, static_cast<unsigned long long>(q.bytesOutsideFrames),
                  session.DataLostInRecording() ? "  (data lost)" : "");
    err_ << (terminal_ ? "\r\033[K" : "") << line << (terminal_ ? "" : "\n") << std::flush;
  });
  progress.start();
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
  progress.stop();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (terminal_) err_ << "\n";

  if (silent) {
    err_ << "ecg-record: no sample frame within 3 s after the set-up (is the module connected and set up?)\n";
    return kExitSilent;
  }
  session.Tick();
  const TLineQuality quality = session.LineQuality();
  std::string savedLog = logName;
  if (store.Count() == 0) {
    err_ << "ecg-record: no records stored; nothing saved\n";
    savedLog.clear();
  } else {
    try {
      // The window's save, with --force replacing the files as a whole.
      RecordingFacts facts;
      facts.setup = o.setup;
      facts.identification = view.identification;
      facts.startedAt = startedAt;
      facts.records = store.Count();
      facts.measuredRateHz = seconds > 0 ? store.Count() / seconds : 0.0;
      facts.quality = quality;
      const TSavedRecording saved =
          RecordingSave(store, SidecarFromFacts(facts), logName, NowDateTimeText(), LocaleTimeFormatter(),
                        o.force ? ExistingFiles::Replace : ExistingFiles::Refuse);
      if (saved.sidecarError) err_ << "ecg-record: the sidecar was not written: " << *saved.sidecarError << "\n";
    } catch (const std::exception& error) {
      err_ << "ecg-record: saving failed: " << error.what() << "\n";
      return kExitSave;
    }
  }
  for (const std::string& error : view.errors) err_ << "ecg-record: " << error << "\n";
  WriteSummary(out_, view, quality,
               RunFacts{store.Count(), seconds, o.setup.port, session.DataLostInRecording(), savedLog,
                        savedLog.empty() ? std::string() : dataName});
  return exitCode;
}
