#pragma once
// A recording written to its data file as the records arrive, so its length
// is bound by the disk, not by the store: the header record first (as a save
// writes it), then one 24-byte record after another. Records are buffered
// and handed to the system at least every `flushEvery` (a killed process
// loses nothing older), and synced to the disk every `syncEvery` (a power
// cut loses nothing older). Memory stays the same however long the run.
//
// Time is passed in by the caller (a steady clock), so the schedule needs
// no timer of its own and tests need no waiting. Main thread only.
//
// At the end, CompleteRecording (recording/Repair.h) writes the log from the
// data file and brings the sidecar up to date.
#include <chrono>
#include <string>

#include "recording/FileIO.h"
#include "store/SampleStore.h"

struct AppendSchedule {
  std::chrono::milliseconds flushEvery{1000};
  std::chrono::milliseconds syncEvery{5000};
};

class TDataFileAppender {
 public:
  using Clock = std::chrono::steady_clock;

  // Creates `dataPath` and writes the header record made from `headerSlot`
  // (DataHeaderRecord: the file-type marker set) to it, synced at once. An
  // existing regular file is replaced only with `replaceExisting`; anything
  // else of that name (a folder, a device) is always refused. Throws
  // ERecordingFile.
  TDataFileAppender(const std::string& dataPath, const SampleRecord& headerSlot, Clock::time_point now,
                    bool replaceExisting = false, AppendSchedule schedule = {});
  TDataFileAppender(const TDataFileAppender&) = delete;
  TDataFileAppender& operator=(const TDataFileAppender&) = delete;
  // Without Finish() (an exception on the way) the buffered records are
  // still handed over, failures ignored; the file is not synced.
  ~TDataFileAppender();

  // Adds one record, then flushes or syncs when one is due. Throws
  // ERecordingFile (disk full, file size limit); the file then holds every
  // record up to the last successful flush.
  void Append(const SampleRecord& record, Clock::time_point now);
  // Flushes or syncs when due without a new record (call it while no
  // records come, so the last ones do not wait in the buffer).
  void Tick(Clock::time_point now);
  // Writes the rest, syncs and closes. Nothing may be appended afterwards.
  void Finish();

  const std::string& Path() const { return path_; }
  // Records appended (the header not counted), handed to the system, and
  // synced to the disk.
  long long Records() const { return records_; }
  long long FlushedRecords() const { return flushed_; }
  long long SyncedRecords() const { return synced_; }

 private:
  void Due(Clock::time_point now);

  std::string path_;
  AppendSchedule schedule_;
  TOutputFile file_;
  long long records_ = 0, flushed_ = 0, synced_ = 0;
  Clock::time_point lastFlush_, lastSync_;
  bool finished_ = false;
};
