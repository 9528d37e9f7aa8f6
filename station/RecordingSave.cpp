#include "station/RecordingSave.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw ERecordingFile("Cannot create file \"" + path + "\": " + why);
}

// Two of the three names the same: one file would overwrite the other.
void CheckDistinct(const TSaveNames& names) {
  if (names.logPath == names.dataPath)
    Refuse(names.logPath, "the log and the data file would be the same file (name it .log)");
  if (names.logPath == names.sidecarPath)
    Refuse(names.logPath, "the log and the sidecar would be the same file (name it .log)");
}

// A name another save may replace (a regular file, `existing` Replace) or a
// free one; anything else is refused.
void CheckName(const std::string& path, ExistingFiles existing) {
  const PathInfo info = InspectPath(path);
  if (info.danglingLink) Refuse(path, "it is a link to nothing");
  if (info.kind == PathInfo::Other) {
    struct stat st {};
    const bool folder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    Refuse(path, folder ? "it is a folder" : "it exists and is not a regular file");
  }
  if (info.kind == PathInfo::Regular && existing == ExistingFiles::Refuse)
    throw ENameTaken("Cannot create file \"" + path + "\": it exists");
}

}  // namespace

bool SidecarNameTaken(const std::string& sidecarPath) {
  struct stat info {};
  if (::lstat(sidecarPath.c_str(), &info) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR && errno != ENAMETOOLONG;
}

TSaveNames SaveNamesFor(const std::string& logPath) {
  return TSaveNames{logPath, DataNameForLogName(logPath), SidecarPathFor(logPath)};
}

void CheckSaveTarget(const TSaveNames& names, ExistingFiles existing) {
  CheckDistinct(names);
  if (names.logPath.empty() || names.logPath.back() == '/') Refuse(names.logPath, "no file name");
  const std::string folder = FolderOf(names.logPath);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) Refuse(names.logPath, "the folder \"" + folder + "\": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) Refuse(names.logPath, "\"" + folder + "\" is not a folder");
  errno = 0;
  const long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  for (const std::string* name : {&names.logPath, &names.dataPath, &names.sidecarPath}) {
    const std::size_t length = FileNameOf(*name).size();
    if (nameMax > 0 && length > static_cast<std::size_t>(nameMax))
      Refuse(*name, "the name is longer than the file system takes (" + std::to_string(length) + " of at most " +
                        std::to_string(nameMax) + " bytes)");
    CheckName(*name, existing);
  }
  // Only a write shows a folder that cannot be written (a read-only file
  // system stops root as well); the probe goes at once.
  const std::string probe = TemporaryNameBeside(names.logPath, "chk");
  { TOutputFile file = TOutputFile::CreateNew(probe, names.logPath); }
  RemoveQuietly(probe);
}

TSavedRecording RecordingSave(const SampleStore& store, RecordingSidecar sidecar, const std::string& logPath,
                              std::string_view createdText, const TimeFormatter& formatTime, ExistingFiles existing) {
  const TSaveNames names = SaveNamesFor(logPath);
  TSavedRecording saved{names.logPath, names.dataPath, names.sidecarPath, std::nullopt, 0};
  CheckDistinct(names);
  saved.staleTemporariesRemoved = RemoveStaleTemporaries(names.logPath);
  // The sidecar's name is checked with the pair's: a save that would replace
  // another recording's sidecar (or a folder of that name) writes nothing.
  if (SidecarNameTaken(names.sidecarPath)) CheckName(names.sidecarPath, existing);
  WriteRecordingFiles(store, names.logPath, names.dataPath, createdText, formatTime, existing);
  sidecar.records = store.Count();
  try {
    WriteSidecar(names.sidecarPath, sidecar);
  } catch (const ERecordingFile& error) {
    saved.sidecarError = error.what();
  }
  return saved;
}
