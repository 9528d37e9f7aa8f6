#pragma once
// Decoders of the frames that carry no samples: status, chest status,
// identification, pulse and respiration. Pure functions from a packet (start
// byte included, as the framers deliver it) to the values it carries; the
// window words them (ui/SessionTexts.h), ecg-record writes them as JSON.
//
// A packet too short to hold the bytes a decoder reads decodes to nullopt
// (the caller shows nothing new); the framers' fixed sizes make that happen
// only with a misconfigured framer. Bytes a frame kind does not use are
// ignored. No decoder throws for any packet content.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The electrodes whose connection the module reports.
enum class ElectrodeId : std::uint8_t { RA, LA, RL, LL, C1, C2, C3, C4, C5, C6 };
inline constexpr std::size_t kElectrodeCount = 10;
// Those of a status frame, in the order of TModuleStatus::connected (the
// rows of the status box), and those of a chest status frame.
inline constexpr std::array<ElectrodeId, 5> kStatusFrameElectrodes{ElectrodeId::RA, ElectrodeId::LA, ElectrodeId::RL,
                                                                   ElectrodeId::LL, ElectrodeId::C1};
inline constexpr std::array<ElectrodeId, 5> kChestStatusElectrodes{ElectrodeId::C2, ElectrodeId::C3, ElectrodeId::C4,
                                                                   ElectrodeId::C5, ElectrodeId::C6};
// "RA", "LA", "RL", "LL", "C1" .. "C6".
std::string_view ElectrodeName(ElectrodeId electrode);

// The settings the module runs with: indices into the set-up panel's items
// (SetupChoices.h), as the status frame reports them. The filter index can
// be 3, which has no item.
struct TSettingsInUse {
  int transmission = 0;
  int amplification = 0;
  int filter = 0;
  bool emg = false;
  friend bool operator==(const TSettingsInUse&, const TSettingsInUse&) = default;
};

// The operating modes the module names (low four bits of the status frame's
// byte 6). Other codes are not defined.
enum class OperatingMode : std::uint8_t {
  Normal = 0,
  NormalPace = 1,
  Initializing = 4,
  Searching = 5,
  Simulation = 8,
  Error = 10,
};
// The mode of a code, or nullopt for a code the module does not define.
std::optional<OperatingMode> OperatingModeOf(int code);
// "Normal", "Normal + Pace", "Initializing", "Searching", "Simulation", "Error".
std::string_view OperatingModeName(OperatingMode mode);

// Status frame FC xx flags xx settings mode (6 bytes).
struct TModuleStatus {
  bool respirationTransmitted = false;  // bit 6 of the flags
  // Per kStatusFrameElectrodes (RA bit 3, LA bit 2, RL bit 1, LL bit 0, C1
  // bit 4): connected.
  std::array<bool, 5> connected{};
  TSettingsInUse settings;
  int modeCode = 0;                   // 0..15
  std::optional<OperatingMode> mode;  // nullopt for a code without a mode
  friend bool operator==(const TModuleStatus&, const TModuleStatus&) = default;
};
std::optional<TModuleStatus> DecodeStatusFrame(std::string_view packet);

// Chest status frame FF xx flags ... (9 bytes): per kChestStatusElectrodes
// (C2 bit 0 .. C6 bit 4), connected.
std::optional<std::array<bool, 5>> DecodeChestStatusFrame(std::string_view packet);

// Identification frame FD text 00: the text, its bytes as they came
// (single-byte characters, Latin-1). A packet of fewer than two bytes gives
// nullopt.
std::optional<std::string_view> IdentificationText(std::string_view packet);

// Pulse frame F9 xx value and respiration frame FA xx value: the value, 0..255.
std::optional<int> PulseValue(std::string_view packet);
std::optional<int> RespirationValue(std::string_view packet);
