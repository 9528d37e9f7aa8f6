#include "recording/DataFileAppender.h"

#include <span>

#include "recording/RecordingFiles.h"

namespace {

std::span<const std::byte> BytesOf(const SampleRecord& record) { return std::as_bytes(std::span(&record, 1)); }

TOutputFile CreateDataFile(const std::string& path, bool replaceExisting) {
  const PathInfo existing = InspectPath(path);
  if (existing.kind == PathInfo::Other || existing.danglingLink)
    throw ERecordingFile("Cannot create file \"" + path + "\": it exists and is not a regular file");
  if (existing.kind == PathInfo::Regular) {
    if (!replaceExisting) throw ERecordingFile("Cannot create file \"" + path + "\": it exists");
    // A fresh file rather than a truncated one: a hard link to the old file
    // keeps the old content.
    RemoveQuietly(path);
  }
  return TOutputFile::CreateNew(path, path);
}

}  // namespace

TDataFileAppender::TDataFileAppender(const std::string& dataPath, const SampleRecord& headerSlot,
                                     Clock::time_point now, bool replaceExisting, AppendSchedule schedule)
    : path_(dataPath),
      schedule_(schedule),
      file_(CreateDataFile(dataPath, replaceExisting)),
      lastFlush_(now),
      lastSync_(now) {
  file_.Write(BytesOf(DataHeaderRecord(headerSlot)));
  // The header on the disk at once: a file cut short later still reads as
  // a recording.
  file_.Sync();
  SyncFolderOf(path_);
}

TDataFileAppender::~TDataFileAppender() {
  if (finished_) return;
  try {
    file_.Flush();
  } catch (...) {
    // The records before the last flush are in the file; nothing to tell.
  }
}

void TDataFileAppender::Append(const SampleRecord& record, Clock::time_point now) {
  if (finished_) throw ERecordingFile("Cannot write file \"" + path_ + "\": the recording is finished");
  file_.Write(BytesOf(record));
  ++records_;
  Due(now);
}

void TDataFileAppender::Tick(Clock::time_point now) {
  if (!finished_) Due(now);
}

void TDataFileAppender::Due(Clock::time_point now) {
  if (now - lastSync_ >= schedule_.syncEvery) {
    file_.Sync();
    flushed_ = synced_ = records_;
    lastFlush_ = lastSync_ = now;
  } else if (now - lastFlush_ >= schedule_.flushEvery) {
    file_.Flush();
    flushed_ = records_;
    lastFlush_ = now;
  }
}

void TDataFileAppender::Finish() {
  if (finished_) return;
  file_.Commit();
  flushed_ = synced_ = records_;
  finished_ = true;
}
