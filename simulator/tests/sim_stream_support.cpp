#include "sim_stream_support.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {
[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

// Length of a frame starting with `kind`, or 0 when it ends at a 0x00.
int LengthOf(std::uint8_t kind, int sampleLength) {
  switch (kind) {
    case 0xF8: return sampleLength;
    case 0xF9:
    case 0xFA: return 3;
    case 0xFC: return 6;
    case 0xFE: return 7;
    case 0xFF: return 9;
    default: return 0;  // 0xFD
  }
}
}  // namespace

std::string Record100Header() { return ECG_MITDB100_HEADER; }

std::string Bytes(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ecg-sim-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) Fail("mkdtemp");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

PortEnd::PortEnd(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) Fail("open " + path);
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) Fail("tcgetattr");
  cfmakeraw(&tio);
  cfsetspeed(&tio, B115200);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) Fail("tcsetattr");
}

PortEnd::~PortEnd() { Close(); }

void PortEnd::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void PortEnd::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      Fail("write to the port");
    }
  }
}

std::string PortEnd::ReadSome(std::chrono::milliseconds timeout) {
  std::string out;
  pollfd p{fd_, POLLIN, 0};
  int r = poll(&p, 1, static_cast<int>(timeout.count()));
  if (r <= 0 || !(p.revents & POLLIN)) return out;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return out;
  }
}

bool PortEnd::WaitForHangUp(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    int r = poll(&p, 1, 100);
    if (r > 0 && (p.revents & (POLLHUP | POLLERR))) return true;
    if (r > 0 && (p.revents & POLLIN)) {
      char buffer[4096];
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
  }
  return false;
}

void FrameSplitter::Add(const std::string& bytes) {
  pending_ += bytes;
  std::size_t at = 0;
  while (at < pending_.size()) {
    const auto kind = static_cast<std::uint8_t>(pending_[at]);
    if (kind < 0xF8 || kind == 0xFB) {
      ++strays_;
      ++at;
      continue;
    }
    std::size_t length = static_cast<std::size_t>(LengthOf(kind, sampleLength_));
    if (length == 0) {
      const std::size_t end = pending_.find('\0', at + 1);
      if (end == std::string::npos) break;
      length = end + 1 - at;
    }
    if (pending_.size() - at < length) break;
    frames_.push_back(Frame{kind, pending_.substr(at, length)});
    at += length;
  }
  pending_.erase(0, at);
}

std::size_t FrameSplitter::Count(std::uint8_t kind) const {
  std::size_t n = 0;
  for (const Frame& frame : frames_) n += frame.kind == kind ? 1 : 0;
  return n;
}

bool ReadUntil(PortEnd& port, FrameSplitter& splitter, const std::function<bool(FrameSplitter&)>& done,
               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done(splitter)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    splitter.Add(port.ReadSome(std::min(left, std::chrono::milliseconds(100))));
  }
  return true;
}

std::vector<Frame> SampleFrames(const std::vector<Frame>& frames) {
  std::vector<Frame> samples;
  for (const Frame& frame : frames) {
    if (frame.kind == 0xF8) samples.push_back(frame);
  }
  return samples;
}
