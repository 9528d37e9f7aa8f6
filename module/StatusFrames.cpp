#include "module/StatusFrames.h"

#include <cstdint>

#include "module/SetupChoices.h"

namespace {

// 1-based byte of a packet, as the frame tables count them.
std::uint8_t Byte(std::string_view packet, std::size_t position) {
  return static_cast<std::uint8_t>(packet[position - 1]);
}

std::string_view ConnectionText(std::uint8_t flags, int bit) {
  return (flags >> bit) & 1 ? kConnectedText : kNotConnectedText;
}

std::string WithPrefix(std::string_view prefix, std::string_view text) {
  std::string out;
  out.reserve(prefix.size() + text.size());
  out.append(prefix).append(text);
  return out;
}

std::optional<std::string> ValueText(std::string_view packet, std::string_view prefix) {
  if (packet.size() < 3) return std::nullopt;
  return WithPrefix(prefix, std::to_string(Byte(packet, 3)));
}

}  // namespace

std::string FilterPanelText(int filterIndex, bool emg) {
  const std::string_view item = ChoiceItem(FilterBoxChoice, filterIndex);
  std::string text =
      item.empty() ? "Filter: unknown (" + std::to_string(filterIndex) + ")" : WithPrefix("Filter: ", item);
  if (emg) text += " + EMG";
  return text;
}

std::optional<std::string_view> ModePanelText(int modeCode) {
  switch (modeCode) {
    case 0: return "Mode: Normal";
    case 1: return "Mode: Normal + Pace";
    case 4: return "Mode: Initializing";
    case 5: return "Mode: Searching";
    case 8: return "Mode: Simulation";
    case 10: return "Mode: Error";
    default: return std::nullopt;
  }
}

std::optional<StatusFrameTexts> DecodeStatusFrame(std::string_view packet) {
  if (packet.size() < 6) return std::nullopt;
  const std::uint8_t flags = Byte(packet, 3);
  const std::uint8_t settings = Byte(packet, 5);
  StatusFrameTexts texts;
  texts.RespLabel = (flags & 0x40) ? kRespTransmittedText : kRespNotTransmittedText;
  texts.ChestLabel = ConnectionText(flags, 4);
  texts.RALabel = ConnectionText(flags, 3);
  texts.LALabel = ConnectionText(flags, 2);
  texts.RLLabel = ConnectionText(flags, 1);
  texts.LLLabel = ConnectionText(flags, 0);
  // The status frame reports the index of the item, not the set-up command's code.
  texts.TransmissionPanel = WithPrefix("Transmission: ", ChoiceItem(TransBoxChoice, settings & 0x03));
  texts.AmplificationPanel = WithPrefix("Amplification: ", ChoiceItem(AmpBoxChoice, (settings >> 2) & 0x03));
  texts.FilterPanel = FilterPanelText((settings >> 5) & 0x03, (settings & 0x10) != 0);
  texts.ModePanel = ModePanelText(Byte(packet, 6) & 0x0F);
  return texts;
}

std::optional<std::array<std::string_view, 5>> DecodeChestStatusFrame(std::string_view packet) {
  if (packet.size() < 3) return std::nullopt;
  const std::uint8_t flags = Byte(packet, 3);
  std::array<std::string_view, 5> texts;
  for (int bit = 0; bit < 5; ++bit) texts[static_cast<std::size_t>(bit)] = ConnectionText(flags, bit);
  return texts;
}

std::optional<std::string> IdentificationText(std::string_view packet) {
  if (packet.size() < 2) return std::nullopt;
  return WithPrefix("Identification: ", packet.substr(1, packet.size() - 2));
}

std::optional<std::string> PulseText(std::string_view packet) { return ValueText(packet, "Pulse: "); }

std::optional<std::string> RespText(std::string_view packet) { return ValueText(packet, "Resp.: "); }
