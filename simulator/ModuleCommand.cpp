#include "simulator/ModuleCommand.h"

#include <bit>
#include <cstdio>

namespace {
constexpr int kRates[] = {50, 100, 150, 300};
constexpr char kRateCodes[] = {'0', '1', '2', '7'};
constexpr const char* kFilterNames[] = {"filter off", "50 Hz", "60 Hz"};
constexpr const char* kChannelNames[] = {"I", "II", "III", "aVR", "aVL", "aVF", "C1", "Resp"};

char Digit(int index) { return static_cast<char>('0' + index); }
}  // namespace

int ModuleConfig::NominalRate() const { return kRates[transmission & 3]; }

std::uint8_t ModuleConfig::SettingsByte() const {
  return static_cast<std::uint8_t>((transmission & 3) | (amplification & 3) << 2 | (emg ? 0x10 : 0) |
                                   (filter & 3) << 5);
}

int ModuleConfig::SampleFrameLength() const {
  if (TwelveChannel()) return 9;
  return 2 + std::popcount(static_cast<unsigned>(channelMask));
}

int ModuleConfig::BytesPerSample() const { return SampleFrameLength() + (TwelveChannel() ? 7 : 0); }

std::string EncodeSetupCommand(const ModuleConfig& config) {
  std::string bytes;
  auto pair = [&bytes](char letter, char parameter) {
    bytes.push_back(letter);
    bytes.push_back(parameter);
  };
  pair('S', kRateCodes[config.transmission & 3]);
  pair('A', Digit(config.amplification));
  pair('5', Digit(config.filter));
  pair('F', Digit(config.mode));
  pair('P', Digit(config.pacer ? 1 : 0));
  pair('E', Digit(config.emg ? 1 : 0));
  pair('C', static_cast<char>(config.channelMask));
  pair('D', static_cast<char>(config.chestMask));
  pair('M', Digit(config.simulation ? 1 : 0));
  return bytes;
}

std::string HexBytes(const std::string& bytes) {
  std::string text;
  char hex[4];
  for (const char byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(byte));
    if (!text.empty()) text += ' ';
    text += hex;
  }
  return text;
}

std::string ModuleCommand::Describe() const {
  switch (kind) {
    case CommandKind::Setup: {
      std::string text = "set-up " + std::to_string(setup.NominalRate()) + "/s, stage " +
                         std::to_string(setup.amplification + 1) + ", " + kFilterNames[setup.filter % 3] + ", " +
                         (setup.mode == 0 ? "diagnostic" : "monitoring");
      if (setup.pacer) text += ", pacer detection";
      if (setup.emg) text += ", EMG filter";
      if (setup.simulation) text += ", simulation";
      if (setup.TwelveChannel()) {
        text += ", twelve channels";
      } else {
        text += ", channels";
        bool any = false;
        for (int bit = 0; bit < 8; ++bit) {
          if (setup.channelMask & (1u << bit)) {
            text += std::string(" ") + kChannelNames[bit];
            any = true;
          }
        }
        if (!any) text += " none";
      }
      return text;
    }
    case CommandKind::ElectrodeSearch: return "electrode search (q0)";
    case CommandKind::Calibrate: return "calibration signal (K)";
    case CommandKind::Identify: return "identification request (I)";
    case CommandKind::RegisterWrite: {
      char text[64];
      std::snprintf(text, sizeof text, "register %d := 0x%02X", address, value);
      return text;
    }
    case CommandKind::Rejected: return "rejected [" + HexBytes(bytes) + "]: " + reason;
  }
  return {};
}
