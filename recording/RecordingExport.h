#pragma once
// A recording written for other programs: EDF+ (continuous, written with
// EDFlib, values in µV where the sidecar's calibration holds) and CSV (one
// line per record). Both are written like a save: under a temporary name,
// synced, then renamed to the chosen name, so a failure leaves no partial
// file.
//
// An export reads its records twice through a RecordSource: first a survey
// (SurveyRecording: the channels, the time stamps, the marks), then the
// write. The store is one source; a data file streamed from the disk is
// another, so an export has no store limit.
// Main thread or any thread that owns the records for the call; no state.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recording/FileIO.h"
#include "recording/RecordSource.h"
#include "recording/RecordingShape.h"
#include "recording/Sidecar.h"
#include "store/SampleStore.h"

inline constexpr int kMinExportRate = 1;
inline constexpr int kMaxExportRate = 1000;
// No record for longer than this (and than five sample periods) is a pause
// in the time stamps, annotated and reported.
inline constexpr double kPauseSeconds = 0.5;

// Consecutive records, 0-based.
struct RecordRun {
  long long first = 0;
  long long length = 1;
  friend bool operator==(const RecordRun&, const RecordRun&) = default;
};

// A step between the time stamps of two consecutive records; `record` is
// the later one (0-based).
struct TimeStep {
  long long record = 0;
  double seconds = 0;
  friend bool operator==(const TimeStep&, const TimeStep&) = default;
};

// What the records say about themselves.
struct RecordingSurvey {
  long long count = 0;
  RecordingShape shape;
  // Time stamps that are no time of day: NaN, infinite, outside 0..1 day.
  long long badTimes = 0;
  std::vector<RecordRun> badTimeRuns;
  // The first record with a usable time stamp, and that time of day.
  std::optional<long long> firstTimedRecord;
  double firstTimeOfDay = 0;
  // Steps between usable time stamps of consecutive records (a step over
  // midnight is a step forward): forward by more than kPauseSeconds, and
  // backward.
  std::vector<TimeStep> pauses;
  std::vector<TimeStep> backwardSteps;
  // The median of the mean interval over blocks of consecutive records
  // (seconds); nothing when no two records have usable time stamps.
  std::optional<double> medianInterval;
  // The records' marks (RecordFlags) and user markers (number, record).
  std::vector<RecordRun> chestMissing;
  std::vector<RecordRun> dataLost;
  std::vector<std::pair<long long, int>> markers;
};

// One pass over the records. Throws what the source throws.
RecordingSurvey SurveyRecording(const RecordSource& records);

// Where the sample rate came from.
enum class RateSource { Sidecar, Given, Estimated, Assumed };

struct ExportOptions {
  // Samples per second given by the user (1..1000): the clock when the
  // sidecar names no rate.
  std::optional<int> sampleRate;
  // The recording's sidecar: rate, start date and time, set-up,
  // calibration, marker texts.
  std::optional<RecordingSidecar> sidecar;
  // A moment shortly after the last record (the data file's modification
  // time; now for a recording just made), milliseconds since the epoch:
  // with the records' time of day it gives the start date when the sidecar
  // has none. Now when not given.
  std::optional<std::int64_t> endedAroundMs;
  // Replace an existing regular file of the output name (the user agreed).
  bool replaceExisting = false;
  // The recording's own files, which an export never writes.
  std::vector<std::string> inputs;
};

// What the export did and what a user should know about it (one line per
// note: the rate's source, pauses, marks, the units).
struct ExportReport {
  long long records = 0;
  int rate = 0;
  RateSource rateSource = RateSource::Assumed;
  std::optional<double> measuredRate;  // from the time stamps
  LocalDateTime start;
  int calibratedSignals = 0;  // written in µV (EDF+) or with mV columns (CSV)
  std::vector<std::string> notes;
};

// The output path is not one to write: it exists (and replacing was not
// agreed), it is not a regular file (a folder, a device, a named pipe), or
// it is one of the recording's own files.
class EExportRefused : public ERecordingFile {
 public:
  enum Reason { Exists, NotRegular, OwnFile };
  EExportRefused(Reason reason, const std::string& what) : ERecordingFile(what), reason_(reason) {}
  Reason Why() const { return reason_; }

 private:
  Reason reason_;
};
// Time stamps that are no time of day and no rate from the sidecar or the
// user: the records give no clock.
class ENoClock : public ERecordingFile {
 public:
  using ERecordingFile::ERecordingFile;
};

// Throws EExportRefused when `path` may not be written.
void CheckExportTarget(const std::string& path, const ExportOptions& options);

// Both throw ERecordingFile (with the system's text, or saying what is
// wrong: no records, a rate outside 1..1000), EExportRefused or ENoClock,
// and leave nothing behind then.
ExportReport ExportEdf(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                       const ExportOptions& options);
ExportReport ExportCsv(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                       const ExportOptions& options);
// The same for the store's records (survey included).
ExportReport ExportEdf(const SampleStore& store, const std::string& path, const ExportOptions& options);
ExportReport ExportCsv(const SampleStore& store, const std::string& path, const ExportOptions& options);

// What an export of these records uses, decided before a byte is written:
// the rate, the start and the notes so far, the channels that hold data,
// each one's usable calibration (nothing: in steps) and the set-up in words
// ("300/s stage2 Diagnostic 12ch", filters "N:50Hz EMG:off"). Other writers
// (the PDF report) take the same decisions from here. Throws as the exports
// do.
struct ExportPlan {
  ExportReport report;
  std::vector<ChartChannel> channels;
  std::vector<std::optional<SidecarLeadCalibration>> calibration;  // per channel
  std::string setup, filters;
};
ExportPlan PlanExport(const RecordingSurvey& survey, const ExportOptions& options, const std::string& path);
// Renames a finished temporary file to `path`, checking the name once more
// (something may have appeared there meanwhile). Throws EExportRefused or
// ERecordingFile.
void PublishExport(TTemporaryFile& out, const std::string& path, const ExportOptions& options);

// The options for exporting the store's recording from the window: the
// data file's sidecar and date only when that file holds exactly these
// records (else the recording was not saved, or another file was loaded
// or saved since), else now; an existing file is replaced (the save dialog
// asked).
ExportOptions ExportOptionsForStore(const SampleStore& store, const std::string& dataFile);

// The module's rates: the median interval's rate rounded to the nearest of
// 50, 100, 150 and 300 per second (300 when no two records have usable time
// stamps).
int EstimateSampleRate(const SampleStore& store);
int NearestModuleRate(double rate);

// EDF+ data records: `samples` per signal lasting `duration10us` (units of
// 10 µs): 0.1 s for every rate that is a multiple of 10, else the longest
// exact duration up to 0.1 s (a whole sample when one lasts longer).
struct EdfDataRecord {
  int samples = 0;
  int duration10us = 0;
  friend bool operator==(const EdfDataRecord&, const EdfDataRecord&) = default;
};
EdfDataRecord EdfDataRecordFor(int rate);

// Milliseconds since midnight of a record's time of day (0..86399999).
long long MillisecondsOfDay(double timeOfDay);
// "hh:mm:ss.zzz".
std::string IsoTimeOfDay(double timeOfDay);
// Whether a record's time stamp is a time of day at all.
bool IsTimeOfDay(double timeOfDay);

// The date on which a recording whose first record has `startMsOfDay` began,
// given a moment near its start (milliseconds since the epoch): the one of
// the day before, the same and the next day that puts the start nearest.
CalendarDate StartDateNear(long long startMsOfDay, std::int64_t aroundMs);

// The date of a file's last modification, local time; nothing when it
// cannot be read. ModificationTimeMs: the moment, since the epoch.
std::optional<CalendarDate> ModificationDate(const std::string& path);
std::optional<std::int64_t> ModificationTimeMs(const std::string& path);
CalendarDate Today();
