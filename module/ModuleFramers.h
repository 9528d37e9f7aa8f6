#pragma once
// The main window's seven packet framers, one per frame kind the module
// sends, configured as the window is built and started and each handing its
// packets to the matching TFrameHandlers method.
//
// Every framer sees every received byte: a chunk goes to all seven, one after
// the other, in binding order (CenterPacket, PulsePacket, RespPacket,
// StatusPacket, IdentPacket, CenterStatusPacket, ComDataPacket1). Chest
// frames (and those refused as broken) are held until the sample framer has
// cut the stream up to them, so TFrameHandlers gets the sample and chest
// frames in stream order (TComDataPacket::PacketStart): the pairing of a
// chest frame with the sample frame right before it needs that order. The
// other kinds, sample frames included, reach their handlers as they are cut.
//
// Threads: main thread only, like the framers and the port's deliveries.
// Exceptions: the handlers report their own errors and return normally; an
// exception that still left one (the view's own failure) leaves Feed, and the
// framers after it in binding order do not see that chunk, as with the port.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "module/FrameHandlers.h"
#include "serial/TComDataPacket.h"

// The framers' checks (TComDataPacket::OnCheckPacket): the position of the
// first byte that cannot belong to the frame, or 0. Sample and chest frames
// carry values 0..247 from byte 3 on (byte 2 is not checked): a byte
// 0xF8..0xFF there starts another frame. An identification frame's text
// (between its start and its stop byte) holds no start byte and no control
// character (0x00..0x1F, 0x7F..0x9F in Latin-1).
std::size_t FirstNonValueByte(std::string_view frame);
std::size_t FirstNonTextByte(std::string_view frame);

class TModuleFramers {
 public:
  static constexpr int kFramerCount = 7;
  // Index of each kind in binding order (Counts().packets, InBindingOrder()).
  static constexpr std::size_t kChestKind = 0;
  static constexpr std::size_t kSampleKind = 6;

  // Sizes as created (9, 3, 3, 6, 0, 9, 6), IncludeStrings on, OnPacket
  // pointed at `handlers`, then the start bytes in the start-up order and the
  // identification framer's stop byte 0x00. `handlers` must outlive every
  // chunk fed or received.
  explicit TModuleFramers(TFrameHandlers& handlers);
  TModuleFramers(const TModuleFramers&) = delete;
  TModuleFramers& operator=(const TModuleFramers&) = delete;

  // Binds all seven to `port` in binding order; the port then hands every
  // chunk it reads to them in that order. A framer already bound elsewhere
  // moves to `port`. The port may die first: it unbinds its framers itself.
  void Bind(TCustomComPort& port);

  // Hands one chunk to all seven in binding order, as a port's delivery does
  // (benchmarks, fuzzing, tools without a port).
  void Feed(std::string_view chunk);

  // Drops what every framer holds: no byte received before can end up in a
  // frame cut after.
  void Clear();

  // The set-up's packet lengths. Eight channels: the sample frame carries the
  // selected channels (0..8) after its two leading bytes. Twelve channels:
  // 9-byte sample frames and 7-byte chest frames. A framer whose length
  // changes drops whatever it held.
  void SetEightChannelSizes(int selectedCount);
  void SetTwelveChannelSizes();

  // The packets cut so far per kind (in binding order) and the bytes they
  // held, and the frames refused by their check and their bytes: the
  // line-quality figures.
  struct TCounts {
    std::array<std::uint64_t, kFramerCount> packets{};
    std::uint64_t packetBytes = 0;
    std::array<std::uint64_t, kFramerCount> rejected{};
    std::uint64_t rejectedBytes = 0;
  };
  const TCounts& Counts() const { return counts_; }

  // The seven in binding order (for checks over all of them).
  std::array<TComDataPacket*, kFramerCount> InBindingOrder();
  std::array<const TComDataPacket*, kFramerCount> InBindingOrder() const;

  // Declared in binding order.
  TComDataPacket CenterPacket;        // 0xFE chest frame      -> ReceiveCenter
  TComDataPacket PulsePacket;         // 0xF9 pulse frame      -> ReceivePulse
  TComDataPacket RespPacket;          // 0xFA respiration      -> ReceiveResp
  TComDataPacket StatusPacket;        // 0xFC status frame     -> ReceiveStatus
  TComDataPacket IdentPacket;         // 0xFD .. 0x00 ident    -> ReceiveIdent
  TComDataPacket CenterStatusPacket;  // 0xFF chest status     -> ReceiveCenterStatus
  TComDataPacket ComDataPacket1;      // 0xF8 sample frame     -> Receive

 private:
  // A chest frame (or a refused one) held until the sample framer has come
  // to its place in the stream.
  struct TChest {
    std::uint64_t start;  // TComDataPacket::PacketStart
    bool refused;
    std::string packet;
  };
  void HandOverChestsBefore(std::uint64_t start);

  TFrameHandlers& handlers_;
  TCounts counts_;
  std::vector<TChest> chests_;
};
