#pragma once
// Byte strings the tool sends to the module. None of them is acknowledged.
//
// Every command is a counted byte string: the set-up command of an
// eight-channel set-up holds the byte 0x00 (its chest mask), so it must be
// written with its length, never as a zero-terminated text.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "module/SetupChoices.h"
#include "store/SampleStore.h"

// ---- The set-up command ---------------------------------------------------

inline constexpr std::size_t kSetupCommandSize = 18;

// Channel mask of a twelve-channel set-up (I..C1, no respiration) and the two
// chest masks (C2..C6 in twelve-channel mode, none in eight-channel mode).
inline constexpr std::uint8_t kTwelveChannelMask = 0x7F;
inline constexpr std::uint8_t kTwelveChannelChestMask = 0x1F;
inline constexpr std::uint8_t kEightChannelChestMask = 0x00;

// Frame lengths the set-up gives the framers, start byte included.
inline constexpr int kSampleFrameSize12 = 9;  // ComDataPacket1 in twelve-channel mode
inline constexpr int kChestFrameSize12 = 7;   // CenterPacket in twelve-channel mode
// ComDataPacket1 in eight-channel mode with n channels selected.
constexpr int SampleFrameSize8(int selectedChannels) { return selectedChannels + 2; }

// One bit per check box CH_I..CH_RE (index 0 = CH_I = bit 0 ... index 7 = CH_RE = bit 7).
std::uint8_t ChannelMask(const std::array<bool, kChannelBoxCount>& checked);
// Number of checked boxes among CH_I..CH_RE.
int SelectedChannelCount(const std::array<bool, kChannelBoxCount>& checked);

// The 18 bytes "S" t "A" a "5" f "F" m "P" p "E" e "C" channelMask "D" chestMask "M" s,
// from the six indices of `settings` (its state is not read). Indices outside
// their radio group's items raise std::out_of_range: a wrong byte would set
// the module up differently from what the panel shows.
std::string BuildSetupCommand(const AcquisitionSettings& settings, bool emg, std::uint8_t channelMask,
                              std::uint8_t chestMask);

// ---- Service commands -------------------------------------------------------

inline constexpr std::string_view kElectrodeSearchCommand = "q0";  // ElecButton
inline constexpr std::string_view kCalibrationCommand = "K";       // CalButton, 1 mV rectangle
inline constexpr std::string_view kIdentifyCommand = "I";          // IdentButton

// ---- Register editor ----------------------------------------------------------

inline constexpr std::string_view kAddressPrompt = "address (0..25 dec.)";  // initial text of Address
inline constexpr std::string_view kInvalidAddressText = "Invalid Address!";
inline constexpr int kLastRegisterAddress = 25;

// The register address typed into Address: a whole decimal number 0..25.
// Only the digits 0-9 are accepted, with blanks (spaces, tabs) allowed before
// and after them: " 5 " is 5, "007" is 7. Any sign ("+5", "-1"), any other
// character ("1x", "0x1A", "5.0"), the empty text, the prompt text and
// numbers above 25 give nullopt.
std::optional<int> ParseRegisterAddress(std::string_view text);

// The value byte from the eight bit boxes in the order they stand on screen:
// bit7ToBit0[0] is Bit7 (MSB, left), bit7ToBit0[7] is Bit0 (LSB, right).
std::uint8_t RegisterValue(const std::array<bool, 8>& bit7ToBit0);

// The three bytes "r", 0x30 + address, value; nullopt when the address text is
// not a valid address (the window then shows kInvalidAddressText and sends
// nothing). `bit7ToBit0` as for RegisterValue.
std::optional<std::string> BuildRegisterWrite(std::string_view addressText, const std::array<bool, 8>& bit7ToBit0);
