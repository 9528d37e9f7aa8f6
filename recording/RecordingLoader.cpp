#include "recording/RecordingLoader.h"

#include <cstring>
#include <optional>
#include <span>

#include "recording/FileIO.h"
#include "recording/RecordingFiles.h"
#include "store/SampleStore.h"

namespace {

std::size_t ReadRecord(TInputFile& file, SampleRecord& record) {
  return file.Read(std::as_writable_bytes(std::span(&record, 1)));
}

std::uint8_t MarkerOf(const SampleRecord& record) { return record.channels[0]; }

}  // namespace

TLoadResult LoadRecordingFile(const std::string& path, SampleStore& store, const std::function<void(int)>& onRecord,
                              long long skip) {
  TInputFile file = TInputFile::Open(path);
  store.BeginRecording();

  TLoadResult result;
  {
    SampleRecord header{};
    std::size_t got = 0;
    try {
      got = ReadRecord(file, header);
    } catch (const ERecordingFile&) {
      got = 0;  // an unreadable header is reported as a wrong file type
    }
    // The header slot holds whatever was read, even a piece.
    std::memcpy(&store.At(0), &header, got);
    result.headerValid = got == kDataRecordSize && MarkerOf(header) == kDataFileMarker;
  }
  if (!result.headerValid) return result;

  try {
    if (skip > 0) file.Skip(static_cast<std::uint64_t>(skip) * kDataRecordSize);
    SampleRecord record{};
    while (true) {
      // Read into a spare record first: a piece at the end of the file is
      // not a record and must not touch the slot above the recording.
      if (ReadRecord(file, record) < kDataRecordSize) break;
      if (store.Count() == SampleStore::kLastSlot) {
        result.moreThanStoreHolds = true;
        break;
      }
      store.At(store.Append()) = record;
      if (onRecord) onRecord(store.Count());
    }
  } catch (const ERecordingFile& error) {
    result.readError = error.what();
  }
  return result;
}

std::optional<long long> DataFileRecordCount(const std::string& path) {
  try {
    TInputFile file = TInputFile::Open(path);
    SampleRecord header{};
    if (ReadRecord(file, header) < kDataRecordSize || MarkerOf(header) != kDataFileMarker) return std::nullopt;
    return static_cast<long long>(file.Size() / kDataRecordSize) - 1;
  } catch (const ERecordingFile&) {
    return std::nullopt;
  }
}

void ReadRecordingRecords(const std::string& path, SampleStore& store) {
  TInputFile file = TInputFile::Open(path);
  store.BeginRecording();
  SampleRecord header{};
  if (ReadRecord(file, header) < kDataRecordSize || MarkerOf(header) != kDataFileMarker)
    throw ENotARecording("\"" + path + "\" is not an ECG data file (Invalid File Type)");
  store.At(0) = header;
  SampleRecord record{};
  while (store.Count() < SampleStore::kLastSlot && ReadRecord(file, record) == kDataRecordSize)
    store.At(store.Append()) = record;
}
