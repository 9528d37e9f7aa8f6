#pragma once
// A fixed-capacity ring of bytes: the device layer's input queue. Bytes that
// do not fit are refused (the caller counts them as an overflow), so what
// is queued is always the oldest unread part of the stream, in order.
// Not thread-safe: its owner locks.
#include <cstddef>
#include <vector>

class ByteRing {
 public:
  explicit ByteRing(std::size_t capacity = 0) { Resize(capacity); }

  std::size_t Capacity() const { return storage_.size(); }
  std::size_t Size() const { return size_; }
  std::size_t Free() const { return storage_.size() - size_; }

  // Appends as many bytes as fit; returns how many did.
  std::size_t Push(const char* data, std::size_t count);
  // Removes up to `count` of the oldest bytes into `out`; returns how many.
  std::size_t Pop(char* out, std::size_t count);
  void Clear() { head_ = size_ = 0; }
  // New capacity; the oldest bytes that still fit are kept. Returns how many
  // had to be dropped.
  std::size_t Resize(std::size_t capacity);

 private:
  std::vector<char> storage_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};
