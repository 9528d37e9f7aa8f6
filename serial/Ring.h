#pragma once
// A first-in, first-out ring of fixed capacity, allocated once: the device
// layer's input queue (ByteRing, filled and emptied in runs of bytes) and
// the small queues of records that wait for their partners. What does not fit
// is refused (the caller decides what that means), so what is queued is
// always the oldest unread part of what was pushed, in order.
// Not thread-safe: its owner locks.
#include <algorithm>
#include <cstddef>
#include <vector>

template <typename T>
class TRing {
 public:
  explicit TRing(std::size_t capacity = 0) : items_(capacity) {}

  std::size_t Capacity() const { return items_.size(); }
  std::size_t Size() const { return size_; }
  std::size_t Free() const { return items_.size() - size_; }
  bool Empty() const { return size_ == 0; }
  bool Full() const { return size_ == items_.size(); }

  // One item at a time. Front, At and PopFront need a non-empty ring,
  // PushBack a non-full one.
  const T& Front() const { return items_[head_]; }
  const T& Back() const { return items_[(head_ + size_ - 1) % items_.size()]; }
  T& At(std::size_t i) { return items_[(head_ + i) % items_.size()]; }
  void PushBack(const T& item) {
    items_[(head_ + size_) % items_.size()] = item;
    ++size_;
  }
  T PopFront() {
    T item = items_[head_];
    Advance(1);
    return item;
  }

  // Runs of items. Push appends as many as fit and returns how many did; Pop
  // removes up to `count` of the oldest into `out` and returns how many.
  std::size_t Push(const T* data, std::size_t count) {
    const std::size_t n = std::min(count, Free());
    if (n == 0) return 0;
    const std::size_t tail = (head_ + size_) % items_.size();
    const std::size_t first = std::min(n, items_.size() - tail);
    std::copy(data, data + first, items_.begin() + static_cast<std::ptrdiff_t>(tail));
    std::copy(data + first, data + n, items_.begin());
    size_ += n;
    return n;
  }
  std::size_t Pop(T* out, std::size_t count) {
    const std::size_t n = std::min(count, size_);
    if (n == 0) return 0;
    const std::size_t first = std::min(n, items_.size() - head_);
    const auto head = items_.begin() + static_cast<std::ptrdiff_t>(head_);
    std::copy(head, head + static_cast<std::ptrdiff_t>(first), out);
    std::copy(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(n - first), out + first);
    Advance(n);
    return n;
  }

  void Clear() { head_ = size_ = 0; }
  // New capacity; the oldest items that still fit are kept. Returns how many
  // had to be dropped (the newest).
  std::size_t Resize(std::size_t capacity) {
    std::vector<T> fresh(capacity);
    const std::size_t kept = Pop(fresh.data(), std::min(size_, capacity));
    const std::size_t dropped = size_;
    items_.swap(fresh);
    head_ = 0;
    size_ = kept;
    return dropped;
  }

 private:
  void Advance(std::size_t n) {
    head_ = (head_ + n) % items_.size();
    size_ -= n;
    if (size_ == 0) head_ = 0;
  }

  std::vector<T> items_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

using ByteRing = TRing<char>;
