#include "module/ModuleFramers.h"

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>

#include "module/FrameKinds.h"
#include "module/SetupChoices.h"
#include "module/SetupCommand.h"

namespace {

std::string OneByte(std::uint8_t byte) { return std::string(1, static_cast<char>(byte)); }

constexpr std::uint8_t kFirstStartByte = kSampleFrameStart;  // the lowest of the start bytes

bool ControlCharacter(std::uint8_t byte) { return byte < 0x20 || (byte >= 0x7F && byte <= 0x9F); }

}  // namespace

std::size_t FirstNonValueByte(std::string_view frame) {
  for (std::size_t i = 2; i < frame.size(); ++i) {
    if (static_cast<std::uint8_t>(frame[i]) >= kFirstStartByte) return i + 1;
  }
  return 0;
}

std::size_t FirstNonTextByte(std::string_view frame) {
  // The last byte is the stop byte.
  for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(frame[i]);
    if (byte >= kFirstStartByte || ControlCharacter(byte)) return i + 1;
  }
  return 0;
}

TModuleFramers::TModuleFramers(TFrameHandlers& handlers) : handlers_(handlers) {
  struct Described {
    TComDataPacket& framer;
    int size;
    void (TFrameHandlers::*handler)(const std::string&);
  };
  // The sizes the framers have before the first set-up; the identification
  // framer has no size, its stop byte ends the packet.
  const Described described[] = {
      {CenterPacket, kChestFrameSizeAtStart, &TFrameHandlers::ReceiveCenter},
      {PulsePacket, kPulseFrameSize, &TFrameHandlers::ReceivePulse},
      {RespPacket, kRespFrameSize, &TFrameHandlers::ReceiveResp},
      {StatusPacket, kStatusFrameSize, &TFrameHandlers::ReceiveStatus},
      {IdentPacket, 0, &TFrameHandlers::ReceiveIdent},
      {CenterStatusPacket, kChestStatusFrameSize, &TFrameHandlers::ReceiveCenterStatus},
      {ComDataPacket1, kSampleFrameSizeAtStart, &TFrameHandlers::Receive},
  };
  for (std::size_t kind = 0; kind < std::size(described); ++kind) {
    const Described& d = described[kind];
    d.framer.SetIncludeStrings(true);
    d.framer.SetSize(d.size);
    d.framer.OnPacket = [this, kind, handler = d.handler](TComDataPacket& framer, const std::string& packet) {
      ++counts_.packets[kind];
      counts_.packetBytes += packet.size();
      if (kind == kChestKind) {
        chests_.push_back({framer.PacketStart(), false, packet});
        return;
      }
      if (kind == kSampleKind) HandOverChestsBefore(framer.PacketStart());
      (handlers_.*handler)(packet);
    };
    d.framer.OnReject = [this, kind](TComDataPacket& framer, const std::string& bytes) {
      ++counts_.rejected[kind];
      counts_.rejectedBytes += bytes.size();
      if (kind == kChestKind) {
        chests_.push_back({framer.PacketStart(), true, {}});
      } else if (kind == kSampleKind) {
        HandOverChestsBefore(framer.PacketStart());
        handlers_.SampleFrameRefused();
      }
    };
  }
  // The sample framer is the last to cut each chunk: the chest frames after
  // its last sample frame follow.
  ComDataPacket1.OnScanned = [this](TComDataPacket&) {
    HandOverChestsBefore(std::numeric_limits<std::uint64_t>::max());
  };
  // Frames cut from a broken stream are refused; the other kinds carry
  // values over the full byte range.
  CenterPacket.OnCheckPacket = FirstNonValueByte;
  ComDataPacket1.OnCheckPacket = FirstNonValueByte;
  IdentPacket.OnCheckPacket = FirstNonTextByte;
  // Start-up: every start marker is exactly one byte.
  ComDataPacket1.SetStartString(OneByte(kSampleFrameStart));
  PulsePacket.SetStartString(OneByte(kPulseFrameStart));
  RespPacket.SetStartString(OneByte(kRespFrameStart));
  StatusPacket.SetStartString(OneByte(kStatusFrameStart));
  IdentPacket.SetStartString(OneByte(kIdentFrameStart));
  CenterPacket.SetStartString(OneByte(kChestFrameStart));
  CenterStatusPacket.SetStartString(OneByte(kChestStatusFrameStart));
  IdentPacket.SetStopString(OneByte(kIdentFrameStop));
}

void TModuleFramers::Bind(TCustomComPort& port) {
  for (TComDataPacket* framer : InBindingOrder()) framer->SetComPort(&port);
}

void TModuleFramers::Feed(std::string_view chunk) {
  for (TComDataPacket* framer : InBindingOrder()) framer->AddChunk(chunk);
}

// The chest frames the chest framer (first in binding order) has cut from
// the stream before `start`, in their order.
void TModuleFramers::HandOverChestsBefore(std::uint64_t start) {
  std::size_t handed = 0;
  // A handler may feed or clear the framers; the frames are taken out first.
  while (handed < chests_.size() && chests_[handed].start < start) ++handed;
  if (handed == 0) return;
  std::vector<TChest> due(chests_.begin(), chests_.begin() + static_cast<std::ptrdiff_t>(handed));
  chests_.erase(chests_.begin(), chests_.begin() + static_cast<std::ptrdiff_t>(handed));
  for (const TChest& chest : due) {
    if (chest.refused) {
      handlers_.ChestFrameRefused();
    } else {
      handlers_.ReceiveCenter(chest.packet);
    }
  }
}

void TModuleFramers::Clear() {
  chests_.clear();
  for (TComDataPacket* framer : InBindingOrder()) framer->ClearBuffer();
}

void TModuleFramers::SetEightChannelSizes(int selectedCount) {
  // Outside 0..8 the sample framer would get no length at all and hand every
  // chunk whole to the sample handler.
  if (selectedCount < 0 || selectedCount > static_cast<int>(kChannelBoxCount)) {
    throw std::out_of_range("channel count " + std::to_string(selectedCount) + " outside 0.." +
                            std::to_string(kChannelBoxCount));
  }
  ComDataPacket1.SetSize(SampleFrameSize8(selectedCount));
}

void TModuleFramers::SetTwelveChannelSizes() {
  ComDataPacket1.SetSize(kSampleFrameSize12);
  CenterPacket.SetSize(kChestFrameSize12);
}

std::array<TComDataPacket*, TModuleFramers::kFramerCount> TModuleFramers::InBindingOrder() {
  return {&CenterPacket, &PulsePacket, &RespPacket, &StatusPacket, &IdentPacket, &CenterStatusPacket, &ComDataPacket1};
}

std::array<const TComDataPacket*, TModuleFramers::kFramerCount> TModuleFramers::InBindingOrder() const {
  return {&CenterPacket, &PulsePacket, &RespPacket, &StatusPacket, &IdentPacket, &CenterStatusPacket, &ComDataPacket1};
}
