#pragma once
// The one save of a recording, for the window and ecg-record alike: the
// .log/.dat pair through WriteRecordingFiles (both complete or neither),
// then the sidecar NAME.json beside them. A sidecar that cannot be written
// keeps the pair (the records are what must not be lost) and is told in the
// result. Temporaries that an earlier save killed half-way left in the
// folder go first.
//
// Main thread (or any one thread); the store is only read.
#include <optional>
#include <string>
#include <string_view>

#include "recording/RecordingFiles.h"
#include "recording/Sidecar.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

struct TSavedRecording {
  std::string logPath, dataPath, sidecarPath;
  // Why the sidecar was not written (the pair is on the disk all the same).
  std::optional<std::string> sidecarError;
  int staleTemporariesRemoved = 0;
};

// The file names a save of `logPath` writes, and the checks they must pass
// before anything is recorded or written: throws ERecordingFile when one is
// taken (unless `existing` is Replace and it is a regular file), a folder,
// too long for the file system, or the folder is missing or cannot be
// written.
struct TSaveNames {
  std::string logPath, dataPath, sidecarPath;
};
TSaveNames SaveNamesFor(const std::string& logPath);
// Whether the sidecar's name is taken: something is there, or the name
// cannot be checked. A name one byte too long to exist (a log name at the
// file system's limit) is not taken: the save keeps the pair and tells that
// the sidecar could not be written.
bool SidecarNameTaken(const std::string& sidecarPath);
// A name that is taken by a file the save may not replace.
class ENameTaken : public ERecordingFile {
 public:
  using ERecordingFile::ERecordingFile;
};
// Throws ENameTaken for a name taken by a regular file (`existing` Refuse),
// ERecordingFile for everything else; a probe file is created and removed
// in the folder to learn that it can be written.
void CheckSaveTarget(const TSaveNames& names, ExistingFiles existing);

// Writes the store's records as NAME.log and NAME.dat, then `sidecar` (its
// `records` set to the store's count) as NAME.json. Throws ERecordingFile
// when the pair cannot be written (nothing is left then); a name taken
// (`existing` Refuse), the sidecar's too, refuses the save before anything
// is written.
TSavedRecording RecordingSave(const SampleStore& store, RecordingSidecar sidecar, const std::string& logPath,
                              std::string_view createdText, const TimeFormatter& formatTime,
                              ExistingFiles existing = ExistingFiles::Refuse);
