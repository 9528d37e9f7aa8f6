#include "ui/SessionTexts.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "module/SetupChoices.h"

namespace {

std::string WithPrefix(std::string_view prefix, std::string_view text) {
  std::string out;
  out.reserve(prefix.size() + text.size());
  out.append(prefix).append(text);
  return out;
}

void AppendNumber(std::string& out, int value) {
  char digits[16];
  const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
  out.append(digits, end);
}

std::string Counted(std::string_view prefix, int count, std::string_view suffix) {
  std::string out(prefix);
  AppendNumber(out, count);
  out.append(suffix);
  return out;
}

}  // namespace

std::string_view ConnectionText(bool connected) { return connected ? kConnectedText : kNotConnectedText; }

std::string_view RespWaveText(bool transmitted) { return transmitted ? kRespTransmittedText : kRespNotTransmittedText; }

StatusFrameTexts StatusTexts(const TModuleStatus& status) {
  StatusFrameTexts texts;
  texts.RespLabel = RespWaveText(status.respirationTransmitted);
  texts.RALabel = ConnectionText(status.connected[0]);
  texts.LALabel = ConnectionText(status.connected[1]);
  texts.RLLabel = ConnectionText(status.connected[2]);
  texts.LLLabel = ConnectionText(status.connected[3]);
  texts.ChestLabel = ConnectionText(status.connected[4]);
  texts.TransmissionPanel = WithPrefix("Transmission: ", ChoiceItem(TransBoxChoice, status.settings.transmission));
  texts.AmplificationPanel = WithPrefix("Amplification: ", ChoiceItem(AmpBoxChoice, status.settings.amplification));
  texts.FilterPanel = FilterPanelText(status.settings.filter, status.settings.emg);
  texts.ModePanel = ModePanelText(status.mode);
  return texts;
}

std::string FilterPanelText(int filterIndex, bool emg) {
  const std::string_view item = ChoiceItem(FilterBoxChoice, filterIndex);
  std::string text = item.empty() ? Counted("Filter: unknown (", filterIndex, ")") : WithPrefix("Filter: ", item);
  if (emg) text += " + EMG";
  return text;
}

std::optional<std::string> ModePanelText(std::optional<OperatingMode> mode) {
  if (!mode) return std::nullopt;
  return WithPrefix("Mode: ", OperatingModeName(*mode));
}

std::string IdentificationLabelText(std::string_view text) { return WithPrefix("Identification: ", text); }

std::string PulsePanelText(int value) { return Counted("Pulse: ", value, {}); }

std::string RespPanelText(int value) { return Counted("Resp.: ", value, {}); }

std::string PortPanelText(std::string_view port) { return WithPrefix("Port: ", port); }

void AssignReceivingStatus(std::string& out, int count, bool dataLost, bool rateOff) {
  out.assign(kReceivingStatusStart);
  AppendNumber(out, count);
  out.append(" packets");
  if (dataLost) out.append(" (data lost)");
  if (rateOff) out.append(" (rate off)");
}

std::string LineFiguresText(const TLineQuality& q, double measuredRate, int expectedRate, bool rateOff) {
  const std::uint64_t lineErrors = q.parityErrors + q.framingErrors + q.overrunErrors + q.breaks;
  char rate[64];
  std::snprintf(rate, sizeof rate, "Rate: %.1f/s (set %d)%s", measuredRate, expectedRate, rateOff ? " OFF" : "");
  // Four short lines: each stays whole in the Status box's width.
  return "Outside frames: " + std::to_string(q.bytesOutsideFrames) +
         " B\nRejected: " + std::to_string(q.RejectedFrames()) +
         "  Gaps: " + std::to_string(q.inputGaps + q.framerOverflows) +
         "\nSilences: " + std::to_string(q.silentSpells) + "  Errors: " + std::to_string(lineErrors) + "\n" + rate;
}

std::string PortLostStatusText(int count) { return Counted("Status: Port lost - reconnecting... ", count, " packets"); }

std::string LoadingStatusText(int count) { return Counted("Status: Loading... ", count, " packets"); }

std::string HeartPanelText(std::optional<double> toolBpm, std::optional<int> moduleBpm) {
  if (!toolBpm && !moduleBpm) return std::string(kHeartPanelEmpty);
  std::string text = "HR: ";
  if (toolBpm) {
    AppendNumber(text, static_cast<int>(std::lround(*toolBpm)));
  } else {
    text += "--";
  }
  if (moduleBpm) text += Counted(" (module ", *moduleBpm, ")");
  return text;
}

std::string KeptCalibrationText(int stage, double meanStepsPerMv) {
  char text[96];
  std::snprintf(text, sizeof text, "Calibrated, stage %d: %.1f steps/mV (kept for this module)", stage, meanStepsPerMv);
  return text;
}
