#pragma once
// Vocabulary of the serial link: line-setting enumerations, the event, error
// and signal sets, and the handler types of the port's events.
//
// Enumerations are plain (unscoped) on purpose: every value carries the short
// prefix of its type (br115200, prEven, evRxChar), which already scopes it.
#include <cstdint>
#include <functional>
#include <initializer_list>

enum TBaudRate : std::uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };
enum TComEvent : std::uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};
enum TComError : std::uint8_t { erFraming, erParity, erOverrun, erBreak, erDevice, erMode, erRxOverflow, erTxFull };
// The modem-status lines read by LineSignals.
enum TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };

// A small set of enumeration values, bit i standing for value i.
template <typename E, int N>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> values) {
    for (E v : values) Include(v);
  }
  static constexpr TEnumSet All() { return FromBits((1u << N) - 1u); }
  static constexpr TEnumSet FromBits(std::uint32_t bits) {
    TEnumSet s;
    s.bits_ = bits & ((1u << N) - 1u);
    return s;
  }
  constexpr std::uint32_t Bits() const { return bits_; }
  constexpr bool Contains(E v) const { return (bits_ >> static_cast<unsigned>(v)) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TEnumSet& Include(E v) {
    bits_ |= 1u << static_cast<unsigned>(v);
    return *this;
  }
  constexpr TEnumSet& Exclude(E v) {
    bits_ &= ~(1u << static_cast<unsigned>(v));
    return *this;
  }
  constexpr bool operator==(const TEnumSet&) const = default;

 private:
  std::uint32_t bits_ = 0;
};

using TComEvents = TEnumSet<TComEvent, 10>;
using TComErrors = TEnumSet<TComError, 8>;
using TComSignals = TEnumSet<TComSignal, 4>;

// The line rate a TBaudRate stands for; brCustom gives `customRate`.
int BaudRateValue(TBaudRate rate, int customRate);

// Line-event flags of the device layer. They keep the values of the
// comm-event mask the design was written against, so that a mask of all ten
// events reads 0x05FF everywhere.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;

std::uint32_t EventFlag(TComEvent event);
// The order in which the actions of one reported set of events run.
inline constexpr TComEvent kDeliveryOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                               evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
std::uint32_t EventMaskOf(TComEvents events);
TComEvents EventsOfMask(std::uint32_t mask);  // unknown bits are dropped

class TCustomComPort;

// Handlers of the port's events. Sender is always the port raising them.
using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, int Count)>;
// Buffer is read-only and valid only during the call.
using TRxBufEvent = std::function<void(TCustomComPort& Sender, const char* Buffer, int Count)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;
