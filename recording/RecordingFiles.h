#pragma once
// The two files of a saved recording, written side by side from one name:
//  - the log (".log"): tab-separated text for reading and spreadsheets,
//    CR LF line ends, five header lines, then one line per record;
//  - the data file (".dat"): the store's slots as they lie in memory, 24
//    bytes each, slot 0 first as the header carrying the file-type marker.
// The text builders are pure; WriteRecordingFiles does the file work.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "recording/FileIO.h"
#include "recording/RecordSource.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

inline constexpr std::size_t kDataRecordSize = sizeof(SampleRecord);
// Byte offset and value of the file-type marker in the header record.
inline constexpr std::size_t kDataMarkerOffset = 8;
inline constexpr std::uint8_t kDataFileMarker = 5;
static_assert(offsetof(SampleRecord, channels) == kDataMarkerOffset,
              "the marker is the header slot's first channel byte");

// The data file's name for a log name, in the same folder: the file name's
// extension replaced by ".dat", or ".dat" appended when it has none.
std::string DataNameForLogName(const std::string& logName);
// The log's name for a data file's name, made the same way (".log").
std::string LogNameForDataName(const std::string& dataName);

// Lines 1 to 5 of the log: title with the log's path, creation time, empty
// line, column names, empty line.
std::string LogHeaderText(std::string_view logPath, std::string_view createdText);
// One record line: time, I II III aVR aVL aVF C1, C2..C6, Resp, each field
// followed by a TAB, then CR LF.
void AppendLogRecordLine(std::string& out, const SampleRecord& record, const TimeFormatter& formatTime);
// The header slot as the data file carries it: the marker at offset 8, the
// other bytes as the slot holds them. The one place the marker is written.
SampleRecord DataHeaderRecord(const SampleRecord& headerSlot);

// What a save does with files that already carry the chosen names.
enum class ExistingFiles {
  Refuse,   // the window's rule: a name taken is never replaced
  Replace,  // ecg-record --force: the pair is replaced
};

// The one save of a recording, for the window and ecg-record alike: the log
// and the data file of the store's slots 0..Count(), the data file's header
// carrying the file-type marker. Both are written under temporary names in
// the target folder, synced, and renamed only once both are complete, so a
// failure leaves no half pair and no temporary behind:
//  - Refuse: a final name that exists by the time of the rename is refused
//    and neither final file is left;
//  - Replace: existing files of those names are replaced, and a failure
//    between the two renames puts the previous log back (where the file
//    system can swap two names), so the pair on the disk always belongs
//    together.
// Throws ERecordingFile with the system's text. The store is only read.
void WriteRecordingFiles(const SampleStore& store, const std::string& logPath, const std::string& dataPath,
                         std::string_view createdText, const TimeFormatter& formatTime,
                         ExistingFiles existing = ExistingFiles::Refuse);

// Writes the log of `records` (a streamed recording's data file, however
// long) exactly as WriteRecordingFiles writes it for the same records:
// under a temporary name, synced, then renamed. An existing `logPath` is
// refused (ERecordingFile) unless `replaceExisting`. Returns the number of
// records written.
long long WriteLogFile(const RecordSource& records, const std::string& logPath, std::string_view createdText,
                       const TimeFormatter& formatTime, bool replaceExisting = false);
