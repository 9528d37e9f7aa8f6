#include "Recorder.h"

#include <unistd.h>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

#include "module/AcquisitionSession.h"
#include "module/QtMainThreadDispatcher.h"
#include "module/StatusFrames.h"
#include "recording/FileIO.h"
#include "recording/RecordingFiles.h"
#include "store/LocaleFormat.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFirstSampleWait = std::chrono::seconds(3);
constexpr auto kIdentificationWait = std::chrono::seconds(2);
constexpr int kProgressIntervalMs = 1000;

// What the window would show, kept for the summary.
class RecorderView : public TSessionView {
 public:
  void SetStatusPanel(int index, std::string_view text) override { panels[index] = std::string(text); }
  void SetText(ViewText which, std::string_view text) override { texts[which] = std::string(text); }
  void ShowIdentBox() override { identified = true; }
  void RecordingStopping(bool) override {
    if (onStopped) onStopped();
  }
  void PortLost(bool) override {
    portLost = true;
    if (onPortLost) onPortLost();
  }
  void PortNotAvailable(const std::string& error) override { portError = error; }
  void ReportError(const std::string& text) override { errors.push_back(text); }

  std::string Text(ViewText which) const {
    const auto found = texts.find(which);
    return found == texts.end() ? std::string() : found->second;
  }
  std::string Panel(int index) const {
    const auto found = panels.find(index);
    return found == panels.end() ? std::string() : found->second;
  }

  std::map<int, std::string> panels;
  std::map<ViewText, std::string> texts;
  bool identified = false;
  bool portLost = false;
  std::string portError;
  std::vector<std::string> errors;
  std::function<void()> onStopped;
  std::function<void()> onPortLost;
};

// The module's identification text is single-byte (Latin-1).
std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

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

// The value of a "Pulse: 72" style panel, or null before the first frame.
std::string PanelValue(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return "null";
  std::size_t at = colon + 1;
  while (at < text.size() && text[at] == ' ') ++at;
  if (at == text.size()) return "null";
  for (std::size_t i = at; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return "null";
  return text.substr(at);
}

void WriteSummary(std::ostream& out, const RecorderView& view, const TLineQuality& q, int records, double seconds,
                  const std::string& logName, const std::string& dataName) {
  static const char* const kPanelNames[] = {"port", "transmission", "amplification", "filter", "mode", "acquisition"};
  static const std::pair<ViewText, const char*> kLabels[] = {{ViewText::RespLabel, "respiration wave"},
                                                             {ViewText::ChestLabel, "C1"},
                                                             {ViewText::RALabel, "RA"},
                                                             {ViewText::LALabel, "LA"},
                                                             {ViewText::RLLabel, "RL"},
                                                             {ViewText::LLLabel, "LL"},
                                                             {ViewText::Chest2Label, "C2"},
                                                             {ViewText::Chest3Label, "C3"},
                                                             {ViewText::Chest4Label, "C4"},
                                                             {ViewText::Chest5Label, "C5"},
                                                             {ViewText::Chest6Label, "C6"}};
  static const char* const kFrameNames[] = {"chest",          "pulse",        "respiration", "status",
                                            "identification", "chest status", "sample"};
  out << "{\"records\": " << records << ", \"seconds\": " << Number(seconds)
      << ", \"rate\": " << Number(seconds > 0 ? records / seconds : 0.0)
      << ", \"pulse\": " << PanelValue(view.Text(ViewText::PulsePanel))
      << ", \"respiration\": " << PanelValue(view.Text(ViewText::RespPanel)) << ", \"status\": {";
  for (int i = 0; i < 6; ++i) out << (i ? ", " : "") << Json(kPanelNames[i]) << ": " << Json(view.Panel(i));
  out << "}, \"electrodes\": {";
  bool first = true;
  for (const auto& [which, name] : kLabels) {
    out << (first ? "" : ", ") << Json(name) << ": " << Json(view.Text(which));
    first = false;
  }
  out << "}, \"identification\": ";
  if (view.identified) {
    out << Json(Latin1ToUtf8(view.Text(ViewText::IdentLabel)));
  } else {
    out << "null";
  }
  out << ", \"line\": {\"frames\": {";
  for (std::size_t i = 0; i < q.frames.size(); ++i)
    out << (i ? ", " : "") << Json(kFrameNames[i]) << ": " << q.frames[i];
  out << "}, \"records per second\": " << Number(q.recordsPerSecond) << ", \"bytes received\": " << q.bytesReceived
      << ", \"bytes outside frames\": " << q.bytesOutsideFrames << ", \"framer overflows\": " << q.framerOverflows
      << ", \"input overflows\": " << q.inputOverflows << ", \"parity errors\": " << q.parityErrors
      << ", \"framing errors\": " << q.framingErrors << ", \"overrun errors\": " << q.overrunErrors
      << ", \"breaks\": " << q.breaks << "}";
  if (!logName.empty()) out << ", \"files\": {\"log\": " << Json(logName) << ", \"data\": " << Json(dataName) << "}";
  out << "}\n";
}

// Writes both files as the window's save does; with `force` under temporary
// names first, then put in place of what was there.
void Save(SampleStore& store, const std::string& logName, const std::string& dataName, bool force) {
  store.At(0).channels[0] = kDataFileMarker;
  if (!force) {
    WriteRecordingFiles(store, logName, dataName, NowDateTimeText(), LocaleTimeFormatter());
    return;
  }
  const std::filesystem::path folder = std::filesystem::path(logName).parent_path();
  const std::string stem = ".ecg-record-" + std::to_string(::getpid());
  const std::string tempLog = (folder / (stem + ".log")).string();
  const std::string tempData = (folder / (stem + ".dat")).string();
  WriteRecordingFiles(store, tempLog, tempData, NowDateTimeText(), LocaleTimeFormatter());
  std::error_code error;
  std::filesystem::rename(tempData, dataName, error);
  if (!error) std::filesystem::rename(tempLog, logName, error);
  if (error) {
    std::filesystem::remove(tempLog);
    std::filesystem::remove(tempData);
    throw ERecordingFile(dataName + ": " + error.message());
  }
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
    if (!waitFor([&] { return view.identified; }, kIdentificationWait)) {
      err_ << "ecg-record: the module sent no identification within 2 s\n";
      return kExitSilent;
    }
    if (!o.Records()) out_ << Latin1ToUtf8(view.Text(ViewText::IdentLabel)) << "\n";
  }
  if (!o.Records()) return kExitDone;

  // ---- The recording.
  SampleStore& store = session.Store();
  bool finished = false;
  int exitCode = kExitDone;
  auto finish = [&] {
    if (finished) return;
    finished = true;
    if (session.Recording()) {
      // A twelve-channel record whose chest frame has not come is left out,
      // and a count of records is kept to exactly.
      if (!session.Handlers().NewestRecordComplete() && store.Count() > 0) store.SetCount(store.Count() - 1);
      if (o.records && store.Count() > *o.records) store.SetCount(*o.records);
      session.StopRecording();
    }
    loop.quit();
  };
  stop_ = finish;
  view.onStopped = [&] {  // also the run limit's stop
    finished = true;
    loop.quit();
  };
  view.onPortLost = [&] {
    err_ << "\necg-record: the port was lost; saving what was recorded\n";
    exitCode = kExitPort;
    finish();
  };
  if (o.records) {
    session.OnChunkHandled = [&] {
      const int count = store.Count();
      if (count > *o.records || (count == *o.records && session.Handlers().NewestRecordComplete())) finish();
    };
  }

  const auto started = Clock::now();
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
  session.OnChunkHandled = nullptr;
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
      Save(store, logName, dataName, o.force);
    } catch (const std::exception& error) {
      err_ << "ecg-record: saving failed: " << error.what() << "\n";
      return kExitSave;
    }
  }
  for (const std::string& error : view.errors) err_ << "ecg-record: " << error << "\n";
  WriteSummary(out_, view, quality, store.Count(), seconds, savedLog, dataName);
  return exitCode;
}
