#pragma once
// Calibrations kept in the user's settings, per module identification and
// amplification stage, so a module measured once is shown in millivolts at
// the next start too. A stage keeps only its own measurement: nothing is
// scaled from another stage's figure.
//
// The window and ecg-record share one settings file (StationSettings).
#include <memory>
#include <optional>
#include <string>

#include "recording/Sidecar.h"

class QSettings;

// ~/.config/ecg-test-station/ecg-tool.ini (the user's configuration folder).
std::unique_ptr<QSettings> StationSettings();

// Keeps `calibration` (its stage and found leads) for the module that
// identified itself with `identification` (its bytes, as the module sent
// them). Nothing is kept without an identification, a stage or a lead.
void RememberCalibration(QSettings& settings, const std::string& identification, const SidecarCalibration& calibration);
// The calibration kept for that module at `stage` (1..4), or nothing.
std::optional<SidecarCalibration> RememberedCalibration(const QSettings& settings, const std::string& identification,
                                                        int stage);
