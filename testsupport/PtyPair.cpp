#include "testsupport/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {
[[noreturn]] void Fail(const char* what) { throw std::runtime_error(std::string(what) + ": " + std::strerror(errno)); }
}  // namespace

PtyPair::PtyPair() {
  char name[256] = {};
  if (openpty(&master_, &slaveKeepAlive_, name, nullptr, nullptr) != 0) Fail("openpty");
  slavePath_ = name;
  termios tio{};
  tcgetattr(master_, &tio);
  cfmakeraw(&tio);
  tcsetattr(master_, TCSANOW, &tio);
  tcgetattr(slaveKeepAlive_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slaveKeepAlive_, TCSANOW, &tio);
  // The code under test takes the slave exclusively; our own handle on it
  // would count as another opener, so only the master stays open here.
  // Linux keeps the slave usable as long as the master is open.
  close(slaveKeepAlive_);
  slaveKeepAlive_ = -1;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() { HangUp(); }

void PtyPair::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void PtyPair::Write(const std::string& bytes) { Write(std::vector<unsigned char>(bytes.begin(), bytes.end())); }

void PtyPair::Write(const std::vector<unsigned char>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      Fail("write to pty master");
    }
  }
}

std::vector<unsigned char> PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout) {
  std::vector<unsigned char> out;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (out.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    unsigned char buf[4096];
    ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
    if (n > 0) out.insert(out.end(), buf, buf + n);
    else if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    else break;
  }
  return out;
}

ScopedVirtualPort::ScopedVirtualPort(const std::string& directory, const std::string& name, const std::string& target) {
  std::filesystem::create_directories(directory);
  path_ = directory + "/" + name;
  std::filesystem::remove(path_);
  std::filesystem::create_symlink(target, path_);
}

ScopedVirtualPort::~ScopedVirtualPort() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}
