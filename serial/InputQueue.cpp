#include "serial/InputQueue.h"

#include <cstring>

void InputQueue::Configure(const ReceiveFilter::Settings& filter, std::uint8_t eventChar) {
  filter_.Configure(filter);
  eventChar_ = eventChar;
}

InputQueue::Outcome InputQueue::Arrive(const char* data, std::size_t count) {
  Outcome outcome;
  filtered_.clear();
  filter_.Process(data, count, filtered_);
  if (filter_.TakeErrorBytes() > 0) {
    outcome.errors.Include(erParity);
    outcome.events |= EV_ERR;
  }
  if (filter_.TakeBreaks() > 0) {
    outcome.errors.Include(erBreak);
    outcome.events |= EV_BREAK;
  }
  const std::size_t before = ring_.Size();
  const std::size_t accepted = ring_.Push(filtered_.data(), filtered_.size());
  pushed_ += accepted;
  if (accepted < filtered_.size()) {
    // The newest bytes stay out: what is queued remains an unbroken stretch.
    NoteGap();
    outcome.errors.Include(erRxOverflow);
    outcome.events |= EV_ERR;
  }
  if (accepted > 0) {
    outcome.events |= EV_RXCHAR;
    if (std::memchr(filtered_.data(), eventChar_, accepted)) outcome.events |= EV_RXFLAG;
    const std::size_t capacity = ring_.Capacity();
    const std::size_t after = ring_.Size();
    if (before * 5 < capacity * 4 && after * 5 >= capacity * 4) outcome.events |= EV_RX80FULL;
  }
  return outcome;
}

InputQueue::Outcome InputQueue::Resize(std::size_t capacity) {
  Outcome outcome;
  if (const std::size_t dropped = ring_.Resize(capacity); dropped > 0) {
    // The newest bytes went: what follows them on the line lies beyond a gap.
    pushed_ -= dropped;
    NoteGap();
    outcome.errors.Include(erRxOverflow);
    outcome.events |= EV_ERR;
  }
  return outcome;
}

void InputQueue::NoteGap() {
  if (gaps_.empty() || gaps_.back() != pushed_) gaps_.push_back(pushed_);
}

std::size_t InputQueue::Pop(char* out, std::size_t count) {
  const std::size_t got = ring_.Pop(out, count);
  Popped(got);
  return got;
}

void InputQueue::TakeAll(std::vector<char>& data, std::vector<std::size_t>& gaps) {
  gaps.clear();
  data.resize(ring_.Size());
  const std::size_t got = ring_.Pop(data.data(), data.size());
  for (std::uint64_t gap : gaps_)
    if (gap <= popped_ + got) gaps.push_back(static_cast<std::size_t>(gap - popped_));
  Popped(got);
}

void InputQueue::Clear() {
  ring_.Clear();
  popped_ = pushed_;
  gaps_.clear();
}

void InputQueue::Popped(std::size_t count) {
  popped_ += count;
  while (!gaps_.empty() && gaps_.front() <= popped_) gaps_.pop_front();
}
