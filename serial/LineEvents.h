#pragma once
// The line events and errors a serial device's kernel counters tell between
// two readings: TIOCGICOUNT's counts of line errors, breaks and modem-line
// changes, or, on a device without counters, the TIOCMGET modem-line bits.
// A count that moved stands for one event however far it moved. Pure.
#include <linux/serial.h>

#include <cstdint>

#include "serial/ComTypes.h"

struct LineEvents {
  std::uint32_t events = 0;  // EV_* flags
  TComErrors errors;         // erFraming, erParity, erOverrun, erRxOverflow, erBreak
};

LineEvents LineEventsBetween(const serial_icounter_struct& was, const serial_icounter_struct& now);
// Ring is reported on its rising edge only, the other lines on every change.
LineEvents ModemLineEventsBetween(int wasBits, int nowBits);
