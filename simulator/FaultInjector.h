#pragma once
// Line faults for tests: stray bytes between frames, lost bytes, and writes
// cut into pieces of random sizes. Deterministic for a given seed.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

struct FaultOptions {
  double garbageChance = 0.0;  // per frame: chance of 1..kMaxGarbage random bytes before it
  double dropChance = 0.0;     // per byte: chance that it is lost
  bool randomChunks = false;   // write the output in pieces of 1..kMaxChunk bytes, a moment apart
  std::uint32_t seed = 1;

  bool Any() const { return garbageChance > 0 || dropChance > 0 || randomChunks; }
  bool operator==(const FaultOptions&) const = default;

  static constexpr std::size_t kMaxGarbage = 8;
  static constexpr std::size_t kMaxChunk = 48;
};

class FaultInjector {
 public:
  explicit FaultInjector(FaultOptions options = {});
  void SetOptions(const FaultOptions& options);  // restarts the random sequence
  const FaultOptions& Options() const { return options_; }

  // The bytes that reach the line for one frame: maybe garbage first (any
  // byte, frame-start bytes included), then the frame less any dropped bytes.
  std::string Apply(const std::string& frame);
  // Size of the next piece to write, given how much is waiting.
  std::size_t NextChunk(std::size_t waiting);

  std::uint64_t GarbageBytes() const { return garbageBytes_; }
  std::uint64_t DroppedBytes() const { return droppedBytes_; }

 private:
  FaultOptions options_;
  std::mt19937 random_;
  std::uint64_t garbageBytes_ = 0;
  std::uint64_t droppedBytes_ = 0;
};
