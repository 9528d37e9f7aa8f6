#include "recording/RecordingExport.h"

#include <edflib.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <numeric>
#include <utility>

#include "chart/TracePlot.h"
#include "recording/DataFileReader.h"
#include "store/NumberText.h"

namespace {

constexpr long long kMsPerDay = 86400000;
constexpr double kSecondsPerDay = 86400;
// Digital range of every signal: the module's sample bytes as they are
// (0xF8..0xFF start frames and never occur as samples; a byte above 247 in
// an old file is written as 247).
constexpr int kSampleMax = 247;
// Records per block of the rate estimate: enough that records delivered
// together in one read average out within a block.
constexpr long long kIntervalBlock = 100;
// A pause is also longer than this many sample periods.
constexpr double kPauseSamples = 5;
// A rate the time stamps give that is further off the chosen rate than this
// is reported.
constexpr double kRateTolerance = 0.02;
// EDFlib cuts an annotation's text at 40 bytes and holds at most 64
// annotation signals, each one annotation per data record.
constexpr std::size_t kAnnotationBytes = 40;
constexpr long long kMaxAnnotationSignals = 64;
// The recording field holds 80 characters; "Startdate dd-MMM-yyyy X X " takes
// 26 of them, the equipment (the identification) and the set-up the rest.
constexpr std::size_t kRecordingFieldRoom = 80 - 26;
// Largest physical value an 8-character header field holds with its sign
// and a decimal place or two.
constexpr double kMaxPhysical = 999999;

std::string Number(long long value) { return std::to_string(value); }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

void ThrowIfEmpty(const RecordingSurvey& survey, const std::string& path) {
  if (survey.count <= 0) throw ERecordingFile("Cannot export to " + Quoted(path) + ": the recording holds no records");
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t EpochMsOf(const LocalDateTime& when) {
  std::tm local{};
  local.tm_year = when.date.year - 1900;
  local.tm_mon = when.date.month - 1;
  local.tm_mday = when.date.day;
  local.tm_sec = static_cast<int>(when.msOfDay / 1000);
  local.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&local)) * 1000 + when.msOfDay % 1000;
}

CalendarDate LocalDateOf(std::int64_t epochMs) {
  const std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

// Cut to at most `bytes` without splitting a UTF-8 character.
std::string CutUtf8(std::string text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

// Header fields are printable ASCII.
std::string HeaderText(std::string_view text) {
  std::string out;
  for (char c : text) out.push_back(c >= 0x20 && c <= 0x7E ? c : '_');
  return out;
}

// Control characters have no place in an annotation's text.
std::string AnnotationText(std::string_view text) {
  std::string out;
  for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
  return CutUtf8(out, kAnnotationBytes);
}

void ExtendRuns(std::vector<RecordRun>& runs, long long index) {
  if (!runs.empty() && runs.back().first + runs.back().length == index) {
    ++runs.back().length;
  } else {
    runs.push_back({index, 1});
  }
}

std::string Plural(long long count, const std::string& one, const std::string& many) {
  return Number(count) + " " + (count == 1 ? one : many);
}

// One annotation of the EDF+ file; onset and duration in units of 100 µs
// (EDFlib's), duration -1 for none.
struct Annotation {
  long long onset = 0;
  long long duration = -1;
  std::string text;
  bool essential = false;  // kept first when not all fit
};

// Everything decided before a byte is written.
struct Plan {
  ExportReport report;
  std::vector<ChartChannel> signals;
  std::vector<std::optional<SidecarLeadCalibration>> calibration;  // per signal
  std::string prefilter;                                           // per signal, the same for all
  std::string equipment, setup;                                    // the recording field's parts
  std::vector<Annotation> annotations;                             // EDF+ only
  long long padding = 0;                                           // samples after the last record (EDF+)
};

int ChooseRate(const RecordingSurvey& survey, const ExportOptions& options, const std::string& path, Plan& plan) {
  ExportReport& report = plan.report;
  // 0: none (a plain int: the optional trips a false uninitialised warning)
  int sidecarRate = 0;
  if (options.sidecar && options.sidecar->setup) sidecarRate = options.sidecar->setup->rateHz.value_or(0);
  if (sidecarRate != 0 && (sidecarRate < kMinExportRate || sidecarRate > kMaxExportRate)) {
    report.notes.emplace_back("the sidecar's rate of " + Number(sidecarRate) +
                              " per second is outside 1..1000: not used");
    sidecarRate = 0;
  }
  if (options.sampleRate && (*options.sampleRate < kMinExportRate || *options.sampleRate > kMaxExportRate))
    throw ERecordingFile("Cannot export to " + Quoted(path) + ": a sample rate of " + Number(*options.sampleRate) +
                         " per second is outside 1..1000");
  if (survey.medianInterval && *survey.medianInterval > 0) report.measuredRate = 1.0 / *survey.medianInterval;

  if (sidecarRate != 0) {
    report.rateSource = RateSource::Sidecar;
    report.rate = sidecarRate;
  } else if (options.sampleRate) {
    report.rateSource = RateSource::Given;
    report.rate = *options.sampleRate;
  } else if (survey.badTimes > 0) {
    throw ENoClock(Quoted(path) +
                   " not written: " + Plural(survey.badTimes, "record has a time stamp", "records have time stamps") +
                   " that " + (survey.badTimes == 1 ? "is" : "are") +
                   " no time of day (NaN, infinite or outside 0..24 h; the first is record " +
                   Number(survey.badTimeRuns.front().first + 1) +
                   "), so the time stamps give no clock: the sample rate must be given");
  } else if (report.measuredRate) {
    report.rateSource = RateSource::Estimated;
    report.rate = NearestModuleRate(*report.measuredRate);
    report.notes.emplace_back("rate " + Number(report.rate) +
                              "/s estimated from the time stamps (their median interval gives " +
                              FixedText(*report.measuredRate, 1) + "/s)");
  } else {
    report.rateSource = RateSource::Assumed;
    report.rate = 300;
    report.notes.emplace_back("too few time stamps to estimate the rate: 300/s assumed");
  }
  if (report.measuredRate && report.rateSource != RateSource::Estimated &&
      std::abs(*report.measuredRate - report.rate) > kRateTolerance * report.rate)
    report.notes.emplace_back("the time stamps give " + FixedText(*report.measuredRate, 1) + "/s, not " +
                              Number(report.rate) + "/s");
  if (report.rateSource == RateSource::Estimated &&
      std::abs(*report.measuredRate - report.rate) > kRateTolerance * report.rate)
    report.notes.emplace_back(Number(report.rate) + "/s is only the module rate nearest to " +
                              FixedText(*report.measuredRate, 1) + "/s: give the rate if it is another");
  return report.rate;
}

void ChooseStart(const RecordingSurvey& survey, const ExportOptions& options, Plan& plan) {
  ExportReport& report = plan.report;
  const int rate = report.rate;
  const std::optional<LocalDateTime> sidecarStart = options.sidecar ? options.sidecar->start : std::nullopt;
  if (!survey.firstTimedRecord) {
    if (sidecarStart) {
      report.start = *sidecarStart;
    } else {
      const std::int64_t around = options.endedAroundMs.value_or(NowMs()) - survey.count * 1000 / rate;
      report.start = {LocalDateOf(around), 0};
      report.notes.emplace_back("no record has a usable time stamp: the start time is written as 00:00:00");
    }
    return;
  }
  // The first sample's time, counted back from the first usable time stamp.
  long long startMs =
      MillisecondsOfDay(survey.firstTimeOfDay) -
      static_cast<long long>(std::llround(static_cast<double>(*survey.firstTimedRecord) * 1000.0 / rate));
  startMs = (startMs % kMsPerDay + kMsPerDay) % kMsPerDay;
  const std::int64_t around =
      sidecarStart ? EpochMsOf(*sidecarStart) : options.endedAroundMs.value_or(NowMs()) - survey.count * 1000 / rate;
  report.start = {StartDateNear(startMs, around), startMs};
}

// Steps per mV and zero per signal, only from a calibration of the
// recording's own amplification stage.
void ChooseCalibration(const ExportOptions& options, Plan& plan) {
  plan.calibration.assign(plan.signals.size(), std::nullopt);
  const RecordingSidecar* sidecar = options.sidecar ? &*options.sidecar : nullptr;
  if (!sidecar || !sidecar->calibration) {
    plan.report.notes.emplace_back("no calibration: values in steps of the module's converter");
    return;
  }
  const SidecarCalibration& calibration = *sidecar->calibration;
  const std::optional<int> stage = sidecar->setup ? sidecar->setup->amplificationStage : std::nullopt;
  if (!calibration.stage || !stage || *calibration.stage != *stage) {
    plan.report.notes.emplace_back(
        "the calibration " +
        (calibration.stage ? "of stage " + Number(*calibration.stage) : std::string("of no stage")) +
        " is not one of the recording's stage" + (stage ? " " + Number(*stage) : std::string()) + ": values in steps");
    return;
  }
  for (std::size_t i = 0; i < plan.signals.size(); ++i) {
    const std::string_view name = ChannelName(plan.signals[i]);
    for (const SidecarLeadCalibration& lead : calibration.leads) {
      if (lead.lead != name) continue;
      const double low = (0 - lead.zero) / lead.stepsPerMv * 1000;
      const double high = (kSampleMax - lead.zero) / lead.stepsPerMv * 1000;
      if (!(lead.stepsPerMv > 0) || !std::isfinite(low) || !std::isfinite(high) || std::abs(low) > kMaxPhysical ||
          std::abs(high) > kMaxPhysical) {
        plan.report.notes.emplace_back("the calibration of " + std::string(name) + " (" +
                                       FixedText(lead.stepsPerMv, 3) + " steps/mV, zero " + FixedText(lead.zero, 3) +
                                       ") cannot be used: values in steps");
        break;
      }
      plan.calibration[i] = lead;
      ++plan.report.calibratedSignals;
      break;
    }
  }
  if (plan.report.calibratedSignals < static_cast<int>(plan.signals.size()))
    plan.report.notes.emplace_back(Number(plan.report.calibratedSignals) + " of " +
                                   Number(static_cast<long long>(plan.signals.size())) +
                                   " signals calibrated; the others in steps");
}

void DescribeSetup(const ExportOptions& options, Plan& plan) {
  const RecordingSidecar* sidecar = options.sidecar ? &*options.sidecar : nullptr;
  plan.equipment = "ECG_module";
  if (sidecar && sidecar->identification && !sidecar->identification->empty())
    plan.equipment = HeaderText(*sidecar->identification);
  std::string setup = Number(plan.report.rate) + "/s";
  if (sidecar && sidecar->setup) {
    const SidecarSetup& s = *sidecar->setup;
    if (s.amplificationStage) setup += " stage" + Number(*s.amplificationStage);
    if (s.mode) setup += " " + HeaderText(*s.mode);
    if (s.twelveChannel) setup += *s.twelveChannel ? " 12ch" : " 8ch";
    if (s.pacer.value_or(false)) setup += " pacer";
    if (s.simulation.value_or(false)) setup += " simulation";
    std::string filters;
    if (s.mainsFilterHz) filters = *s.mainsFilterHz == 0 ? "N:off" : "N:" + Number(*s.mainsFilterHz) + "Hz";
    if (s.emgFilter) filters += std::string(filters.empty() ? "" : " ") + (*s.emgFilter ? "EMG:on" : "EMG:off");
    plan.prefilter = filters;
  }
  plan.setup = setup;
  // The set-up whole, the identification in what room is left.
  const std::size_t room = kRecordingFieldRoom > setup.size() + 1 ? kRecordingFieldRoom - setup.size() - 1 : 1;
  if (plan.equipment.size() > room) plan.equipment.resize(room);
}

long long Onset(long long sample, int rate) { return std::llround(static_cast<double>(sample) * 10000.0 / rate); }

std::string Seconds3(double seconds) { return FixedText(seconds, 3) + " s"; }

void CollectAnnotations(const RecordingSurvey& survey, const ExportOptions& options, Plan& plan) {
  ExportReport& report = plan.report;
  const int rate = report.rate;
  std::vector<Annotation>& list = plan.annotations;
  list.push_back({0, -1, "Recording starts", true});
  list.push_back({Onset(survey.count, rate), -1, "Recording ends", true});
  if (plan.padding > 0)
    list.push_back({Onset(survey.count, rate), Onset(plan.padding, rate), "Padding, not recorded", true});

  long long chestMissing = 0, dataLost = 0;
  for (const RecordRun& run : survey.chestMissing) {
    list.push_back({Onset(run.first, rate), Onset(run.length, rate), "Chest leads missing"});
    chestMissing += run.length;
  }
  for (const RecordRun& run : survey.dataLost) {
    list.push_back({Onset(run.first, rate), run.length > 1 ? Onset(run.length, rate) : -1, "Data lost"});
    dataLost += run.length;
  }
  for (const RecordRun& run : survey.badTimeRuns)
    list.push_back({Onset(run.first, rate), Onset(run.length, rate), "No time stamp"});
  for (const auto& [record, number] : survey.markers) {
    std::string text = "Marker " + Number(number);
    if (options.sidecar) {
      // The sidecar's marker of that number, the one on this record first.
      const SidecarMarker* found = nullptr;
      for (const SidecarMarker& marker : options.sidecar->markers)
        if (marker.number == number && (!found || marker.record == record + 1)) found = &marker;
      if (found && !found->text.empty()) text += ": " + found->text;
    }
    list.push_back({Onset(record, rate), -1, text, true});
  }
  // A marker the sidecar names on a record whose marker byte does not carry
  // it is still one.
  if (options.sidecar) {
    for (const SidecarMarker& marker : options.sidecar->markers) {
      if (marker.record < 1 || marker.record > survey.count) continue;
      const std::pair<long long, int> inRecord{marker.record - 1, marker.number};
      if (std::find(survey.markers.begin(), survey.markers.end(), inRecord) != survey.markers.end()) continue;
      list.push_back({Onset(marker.record - 1, rate), -1,
                      "Marker " + Number(marker.number) + (marker.text.empty() ? "" : ": " + marker.text), true});
    }
  }
  const double pauseAbove = std::max(kPauseSeconds, kPauseSamples / rate);
  long long pauses = 0;
  TimeStep longest;
  for (const TimeStep& pause : survey.pauses) {
    if (pause.seconds <= pauseAbove) continue;
    ++pauses;
    if (pause.seconds > longest.seconds) longest = pause;
    list.push_back({Onset(pause.record, rate), -1, "No records for " + Seconds3(pause.seconds)});
  }
  for (const TimeStep& step : survey.backwardSteps)
    list.push_back({Onset(step.record, rate), -1, "Time stamps step back " + Seconds3(-step.seconds)});

  if (pauses > 0)
    report.notes.emplace_back(Plural(pauses, "pause", "pauses") + " in the time stamps (the longest " +
                              Seconds3(longest.seconds) + " before record " + Number(longest.record + 1) + ")");
  if (!survey.backwardSteps.empty())
    report.notes.emplace_back(
        Plural(static_cast<long long>(survey.backwardSteps.size()), "backward step", "backward steps") +
        " of the time stamps (the first before record " + Number(survey.backwardSteps.front().record + 1) + ")");
  if (survey.badTimes > 0)
    report.notes.emplace_back(Plural(survey.badTimes, "record", "records") +
                              " without a usable time stamp (NaN, infinite or outside 0..24 h)");
  if (chestMissing > 0) report.notes.emplace_back(Plural(chestMissing, "record", "records") + " without chest leads");
  if (dataLost > 0) report.notes.emplace_back("data lost before " + Plural(dataLost, "record", "records"));
  if (!survey.markers.empty())
    report.notes.emplace_back(Plural(static_cast<long long>(survey.markers.size()), "marker", "markers"));

  if (options.sidecar) {
    const RecordingSidecar& sidecar = *options.sidecar;
    if (sidecar.records && *sidecar.records != survey.count)
      report.notes.emplace_back("the sidecar counts " + Number(*sidecar.records) + " records, the data file holds " +
                                Number(survey.count));
    if (sidecar.integrity && sidecar.integrity->rateOff.value_or(false))
      report.notes.emplace_back("the sidecar says the measured rate was off the set one");
    if (sidecar.endedAbnormally.value_or(false))
      report.notes.emplace_back("the sidecar says the recording ended abnormally");
  }
}

Plan MakePlan(const RecordingSurvey& survey, const ExportOptions& options, const std::string& path) {
  ThrowIfEmpty(survey, path);
  Plan plan;
  plan.report.records = survey.count;
  // Every channel that holds data; all the shown ones of a recording of
  // zeros only, so the file still has a signal.
  plan.signals = survey.shape.withData.empty() ? survey.shape.shown : survey.shape.withData;
  ChooseRate(survey, options, path, plan);
  ChooseStart(survey, options, plan);
  ChooseCalibration(options, plan);
  DescribeSetup(options, plan);
  return plan;
}

// Renames the finished temporary file to `path`, checking the name once
// more: something may have appeared there meanwhile.
void Publish(TTemporaryFile& out, const std::string& path, const ExportOptions& options) {
  CheckExportTarget(path, options);
  if (options.replaceExisting) {
    RenameReplacing(out.Path(), path);
  } else {
    try {
      RenameNoReplace(out.Path(), path);
    } catch (const ERecordingFile& error) {
      if (PathExists(path)) throw EExportRefused(EExportRefused::Exists, Quoted(path) + " exists already");
      throw;
    }
  }
  out.Keep();
  SyncFolderOf(path);
}

}  // namespace

ExportPlan PlanExport(const RecordingSurvey& survey, const ExportOptions& options, const std::string& path) {
  Plan plan = MakePlan(survey, options, path);
  return {std::move(plan.report), std::move(plan.signals), std::move(plan.calibration), std::move(plan.setup),
          std::move(plan.prefilter)};
}

void PublishExport(TTemporaryFile& out, const std::string& path, const ExportOptions& options) {
  Publish(out, path, options);
}

namespace {

// An EDFlib write handle, closed on every way out.
class EdfWriter {
 public:
  EdfWriter(const std::string& path, const std::string& shownPath, int signals)
      : handle_(edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, signals)), shownPath_(shownPath) {
    if (handle_ < 0)
      throw ERecordingFile("Cannot create file " + Quoted(shownPath) + ": the EDF+ library refused it (code " +
                           Number(handle_) + ")");
  }
  EdfWriter(const EdfWriter&) = delete;
  EdfWriter& operator=(const EdfWriter&) = delete;
  ~EdfWriter() {
    if (handle_ >= 0) edfclose_file(handle_);
  }
  int Handle() const { return handle_; }
  // Every EDFlib call answers 0 for done.
  void Check(int result, const char* what) const {
    if (result != 0)
      throw ERecordingFile("Cannot export to " + Quoted(shownPath_) + ": the EDF+ library refused the " + what);
  }
  void Close() {
    const int result = edfclose_file(handle_);
    handle_ = -1;
    Check(result, "end of the file");
  }

 private:
  int handle_;
  std::string shownPath_;
};

void ConfigureEdf(EdfWriter& edf, const Plan& plan, const EdfDataRecord& layout) {
  const int h = edf.Handle();
  const ExportReport& report = plan.report;
  const LocalDateTime& start = report.start;
  if (start.date.year < 1985 || start.date.year > 2084)
    throw ERecordingFile("EDF+ holds start dates from 1985 to 2084 only; this recording's is " +
                         IsoDateTime(start).substr(0, 10));
  edf.Check(edf_set_datarecord_duration(h, layout.duration10us), "data record duration");
  for (std::size_t i = 0; i < plan.signals.size(); ++i) {
    const int signal = static_cast<int>(i);
    edf.Check(edf_set_label(h, signal, std::string(ChannelName(plan.signals[i])).c_str()), "label");
    edf.Check(edf_set_samplefrequency(h, signal, layout.samples), "sample rate");
    edf.Check(edf_set_digital_minimum(h, signal, 0), "digital minimum");
    edf.Check(edf_set_digital_maximum(h, signal, kSampleMax), "digital maximum");
    if (const std::optional<SidecarLeadCalibration>& lead = plan.calibration[i]) {
      edf.Check(edf_set_physical_dimension(h, signal, "uV"), "physical dimension");
      edf.Check(edf_set_physical_minimum(h, signal, (0 - lead->zero) / lead->stepsPerMv * 1000), "physical minimum");
      edf.Check(edf_set_physical_maximum(h, signal, (kSampleMax - lead->zero) / lead->stepsPerMv * 1000),
                "physical maximum");
    } else {
      edf.Check(edf_set_physical_dimension(h, signal, "steps"), "physical dimension");
      edf.Check(edf_set_physical_minimum(h, signal, 0), "physical minimum");
      edf.Check(edf_set_physical_maximum(h, signal, kSampleMax), "physical maximum");
    }
    edf.Check(edf_set_prefilter(h, signal, plan.prefilter.c_str()), "prefilter");
  }
  const long long ms = start.msOfDay;
  edf.Check(edf_set_startdatetime(h, start.date.year, start.date.month, start.date.day, static_cast<int>(ms / 3600000),
                                  static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60)),
            "start date and time");
  edf.Check(edf_set_subsecond_starttime(h, static_cast<int>(ms % 1000) * 10000), "start time's milliseconds");
  edf.Check(edf_set_equipment(h, plan.equipment.c_str()), "equipment");
  edf.Check(edf_set_recording_additional(h, plan.setup.c_str()), "recording field");
}

// Annotations that fit: EDFlib stores one per data record and annotation
// signal and drops the rest without a word, so the ones that must stay are
// chosen here and the others counted.
long long FitAnnotations(Plan& plan, long long dataRecords, int& annotationSignals) {
  std::vector<Annotation>& list = plan.annotations;
  const long long wanted = static_cast<long long>(list.size());
  annotationSignals =
      static_cast<int>(std::clamp((wanted + dataRecords - 1) / dataRecords, 1LL, kMaxAnnotationSignals));
  const long long room = annotationSignals * dataRecords;
  std::stable_sort(list.begin(), list.end(), [](const Annotation& a, const Annotation& b) {
    if (a.essential != b.essential) return a.essential;
    return a.onset < b.onset;
  });
  long long dropped = 0;
  if (wanted > room) {
    dropped = wanted - room;
    list.resize(static_cast<std::size_t>(room));
    plan.report.notes.emplace_back(Plural(dropped, "annotation", "annotations") + " did not fit the EDF+ file");
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const Annotation& a, const Annotation& b) { return a.onset < b.onset; });
  return dropped;
}

}  // namespace

// --- survey ------------------------------------------------------------------

bool IsTimeOfDay(double timeOfDay) { return std::isfinite(timeOfDay) && timeOfDay >= 0 && timeOfDay < 1; }

RecordingSurvey SurveyRecording(const RecordSource& records) {
  RecordingSurvey survey;
  SampleRecord any{};
  std::optional<double> previous;  // the previous record's time of day, when usable
  double blockSum = 0;
  long long blockLength = 0;
  std::vector<double> blockMeans;
  long long index = 0;
  records.ForEach([&](const SampleRecord& record) {
    AddBytesInUse(any, record);
    const std::uint8_t flags = RecordFlags(record);
    if ((flags & kChestMissing) != 0) ExtendRuns(survey.chestMissing, index);
    if ((flags & kDataLostBefore) != 0) ExtendRuns(survey.dataLost, index);
    if (RecordMarker(record) != 0) survey.markers.emplace_back(index, RecordMarker(record));
    if (!IsTimeOfDay(record.time)) {
      ++survey.badTimes;
      ExtendRuns(survey.badTimeRuns, index);
      previous.reset();
      blockSum = 0;
      blockLength = 0;
    } else {
      if (!survey.firstTimedRecord) {
        survey.firstTimedRecord = index;
        survey.firstTimeOfDay = record.time;
      }
      if (previous) {
        double step = (record.time - *previous) * kSecondsPerDay;
        // Over midnight forwards or backwards: the short way round.
        if (step < -kSecondsPerDay / 2) step += kSecondsPerDay;
        if (step > kSecondsPerDay / 2) step -= kSecondsPerDay;
        if (step < 0) {
          survey.backwardSteps.push_back({index, step});
          blockSum = 0;
          blockLength = 0;
        } else {
          if (step > kPauseSeconds) survey.pauses.push_back({index, step});
          blockSum += step;
          if (++blockLength == kIntervalBlock) {
            blockMeans.push_back(blockSum / static_cast<double>(kIntervalBlock));
            blockSum = 0;
            blockLength = 0;
          }
        }
      }
      previous = record.time;
    }
    ++index;
  });
  // A recording shorter than one block: its one partial block.
  if (blockMeans.empty() && blockLength > 0) blockMeans.push_back(blockSum / static_cast<double>(blockLength));
  if (!blockMeans.empty()) {
    const auto middle = blockMeans.begin() + static_cast<std::ptrdiff_t>(blockMeans.size() / 2);
    std::nth_element(blockMeans.begin(), middle, blockMeans.end());
    survey.medianInterval = *middle;
  }
  survey.count = index;
  survey.shape = ShapeOfBytesInUse(any);
  return survey;
}

int NearestModuleRate(double rate) {
  int best = 300;
  for (int candidate : {50, 100, 150, 300})
    if (std::abs(rate - candidate) < std::abs(rate - best)) best = candidate;
  return best;
}

int EstimateSampleRate(const SampleStore& store) {
  const RecordingSurvey survey = SurveyRecording(StoreRecords(store));
  if (!survey.medianInterval || *survey.medianInterval <= 0) return 300;
  return NearestModuleRate(1.0 / *survey.medianInterval);
}

EdfDataRecord EdfDataRecordFor(int rate) {
  constexpr int kUnitsPerSecond = 100000;  // EDFlib's data record durations are in 10 µs
  constexpr int kTenth = kUnitsPerSecond / 10;
  // The fewest samples whose duration is a whole number of units, then as
  // many of those as fit a tenth of a second.
  const int base = rate / std::gcd(rate, kUnitsPerSecond);
  const int baseDuration = base * kUnitsPerSecond / rate;
  const int times = std::max(1, kTenth / baseDuration);
  return {base * times, baseDuration * times};
}

// --- time --------------------------------------------------------------------

long long MillisecondsOfDay(double timeOfDay) {
  long long ms = std::llround(timeOfDay * static_cast<double>(kMsPerDay));
  ms %= kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  return ms;
}

std::string IsoTimeOfDay(double timeOfDay) {
  const long long ms = MillisecondsOfDay(timeOfDay);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                ms % 1000);
  return text;
}

CalendarDate StartDateNear(long long startMsOfDay, std::int64_t aroundMs) {
  const CalendarDate around = LocalDateOf(aroundMs);
  CalendarDate best = around;
  std::int64_t bestDistance = -1;
  for (int shift : {-1, 0, 1}) {
    std::tm local{};
    local.tm_year = around.year - 1900;
    local.tm_mon = around.month - 1;
    local.tm_mday = around.day + shift;
    local.tm_hour = 12;  // a time of day every date has, whatever the clock changes
    local.tm_isdst = -1;
    std::mktime(&local);  // normalises the day
    const CalendarDate date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
    const std::int64_t distance = std::abs(EpochMsOf({date, startMsOfDay}) - aroundMs);
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      best = date;
    }
  }
  return best;
}

std::optional<std::int64_t> ModificationTimeMs(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
}

std::optional<CalendarDate> ModificationDate(const std::string& path) {
  const std::optional<std::int64_t> ms = ModificationTimeMs(path);
  if (!ms) return std::nullopt;
  return LocalDateOf(*ms);
}

CalendarDate Today() { return LocalDateOf(NowMs()); }

// --- target ------------------------------------------------------------------

void CheckExportTarget(const std::string& path, const ExportOptions& options) {
  if (path.empty()) throw EExportRefused(EExportRefused::NotRegular, "an empty output name");
  const PathInfo target = InspectPath(path);
  std::error_code ignored;
  const auto sameName = [&](const std::string& input) {
    return std::filesystem::weakly_canonical(path, ignored) == std::filesystem::weakly_canonical(input, ignored);
  };
  for (const std::string& input : options.inputs)
    if (target.SameFileAs(InspectPath(input)) || sameName(input))
      throw EExportRefused(EExportRefused::OwnFile,
                           Quoted(path) + " is the recording's own file " + Quoted(input) + ": not written");
  if (target.kind == PathInfo::Other)
    throw EExportRefused(EExportRefused::NotRegular,
                         Quoted(path) + " is not a regular file (a folder, a device or a named pipe): not written");
  if ((target.kind == PathInfo::Regular || target.danglingLink) && !options.replaceExisting)
    throw EExportRefused(EExportRefused::Exists, Quoted(path) + " exists already");
}

// --- EDF+ --------------------------------------------------------------------

ExportReport ExportEdf(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                       const ExportOptions& options) {
  Plan plan = MakePlan(survey, options, path);
  const EdfDataRecord layout = EdfDataRecordFor(plan.report.rate);
  const long long dataRecords = (survey.count + layout.samples - 1) / layout.samples;
  plan.padding = dataRecords * layout.samples - survey.count;
  CollectAnnotations(survey, options, plan);
  int annotationSignals = 1;
  FitAnnotations(plan, dataRecords, annotationSignals);
  CheckExportTarget(path, options);

  TTemporaryFile out(path, "exp");
  out.File().Commit();  // EDFlib writes the file by its name
  {
    const std::size_t signalCount = plan.signals.size();
    EdfWriter edf(out.Path(), path, static_cast<int>(signalCount));
    edf.Check(edf_set_number_of_annotation_signals(edf.Handle(), annotationSignals), "number of annotation signals");
    ConfigureEdf(edf, plan, layout);

    const std::size_t n = static_cast<std::size_t>(layout.samples);
    std::vector<int> block(signalCount * n);
    std::vector<int> last(signalCount, 0);  // each signal's last value: the padding, a missing chest lead
    std::size_t filled = 0;
    bool first = true;
    records.ForEach([&](const SampleRecord& record) {
      const bool chestMissing = (RecordFlags(record) & kChestMissing) != 0;
      for (std::size_t s = 0; s < signalCount; ++s) {
        const ChartChannel channel = plan.signals[s];
        // A chest lead that never came holds the value before it.
        if (!(chestMissing && channel >= ccC2 && channel <= ccC6 && !first))
          last[s] = std::min<int>(ChannelSample(record, channel), kSampleMax);
        block[s * n + filled] = last[s];
      }
      first = false;
      if (++filled == n) {
        edf.Check(edf_blockwrite_digital_samples(edf.Handle(), block.data()), "samples");
        filled = 0;
      }
    });
    if (filled > 0) {
      for (std::size_t s = 0; s < signalCount; ++s)
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(s * n + filled),
                  block.begin() + static_cast<std::ptrdiff_t>((s + 1) * n), last[s]);
      edf.Check(edf_blockwrite_digital_samples(edf.Handle(), block.data()), "samples");
    }
    for (const Annotation& annotation : plan.annotations)
      edf.Check(edfwrite_annotation_utf8(edf.Handle(), annotation.onset, annotation.duration,
                                         AnnotationText(annotation.text).c_str()),
                "annotation");
    edf.Close();
  }
  // EDFlib reports no failed write: the file is read back, and when it is
  // not whole the system is asked why.
  const auto header = std::make_unique<edf_hdr_struct>();
  const int check = edfopen_file_readonly(out.Path().c_str(), header.get(), EDFLIB_DO_NOT_READ_ANNOTATIONS);
  if (check == 0) edfclose_file(header->handle);
  if (check != 0 || header->datarecords_in_file != dataRecords)
    throw ERecordingFile("Error writing file " + Quoted(path) + ": " +
                         AppendFailure(out.Path()).value_or("the EDF+ file came out incomplete"));
  SyncFileByName(out.Path());
  Publish(out, path, options);
  return plan.report;
}

// --- CSV ---------------------------------------------------------------------

namespace {

std::string FlagsText(std::uint8_t flags) {
  std::string text;
  auto add = [&](const std::string& name) { text += (text.empty() ? "" : "|") + name; };
  if ((flags & kChestMissing) != 0) add("chest_missing");
  if ((flags & kDataLostBefore) != 0) add("data_lost");
  const int other = flags & ~(kChestMissing | kDataLostBefore);
  if (other != 0) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", other);
    add(hex);
  }
  return text;
}

}  // namespace

ExportReport ExportCsv(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                       const ExportOptions& options) {
  Plan plan = MakePlan(survey, options, path);
  CollectAnnotations(survey, options, plan);  // for the notes
  CheckExportTarget(path, options);
  const int rate = plan.report.rate;

  TTemporaryFile out(path, "exp");
  std::string text = "sample,seconds,time";
  for (std::size_t s = 0; s < plan.signals.size(); ++s) {
    const std::string name(ChannelName(plan.signals[s]));
    text += "," + name;
    if (plan.calibration[s]) text += "," + name + "_mV";
  }
  text += ",flags,marker\n";
  long long index = 0;
  records.ForEach([&](const SampleRecord& record) {
    text += Number(index);
    text += "," + FixedText(static_cast<double>(index) / rate, 6) + ",";
    if (IsTimeOfDay(record.time)) text += IsoTimeOfDay(record.time);
    const bool chestMissing = (RecordFlags(record) & kChestMissing) != 0;
    for (std::size_t s = 0; s < plan.signals.size(); ++s) {
      const ChartChannel channel = plan.signals[s];
      const std::optional<SidecarLeadCalibration>& lead = plan.calibration[s];
      // A chest lead that never came has no value, not a 0.
      const bool missing = chestMissing && channel >= ccC2 && channel <= ccC6;
      const std::uint8_t raw = ChannelSample(record, channel);
      text += ",";
      if (!missing) text += Number(raw);
      if (lead) {
        text += ",";
        if (!missing) text += FixedText((raw - lead->zero) / lead->stepsPerMv, 4);
      }
    }
    text += "," + FlagsText(RecordFlags(record)) + "," + Number(RecordMarker(record)) + "\n";
    ++index;
    if (text.size() > 200000) {
      out.File().Write(text);
      text.clear();
    }
  });
  out.File().Write(text);
  out.File().Commit();
  Publish(out, path, options);
  return plan.report;
}

// --- the store ---------------------------------------------------------------

ExportReport ExportEdf(const SampleStore& store, const std::string& path, const ExportOptions& options) {
  const StoreRecords records(store);
  return ExportEdf(records, SurveyRecording(records), path, options);
}

ExportReport ExportCsv(const SampleStore& store, const std::string& path, const ExportOptions& options) {
  const StoreRecords records(store);
  return ExportCsv(records, SurveyRecording(records), path, options);
}

namespace {

// A record as the data file holds it, compared byte for byte (the time's
// bits too: a NaN equals itself here).
using RecordBytes = std::array<std::byte, sizeof(SampleRecord)>;

// Whether the data file holds exactly the store's records.
bool DataFileHolds(const std::string& path, const SampleStore& store) {
  try {
    TDataFileReader reader(path);
    SampleRecord record{};
    const int count = store.Count();
    for (int slot = 1; slot <= count; ++slot)
      if (!reader.Next(record) || std::bit_cast<RecordBytes>(record) != std::bit_cast<RecordBytes>(store.At(slot)))
        return false;
    return !reader.Next(record);
  } catch (const ERecordingFile&) {
    return false;
  }
}

}  // namespace

ExportOptions ExportOptionsForStore(const SampleStore& store, const std::string& dataFile) {
  ExportOptions options;
  options.replaceExisting = true;
  if (dataFile.empty()) return options;
  const std::string sidecarPath = SidecarPathFor(dataFile);
  options.inputs = {dataFile, sidecarPath};
  if (!DataFileHolds(dataFile, store)) return options;
  options.endedAroundMs = ModificationTimeMs(dataFile);
  try {
    options.sidecar = ReadSidecar(sidecarPath);
  } catch (const ERecordingFile&) {
    // A sidecar that cannot be read adds nothing; the records are exported
    // as they are.
  }
  return options;
}
