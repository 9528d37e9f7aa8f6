#pragma once
// The end of a recording written as it arrived (recording/DataFileAppender.h):
// the log made from the data file and the sidecar brought up to date, either
// by the recorder when the run ends (CompleteRecording) or afterwards for a
// run that was killed or lost its power (RepairRecording: `ecg-convert
// --repair`). A data file cut short keeps every whole record; a trailing
// piece shorter than a record is not one (the loader's rule) and is left
// in place, untouched. No state; any thread.
#include <optional>
#include <string>
#include <string_view>

#include "recording/FileIO.h"
#include "recording/Sidecar.h"
#include "store/LocaleFormat.h"

struct CompleteOptions {
  bool endedAbnormally = false;
  bool replaceLog = false;  // an existing NAME.log is refused without it
  // The sidecar to write (its records and ended_abnormally are set here);
  // without one, the NAME.json beside the data file, or a new one.
  std::optional<RecordingSidecar> sidecar;
};

struct CompletedRecording {
  long long records = 0;
  long long trailingBytes = 0;  // a piece at the end that is not a record
  std::string logPath, sidecarPath;
};

// Writes NAME.log from NAME.dat (the same text a save writes) and the
// sidecar NAME.json with the number of records and whether the recording
// ended abnormally. Throws ENotARecording for a data file without a valid
// header, ESidecarFormat for a malformed sidecar (left as it is), and
// ERecordingFile for an existing log (unless replaceLog) or a failed read
// or write.
CompletedRecording CompleteRecording(const std::string& dataPath, std::string_view createdText,
                                     const TimeFormatter& formatTime, const CompleteOptions& options);

// A log that exists already: a repair would replace the record of a whole
// recording with that of a cut-short one.
class ERepairRefused : public ERecordingFile {
 public:
  using ERecordingFile::ERecordingFile;
};

// Completes a recording whose writer never did: the log written, the
// sidecar's records set and ended_abnormally true. Throws ERepairRefused
// when NAME.log exists and `force` is not given; otherwise as
// CompleteRecording.
CompletedRecording RepairRecording(const std::string& dataPath, std::string_view createdText,
                                   const TimeFormatter& formatTime, bool force);
