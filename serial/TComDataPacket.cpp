#include "serial/TComDataPacket.h"

#include <algorithm>
#include <exception>

namespace {
unsigned char Fold(unsigned char byte) { return (byte >= 0x61 && byte <= 0x7A) ? byte - 0x20 : byte; }
}  // namespace

TComDataPacket::TComDataPacket() {
  link_.OnRxBuf = [this](TCustomComPort&, const char* buffer, int count) { RxBuf(buffer, count); };
  // Bytes lost to a full input queue: what is pending would be joined with
  // bytes from the far side of the gap into a packet never sent.
  link_.OnRxOverflow = [this](TCustomComPort&) { ClearBuffer(); };
}

TComDataPacket::~TComDataPacket() {
  try {
    SetComPort(nullptr);
  } catch (...) {
    // Unbinding cannot fail unless the link was removed behind our back.
  }
}

void TComDataPacket::SetComPort(TCustomComPort* value) {
  if (value == comPort_) return;
  if (comPort_) {
    TCustomComPort* old = comPort_;
    comPort_ = nullptr;
    old->RemoveObserver(*this);
    old->UnregisterLink(link_);
  }
  comPort_ = value;
  if (comPort_) {
    comPort_->AddObserver(*this);
    comPort_->RegisterLink(link_);
  }
}

void TComDataPacket::ComPortRemoved(TCustomComPort& port) {
  if (&port == comPort_) SetComPort(nullptr);
}

void TComDataPacket::RxBuf(const char* buffer, int count) {
  if (count > 0) AddChunk(std::string_view(buffer, static_cast<std::size_t>(count)));
}

// ---- properties ----

void TComDataPacket::SetCaseInsensitive(bool value) {
  if (value == caseInsensitive_) return;
  caseInsensitive_ = value;
  startSearched_ = 0;
  if (!loading_) ClearBuffer();
}

void TComDataPacket::SetStartString(const std::string& value) {
  if (value == startString_) return;
  startString_ = value;
  startSearched_ = 0;
  if (!loading_) ClearBuffer();
}

void TComDataPacket::SetStopString(const std::string& value) {
  if (value == stopString_) return;
  stopString_ = value;
  if (!loading_) ClearBuffer();
}

void TComDataPacket::SetSize(std::int32_t value) {
  if (value == size_) return;
  size_ = value;
  if (!loading_) ClearBuffer();
}

// ---- events ----

void TComDataPacket::DoDiscard(const std::string& Str) {
  if (OnDiscard) {
    TComStrEvent handler = OnDiscard;
    handler(*this, Str);
  }
}

void TComDataPacket::DoPacket(const std::string& Str) {
  if (OnPacket) {
    TComStrEvent handler = OnPacket;
    handler(*this, Str);
  }
}

void TComDataPacket::DoCustomStart(const std::string& Str, int& Pos) {
  if (OnCustomStart) {
    TCustPacketEvent handler = OnCustomStart;
    handler(*this, Str, Pos);
  }
}

void TComDataPacket::DoCustomStop(const std::string& Str, int& Pos) {
  if (OnCustomStop) {
    TCustPacketEvent handler = OnCustomStop;
    handler(*this, Str, Pos);
  }
}

// ---- framing ----

bool TComDataPacket::HasStopCondition() const { return size_ > 0 || !stopString_.empty() || bool(OnCustomStop); }

void TComDataPacket::AddChunk(std::string_view chunk) {
  if (!HasStopCondition()) {
    packetStart_ = fed_;
    fed_ += chunk.size();
    DoPacket(std::string(chunk));
    DoScanned();
    return;
  }
  fed_ += chunk.size();
  // Drop the consumed front once it outweighs what is still pending, so that
  // cutting packets off the front never moves the rest byte by byte.
  if (head_ > 0 && head_ >= buffer_.size() - head_) {
    buffer_.erase(0, head_);
    head_ = 0;
  }
  buffer_.append(chunk);
  ScanBuffer();
  DoScanned();
}

void TComDataPacket::DoScanned() {
  if (OnScanned) {
    TPacketNotify handler = OnScanned;
    handler(*this);
  }
}

void TComDataPacket::ScanBuffer() {
  std::exception_ptr error;
  try {
    ScanLoop();
  } catch (...) {
    error = std::current_exception();
  }
  // The limit is checked on the way out whatever happened in a handler.
  if (maxBufferSize_ > 0 && Pending() >= static_cast<std::size_t>(maxBufferSize_)) {
    if (inPacket_) ++overflows_;
    ClearBuffer();
  }
  if (error) std::rethrow_exception(error);
}

void TComDataPacket::ScanLoop() {
  for (;;) {
    if (!inPacket_) LookForStart();
    if (!inPacket_) return;
    LookForEnd();
    if (inPacket_) return;  // the packet is still open
    // A packet was cut: look at what is left. An empty rest holds nothing
    // more; scanning it would only let a stop handler cut empty packets
    // forever.
    if (Pending() == 0) return;
  }
}

std::size_t TComDataPacket::Search(std::string_view marker, std::string_view bytes) const {
  if (marker.empty() || marker.size() > bytes.size()) return 0;
  std::string_view::const_iterator it;
  if (caseInsensitive_) {
    it = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end(), [](char a, char b) {
      return Fold(static_cast<unsigned char>(a)) == Fold(static_cast<unsigned char>(b));
    });
  } else {
    const std::size_t at = bytes.find(marker);
    if (at == std::string_view::npos) return 0;
    return at + 1;
  }
  return it == bytes.end() ? 0 : static_cast<std::size_t>(it - bytes.begin()) + 1;
}

// The bytes a search has been through without a start are not searched
// again: a framer whose start byte is rare (the status, pulse and
// identification framers see every sample frame) would otherwise search up
// to MaxBufferSize bytes for every chunk.
std::size_t TComDataPacket::SearchStart() {
  const std::string_view pending = PendingBytes();
  const std::size_t from = std::min(startSearched_, pending.size());
  if (const std::size_t found = Search(startString_, pending.substr(from)); found > 0) return from + found;
  // An occurrence may still begin in the last marker-length - 1 bytes.
  const std::size_t open = startString_.size() - 1;
  startSearched_ = pending.size() > open ? pending.size() - open : 0;
  return 0;
}

void TComDataPacket::RemoveFront(std::size_t count) {
  startSearched_ = 0;
  head_ += std::min(count, Pending());
  if (head_ == buffer_.size()) {
    buffer_.clear();
    head_ = 0;
  }
}

void TComDataPacket::LookForStart() {
  int position = -1;
  if (OnCustomStart) DoCustomStart(std::string(PendingBytes()), position);
  if (position > 0) {
    DropBefore(static_cast<std::size_t>(position));
  } else if (position == -1) {
    if (startString_.empty()) {
      inPacket_ = true;
    } else if (std::size_t found = SearchStart(); found > 0) {
      DropBefore(found);
    }
  }
  // Any other position: no start now.
}

void TComDataPacket::LookForEnd() {
  int position = -1;
  if (OnCustomStop) DoCustomStop(std::string(PendingBytes()), position);
  std::size_t cut = 0;
  if (position > 0) {
    cut = static_cast<std::size_t>(position);
  } else if (position == -1) {
    const std::string_view pending = PendingBytes();
    if (size_ > 0 && pending.size() >= static_cast<std::size_t>(size_)) {
      cut = static_cast<std::size_t>(size_);
    } else if (!stopString_.empty()) {
      // Searched only after the start marker, which the stop marker may
      // overlap.
      const std::size_t skip = startString_.size();
      if (pending.size() > skip) {
        if (std::size_t found = Search(stopString_, pending.substr(skip)); found > 0)
          cut = found + stopString_.size() + skip - 1;
      }
    }
  }
  if (cut > 0) {
    inPacket_ = false;
    Cut(cut);
  }
}

void TComDataPacket::DropBefore(std::size_t position) {
  inPacket_ = true;
  if (position <= 1) return;
  const std::size_t count = std::min(position - 1, Pending());
  if (count == 0) return;
  std::string dropped(PendingBytes().substr(0, count));
  RemoveFront(count);
  DoDiscard(dropped);
}

// A refused packet leaves its bytes up to the one the check named; the scan
// then looks for a start from that byte on.
bool TComDataPacket::Refused(std::size_t length) {
  if (!OnCheckPacket) return false;
  const std::size_t bad = OnCheckPacket(PendingBytes().substr(0, length));
  if (bad == 0) return false;
  const std::size_t count = std::min(std::max<std::size_t>(bad, 2) - 1, length);
  std::string refused(PendingBytes().substr(0, count));
  packetStart_ = fed_ - Pending();
  RemoveFront(count);
  ++rejected_;
  if (OnReject) {
    TComStrEvent handler = OnReject;
    handler(*this, refused);
  }
  return true;
}

void TComDataPacket::Cut(std::size_t length) {
  if (Refused(length)) return;
  packetStart_ = fed_ - Pending();
  std::string packet(PendingBytes().substr(0, length));
  RemoveFront(packet.size());
  if (!includeStrings_) {
    if (Search(startString_, packet) == 1) packet.erase(0, startString_.size());
    const std::size_t stop = Search(stopString_, packet);
    if (stop > 0 && stop == packet.size() - stopString_.size() + 1) packet.erase(stop - 1);
  }
  DoPacket(packet);
}

void TComDataPacket::ClearBuffer() {
  if (Pending() == 0) return;
  std::string dropped(PendingBytes());
  buffer_.clear();
  head_ = 0;
  startSearched_ = 0;
  inPacket_ = false;
  DoDiscard(dropped);
}
