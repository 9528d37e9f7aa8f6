#include "simulator/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <filesystem>

#include "simulator/SimulatorError.h"

namespace {
std::string SystemReason(int error) { return std::strerror(error); }

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  tcsetattr(fd, TCSANOW, &tio);
}
}  // namespace

PseudoTerminal::PseudoTerminal() {
  int controller = -1;
  int terminal = -1;
  char name[256] = {};
  if (openpty(&controller, &terminal, name, nullptr, nullptr) != 0) {
    throw ESimulator("cannot open a pseudo-terminal: " + SystemReason(errno));
  }
  MakeRaw(terminal);
  MakeRaw(controller);
  close(terminal);
  fcntl(controller, F_SETFL, fcntl(controller, F_GETFL) | O_NONBLOCK);
  fcntl(controller, F_SETFD, FD_CLOEXEC);
  fd_ = controller;
  devicePath_ = name;
}

PseudoTerminal::~PseudoTerminal() { Close(); }

void PseudoTerminal::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool PseudoTerminal::PeerConnected() const {
  if (fd_ < 0) return false;
  pollfd p{fd_, 0, 0};
  int r;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  return r == 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

void PseudoTerminal::DiscardUnreadOutput() {
  // Only the direction towards the terminal side: what the tool wrote to us
  // is never thrown away, even if it has just opened the port again.
  // With our side closed the device name may already belong to another pair.
  if (fd_ < 0) return;
  int terminal = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (terminal < 0) return;  // taken exclusively by a new opener already: leave it alone
  tcflush(terminal, TCIFLUSH);
  close(terminal);
}

PseudoTerminal::Io PseudoTerminal::Read(std::string& out) {
  if (fd_ < 0) return Io::PeerGone;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return Io::Done;
    return Io::PeerGone;  // EIO (or end of file): the terminal side was closed
  }
}

PseudoTerminal::Io PseudoTerminal::Write(const char* data, std::size_t size, std::size_t& written) {
  written = 0;
  if (fd_ < 0) return Io::PeerGone;
  while (written < size) {
    ssize_t n = ::write(fd_, data + written, size - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return Io::WouldBlock;
    return Io::PeerGone;
  }
  return Io::Done;
}

VirtualPortLink::VirtualPortLink(const std::string& directory, const std::string& name, const std::string& target)
    : target_(target) {
  namespace fs = std::filesystem;
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    throw ESimulator("invalid port name \"" + name + "\"");
  }
  std::error_code error;
  if (fs::create_directories(directory, error)) {
    fs::permissions(directory, fs::perms::owner_all, error);  // our ports are nobody else's business
  }
  if (error) throw ESimulator("cannot create the virtual port directory " + directory + ": " + error.message());
  // A directory under /tmp could have been made by another user, who could
  // then put links of their choosing into the tool's port list.
  struct stat info {};
  if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw ESimulator("the virtual port directory " + directory + " is not a directory");
  }
  if (info.st_uid != geteuid() && geteuid() != 0) {
    throw ESimulator("the virtual port directory " + directory + " belongs to another user");
  }
  path_ = directory + "/" + name;
  lockPath_ = directory + "/." + name + ".lock";

  // Take the name: the lock outlives the link across Remove()/Retarget().
  // The lock file may be unlinked by its previous owner between our open and
  // flock, so check that we locked the file that the path still names.
  for (int attempt = 0; attempt < 5 && lockFd_ < 0; ++attempt) {
    int fd = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw ESimulator("cannot create " + lockPath_ + ": " + SystemReason(errno));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int reason = errno;
      close(fd);
      if (reason == EWOULDBLOCK) {
        throw ESimulator("the port name " + name + " is taken by another running simulator (" + path_ + ")");
      }
      throw ESimulator("cannot lock " + lockPath_ + ": " + SystemReason(reason));
    }
    struct stat held {
    }, named{};
    if (fstat(fd, &held) == 0 && stat(lockPath_.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      lockFd_ = fd;
    } else {
      close(fd);
    }
  }
  if (lockFd_ < 0) throw ESimulator("cannot lock " + lockPath_);

  // Nobody holds the name, so a link found here was left by a simulator that
  // died; anything else under the name is not ours to remove.
  struct stat existing {};
  if (lstat(path_.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      unlink(lockPath_.c_str());
      close(lockFd_);
      throw ESimulator(path_ + " exists and is not a link");
    }
    unlink(path_.c_str());
  }
  try {
    Retarget(target);
  } catch (...) {
    unlink(lockPath_.c_str());
    close(lockFd_);
    throw;
  }
}

VirtualPortLink::~VirtualPortLink() {
  Remove();
  unlink(lockPath_.c_str());
  close(lockFd_);
}

void VirtualPortLink::Remove() {
  char buffer[4096];
  ssize_t n = readlink(path_.c_str(), buffer, sizeof buffer - 1);
  if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target_) unlink(path_.c_str());
}

void VirtualPortLink::Retarget(const std::string& target) {
  Remove();
  target_ = target;
  if (symlink(target.c_str(), path_.c_str()) != 0) {
    throw ESimulator("cannot create the link " + path_ + ": " + SystemReason(errno));
  }
}

WakeSignal::WakeSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0) throw ESimulator("cannot create an event descriptor: " + SystemReason(errno));
}

WakeSignal::~WakeSignal() { close(fd_); }

void WakeSignal::Raise() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(fd_, &one, sizeof one);
}

void WakeSignal::Clear() {
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t ignored = ::read(fd_, &count, sizeof count);
}

WaitResult WaitForEvents(const PseudoTerminal* terminal, bool wantWrite, const WakeSignal& wake,
                         std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{wake.Fd(), POLLIN, 0}, {-1, 0, 0}};
  nfds_t count = 1;
  if (terminal && terminal->IsOpen()) {
    fds[1] = {terminal->Fd(), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
    count = 2;
  }
  // Deadlines are absolute: an interrupted wait resumes with what is left.
  for (;;) {
    auto left = deadline - std::chrono::steady_clock::now();
    if (left < std::chrono::nanoseconds(0)) left = std::chrono::nanoseconds(0);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    int r = ppoll(fds, count, &timeout, nullptr);
    if (r < 0 && errno == EINTR) continue;
    WaitResult result;
    if (r <= 0) return result;
    result.woken = (fds[0].revents & POLLIN) != 0;
    result.readable = count == 2 && (fds[1].revents & POLLIN) != 0;
    result.writable = count == 2 && (fds[1].revents & POLLOUT) != 0;
    result.hangUp = count == 2 && (fds[1].revents & (POLLHUP | POLLERR)) != 0;
    return result;
  }
}
