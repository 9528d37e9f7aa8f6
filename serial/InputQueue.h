#pragma once
// The device layer's input queue: what the line brought, through the
// received-byte filter, in a ring of Buffer.InputSize bytes, with the places
// where the ring was full and had to refuse bytes (gaps). The events and
// line errors an arrival amounts to are worked out here; the device notes
// and announces them. Not thread-safe: the device locks.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/ComTypes.h"
#include "serial/ReceiveFilter.h"
#include "serial/Ring.h"

class InputQueue {
 public:
  // What one arrival (or a shrinking) amounts to: EV_RXCHAR, EV_RXFLAG,
  // EV_RX80FULL, EV_ERR and EV_BREAK flags, and the line errors behind them.
  struct Outcome {
    std::uint32_t events = 0;
    TComErrors errors;
  };

  explicit InputQueue(std::size_t capacity = 1024) : ring_(capacity) {}

  // The received-byte filter's settings and the event character (EV_RXFLAG).
  void Configure(const ReceiveFilter::Settings& filter, std::uint8_t eventChar);
  // Filters `count` bytes off the line and queues what fits. What does not
  // fit stays out, and the next byte queued lies beyond a gap.
  Outcome Arrive(const char* data, std::size_t count);
  // A smaller capacity drops the newest bytes, which leaves a gap there.
  Outcome Resize(std::size_t capacity);

  std::size_t Size() const { return ring_.Size(); }
  std::size_t Capacity() const { return ring_.Capacity(); }
  // Up to `count` of the oldest bytes; gaps they pass are forgotten.
  std::size_t Pop(char* out, std::size_t count);
  // Everything queued, replacing `data`, and the gaps among it as positions
  // in `data` (a gap behind the last byte is reported with that byte).
  void TakeAll(std::vector<char>& data, std::vector<std::size_t>& gaps);
  void Clear();

 private:
  void Popped(std::size_t count);
  void NoteGap();

  ByteRing ring_;
  ReceiveFilter filter_;
  std::string filtered_;
  std::uint8_t eventChar_ = 0;
  // Where the ring had to refuse bytes, as counts of bytes queued before
  // the refusal since the queue was made; `popped_` counts those taken.
  std::deque<std::uint64_t> gaps_;
  std::uint64_t pushed_ = 0;
  std::uint64_t popped_ = 0;
};
