#pragma once
// The choices of the set-up panel: captions, item texts and defaults of its
// radio groups and check boxes. The window builds its controls from these,
// and the status frame decoder shows the same item texts, so what the user
// picks and what the module reports back can never be spelt differently.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

struct RadioGroupChoice {
  std::string_view Caption;
  std::span<const std::string_view> Items;  // index order = the index sent to the module
  int Default;                              // index checked at start
};

namespace setup_items {
inline constexpr std::array<std::string_view, 4> kTransmission{"50 / sec", "100 / sec", "150 / sec", "300 / sec"};
inline constexpr std::array<std::string_view, 4> kAmplification{"Stage 1", "Stage 2", "Stage 3", "Stage 4"};
inline constexpr std::array<std::string_view, 3> kFilter{"Off", "50 Hz", "60 Hz"};
inline constexpr std::array<std::string_view, 2> kMode{"Diagnostic", "Monitoring"};
inline constexpr std::array<std::string_view, 2> kOffOn{"Off", "On"};
}  // namespace setup_items

inline constexpr RadioGroupChoice TransBoxChoice{"Transmission", setup_items::kTransmission, 1};
// Records per second of each transmission item, in the items' order.
inline constexpr std::array<int, setup_items::kTransmission.size()> kTransmissionRates{50, 100, 150, 300};
inline constexpr RadioGroupChoice AmpBoxChoice{"Amplification", setup_items::kAmplification, 1};
inline constexpr RadioGroupChoice FilterBoxChoice{"Filter", setup_items::kFilter, 1};
inline constexpr RadioGroupChoice ModeBoxChoice{"Mode", setup_items::kMode, 1};
inline constexpr RadioGroupChoice PacerBoxChoice{"Pacer Det.", setup_items::kOffOn, 0};
inline constexpr RadioGroupChoice SimulationBoxChoice{"Simulation", setup_items::kOffOn, 0};

// The Channels group: CH_I, CH_II, CH_III, CH_VR, CH_VL, CH_VF, CH_C1, CH_RE
// in this order (the order of the channel mask bits and of the sample bytes).
inline constexpr std::size_t kChannelBoxCount = 8;
inline constexpr std::string_view ChannelBoxCaption = "Channels";
inline constexpr std::array<std::string_view, kChannelBoxCount> ChannelBoxItems{"I",   "II",  "III", "aVR",
                                                                                "aVL", "aVF", "C1",  "Resp."};
inline constexpr std::array<bool, kChannelBoxCount> ChannelBoxDefaults{true,  true,  true,  false,
                                                                       false, false, false, false};

inline constexpr std::string_view EmgBoxCaption = "EMG Filter";
inline constexpr std::string_view EmgCheckCaption = "ON";
inline constexpr bool EmgDefault = false;

inline constexpr std::string_view TwelveChannelCaption = "12-Channel";
inline constexpr bool TwelveChannelDefault = false;

// Records per second of the transmission index `index`, or 0 when it has no item.
constexpr int TransmissionRate(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kTransmissionRates.size()) return 0;
  return kTransmissionRates[static_cast<std::size_t>(index)];
}

// The item of `choice` at `index`, or an empty view when the index has no item.
constexpr std::string_view ChoiceItem(const RadioGroupChoice& choice, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= choice.Items.size()) return {};
  return choice.Items[static_cast<std::size_t>(index)];
}
