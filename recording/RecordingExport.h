#pragma once
// A recording written for other programs: EDF+ (continuous, one signal per
// channel that holds data, one-second data records) and CSV (one line per
// record). Both are written like a save: under a temporary name, synced,
// then renamed over the chosen name, so a failure leaves no partial file.
// Main thread or any thread that owns the store for the call; no state.
#include <optional>
#include <string>

#include "recording/FileIO.h"
#include "recording/RecordingShape.h"
#include "store/SampleStore.h"

struct CalendarDate {
  int year = 2000, month = 1, day = 1;
  friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

struct ExportOptions {
  // Samples per second (1..1000); estimated from the time stamps when not
  // given (EstimateSampleRate).
  std::optional<int> sampleRate;
  // The recording's date; the records carry the time of day only.
  CalendarDate startDate;
};

inline constexpr int kMinExportRate = 1;
inline constexpr int kMaxExportRate = 1000;

// The module's rates: the records' mean rate rounded to the nearest of 50,
// 100, 150 and 300 per second (300 when fewer than two records or no time
// passes between first and last).
int EstimateSampleRate(const SampleStore& store);
// Milliseconds since midnight of a record's time of day (0..86399999).
long long MillisecondsOfDay(double timeOfDay);
// "hh:mm:ss.zzz".
std::string IsoTimeOfDay(double timeOfDay);

// Both throw ERecordingFile (with the system's text, or saying what is
// wrong: no records, a rate outside 1..1000) and leave nothing behind then.
// An existing file of that name is replaced only once the new one is
// complete.
void ExportEdf(const SampleStore& store, const std::string& path, const ExportOptions& options);
void ExportCsv(const SampleStore& store, const std::string& path, const ExportOptions& options);

// The CSV header line and one record's line (without line end).
std::string CsvHeaderLine(const RecordingShape& shape);
std::string CsvRecordLine(const SampleRecord& record, const RecordingShape& shape);

// The date of a file's last modification, local time; nothing when it
// cannot be read.
std::optional<CalendarDate> ModificationDate(const std::string& path);
CalendarDate Today();
