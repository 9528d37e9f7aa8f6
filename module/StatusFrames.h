#pragma once
// Decoders of the frames that carry no samples: status, chest status,
// identification, pulse and respiration. Pure functions from a packet (start
// byte included, as the framers deliver it) to the texts the window shows.
//
// A packet too short to hold the bytes a decoder reads decodes to nullopt
// (the caller shows nothing new); the framers' fixed sizes make that happen
// only with a misconfigured framer. Bytes a frame kind does not use are
// ignored. No decoder throws for any packet content.
#include <array>
#include <optional>
#include <string>
#include <string_view>

// Status bar panels by index.
enum StatusPanel : int {
  spPort = 0,
  spTransmission = 1,
  spAmplification = 2,
  spFilter = 3,
  spMode = 4,
  spStatus = 5,
  spTime = 6,
};

inline constexpr std::string_view kConnectedText = "Connected";
inline constexpr std::string_view kNotConnectedText = "NOT connected";
inline constexpr std::string_view kRespTransmittedText = "Resp. Wave: Transmitted";
inline constexpr std::string_view kRespNotTransmittedText = "Resp. Wave: NOT transmitted";

// Status frame FC xx flags xx settings mode (6 bytes).
struct StatusFrameTexts {
  std::string_view RespLabel;      // bit 6 of the flags
  std::string_view ChestLabel;     // C1, bit 4
  std::string_view RALabel;        // bit 3
  std::string_view LALabel;        // bit 2
  std::string_view RLLabel;        // bit 1
  std::string_view LLLabel;        // bit 0
  std::string TransmissionPanel;   // panel 1, "Transmission: 100 / sec"
  std::string AmplificationPanel;  // panel 2, "Amplification: Stage 2"
  std::string FilterPanel;         // panel 3, "Filter: 50 Hz" [+ " + EMG"]
  // Panel 4; nullopt for the codes that leave the panel's text as it is.
  std::optional<std::string_view> ModePanel;
};
std::optional<StatusFrameTexts> DecodeStatusFrame(std::string_view packet);

// Text of panel 3 for a filter index and EMG bit. Index 3 has no item in the
// Filter choice; it reads "Filter: unknown (3)".
std::string FilterPanelText(int filterIndex, bool emg);
// Text of panel 4 for the operating-mode code (low four bits of byte 6), or
// nullopt where the panel keeps its text.
std::optional<std::string_view> ModePanelText(int modeCode);

// Chest status frame FF xx flags ... (9 bytes): the texts of Chest2Label..Chest6Label.
std::optional<std::array<std::string_view, 5>> DecodeChestStatusFrame(std::string_view packet);

// Identification frame FD text 00: "Identification: " followed by the text.
// The text's bytes are passed on as they came (single-byte characters; the
// window shows them as Latin-1). A packet of fewer than two bytes gives nullopt.
std::optional<std::string> IdentificationText(std::string_view packet);

// Pulse frame F9 xx value: "Pulse: 72". Respiration frame FA xx value: "Resp.: 0".
std::optional<std::string> PulseText(std::string_view packet);
std::optional<std::string> RespText(std::string_view packet);
