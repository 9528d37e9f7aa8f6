#include "serial/LineEvents.h"

#include <sys/ioctl.h>

LineEvents LineEventsBetween(const serial_icounter_struct& was, const serial_icounter_struct& now) {
  LineEvents out;
  if (now.frame != was.frame) out.errors.Include(erFraming);
  if (now.parity != was.parity) out.errors.Include(erParity);
  if (now.overrun != was.overrun) out.errors.Include(erOverrun);
  if (now.buf_overrun != was.buf_overrun) out.errors.Include(erRxOverflow);
  if (!out.errors.Empty()) out.events |= EV_ERR;
  // A break is an event of its own, not a line error event.
  if (now.brk != was.brk) {
    out.errors.Include(erBreak);
    out.events |= EV_BREAK;
  }
  if (now.cts != was.cts) out.events |= EV_CTS;
  if (now.dsr != was.dsr) out.events |= EV_DSR;
  if (now.dcd != was.dcd) out.events |= EV_RLSD;
  if (now.rng != was.rng) out.events |= EV_RING;
  return out;
}

LineEvents ModemLineEventsBetween(int wasBits, int nowBits) {
  LineEvents out;
  const int changed = wasBits ^ nowBits;
  if (changed & TIOCM_CTS) out.events |= EV_CTS;
  if (changed & TIOCM_DSR) out.events |= EV_DSR;
  if (changed & TIOCM_CD) out.events |= EV_RLSD;
  if ((changed & TIOCM_RI) && (nowBits & TIOCM_RI)) out.events |= EV_RING;
  return out;
}
