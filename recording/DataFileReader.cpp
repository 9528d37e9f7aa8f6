#include "recording/DataFileReader.h"

#include <span>

#include "recording/RecordingFiles.h"

namespace {

std::size_t ReadRecord(TInputFile& file, SampleRecord& record) {
  return file.Read(std::as_writable_bytes(std::span(&record, 1)));
}

}  // namespace

TDataFileReader::TDataFileReader(const std::string& path) : file_(TInputFile::Open(path)) {
  if (ReadRecord(file_, header_) < kDataRecordSize || header_.channels[0] != kDataFileMarker)
    throw ENotARecording("\"" + path + "\" is not an ECG data file (Invalid File Type)");
}

bool TDataFileReader::Next(SampleRecord& record) { return ReadRecord(file_, record) == kDataRecordSize; }

DataFileRecords::DataFileRecords(std::string path) : path_(std::move(path)) { TDataFileReader check(path_); }

void DataFileRecords::ForEach(const std::function<void(const SampleRecord&)>& visit) const {
  TDataFileReader reader(path_);
  SampleRecord record{};
  long long count = 0;
  auto changed = [&] {
    return ERecordingFile("\"" + path_ + "\" changed while it was read (" + std::to_string(count_) + " records, then " +
                          std::to_string(count) + (count > count_ ? " and more)" : ")"));
  };
  while (reader.Next(record)) {
    if (count_ >= 0 && count == count_) {
      ++count;
      throw changed();
    }
    ++count;
    visit(record);
  }
  if (count_ >= 0 && count != count_) throw changed();
  count_ = count;
}
