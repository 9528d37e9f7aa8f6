#pragma once
// Buffered file access for the recording files, over POSIX descriptors so
// that every failure (disk full, file size limit, access denied) surfaces as
// ERecordingFile with the system's text, and nothing is silently dropped in a
// library buffer. Main thread only; no object is shared between threads.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Any failure to open, read, write, sync, close or rename a recording file.
// what() is the text shown to the user.
class ERecordingFile : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file being written. Bytes collect in a buffer and go to the descriptor in
// large writes; Commit() writes the rest, syncs the data to the disk and
// closes, and only then is the content known to be complete. A file dropped
// without Commit() is closed and left as it is (the caller removes it).
class TOutputFile {
 public:
  // Creates `path`, failing if it exists. `shownName` names the file in
  // error texts (the caller's final name when `path` is a temporary).
  static TOutputFile CreateNew(const std::string& path, const std::string& shownName);
  // Opens an existing file or device for writing, truncating it.
  static TOutputFile OpenExisting(const std::string& path);

  TOutputFile(TOutputFile&& other) noexcept;
  TOutputFile& operator=(TOutputFile&&) = delete;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile();

  void Write(std::span<const std::byte> bytes);
  void Write(std::string_view text) { Write(std::as_bytes(std::span(text.data(), text.size()))); }
  // Hands the buffered bytes to the system: they survive the end of this
  // process, not yet a power cut.
  void Flush();
  // Flush(), then the data synced to the disk; the file stays open.
  void Sync();
  void Commit();

 private:
  TOutputFile(int fd, std::string shownName);
  [[noreturn]] void Fail(const char* what, int error) const;

  int fd_ = -1;
  std::string shownName_;
  std::vector<std::byte> buffer_;
};

// A file being read front to back through a buffer.
class TInputFile {
 public:
  // Opens a regular file; anything else (a folder, a device, a named pipe)
  // is refused with ERecordingFile, and the open itself never waits.
  static TInputFile Open(const std::string& path);

  TInputFile(TInputFile&& other) noexcept;
  TInputFile& operator=(TInputFile&&) = delete;
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;
  ~TInputFile();

  // Reads up to `into.size()` bytes; fewer only at the end of the file.
  // Throws ERecordingFile when the system reports a read error.
  std::size_t Read(std::span<std::byte> into);
  // Passes over the next `bytes` without reading them (past the end: at the
  // end). Throws ERecordingFile when the system refuses.
  void Skip(std::uint64_t bytes);
  // The file's size now, in bytes.
  std::uint64_t Size() const;

 private:
  TInputFile(int fd, std::string path);

  int fd_ = -1;
  std::string path_;
  std::vector<std::byte> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  bool atEnd_ = false;
};

// Whether anything of that name exists (a file, a folder, a dangling link).
bool PathExists(const std::string& path);
// A fresh, unused name in the folder of `path`, hidden and without the
// recording's extensions, so a half-written file is never offered as a
// recording. Its length is fixed (`tag` gives at most three characters of
// it), whatever the length of `path`'s file name. It carries the writing
// process's id: ".ecg-TAG-PPPPPPPPPP-XXXXXXXX.part".
inline constexpr const char* kTemporaryPrefix = ".ecg-";
inline constexpr const char* kTemporarySuffix = ".part";
std::string TemporaryNameBeside(const std::string& path, std::string_view tag);
// The process id a file name made by TemporaryNameBeside carries; nothing
// for any other name.
std::optional<int> TemporaryWriterOf(std::string_view fileName);
// Removes the temporaries in the folder of `path` whose writer no longer
// runs (a save killed half-way): regular files only, never those of a
// living process. Returns how many went; failures are ignored.
int RemoveStaleTemporaries(const std::string& path) noexcept;
// Renames `from` to `to`; fails rather than replace an existing `to`.
void RenameNoReplace(const std::string& from, const std::string& to);
// Removes a file, ignoring any failure (clean-up after another error).
void RemoveQuietly(const std::string& path) noexcept;
// Makes the renames in the folder of `path` durable; failures are ignored,
// the files themselves are already synced.
void SyncFolderOf(const std::string& path) noexcept;
// Renames `from` to `to`, replacing a `to` that exists (a file the user
// chose to overwrite).
void RenameReplacing(const std::string& from, const std::string& to);
// Puts `from` in place of `to` in one step and, when `to` existed, its file
// at `from` (true): calling it again takes the change back. False when there
// was nothing to keep (`to` did not exist, or the file system cannot swap
// two names; `from` has then replaced `to` for good). A folder at `to` is
// refused, never moved aside.
bool ExchangeOrRename(const std::string& from, const std::string& to);

// A file written under a temporary name beside its final name and removed
// again unless Keep() was called after a successful rename: a failure at
// any point leaves no partial file behind.
class TTemporaryFile {
 public:
  TTemporaryFile(const std::string& finalName, std::string_view tag)
      : path_(TemporaryNameBeside(finalName, tag)), file_(TOutputFile::CreateNew(path_, finalName)) {}
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;
  ~TTemporaryFile() {
    if (!kept_) RemoveQuietly(path_);
  }

  TOutputFile& File() { return file_; }
  const std::string& Path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  TOutputFile file_;
  bool kept_ = false;
};

// --- for files written by other code (a library writing by name) ----------

// What a path names, following symbolic links: nothing, a regular file, or
// something else (a folder, a device, a named pipe, a socket). `identity`
// tells two names of one file apart from two files.
struct PathInfo {
  enum Kind { Missing, Regular, Other } kind = Missing;
  bool danglingLink = false;  // a symbolic link to nothing
  unsigned long long device = 0, inode = 0;
  bool SameFileAs(const PathInfo& other) const {
    return kind != Missing && other.kind != Missing && device == other.device && inode == other.inode;
  }
};
PathInfo InspectPath(const std::string& path);
// Syncs a closed file's data to the disk. Throws ERecordingFile.
void SyncFileByName(const std::string& path);
// Why appending to `path` fails now, in the system's words ("File too
// large", "No space left on device"); nothing when a probe write succeeds.
// The probe's bytes stay: only for a file that is about to be removed.
std::optional<std::string> AppendFailure(const std::string& path);
