#include "simulator/FaultInjector.h"

#include <algorithm>

FaultInjector::FaultInjector(FaultOptions options) { SetOptions(options); }

void FaultInjector::SetOptions(const FaultOptions& options) {
  options_ = options;
  random_.seed(options.seed);
}

std::string FaultInjector::Apply(const std::string& frame) {
  if (options_.garbageChance <= 0 && options_.dropChance <= 0) return frame;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::string out;
  if (options_.garbageChance > 0 && chance(random_) < options_.garbageChance) {
    std::uniform_int_distribution<std::size_t> count(1, FaultOptions::kMaxGarbage);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t n = count(random_); n > 0; --n) out.push_back(static_cast<char>(byte(random_)));
    garbageBytes_ += out.size();
  }
  for (char c : frame) {
    if (options_.dropChance > 0 && chance(random_) < options_.dropChance) {
      ++droppedBytes_;
      continue;
    }
    out.push_back(c);
  }
  return out;
}

std::size_t FaultInjector::NextChunk(std::size_t waiting) {
  if (!options_.randomChunks || waiting == 0) return waiting;
  std::uniform_int_distribution<std::size_t> size(1, FaultOptions::kMaxChunk);
  return std::min(waiting, size(random_));
}
