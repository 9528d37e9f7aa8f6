#include "serial/DeviceControlBlock.h"

#include <termios.h>

#include <array>
#include <utility>

TDeviceControlBlock MakeDeviceControlBlock(const TLineSettings& s) {
  TDeviceControlBlock dcb;
  dcb.DCBlength = sizeof(TDeviceControlBlock);
  dcb.BaudRate = BaudRateValue(s.BaudRate, s.CustomBaudRate);
  dcb.fBinary = true;
  dcb.fParity = s.Parity.Check();
  dcb.fOutxCtsFlow = s.FlowControl.OutCTSFlow();
  dcb.fOutxDsrFlow = s.FlowControl.OutDSRFlow();
  dcb.fDtrControl = static_cast<std::uint8_t>(s.FlowControl.ControlDTR());  // same order as DTR_CONTROL_*
  dcb.fDsrSensitivity = s.FlowControl.DSRSensitivity();
  dcb.fTXContinueOnXoff = s.FlowControl.TxContinueOnXoff();
  dcb.fOutX = s.FlowControl.XonXoffOut();
  dcb.fInX = s.FlowControl.XonXoffIn();
  dcb.fErrorChar = s.Parity.Check() && s.Parity.Replace();
  dcb.fNull = s.DiscardNull;
  dcb.fRtsControl = static_cast<std::uint8_t>(s.FlowControl.ControlRTS());  // same order as RTS_CONTROL_*
  dcb.XonLim = static_cast<std::uint16_t>(s.InputSize / 4);
  dcb.XoffLim = static_cast<std::uint16_t>(s.InputSize / 4);
  dcb.ByteSize = static_cast<std::uint8_t>(5 + s.DataBits);
  dcb.Parity = static_cast<std::uint8_t>(s.Parity.Bits());
  dcb.StopBits = static_cast<std::uint8_t>(s.StopBits);
  dcb.XonChar = s.FlowControl.XonChar();
  dcb.XoffChar = s.FlowControl.XoffChar();
  if (dcb.fErrorChar) dcb.ErrorChar = s.Parity.ReplaceChar();
  dcb.EvtChar = s.EventChar;
  return dcb;
}

TModemLineChanges ModemLineChanges(const TDeviceControlBlock* previous, const TDeviceControlBlock& next) {
  TModemLineChanges changes;
  if (!previous || previous->fDtrControl != next.fDtrControl)
    changes.DTR = next.fDtrControl == DTR_CONTROL_DISABLE ? TLineChange::Lower : TLineChange::Raise;
  if (!previous || previous->fRtsControl != next.fRtsControl) {
    const bool up = next.fRtsControl == RTS_CONTROL_ENABLE || next.fRtsControl == RTS_CONTROL_HANDSHAKE;
    changes.RTS = up ? TLineChange::Raise : TLineChange::Lower;
  }
  return changes;
}

namespace {
// glibc's <termios.h> does not spell out the kernel's "rate in c_ospeed" code.
constexpr std::uint32_t kBOTHER = 0010000;

constexpr std::array<std::pair<std::int32_t, std::uint32_t>, 15> kStandardRates = {{
    {110, B110},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {921600, B921600},
}};

std::uint32_t SizeFlag(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}
}  // namespace

bool TermiosFromDeviceControlBlock(const TDeviceControlBlock& dcb, TTermiosSettings& out) {
  if (dcb.BaudRate < 1) return false;
  TTermiosSettings t;

  // Raw: no break or CR/LF handling, no stripping, no output processing, no
  // echo, no canonical lines, no signals; every byte, 0x00 and 0xFF
  // included, goes through unchanged.
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  if (dcb.fParity) t.c_iflag |= INPCK;
  // Replacing bad-parity bytes needs to know which bytes were bad: PARMRK
  // marks them and the device layer turns the marks into ErrorChar. Without
  // it a bad byte simply reads as 0x00.
  if (dcb.fErrorChar) t.c_iflag |= PARMRK;
  if (dcb.fOutX) t.c_iflag |= IXON;
  if (dcb.fInX) t.c_iflag |= IXOFF;

  t.c_cflag = CREAD | CLOCAL | HUPCL | SizeFlag(dcb.ByteSize);
  switch (dcb.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;  // mark: the stick bit is 1
    case 4: t.c_cflag |= PARENB | CMSPAR; break;           // space: the stick bit is 0
    default: break;
  }
  // Linux has no 1.5 stop bits; two is the nearest setting a receiver of 1.5
  // accepts.
  if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;
  // The kernel has one switch for both directions of the RTS/CTS handshake.
  // DSR output flow, DSR sensitivity, DTR handshake, TXContinueOnXoff and the
  // XON/XOFF limits have no equivalent and are not honoured.
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;

  std::uint32_t code = kBOTHER;
  for (const auto& [rate, constant] : kStandardRates)
    if (rate == dcb.BaudRate) code = constant;
  t.c_cflag |= code;
  t.c_ispeed = static_cast<std::uint32_t>(dcb.BaudRate);
  t.c_ospeed = static_cast<std::uint32_t>(dcb.BaudRate);

  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = dcb.XonChar;
  t.c_cc[VSTOP] = dcb.XoffChar;
  out = t;
  return true;
}
