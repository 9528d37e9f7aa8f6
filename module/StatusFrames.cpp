#include "module/StatusFrames.h"

namespace {

// 1-based byte of a packet, as the frame tables count them.
std::uint8_t Byte(std::string_view packet, std::size_t position) {
  return static_cast<std::uint8_t>(packet[position - 1]);
}

bool Bit(std::uint8_t flags, int bit) { return ((flags >> bit) & 1) != 0; }

std::optional<int> ValueOf(std::string_view packet) {
  if (packet.size() < 3) return std::nullopt;
  return Byte(packet, 3);
}

}  // namespace

std::string_view ElectrodeName(ElectrodeId electrode) {
  static constexpr std::array<std::string_view, kElectrodeCount> kNames{"RA", "LA", "RL", "LL", "C1",
                                                                        "C2", "C3", "C4", "C5", "C6"};
  return kNames[static_cast<std::size_t>(electrode)];
}

std::optional<OperatingMode> OperatingModeOf(int code) {
  switch (code) {
    case 0: return OperatingMode::Normal;
    case 1: return OperatingMode::NormalPace;
    case 4: return OperatingMode::Initializing;
    case 5: return OperatingMode::Searching;
    case 8: return OperatingMode::Simulation;
    case 10: return OperatingMode::Error;
    default: return std::nullopt;
  }
}

std::string_view OperatingModeName(OperatingMode mode) {
  switch (mode) {
    case OperatingMode::Normal: return "Normal";
    case OperatingMode::NormalPace: return "Normal + Pace";
    case OperatingMode::Initializing: return "Initializing";
    case OperatingMode::Searching: return "Searching";
    case OperatingMode::Simulation: return "Simulation";
    case OperatingMode::Error: return "Error";
  }
  return {};
}

std::optional<TModuleStatus> DecodeStatusFrame(std::string_view packet) {
  if (packet.size() < 6) return std::nullopt;
  const std::uint8_t flags = Byte(packet, 3);
  const std::uint8_t settings = Byte(packet, 5);
  TModuleStatus status;
  status.respirationTransmitted = Bit(flags, 6);
  status.connected = {Bit(flags, 3), Bit(flags, 2), Bit(flags, 1), Bit(flags, 0), Bit(flags, 4)};
  // The status frame reports the index of the item, not the set-up command's code.
  status.settings.transmission = settings & 0x03;
  status.settings.amplification = (settings >> 2) & 0x03;
  status.settings.filter = (settings >> 5) & 0x03;
  status.settings.emg = Bit(settings, 4);
  status.modeCode = Byte(packet, 6) & 0x0F;
  status.mode = OperatingModeOf(status.modeCode);
  return status;
}

std::optional<std::array<bool, 5>> DecodeChestStatusFrame(std::string_view packet) {
  if (packet.size() < 3) return std::nullopt;
  const std::uint8_t flags = Byte(packet, 3);
  std::array<bool, 5> connected{};
  for (int bit = 0; bit < 5; ++bit) connected[static_cast<std::size_t>(bit)] = Bit(flags, bit);
  return connected;
}

std::optional<std::string_view> IdentificationText(std::string_view packet) {
  if (packet.size() < 2) return std::nullopt;
  return packet.substr(1, packet.size() - 2);
}

std::optional<int> PulseValue(std::string_view packet) { return ValueOf(packet); }

std::optional<int> RespirationValue(std::string_view packet) { return ValueOf(packet); }
