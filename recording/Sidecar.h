#pragma once
// The sidecar NAME.json beside a recording's NAME.log and NAME.dat: what the
// records themselves do not say (the set-up, where and when, how whole the
// recording is, the calibration, the markers). Plain values only: this
// folder sits below the module layer and cannot name its types.
//
// Reading tolerates missing fields (older or other writers leave them out;
// a missing value reads as "not known", never as a default that would claim
// something) and fields it does not know. It is strict about the type of
// every field it knows. docs/RECORD-FORMAT.md gives the fields.
// No state; any thread.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording/FileIO.h"

inline constexpr int kSidecarVersion = 1;

struct CalendarDate {
  int year = 2000, month = 1, day = 1;
  friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// A local date and time to the millisecond.
struct LocalDateTime {
  CalendarDate date;
  long long msOfDay = 0;  // 0..86399999
  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// The set-up confirmed for the recording.
struct SidecarSetup {
  std::optional<int> rateHz;              // samples per second
  std::optional<int> amplificationStage;  // 1..4
  std::optional<int> mainsFilterHz;       // 0 (off), 50 or 60
  std::optional<std::string> mode;        // "Diagnostic", "Monitoring"
  std::optional<bool> pacer;
  std::optional<bool> emgFilter;
  std::vector<std::string> channels;  // the selected channels' names
  std::optional<bool> twelveChannel;
  std::optional<bool> simulation;
  friend bool operator==(const SidecarSetup&, const SidecarSetup&) = default;
};

struct SidecarIntegrity {
  std::optional<long long> gaps;                    // input-queue gaps
  std::map<std::string, long long> rejectedFrames;  // per frame kind ("sample", "chest", ...)
  std::optional<long long> incompleteRecordsDropped;
  std::optional<bool> rateOff;  // the measured rate more than 2 % off the set one
  std::optional<long long> silentSpells;
  friend bool operator==(const SidecarIntegrity&, const SidecarIntegrity&) = default;
};

// Value in mV = (raw - zero) / stepsPerMv.
struct SidecarLeadCalibration {
  std::string lead;  // "I" .. "C6"
  double stepsPerMv = 0;
  double zero = 0;
  friend bool operator==(const SidecarLeadCalibration&, const SidecarLeadCalibration&) = default;
};

// Measured at one amplification stage; it scales nothing at another.
struct SidecarCalibration {
  std::optional<int> stage;
  std::vector<SidecarLeadCalibration> leads;
  friend bool operator==(const SidecarCalibration&, const SidecarCalibration&) = default;
};

struct SidecarMarker {
  int number = 0;        // as in the record's marker byte, 1..255
  long long record = 0;  // 1 = the first record after the header
  std::optional<LocalDateTime> time;
  std::string text;
  friend bool operator==(const SidecarMarker&, const SidecarMarker&) = default;
};

struct SidecarHeartRate {
  std::optional<double> toolBpm;
  std::optional<double> moduleBpm;
  std::optional<long long> beats;
  friend bool operator==(const SidecarHeartRate&, const SidecarHeartRate&) = default;
};

struct RecordingSidecar {
  int version = kSidecarVersion;
  std::optional<SidecarSetup> setup;
  std::optional<std::string> port;
  std::optional<std::string> identification;  // only when one came
  std::optional<LocalDateTime> start;
  std::optional<long long> records;
  std::optional<double> measuredRateHz;
  std::optional<SidecarIntegrity> integrity;
  std::optional<SidecarCalibration> calibration;
  std::vector<SidecarMarker> markers;
  std::optional<SidecarHeartRate> heartRate;
  std::optional<bool> endedAbnormally;
  friend bool operator==(const RecordingSidecar&, const RecordingSidecar&) = default;
};

// A sidecar that is not one: not JSON, not an object, a known field of the
// wrong type, or a version newer than this reader's. what() names the file
// and the field.
class ESidecarFormat : public ERecordingFile {
 public:
  using ERecordingFile::ERecordingFile;
};

// NAME.json for NAME.dat, NAME.log or NAME (the file name's own extension
// replaced, as the data file's name is made from the log's).
std::string SidecarPathFor(const std::string& recordingPath);

// The file's text, and its reading (`shownName` names it in errors).
std::string SidecarJson(const RecordingSidecar& sidecar);
RecordingSidecar ParseSidecarJson(std::string_view json, const std::string& shownName);

// Written under a temporary name, synced and renamed over `path`, so a
// reader sees the old file or the new one, never a piece. Throws
// ERecordingFile.
void WriteSidecar(const std::string& path, const RecordingSidecar& sidecar);
// Nothing when no file of that name exists; ESidecarFormat for a malformed
// one, ERecordingFile when it cannot be read (a folder, a device, no access).
std::optional<RecordingSidecar> ReadSidecar(const std::string& path);

// "2024-03-05T14:03:20.250" and back (seconds and milliseconds may be left
// out when reading).
std::string IsoDateTime(const LocalDateTime& when);
std::optional<LocalDateTime> ParseIsoDateTime(std::string_view text);
