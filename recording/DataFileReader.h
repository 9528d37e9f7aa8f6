#pragma once
// A data file read front to back without the store: every record, however
// many the file holds (the store keeps at most SampleStore::kLastSlot).
// One reader per thread; it keeps the file open for its lifetime.
#include <string>

#include "recording/FileIO.h"
#include "recording/RecordSource.h"
#include "store/SampleStore.h"

// A data file that is not a recording by the loader's rules: shorter than
// its header, or a header without the file-type marker 5 at offset 8.
class ENotARecording : public ERecordingFile {
 public:
  using ERecordingFile::ERecordingFile;
};

class TDataFileReader {
 public:
  // Opens `path` (regular files only; the open never waits) and reads its
  // header. Throws ERecordingFile, or ENotARecording for a wrong header.
  explicit TDataFileReader(const std::string& path);

  const SampleRecord& Header() const { return header_; }
  // The next whole record; false at the end (a trailing piece shorter than
  // a record is not one). Throws ERecordingFile on a read error.
  bool Next(SampleRecord& record);

 private:
  TInputFile file_;
  SampleRecord header_{};
};

// The records of a data file as a RecordSource: each pass reads the file
// again. The header is checked when this is made; a file whose number of
// records changes between passes is refused (ERecordingFile).
class DataFileRecords final : public RecordSource {
 public:
  explicit DataFileRecords(std::string path);
  void ForEach(const std::function<void(const SampleRecord&)>& visit) const override;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  mutable long long count_ = -1;  // records of the first pass
};
