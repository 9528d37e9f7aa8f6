#pragma once
// Every text the window shows for what the acquisition reports: the labels
// of the status box, the identification, the pulse and respiration panels,
// and the status bar's panels (a load's count among them). The session reports values (module/
// SessionView.h); here, and only here, they become the window's words.
// Pure functions, no widgets: tests read them as tables.
#include <optional>
#include <string>
#include <string_view>

#include "module/AcquisitionSession.h"
#include "module/StatusFrames.h"

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
// The pulse and respiration panels without a value (before the first frame,
// and once the port is lost: values that no longer arrive must not look live).
inline constexpr std::string_view kPulsePanelEmpty = "Pulse:";
inline constexpr std::string_view kRespPanelEmpty = "Resp.:";
// Panel 0 once no port is open; panel 5 when idle and as a recording starts.
inline constexpr std::string_view kPortPanelClosed = "Port:";
inline constexpr std::string_view kIdleStatusText = "Status: Idle";
inline constexpr std::string_view kReceivingStatusStart = "Status: Receiving... ";

// An electrode's state label.
std::string_view ConnectionText(bool connected);
// RespLabel.
std::string_view RespWaveText(bool transmitted);

// The texts of a status frame, as the status box and panels 1 to 4 show them.
struct StatusFrameTexts {
  std::string_view RespLabel;
  std::string_view ChestLabel;  // C1
  std::string_view RALabel;
  std::string_view LALabel;
  std::string_view RLLabel;
  std::string_view LLLabel;
  std::string TransmissionPanel;   // panel 1, "Transmission: 100 / sec"
  std::string AmplificationPanel;  // panel 2, "Amplification: Stage 2"
  std::string FilterPanel;         // panel 3, "Filter: 50 Hz" [+ " + EMG"]
  // Panel 4; nullopt for the codes that leave the panel's text as it is.
  std::optional<std::string> ModePanel;
};
StatusFrameTexts StatusTexts(const TModuleStatus& status);

// Panel 3 for a filter index and EMG bit. Index 3 has no item in the Filter
// choice; it reads "Filter: unknown (3)".
std::string FilterPanelText(int filterIndex, bool emg);
// Panel 4 for the module's mode ("Mode: Normal + Pace"), or nullopt for a
// code without a mode: the panel keeps its text.
std::optional<std::string> ModePanelText(std::optional<OperatingMode> mode);

// IdentLabel: "Identification: " and the module's text, its bytes as they
// came (the window shows them as Latin-1).
std::string IdentificationLabelText(std::string_view text);
// "Pulse: 72", "Resp.: 0".
std::string PulsePanelText(int value);
std::string RespPanelText(int value);

// Panel 0 with a port chosen: "Port: " and its name.
std::string PortPanelText(std::string_view port);
// Panel 5 while receiving: "Status: Receiving... <count> packets" (no
// singular), " (data lost)" after it once bytes were lost. Written into
// `out`, whose buffer is reused: no allocation per record.
// " (rate off)" after that once the measured rate left the confirmed
// set-up's by more than 2 %.
void AssignReceivingStatus(std::string& out, int count, bool dataLost, bool rateOff = false);
// The Status box's line figures, each kind of trouble apart so that a
// noisy line never reads as no errors: bytes outside frames, frames
// rejected, input-queue gaps, silences over a second and device line
// errors, then the measured rate against the set one.
std::string LineFiguresText(const TLineQuality& figures, double measuredRate, int expectedRate, bool rateOff);
// Panel 5 after a port loss, while the window tries the port again:
// "Status: Port lost - reconnecting... <count> packets".
std::string PortLostStatusText(int count);
// Panel 5 while a data file is read: "Status: Loading... <count> packets".
std::string LoadingStatusText(int count);

// The heart-rate panel beside Pulse: the tool's own count and the module's
// Pulse value in brackets, "HR: 72 (module 72)"; "--" for a count not (yet)
// known, "HR: 72" without a Pulse value, "HR:" with neither.
inline constexpr std::string_view kHeartPanelEmpty = "HR:";
std::string HeartPanelText(std::optional<double> toolBpm, std::optional<int> moduleBpm);

// The Status box's calibration line when nothing was measured in this run:
// the figure kept for the module and stage, or none.
inline constexpr std::string_view kUncalibratedText = "Uncalibrated: values in steps";
inline constexpr std::string_view kCalibrationMeasuringText = "Calibration: measuring the 1 mV rectangle...";
// "Calibrated, stage 2: 40.0 steps/mV (kept for this module)".
std::string KeptCalibrationText(int stage, double meanStepsPerMv);
