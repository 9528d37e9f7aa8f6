#include "recording/Repair.h"

#include <filesystem>
#include <system_error>

#include "recording/DataFileReader.h"
#include "recording/RecordingFiles.h"

CompletedRecording CompleteRecording(const std::string& dataPath, std::string_view createdText,
                                     const TimeFormatter& formatTime, const CompleteOptions& options) {
  CompletedRecording done;
  done.logPath = LogNameForDataName(dataPath);
  done.sidecarPath = SidecarPathFor(dataPath);
  // A data file named like its own log or sidecar would be overwritten.
  if (done.logPath == dataPath || done.sidecarPath == dataPath)
    throw ERecordingFile("Cannot complete \"" + dataPath + "\": its log or sidecar would replace it (name it .dat)");

  const DataFileRecords records(dataPath);
  // Read before anything is written: a malformed sidecar stops the work
  // with nothing changed.
  RecordingSidecar sidecar = options.sidecar ? *options.sidecar : ReadSidecar(done.sidecarPath).value_or(RecordingSidecar{});
  if (!options.replaceLog && PathExists(done.logPath))
    throw ERecordingFile("Cannot create file \"" + done.logPath + "\": it exists");

  done.records = WriteLogFile(records, done.logPath, createdText, formatTime, options.replaceLog);
  std::error_code error;
  const auto size = std::filesystem::file_size(dataPath, error);
  if (!error) {
    const auto whole = static_cast<std::uintmax_t>(done.records + 1) * kDataRecordSize;
    if (size > whole) done.trailingBytes = static_cast<long long>(size - whole);
  }
  sidecar.records = done.records;
  sidecar.endedAbnormally = options.endedAbnormally;
  WriteSidecar(done.sidecarPath, sidecar);
  return done;
}

CompletedRecording RepairRecording(const std::string& dataPath, std::string_view createdText,
                                   const TimeFormatter& formatTime, bool force) {
  // The data file first: a file that is no recording says so, whatever
  // lies beside it.
  { const DataFileRecords check(dataPath); }
  const std::string logPath = LogNameForDataName(dataPath);
  if (!force && PathExists(logPath))
    throw ERepairRefused("\"" + logPath + "\" exists: the recording was completed, not repaired");
  CompleteOptions options;
  options.endedAbnormally = true;
  options.replaceLog = force;
  return CompleteRecording(dataPath, createdText, formatTime, options);
}
