#pragma once
// The kinds of frame the module sends: each starts with its own byte in
// 0xF8..0xFF. The window gives these to its seven framers (all with
// IncludeStrings on, so every handler sees the start byte as byte 1).
#include <cstdint>

inline constexpr std::uint8_t kSampleFrameStart = 0xF8;       // ComDataPacket1 -> Receive
inline constexpr std::uint8_t kPulseFrameStart = 0xF9;        // PulsePacket -> ReceivePulse
inline constexpr std::uint8_t kRespFrameStart = 0xFA;         // RespPacket -> ReceiveResp
inline constexpr std::uint8_t kStatusFrameStart = 0xFC;       // StatusPacket -> ReceiveStatus
inline constexpr std::uint8_t kIdentFrameStart = 0xFD;        // IdentPacket -> ReceiveIdent
inline constexpr std::uint8_t kIdentFrameStop = 0x00;         // IdentPacket's stop byte
inline constexpr std::uint8_t kChestFrameStart = 0xFE;        // CenterPacket -> ReceiveCenter
inline constexpr std::uint8_t kChestStatusFrameStart = 0xFF;  // CenterStatusPacket -> ReceiveCenterStatus

// Framer sizes as the window creates them, start byte included. The set-up
// later changes the sample framer (n + 2 or 9) and the chest framer (7); the
// identification framer has no size, it ends at its stop byte.
inline constexpr int kSampleFrameSizeAtStart = 6;
inline constexpr int kChestFrameSizeAtStart = 9;
inline constexpr int kPulseFrameSize = 3;
inline constexpr int kRespFrameSize = 3;
inline constexpr int kStatusFrameSize = 6;
inline constexpr int kChestStatusFrameSize = 9;
