#include "serial/ComTypes.h"

#include <array>

int BaudRateValue(TBaudRate rate, int customRate) {
  static constexpr std::array<int, 16> kRates = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                                 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  if (rate == brCustom) return customRate;
  return kRates.at(rate);
}

namespace {
constexpr std::array<std::uint32_t, 10> kEventFlags = {
    EV_RXCHAR,   // evRxChar
    EV_TXEMPTY,  // evTxEmpty
    EV_RXFLAG,   // evRxFlag
    EV_RING,     // evRing
    EV_BREAK,    // evBreak
    EV_CTS,      // evCTS
    EV_DSR,      // evDSR
    EV_ERR,      // evError
    EV_RLSD,     // evRLSD
    EV_RX80FULL  // evRx80Full
};
}  // namespace

std::uint32_t EventFlag(TComEvent event) { return kEventFlags.at(event); }

std::uint32_t EventMaskOf(TComEvents events) {
  std::uint32_t mask = 0;
  for (unsigned i = 0; i < kEventFlags.size(); ++i)
    if (events.Contains(static_cast<TComEvent>(i))) mask |= kEventFlags[i];
  return mask;
}

TComEvents EventsOfMask(std::uint32_t mask) {
  TComEvents events;
  for (unsigned i = 0; i < kEventFlags.size(); ++i)
    if (mask & kEventFlags[i]) events.Include(static_cast<TComEvent>(i));
  return events;
}
