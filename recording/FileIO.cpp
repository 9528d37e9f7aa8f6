#include "recording/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

namespace {

constexpr std::size_t kBufferSize = std::size_t{256} * 1024;

std::string SystemText(int error) { return std::strerror(error); }

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

[[noreturn]] void Throw(const std::string& what, const std::string& name, int error) {
  throw ERecordingFile(what + " " + Quoted(name) + ": " + SystemText(error));
}

int CloseRetaining(int fd) {
  // close() must not be retried on EINTR on Linux: the descriptor is gone.
  return ::close(fd) == 0 ? 0 : errno;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

// --- TOutputFile -------------------------------------------------------------

TOutputFile::TOutputFile(int fd, std::string shownName) : fd_(fd), shownName_(std::move(shownName)) {
  buffer_.reserve(kBufferSize);
}

TOutputFile::TOutputFile(TOutputFile&& other) noexcept
    : fd_(other.fd_), shownName_(std::move(other.shownName_)), buffer_(std::move(other.buffer_)) {
  other.fd_ = -1;
}

TOutputFile::~TOutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

TOutputFile TOutputFile::CreateNew(const std::string& path, const std::string& shownName) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) Throw("Cannot create file", shownName, errno);
  return TOutputFile(fd, shownName);
}

TOutputFile TOutputFile::OpenExisting(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) Throw("Cannot open file", path, errno);
  return TOutputFile(fd, path);
}

void TOutputFile::Fail(const char* what, int error) const { Throw(what, shownName_, error); }

void TOutputFile::Write(std::span<const std::byte> bytes) {
  if (fd_ < 0) Fail("Cannot write file", EBADF);
  while (!bytes.empty()) {
    const std::size_t room = kBufferSize - buffer_.size();
    const std::size_t take = std::min(room, bytes.size());
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
    bytes = bytes.subspan(take);
    if (buffer_.size() == kBufferSize) Flush();
  }
}

void TOutputFile::Flush() {
  if (fd_ < 0) Fail("Cannot write file", EBADF);
  const std::byte* data = buffer_.data();
  std::size_t left = buffer_.size();
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail("Error writing file", errno);
    }
    if (written == 0) Fail("Error writing file", ENOSPC);
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  buffer_.clear();
}

void TOutputFile::Sync() {
  if (fd_ < 0) Fail("Cannot write file", EBADF);
  Flush();
  while (::fsync(fd_) != 0) {
    // Devices and some special files cannot be synced; their data is written.
    if (errno == EINVAL || errno == EROFS) break;
    if (errno != EINTR) Fail("Error writing file", errno);
  }
}

void TOutputFile::Commit() {
  Sync();
  const int fd = fd_;
  fd_ = -1;
  if (const int error = CloseRetaining(fd); error != 0 && error != EINTR) Fail("Error closing file", error);
}

// --- TInputFile --------------------------------------------------------------

TInputFile::TInputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)), buffer_(kBufferSize) {}

TInputFile::TInputFile(TInputFile&& other) noexcept
    : fd_(other.fd_),
      path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)),
      begin_(other.begin_),
      end_(other.end_),
      atEnd_(other.atEnd_) {
  other.fd_ = -1;
}

TInputFile::~TInputFile() {
  if (fd_ >= 0) ::close(fd_);
}

TInputFile TInputFile::Open(const std::string& path) {
  // Without O_NONBLOCK, opening a named pipe waits for a writer and some
  // devices wait for a carrier: the window would freeze inside the open.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) Throw("Cannot open file", path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    Throw("Cannot open file", path, error);
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    Throw("Cannot open file", path, EISDIR);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    throw ERecordingFile("Cannot open file " + Quoted(path) + ": not a regular file");
  }
  // A regular file never blocks; reads go on as plain blocking reads.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return TInputFile(fd, path);
}

void TInputFile::Skip(std::uint64_t bytes) {
  const std::uint64_t buffered = end_ - begin_;
  if (bytes <= buffered) {
    begin_ += static_cast<std::size_t>(bytes);
    return;
  }
  const auto beyond = static_cast<off_t>(bytes - buffered);
  begin_ = end_ = 0;
  if (::lseek(fd_, beyond, SEEK_CUR) < 0) Throw("Error reading file", path_, errno);
}

std::uint64_t TInputFile::Size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) Throw("Error reading file", path_, errno);
  return static_cast<std::uint64_t>(info.st_size);
}

std::size_t TInputFile::Read(std::span<std::byte> into) {
  std::size_t delivered = 0;
  while (delivered < into.size()) {
    if (begin_ == end_) {
      if (atEnd_) break;
      const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
      if (got < 0) {
        if (errno == EINTR) continue;
        Throw("Error reading file", path_, errno);
      }
      begin_ = 0;
      end_ = static_cast<std::size_t>(got);
      if (got == 0) {
        atEnd_ = true;
        break;
      }
    }
    const std::size_t take = std::min(end_ - begin_, into.size() - delivered);
    std::memcpy(into.data() + delivered, buffer_.data() + begin_, take);
    begin_ += take;
    delivered += take;
  }
  return delivered;
}

// --- names -------------------------------------------------------------------

bool PathExists(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) return true;
  // Anything but "no such entry" (a folder we may not search, say) counts as
  // taken: the save must not go ahead on a name it cannot check.
  return errno != ENOENT && errno != ENOTDIR;
}

std::string TemporaryNameBeside(const std::string& path, std::string_view tag) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  const std::string folder = FolderOf(path);
  // The same length whatever the final name: a final name near the file
  // system's limit must not fail for its temporary's sake. The process id
  // in it tells a later save whether the writer still lives.
  char name[48];
  const int tagLength = static_cast<int>(std::min<std::size_t>(tag.size(), 3));
  std::snprintf(name, sizeof name, "%s%.*s-%010u-%08x%s", kTemporaryPrefix, tagLength, tag.data(),
                static_cast<unsigned>(::getpid()), salt ^ counter.fetch_add(1), kTemporarySuffix);
  return (folder == "/" ? std::string("/") : folder + "/") + name;
}

std::optional<int> TemporaryWriterOf(std::string_view name) {
  // ".ecg-TAG-PPPPPPPPPP-XXXXXXXX.part", TAG of up to three characters.
  const std::string_view prefix = kTemporaryPrefix, suffix = kTemporarySuffix;
  if (!name.starts_with(prefix) || !name.ends_with(suffix)) return std::nullopt;
  name.remove_prefix(prefix.size());
  name.remove_suffix(suffix.size());
  constexpr std::size_t kTail = 1 + 10 + 1 + 8;
  if (name.size() < kTail || name.size() > kTail + 3) return std::nullopt;
  const std::string_view tail = name.substr(name.size() - kTail);
  if (tail[0] != '-' || tail[11] != '-') return std::nullopt;
  unsigned long long pid = 0;
  for (const char c : tail.substr(1, 10)) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + static_cast<unsigned>(c - '0');
  }
  for (const char c : tail.substr(12)) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  if (pid == 0 || pid > static_cast<unsigned long long>(std::numeric_limits<int>::max())) return std::nullopt;
  return static_cast<int>(pid);
}

int RemoveStaleTemporaries(const std::string& path) noexcept {
  const std::string folder = FolderOf(path);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  const int self = static_cast<int>(::getpid());
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::optional<int> writer = TemporaryWriterOf(entry->d_name);
    // A living writer's file (another save running, or another user's
    // process: EPERM) is left alone; only a writer that is gone is stale.
    if (!writer || *writer == self || ::kill(*writer, 0) == 0 || errno != ESRCH) continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

void RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  const int error = errno;
  if (error != EINVAL && error != ENOSYS) Throw("Cannot create file", to, error);
  // File systems without RENAME_NOREPLACE: a hard link refuses an existing
  // name just the same.
  if (::link(from.c_str(), to.c_str()) != 0) Throw("Cannot create file", to, errno);
  ::unlink(from.c_str());
}

void RenameReplacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) Throw("Cannot create file", to, errno);
}

bool ExchangeOrRename(const std::string& from, const std::string& to) {
  // A swap would move a folder of that name aside; a rename refuses it.
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) Throw("Cannot create file", to, EISDIR);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) return true;
  const int error = errno;
  if (error == ENOENT) {
    RenameNoReplace(from, to);
    return false;
  }
  if (error != EINVAL && error != ENOSYS) Throw("Cannot create file", to, error);
  RenameReplacing(from, to);
  return false;
}

void RemoveQuietly(const std::string& path) noexcept { ::unlink(path.c_str()); }

void SyncFolderOf(const std::string& path) noexcept {
  const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// --- for files written by other code -----------------------------------------

PathInfo InspectPath(const std::string& path) {
  PathInfo result;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    struct stat link {};
    result.danglingLink = ::lstat(path.c_str(), &link) == 0;
    // A name that cannot be checked counts as taken by something unknown.
    if (!result.danglingLink && errno != ENOENT && errno != ENOTDIR) result.kind = PathInfo::Other;
    return result;
  }
  result.kind = S_ISREG(info.st_mode) ? PathInfo::Regular : PathInfo::Other;
  result.device = info.st_dev;
  result.inode = info.st_ino;
  return result;
}

void SyncFileByName(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Throw("Cannot open file", path, errno);
  const int syncError = ::fsync(fd) == 0 ? 0 : errno;
  const int closeError = CloseRetaining(fd);
  if (syncError != 0) Throw("Error writing file", path, syncError);
  if (closeError != 0) Throw("Error writing file", path, closeError);
}

std::optional<std::string> AppendFailure(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return SystemText(errno);
  static const std::vector<char> zeros(std::size_t{64} * 1024, '\0');
  // A short write is no answer yet: the next one says why it stopped.
  std::size_t done = 0;
  int error = 0;
  while (done < zeros.size() && error == 0) {
    const ssize_t written = ::write(fd, zeros.data() + done, zeros.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  ::close(fd);
  if (error != 0) return SystemText(error);
  return std::nullopt;
}
