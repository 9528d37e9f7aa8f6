#include "serial/ByteRing.h"

#include <algorithm>
#include <cstring>

std::size_t ByteRing::Push(const char* data, std::size_t count) {
  const std::size_t cap = storage_.size();
  const std::size_t n = std::min(count, Free());
  if (n == 0) return 0;
  std::size_t tail = (head_ + size_) % cap;
  const std::size_t first = std::min(n, cap - tail);
  std::memcpy(storage_.data() + tail, data, first);
  std::memcpy(storage_.data(), data + first, n - first);
  size_ += n;
  return n;
}

std::size_t ByteRing::Pop(char* out, std::size_t count) {
  const std::size_t cap = storage_.size();
  const std::size_t n = std::min(count, size_);
  if (n == 0) return 0;
  const std::size_t first = std::min(n, cap - head_);
  std::memcpy(out, storage_.data() + head_, first);
  std::memcpy(out + first, storage_.data(), n - first);
  head_ = (head_ + n) % cap;
  size_ -= n;
  if (size_ == 0) head_ = 0;
  return n;
}

std::size_t ByteRing::Resize(std::size_t capacity) {
  std::vector<char> fresh(capacity);
  const std::size_t kept = Pop(fresh.data(), std::min(size_, capacity));
  const std::size_t dropped = size_;
  storage_.swap(fresh);
  head_ = 0;
  size_ = kept;
  return dropped;
}
