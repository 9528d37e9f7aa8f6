#include "recording/Sidecar.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>

namespace {

// Names the file as this tool's, so another program's NAME.json beside a
// recording is not read as its sidecar.
constexpr const char* kFormatName = "ecg-recording-sidecar";
// No sidecar comes near this; anything larger is not one.
constexpr std::size_t kMaxSidecarBytes = 16u << 20;

QString Q(const std::string& text) { return QString::fromStdString(text); }

template <class T>
void Put(QJsonObject& object, const char* key, const std::optional<T>& value) {
  if (!value) return;
  if constexpr (std::is_same_v<T, std::string>) {
    object.insert(key, Q(*value));
  } else if constexpr (std::is_same_v<T, LocalDateTime>) {
    object.insert(key, Q(IsoDateTime(*value)));
  } else if constexpr (std::is_same_v<T, long long>) {
    object.insert(key, static_cast<qint64>(*value));
  } else {
    object.insert(key, *value);
  }
}

QJsonArray Texts(const std::vector<std::string>& texts) {
  QJsonArray list;
  for (const std::string& text : texts) list.append(Q(text));
  return list;
}

// Reads the fields of one JSON object; every error names the file and the
// field's path ("setup.rate_hz", "markers[2].text").
class Fields {
 public:
  Fields(const QJsonObject& object, std::string path, const std::string& file)
      : object_(object), path_(std::move(path)), file_(file) {}

  std::optional<double> Number(const char* key) const {
    const std::optional<QJsonValue> value = Get(key);
    if (!value) return std::nullopt;
    if (!value->isDouble()) Wrong(key, "a number");
    return value->toDouble();
  }
  std::optional<long long> Whole(const char* key, long long min, long long max) const {
    const std::optional<double> value = Number(key);
    if (!value) return std::nullopt;
    if (std::trunc(*value) != *value || *value < static_cast<double>(min) || *value > static_cast<double>(max))
      Wrong(key, "a whole number in " + std::to_string(min) + ".." + std::to_string(max));
    return static_cast<long long>(*value);
  }
  std::optional<int> Int(const char* key, int min, int max) const {
    const std::optional<long long> value = Whole(key, min, max);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
  }
  std::optional<bool> Bool(const char* key) const {
    const std::optional<QJsonValue> value = Get(key);
    if (!value) return std::nullopt;
    if (!value->isBool()) Wrong(key, "true or false");
    return value->toBool();
  }
  std::optional<std::string> Text(const char* key) const {
    const std::optional<QJsonValue> value = Get(key);
    if (!value) return std::nullopt;
    if (!value->isString()) Wrong(key, "a text");
    return value->toString().toStdString();
  }
  std::optional<LocalDateTime> DateTime(const char* key) const {
    const std::optional<std::string> text = Text(key);
    if (!text) return std::nullopt;
    const std::optional<LocalDateTime> when = ParseIsoDateTime(*text);
    if (!when) Wrong(key, "a date and time (YYYY-MM-DDThh:mm:ss.zzz)");
    return when;
  }
  std::optional<Fields> Object(const char* key) const {
    const std::optional<QJsonValue> value = Get(key);
    if (!value) return std::nullopt;
    if (!value->isObject()) Wrong(key, "an object");
    return Fields(value->toObject(), Path(key), file_);
  }
  // The list's elements, each checked by `read` with its own path.
  template <class Read>
  void List(const char* key, Read&& read) const {
    const std::optional<QJsonValue> value = Get(key);
    if (!value) return;
    if (!value->isArray()) Wrong(key, "a list");
    const QJsonArray list = value->toArray();
    for (qsizetype i = 0; i < list.size(); ++i) read(list.at(i), Path(key) + "[" + std::to_string(i) + "]");
  }
  template <class T>
  T Required(const char* key, std::optional<T> value) const {
    if (!value) throw ESidecarFormat(file_ + ": \"" + Path(key) + "\" is missing");
    return *value;
  }
  [[noreturn]] void WrongElement(const std::string& path, const std::string& what) const {
    throw ESidecarFormat(file_ + ": \"" + path + "\" is not " + what);
  }
  Fields Element(const QJsonValue& value, const std::string& path) const {
    if (!value.isObject()) WrongElement(path, "an object");
    return Fields(value.toObject(), path, file_);
  }
  const QJsonObject& Json() const { return object_; }

 private:
  // Absent and null both read as "not known".
  std::optional<QJsonValue> Get(const char* key) const {
    const QJsonValue value = object_.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) return std::nullopt;
    return value;
  }
  std::string Path(const char* key) const { return path_.empty() ? key : path_ + "." + key; }
  [[noreturn]] void Wrong(const char* key, const std::string& what) const { WrongElement(Path(key), what); }

  QJsonObject object_;
  std::string path_;
  const std::string& file_;
};

constexpr long long kMaxCount = 1LL << 53;  // every whole number a JSON number holds exactly

SidecarSetup ReadSetup(const Fields& f) {
  SidecarSetup setup;
  setup.rateHz = f.Int("rate_hz", 0, 1000000);
  setup.amplificationStage = f.Int("amplification_stage", 0, 255);
  setup.mainsFilterHz = f.Int("mains_filter_hz", 0, 1000);
  setup.mode = f.Text("mode");
  setup.pacer = f.Bool("pacer");
  setup.emgFilter = f.Bool("emg_filter");
  f.List("channels", [&](const QJsonValue& value, const std::string& path) {
    if (!value.isString()) f.WrongElement(path, "a text");
    setup.channels.push_back(value.toString().toStdString());
  });
  setup.twelveChannel = f.Bool("twelve_channel");
  setup.simulation = f.Bool("simulation");
  return setup;
}

SidecarIntegrity ReadIntegrity(const Fields& f) {
  SidecarIntegrity integrity;
  integrity.gaps = f.Whole("gaps", 0, kMaxCount);
  if (const std::optional<Fields> rejected = f.Object("rejected_frames")) {
    for (auto it = rejected->Json().begin(); it != rejected->Json().end(); ++it) {
      const std::string kind = it.key().toStdString();
      const QJsonValue count = it.value();
      if (!count.isDouble() || std::trunc(count.toDouble()) != count.toDouble() || count.toDouble() < 0 ||
          count.toDouble() > static_cast<double>(kMaxCount))
        f.WrongElement("integrity.rejected_frames." + kind, "a whole number of frames");
      integrity.rejectedFrames[kind] = static_cast<long long>(count.toDouble());
    }
  }
  integrity.incompleteRecordsDropped = f.Whole("incomplete_records_dropped", 0, kMaxCount);
  integrity.rateOff = f.Bool("rate_off");
  integrity.silentSpells = f.Whole("silent_spells", 0, kMaxCount);
  return integrity;
}

SidecarCalibration ReadCalibration(const Fields& f) {
  SidecarCalibration calibration;
  calibration.stage = f.Int("stage", 0, 255);
  f.List("leads", [&](const QJsonValue& value, const std::string& path) {
    const Fields lead = f.Element(value, path);
    calibration.leads.push_back({lead.Required("lead", lead.Text("lead")),
                                 lead.Required("steps_per_mv", lead.Number("steps_per_mv")),
                                 lead.Required("zero", lead.Number("zero"))});
  });
  return calibration;
}

}  // namespace

std::string SidecarPathFor(const std::string& recordingPath) {
  // Only the file name's own extension goes, never a dot of a folder name.
  const std::size_t slash = recordingPath.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = recordingPath.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return recordingPath + ".json";
  return recordingPath.substr(0, dot) + ".json";
}

std::string IsoDateTime(const LocalDateTime& when) {
  const long long ms = when.msOfDay;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02lld:%02lld:%02lld.%03lld", when.date.year, when.date.month,
                when.date.day, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return text;
}

std::optional<LocalDateTime> ParseIsoDateTime(std::string_view text) {
  std::size_t at = 0;
  // `width` digits at the read position, or nothing.
  auto digits = [&](std::size_t width) -> std::optional<int> {
    if (at + width > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const char c = text[at + i];
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    at += width;
    return value;
  };
  auto literal = [&](char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  };
  const auto year = digits(4);
  const bool dash1 = literal('-');
  const auto month = digits(2);
  const bool dash2 = literal('-');
  const auto day = digits(2);
  const bool t = literal('T');
  const auto hour = digits(2);
  const bool colon = literal(':');
  const auto minute = digits(2);
  if (!year || !dash1 || !month || !dash2 || !day || !t || !hour || !colon || !minute) return std::nullopt;
  int second = 0, millisecond = 0;
  if (literal(':')) {
    const auto s = digits(2);
    if (!s) return std::nullopt;
    second = *s;
    if (literal('.')) {
      int places = 0;
      for (; places < 3 && at < text.size(); ++places) {
        const auto d = digits(1);
        if (!d) break;
        millisecond = millisecond * 10 + *d;
      }
      if (places == 0) return std::nullopt;
      for (; places < 3; ++places) millisecond *= 10;
    }
  }
  if (at != text.size()) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || second > 59)
    return std::nullopt;
  return LocalDateTime{{*year, *month, *day}, ((*hour * 60LL + *minute) * 60 + second) * 1000 + millisecond};
}

std::string SidecarJson(const RecordingSidecar& sidecar) {
  QJsonObject root;
  root.insert("format", kFormatName);
  root.insert("version", sidecar.version);
  if (sidecar.setup) {
    const SidecarSetup& s = *sidecar.setup;
    QJsonObject setup;
    Put(setup, "rate_hz", s.rateHz);
    Put(setup, "amplification_stage", s.amplificationStage);
    Put(setup, "mains_filter_hz", s.mainsFilterHz);
    Put(setup, "mode", s.mode);
    Put(setup, "pacer", s.pacer);
    Put(setup, "emg_filter", s.emgFilter);
    setup.insert("channels", Texts(s.channels));
    Put(setup, "twelve_channel", s.twelveChannel);
    Put(setup, "simulation", s.simulation);
    root.insert("setup", setup);
  }
  Put(root, "port", sidecar.port);
  Put(root, "identification", sidecar.identification);
  Put(root, "start", sidecar.start);
  Put(root, "records", sidecar.records);
  Put(root, "measured_rate_hz", sidecar.measuredRateHz);
  if (sidecar.integrity) {
    const SidecarIntegrity& i = *sidecar.integrity;
    QJsonObject integrity;
    Put(integrity, "gaps", i.gaps);
    QJsonObject rejected;
    for (const auto& [kind, count] : i.rejectedFrames) rejected.insert(Q(kind), static_cast<qint64>(count));
    integrity.insert("rejected_frames", rejected);
    Put(integrity, "incomplete_records_dropped", i.incompleteRecordsDropped);
    Put(integrity, "rate_off", i.rateOff);
    Put(integrity, "silent_spells", i.silentSpells);
    root.insert("integrity", integrity);
  }
  if (sidecar.calibration) {
    QJsonObject calibration;
    Put(calibration, "stage", sidecar.calibration->stage);
    QJsonArray leads;
    for (const SidecarLeadCalibration& lead : sidecar.calibration->leads)
      leads.append(QJsonObject{{"lead", Q(lead.lead)}, {"steps_per_mv", lead.stepsPerMv}, {"zero", lead.zero}});
    calibration.insert("leads", leads);
    root.insert("calibration", calibration);
  }
  QJsonArray markers;
  for (const SidecarMarker& marker : sidecar.markers) {
    QJsonObject m{{"number", marker.number}, {"record", static_cast<qint64>(marker.record)}, {"text", Q(marker.text)}};
    Put(m, "time", marker.time);
    markers.append(m);
  }
  root.insert("markers", markers);
  if (sidecar.heartRate) {
    QJsonObject heart;
    Put(heart, "tool_bpm", sidecar.heartRate->toolBpm);
    Put(heart, "module_bpm", sidecar.heartRate->moduleBpm);
    Put(heart, "beats", sidecar.heartRate->beats);
    root.insert("heart_rate", heart);
  }
  Put(root, "ended_abnormally", sidecar.endedAbnormally);
  return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

RecordingSidecar ParseSidecarJson(std::string_view json, const std::string& shownName) {
  QJsonParseError error{};
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
  if (error.error != QJsonParseError::NoError)
    throw ESidecarFormat(shownName + ": not JSON (" + error.errorString().toStdString() + " at byte " +
                         std::to_string(error.offset) + ")");
  if (!document.isObject()) throw ESidecarFormat(shownName + ": not a JSON object");
  const Fields root(document.object(), "", shownName);
  if (const std::optional<std::string> format = root.Text("format"); format && *format != kFormatName)
    throw ESidecarFormat(shownName + ": a \"" + *format + "\" file, not a recording's sidecar");
  // Some mark of its kind is needed: any other JSON of the same name (a
  // program's summary saved beside the recording) would read as a sidecar
  // that knows nothing.
  if (!document.object().contains("format") && !document.object().contains("version"))
    throw ESidecarFormat(shownName + ": neither \"format\" nor \"version\": not a recording's sidecar");
  RecordingSidecar sidecar;
  sidecar.version = root.Int("version", 1, std::numeric_limits<int>::max()).value_or(kSidecarVersion);
  if (sidecar.version > kSidecarVersion)
    throw ESidecarFormat(shownName + ": written in sidecar version " + std::to_string(sidecar.version) +
                         "; this program reads up to version " + std::to_string(kSidecarVersion));
  if (const auto setup = root.Object("setup")) sidecar.setup = ReadSetup(*setup);
  sidecar.port = root.Text("port");
  sidecar.identification = root.Text("identification");
  sidecar.start = root.DateTime("start");
  sidecar.records = root.Whole("records", 0, kMaxCount);
  sidecar.measuredRateHz = root.Number("measured_rate_hz");
  if (const auto integrity = root.Object("integrity")) sidecar.integrity = ReadIntegrity(*integrity);
  if (const auto calibration = root.Object("calibration")) sidecar.calibration = ReadCalibration(*calibration);
  root.List("markers", [&](const QJsonValue& value, const std::string& path) {
    const Fields m = root.Element(value, path);
    SidecarMarker marker;
    marker.number = m.Required("number", m.Int("number", 1, 255));
    marker.record = m.Required("record", m.Whole("record", 1, kMaxCount));
    marker.time = m.DateTime("time");
    marker.text = m.Text("text").value_or("");
    sidecar.markers.push_back(marker);
  });
  if (const auto heart = root.Object("heart_rate")) {
    sidecar.heartRate =
        SidecarHeartRate{heart->Number("tool_bpm"), heart->Number("module_bpm"), heart->Whole("beats", 0, kMaxCount)};
  }
  sidecar.endedAbnormally = root.Bool("ended_abnormally");
  return sidecar;
}

void WriteSidecar(const std::string& path, const RecordingSidecar& sidecar) {
  TTemporaryFile out(path, "sid");
  out.File().Write(SidecarJson(sidecar));
  out.File().Commit();
  RenameReplacing(out.Path(), path);
  out.Keep();
  SyncFolderOf(path);
}

std::optional<RecordingSidecar> ReadSidecar(const std::string& path) {
  if (!PathExists(path)) return std::nullopt;
  TInputFile file = TInputFile::Open(path);
  std::string text;
  char chunk[65536];
  while (true) {
    const std::size_t got = file.Read(std::as_writable_bytes(std::span(chunk)));
    text.append(chunk, got);
    if (text.size() > kMaxSidecarBytes) throw ESidecarFormat(path + ": larger than any sidecar, not one");
    if (got < sizeof chunk) break;
  }
  return ParseSidecarJson(text, path);
}
