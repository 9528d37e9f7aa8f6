#pragma once
// The frames the module sends, byte by byte. Pure encoders.
#include <cstdint>
#include <string>

#include "simulator/ModuleCommand.h"
#include "simulator/SyntheticEcg.h"

enum FrameStart : std::uint8_t {
  fsSample = 0xF8,
  fsPulse = 0xF9,
  fsRespiration = 0xFA,
  fsStatus = 0xFC,
  fsIdent = 0xFD,
  fsChest = 0xFE,
  fsChestStatus = 0xFF,
};

// Sequence numbers in byte 2 of a frame run 0..247 and wrap: a number of 0xF8
// or above would look like a frame start to a receiver that looks for each
// kind's start byte on its own (a sample frame numbered 0xFD would open an
// identification frame there), so the count skips them.
constexpr int kSequenceModulus = 0xF8;

// Status frame byte 3: the electrodes and the respiration flag.
enum ConnectionFlag : std::uint8_t {
  cfLL = 0x01,
  cfRL = 0x02,
  cfLA = 0x04,
  cfRA = 0x08,
  cfC1 = 0x10,
  cfRespiration = 0x40,
};
constexpr std::uint8_t kAllLimbElectrodes = cfLL | cfRL | cfLA | cfRA | cfC1;
constexpr std::uint8_t kAllChestElectrodes = 0x1F;  // C2..C6

// Operating-mode codes of status frame byte 6.
enum ModuleMode : std::uint8_t {
  mmNormal = 0,
  mmNormalPace = 1,
  mmInitializing = 4,
  mmSearching = 5,
  mmSimulation = 8,
  mmError = 10,
};

// The mode a configuration runs in (searching is the caller's to decide).
ModuleMode ModeOf(const ModuleConfig& config, bool searching);

// Eight-channel mode: F8 seq and the bytes of the masked channels in the
// order I, II, III, aVR, aVL, aVF, C1, Resp. Twelve-channel mode: F8 seq
// I..C1, then the chest frame FE seq C2..C6 with the same sequence number.
std::string EncodeSample(const ModuleConfig& config, std::uint8_t sequence, const SampleBytes& sample);

std::string EncodeStatusFrame(std::uint8_t sequence, std::uint8_t connectionFlags, std::uint8_t settings,
                              ModuleMode mode);
std::string EncodeChestStatusFrame(std::uint8_t sequence, std::uint8_t chestFlags);
std::string EncodePulseFrame(std::uint8_t sequence, std::uint8_t pulse);
std::string EncodeRespirationFrame(std::uint8_t sequence, std::uint8_t respiration);
// FD, the text without any 0x00 (which would end the frame early), 00.
std::string EncodeIdentFrame(const std::string& text);
