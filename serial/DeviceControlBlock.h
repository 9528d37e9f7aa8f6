#pragma once
// The line settings as one record (the device control block), computed from
// the port's properties by a pure function, and its mapping onto the Linux
// terminal interface, also pure. Only PosixSerialDevice hands the result to
// the kernel.
#include <cstdint>

#include "serial/ComSettings.h"
#include "serial/ComTypes.h"

// Everything the line settings are made of, as the port holds it.
struct TLineSettings {
  TBaudRate BaudRate = br9600;
  std::int32_t CustomBaudRate = 9600;
  TComParity Parity;
  TStopBits StopBits = sbOneStopBit;
  TDataBits DataBits = dbEight;
  bool DiscardNull = false;
  std::uint8_t EventChar = 0;
  TComFlowControl FlowControl;
  std::int32_t InputSize = 1024;
};

inline constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_TOGGLE = 3;

// Field names follow the record the design describes; fields it does not
// list stay zero.
struct TDeviceControlBlock {
  std::uint32_t DCBlength = 0;
  std::int32_t BaudRate = 0;
  bool fBinary = false;
  bool fParity = false;
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  std::uint8_t fDtrControl = DTR_CONTROL_DISABLE;
  bool fDsrSensitivity = false;
  bool fTXContinueOnXoff = false;
  bool fOutX = false;
  bool fInX = false;
  bool fErrorChar = false;
  bool fNull = false;
  std::uint8_t fRtsControl = RTS_CONTROL_DISABLE;
  bool fAbortOnError = false;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;    // 0..4: none, odd, even, mark, space
  std::uint8_t StopBits = 0;  // 0, 1, 2: one, one and a half, two
  std::uint8_t XonChar = 0;
  std::uint8_t XoffChar = 0;
  std::uint8_t ErrorChar = 0;
  std::uint8_t EofChar = 0;
  std::uint8_t EvtChar = 0;

  bool operator==(const TDeviceControlBlock&) const = default;
};

TDeviceControlBlock MakeDeviceControlBlock(const TLineSettings& settings);

// The kernel's extended terminal settings (struct termios2), spelled out so
// that this header needs neither <termios.h> nor <asm/termbits.h>. Flag bits
// carry the kernel's values.
struct TTermiosSettings {
  static constexpr int ControlChars = 19;
  std::uint32_t c_iflag = 0;
  std::uint32_t c_oflag = 0;
  std::uint32_t c_cflag = 0;
  std::uint32_t c_lflag = 0;
  std::uint8_t c_line = 0;
  std::uint8_t c_cc[ControlChars] = {};
  std::uint32_t c_ispeed = 0;
  std::uint32_t c_ospeed = 0;
};

// What a new control block does to DTR and RTS. The lines follow their
// control mode only when the mode changes (or on the first block): a block
// handed over again for another setting must leave a raised line raised.
// Disable lowers a line, enable and handshake raise it, toggle starts low.
enum class TLineChange { Keep, Raise, Lower };
struct TModemLineChanges {
  TLineChange DTR = TLineChange::Keep;
  TLineChange RTS = TLineChange::Keep;
  bool operator==(const TModemLineChanges&) const = default;
};
TModemLineChanges ModemLineChanges(const TDeviceControlBlock* previous, const TDeviceControlBlock& next);

// Raw mode for every byte value, CLOCAL|CREAD|HUPCL (DTR and RTS drop when
// the device is closed, also by a program that ends abruptly), size, parity (mark and space
// through CMSPAR), stop bits, INPCK/PARMRK, IXON/IXOFF, CRTSCTS; standard
// rates as their B-constant, any other rate as BOTHER with the rate in
// c_ispeed/c_ospeed. A rate below 1 cannot be mapped: returns false.
bool TermiosFromDeviceControlBlock(const TDeviceControlBlock& dcb, TTermiosSettings& out);
