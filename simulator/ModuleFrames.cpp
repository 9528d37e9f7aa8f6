#include "simulator/ModuleFrames.h"

namespace {
std::string Frame(std::uint8_t start, std::uint8_t sequence) {
  std::string frame;
  frame.push_back(static_cast<char>(start));
  frame.push_back(static_cast<char>(sequence));
  return frame;
}

void Put(std::string& frame, std::uint8_t byte) { frame.push_back(static_cast<char>(byte)); }
}  // namespace

ModuleMode ModeOf(const ModuleConfig& config, bool searching) {
  if (searching) return mmSearching;
  if (config.simulation) return mmSimulation;
  if (config.pacer) return mmNormalPace;
  return mmNormal;
}

std::string EncodeSample(const ModuleConfig& config, std::uint8_t sequence, const SampleBytes& sample) {
  std::string bytes = Frame(fsSample, sequence);
  if (config.TwelveChannel()) {
    for (std::size_t channel = 0; channel < 7; ++channel) Put(bytes, sample.channels[channel]);
    bytes += Frame(fsChest, sequence);
    for (std::uint8_t value : sample.chest) Put(bytes, value);
    return bytes;
  }
  for (std::size_t channel = 0; channel < 8; ++channel) {
    if (config.channelMask & (1u << channel)) Put(bytes, sample.channels[channel]);
  }
  return bytes;
}

std::string EncodeStatusFrame(std::uint8_t sequence, std::uint8_t connectionFlags, std::uint8_t settings,
                              ModuleMode mode) {
  std::string frame = Frame(fsStatus, sequence);
  Put(frame, connectionFlags);
  Put(frame, 0x00);
  Put(frame, settings);
  Put(frame, mode);
  return frame;
}

std::string EncodeChestStatusFrame(std::uint8_t sequence, std::uint8_t chestFlags) {
  std::string frame = Frame(fsChestStatus, sequence);
  Put(frame, chestFlags);
  frame.append(6, '\0');
  return frame;
}

std::string EncodePulseFrame(std::uint8_t sequence, std::uint8_t pulse) {
  std::string frame = Frame(fsPulse, sequence);
  Put(frame, pulse);
  return frame;
}

std::string EncodeRespirationFrame(std::uint8_t sequence, std::uint8_t respiration) {
  std::string frame = Frame(fsRespiration, sequence);
  Put(frame, respiration);
  return frame;
}

std::string EncodeIdentFrame(const std::string& text) {
  std::string frame(1, static_cast<char>(fsIdent));
  for (char c : text) {
    if (c != '\0') frame.push_back(c);
  }
  frame.push_back('\0');
  return frame;
}
