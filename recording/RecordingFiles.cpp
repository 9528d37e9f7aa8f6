#include "recording/RecordingFiles.h"

#include <charconv>
#include <span>

namespace {

constexpr std::string_view kLineEnd = "\r\n";

void AppendByte(std::string& out, std::uint8_t value) {
  char digits[4];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
  out.push_back('\t');
}

std::span<const std::byte> BytesOf(const SampleRecord& record) { return std::as_bytes(std::span(&record, 1)); }

}  // namespace

namespace {

std::string WithExtension(const std::string& name, std::string_view extension) {
  // Only the file name's own extension goes: a dot in a folder name must not
  // send the file into the parent folder.
  const std::size_t slash = name.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return name + std::string(extension);
  return name.substr(0, dot) + std::string(extension);
}

}  // namespace

std::string DataNameForLogName(const std::string& logName) { return WithExtension(logName, ".dat"); }

std::string LogNameForDataName(const std::string& dataName) { return WithExtension(dataName, ".log"); }

std::string LogHeaderText(std::string_view logPath, std::string_view createdText) {
  std::string text;
  text.append("VARNOK ECG Data : ").append(logPath).append(kLineEnd);
  text.append("File created: ").append(createdText).append(kLineEnd);
  text.append(kLineEnd);
  text.append("TIME    \tI\tII\tIII\tVR\tVL\tVF\tC1\tC2\tC3\tC4\tC5\tC6\tRESP").append(kLineEnd);
  text.append(kLineEnd);
  return text;
}

void AppendLogRecordLine(std::string& out, const SampleRecord& record, const TimeFormatter& formatTime) {
  out.append(formatTime(record.time));
  out.push_back('\t');
  for (int channel = chI; channel <= chC1; ++channel)
    AppendByte(out, record.channels[static_cast<std::size_t>(channel)]);
  for (std::uint8_t value : record.chest) AppendByte(out, value);
  // Resp sits before the chest leads in the record but is the last column.
  AppendByte(out, record.channels[chResp]);
  out.append(kLineEnd);
}

SampleRecord DataHeaderRecord(const SampleRecord& headerSlot) {
  SampleRecord header = headerSlot;
  header.channels[0] = kDataFileMarker;
  return header;
}

void WriteRecordingFiles(const SampleStore& store, const std::string& logPath, const std::string& dataPath,
                         std::string_view createdText, const TimeFormatter& formatTime, ExistingFiles existing) {
  // A log and a data file of the same name would overwrite each other.
  if (logPath == dataPath)
    throw ERecordingFile("Cannot create file \"" + logPath + "\": the log and the data file would be the same file");

  TTemporaryFile log(logPath, "log");
  TTemporaryFile data(dataPath, "dat");

  log.File().Write(LogHeaderText(logPath, createdText));
  data.File().Write(BytesOf(DataHeaderRecord(store.At(0))));

  std::string line;
  const int count = store.Count();
  for (int slot = 1; slot <= count; ++slot) {
    const SampleRecord& record = store.At(slot);
    data.File().Write(BytesOf(record));
    line.clear();
    AppendLogRecordLine(line, record, formatTime);
    log.File().Write(line);
  }
  log.File().Commit();
  data.File().Commit();

  // Both are complete on the disk; now give them their names. Should the
  // second rename fail, the first is taken back so no half pair remains.
  if (existing == ExistingFiles::Refuse) {
    RenameNoReplace(log.Path(), logPath);
    try {
      RenameNoReplace(data.Path(), dataPath);
    } catch (...) {
      RemoveQuietly(logPath);
      throw;
    }
    log.Keep();
  } else {
    // The previous log, if any, is swapped to the temporary name: removed
    // with it on success, swapped back on failure.
    const bool previousLogKept = ExchangeOrRename(log.Path(), logPath);
    try {
      RenameReplacing(data.Path(), dataPath);
    } catch (...) {
      if (previousLogKept) {
        try {
          ExchangeOrRename(log.Path(), logPath);
        } catch (...) {
        }
      } else {
        RemoveQuietly(logPath);
      }
      throw;
    }
  }
  data.Keep();
  SyncFolderOf(logPath);
  SyncFolderOf(dataPath);
}

long long WriteLogFile(const RecordSource& records, const std::string& logPath, std::string_view createdText,
                       const TimeFormatter& formatTime, bool replaceExisting) {
  if (!replaceExisting && PathExists(logPath))
    throw ERecordingFile("Cannot create file \"" + logPath + "\": it exists");
  TTemporaryFile log(logPath, "log");
  log.File().Write(LogHeaderText(logPath, createdText));
  long long count = 0;
  std::string line;
  records.ForEach([&](const SampleRecord& record) {
    line.clear();
    AppendLogRecordLine(line, record, formatTime);
    log.File().Write(line);
    ++count;
  });
  log.File().Commit();
  if (replaceExisting)
    RenameReplacing(log.Path(), logPath);
  else
    RenameNoReplace(log.Path(), logPath);
  log.Keep();
  SyncFolderOf(logPath);
  return count;
}
