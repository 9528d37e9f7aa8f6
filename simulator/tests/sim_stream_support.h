#pragma once
// Test side of the simulator's line: a scratch directory for virtual ports,
// the tool's end of the port opened with plain POSIX calls, and a reference
// splitter that cuts the module's byte stream into frames.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simulator/ModuleCommand.h"

// MIT-BIH record 100's header (100.hea beside 100.dat and 100.atr) in the
// repository.
std::string Record100Header();

// Bytes from a hex text such as "53 31 41".
std::string Bytes(const std::string& hex);

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The tool's end: opened raw and non-blocking, as a serial port is.
class PortEnd {
 public:
  explicit PortEnd(const std::string& path);
  ~PortEnd();
  PortEnd(const PortEnd&) = delete;
  PortEnd& operator=(const PortEnd&) = delete;

  void Write(const std::string& bytes);
  // Whatever arrives within `timeout` (returns early once anything came).
  std::string ReadSome(std::chrono::milliseconds timeout);
  // Waits for the hang-up: POLLHUP, or a read giving 0 or EIO.
  bool WaitForHangUp(std::chrono::milliseconds timeout);
  void Close();

 private:
  int fd_ = -1;
};

struct Frame {
  std::uint8_t kind = 0;  // the start byte
  std::string bytes;      // the whole frame, start byte included
  std::uint8_t Byte(std::size_t index) const { return static_cast<std::uint8_t>(bytes.at(index)); }
};

// Cuts frames by start byte and known length, as a receiver that trusts the
// stream would. Bytes that start no frame are counted as strays.
class FrameSplitter {
 public:
  explicit FrameSplitter(int sampleFrameLength = 5) : sampleLength_(sampleFrameLength) {}
  void SetSampleFrameLength(int length) { sampleLength_ = length; }
  void Add(const std::string& bytes);
  std::vector<Frame>& Frames() { return frames_; }
  std::size_t Strays() const { return strays_; }
  std::size_t Count(std::uint8_t kind) const;

 private:
  int sampleLength_;
  std::string pending_;
  std::vector<Frame> frames_;
  std::size_t strays_ = 0;
};

// Reads from `port` into `splitter` until `done` holds or `timeout` ran out.
bool ReadUntil(PortEnd& port, FrameSplitter& splitter, const std::function<bool(FrameSplitter&)>& done,
               std::chrono::milliseconds timeout);

// The sample frames (F8) among `frames`.
std::vector<Frame> SampleFrames(const std::vector<Frame>& frames);
