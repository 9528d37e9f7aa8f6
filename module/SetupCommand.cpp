#include "module/SetupCommand.h"

#include <stdexcept>

namespace {

// The transmission pair's parameter is not the index's digit: "300 / sec" is "7".
constexpr std::array<char, 4> kTransmissionCodes{'0', '1', '2', '7'};

char IndexDigit(const RadioGroupChoice& choice, std::uint8_t index) {
  if (index >= choice.Items.size()) {
    throw std::out_of_range(std::string(choice.Caption) + " index " + std::to_string(index) + " has no item");
  }
  return static_cast<char>('0' + index);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::uint8_t ChannelMask(const std::array<bool, kChannelBoxCount>& checked) {
  std::uint8_t mask = 0;
  for (std::size_t bit = 0; bit < checked.size(); ++bit) {
    if (checked[bit]) mask = static_cast<std::uint8_t>(mask | (1u << bit));
  }
  return mask;
}

int SelectedChannelCount(const std::array<bool, kChannelBoxCount>& checked) {
  int n = 0;
  for (bool on : checked) n += on ? 1 : 0;
  return n;
}

std::string BuildSetupCommand(const AcquisitionSettings& settings, bool emg, std::uint8_t channelMask,
                              std::uint8_t chestMask) {
  IndexDigit(TransBoxChoice, settings.transmission);  // range check only
  std::string command;
  command.reserve(kSetupCommandSize);
  const auto pair = [&command](char letter, char parameter) {
    command.push_back(letter);
    command.push_back(parameter);
  };
  pair('S', kTransmissionCodes[settings.transmission]);
  pair('A', IndexDigit(AmpBoxChoice, settings.amplification));
  pair('5', IndexDigit(FilterBoxChoice, settings.filter));
  pair('F', IndexDigit(ModeBoxChoice, settings.mode));
  pair('P', IndexDigit(PacerBoxChoice, settings.pacer));
  pair('E', emg ? '1' : '0');
  pair('C', static_cast<char>(channelMask));
  pair('D', static_cast<char>(chestMask));
  pair('M', IndexDigit(SimulationBoxChoice, settings.simulation));
  return command;
}

std::optional<int> ParseRegisterAddress(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  if (first == last) return std::nullopt;
  int value = 0;
  for (std::size_t i = first; i < last; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > kLastRegisterAddress) return std::nullopt;  // also keeps long digit runs from overflowing
  }
  return value;
}

std::uint8_t RegisterValue(const std::array<bool, 8>& bit7ToBit0) {
  std::uint8_t value = 0;
  for (bool on : bit7ToBit0) value = static_cast<std::uint8_t>((value << 1) | (on ? 1 : 0));
  return value;
}

std::optional<std::string> BuildRegisterWrite(std::string_view addressText, const std::array<bool, 8>& bit7ToBit0) {
  const std::optional<int> address = ParseRegisterAddress(addressText);
  if (!address) return std::nullopt;
  std::string command;
  command.push_back('r');
  command.push_back(static_cast<char>('0' + *address));
  command.push_back(static_cast<char>(RegisterValue(bit7ToBit0)));
  return command;
}
