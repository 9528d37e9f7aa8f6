#pragma once
// Reading a data file back into the store by the loader's rules: regular
// files only (opened without waiting), the header checked for the file-type
// marker, whole 24-byte records up to what the store holds. Nothing here
// asks or tells the user or draws: the window's load flow (ui/RecordingFlows)
// shows what the result says and draws the records.
#include <functional>
#include <optional>
#include <string>

#include "recording/DataFileReader.h"
#include "recording/FileIO.h"

class SampleStore;

// What a load found besides the records it put into the store.
struct TLoadResult {
  bool headerValid = false;              // a whole header with the marker
  bool moreThanStoreHolds = false;       // records were left in the file
  std::optional<std::string> readError;  // a read failed part-way (the system's text)
};

// Loads `path` into `store`: slot 0 takes the header as read (even a
// piece of it), slots 1.. the records of a valid header after the first
// `skip`, at most SampleStore::kLastSlot; a piece at the end of the file is
// no record. `onRecord`, when given, is told the count after each record
// (progress). Throws ERecordingFile when the file cannot be opened: nothing
// has changed then. From the open on the previous recording is replaced
// (count 0 for a file that is not a recording).
TLoadResult LoadRecordingFile(const std::string& path, SampleStore& store,
                              const std::function<void(int count)>& onRecord = {}, long long skip = 0);

// The whole records a data file holds after its header (a trailing piece
// is none); nothing for a file that cannot be opened or is not a recording
// (the load says why).
std::optional<long long> DataFileRecordCount(const std::string& path);

// The records of a data file read into slots 0..n of `store`, for the
// command-line tools: the same rules, but ERecordingFile for a read error
// and ENotARecording (DataFileReader.h) for a wrong header.
void ReadRecordingRecords(const std::string& path, SampleStore& store);
