#pragma once
// The packet framer: cuts packets out of the bytes one port receives (or
// that AddChunk is fed by hand) by a start marker, a fixed size, a stop
// marker or a handler's verdict, and hands each to OnPacket.
//
// Threads: main thread only, like the port's deliveries (smThreadSync). A
// handler may change the framer's properties, even clear it, while it runs.
// Exceptions: an exception from a handler leaves AddChunk (and so ends the
// port's delivery of the chunk); the delivered packet is already out of the
// pending buffer, the rest stays pending. ComPort's setter may raise EComPort
// 18 only if the link was tampered with.
//
// Bound to a port, the framer drops its pending bytes (through OnDiscard)
// where the port's input queue overflowed, so that no packet joins bytes
// from both sides of the gap.
//
// A packet check (OnCheckPacket) sees every packet cut before it is handed
// over and may refuse it from a byte on: the bytes before that one go to
// OnReject instead of OnPacket, and the scan goes on from that byte, which
// may start the next packet. So a packet cut short on the line never takes
// the start of the next one with it.
//
// Positions handed to OnCustomStart / OnCustomStop count from 1 (the first
// byte of the pending buffer); the handler leaves -1 for "decide as usual",
// sets a position > 0 for "here", or 0 for "not now".
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "serial/TComPort.h"

class TComDataPacket;

using TComStrEvent = std::function<void(TComDataPacket& Sender, const std::string& Str)>;
using TCustPacketEvent = std::function<void(TComDataPacket& Sender, const std::string& Str, int& Pos)>;
// 0: the packet may be one; else the position (from 1) of its first byte that
// cannot belong to it. Positions below 2 count as 2: the start stays dropped.
using TPacketCheck = std::function<std::size_t(std::string_view Packet)>;
using TPacketNotify = std::function<void(TComDataPacket& Sender)>;

class TComDataPacket : private TComPortObserver {
 public:
  TComDataPacket();
  virtual ~TComDataPacket();
  TComDataPacket(const TComDataPacket&) = delete;
  TComDataPacket& operator=(const TComDataPacket&) = delete;

  // Binds to a port (registering the framer's link) or, with nullptr,
  // unbinds. A port that is destroyed unbinds its framers itself.
  TCustomComPort* ComPort() const { return comPort_; }
  void SetComPort(TCustomComPort* value);

  bool CaseInsensitive() const { return caseInsensitive_; }
  void SetCaseInsensitive(bool value);  // a different value clears the buffer
  bool IncludeStrings() const { return includeStrings_; }
  void SetIncludeStrings(bool value) { includeStrings_ = value; }
  std::int32_t MaxBufferSize() const { return maxBufferSize_; }  // <= 0: no limit
  void SetMaxBufferSize(std::int32_t value) { maxBufferSize_ = value; }
  // How often a packet begun grew to MaxBufferSize without an end and was
  // dropped. (Bytes waiting for a start are dropped at the limit too, as a
  // matter of course; they are not counted.)
  std::uint64_t Overflows() const { return overflows_; }
  const std::string& StartString() const { return startString_; }
  void SetStartString(const std::string& value);  // a different value clears the buffer
  const std::string& StopString() const { return stopString_; }
  void SetStopString(const std::string& value);  // a different value clears the buffer
  std::int32_t Size() const { return size_; }    // <= 0: no fixed length
  void SetSize(std::int32_t value);              // a different value clears the buffer

  TComStrEvent OnDiscard;
  TComStrEvent OnPacket;
  TCustPacketEvent OnCustomStart;
  TCustPacketEvent OnCustomStop;
  TPacketCheck OnCheckPacket;
  TComStrEvent OnReject;    // the bytes of a packet refused by OnCheckPacket
  TPacketNotify OnScanned;  // after each chunk has been scanned, packets handed over

  // Packets refused by OnCheckPacket so far.
  std::uint64_t Rejected() const { return rejected_; }
  // Where the packet (or the refused bytes) being handed over began: the
  // number of bytes fed to the framer before its first byte. Framers fed the
  // same bytes can so put their packets in stream order.
  std::uint64_t PacketStart() const { return packetStart_; }

  // Appends the bytes to the pending buffer and scans it; without any stop
  // condition the chunk goes to OnPacket whole, at once.
  void AddChunk(std::string_view chunk);
  // Throws the pending bytes away (through OnDiscard).
  void ClearBuffer();

  // While loading from a stored description the four clearing setters only
  // store.
  void BeginLoading() { loading_ = true; }
  void Loaded() { loading_ = false; }

  // The bytes waiting for the end of a packet or for a start, and whether a
  // start has been found.
  std::string_view PendingBytes() const { return std::string_view(buffer_).substr(head_); }
  bool InPacket() const { return inPacket_; }

 protected:
  virtual void ScanBuffer();
  virtual void DoDiscard(const std::string& Str);
  virtual void DoPacket(const std::string& Str);
  virtual void DoCustomStart(const std::string& Str, int& Pos);
  virtual void DoCustomStop(const std::string& Str, int& Pos);

 private:
  void ComPortRemoved(TCustomComPort& port) override;
  void RxBuf(const char* buffer, int count);
  bool HasStopCondition() const;
  void ScanLoop();
  void LookForStart();
  void LookForEnd();
  void DropBefore(std::size_t position);
  void Cut(std::size_t length);
  bool Refused(std::size_t length);
  void DoScanned();
  std::size_t Search(std::string_view marker, std::string_view bytes) const;
  std::size_t SearchStart();  // 1-based position of the start marker in the pending bytes, or 0
  std::size_t Pending() const { return buffer_.size() - head_; }
  void RemoveFront(std::size_t count);

  TComLink link_;
  TCustomComPort* comPort_ = nullptr;
  // The pending bytes are buffer_[head_..]: cutting from the front only moves
  // head_, and the dead front is dropped when it outweighs the live part.
  std::string buffer_;
  std::size_t head_ = 0;
  // Pending bytes (from the front) known to hold no start of the start
  // marker; reset whenever the front moves or the marker changes.
  std::size_t startSearched_ = 0;
  bool inPacket_ = false;
  bool loading_ = false;
  bool caseInsensitive_ = false;
  bool includeStrings_ = false;
  std::int32_t maxBufferSize_ = 1024;
  std::uint64_t overflows_ = 0;
  std::uint64_t rejected_ = 0;
  std::uint64_t fed_ = 0;  // bytes fed so far
  std::uint64_t packetStart_ = 0;
  std::string startString_;
  std::string stopString_;
  std::int32_t size_ = 0;
};
