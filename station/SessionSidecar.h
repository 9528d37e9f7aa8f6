#pragma once
// The sidecar of a recording the acquisition made: the confirmed set-up, the
// port, the identification when one came, the start, the records, the
// measured rate and the integrity figures, in the sidecar's plain values
// (recording/Sidecar.h). The window's save and ecg-record build it here, so
// both write the same fields from the same figures.
//
// Pure functions; any thread.
#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "module/AcquisitionSession.h"
#include "recording/Sidecar.h"

// The frame kinds' names, in the framers' binding order (TLineQuality's
// arrays): the sidecar's and the summary's keys.
inline constexpr std::array<const char*, TModuleFramers::kFramerCount> kFrameKindNames = {
    "chest", "pulse", "respiration", "status", "identification", "chest status", "sample"};

// What a recording's sidecar is made from.
struct RecordingFacts {
  TSetupRequest setup;                        // the confirmed set-up, its port included
  std::optional<std::string> identification;  // the module's bytes (Latin-1), only when one came
  std::optional<std::chrono::system_clock::time_point> startedAt;
  long long records = 0;
  double measuredRateHz = 0;  // 0: not measured
  bool rateOff = false;
  TLineQuality quality;  // the recording's own figures (RecordingLineQuality)
};

RecordingSidecar SidecarFromFacts(const RecordingFacts& facts);
// The facts of the session's current (or last) recording: its confirmed
// set-up, the identification when one came, the Read's time, the store's
// count, the measured rate and the recording's own line figures.
RecordingFacts SessionFacts(const AcquisitionSession& session);
inline RecordingSidecar SessionSidecar(const AcquisitionSession& session) {
  return SidecarFromFacts(SessionFacts(session));
}
// What the store alone tells: the set-up's six indices and the count (the
// switches it does not keep, EMG, the mode and the channels, stay unknown).
RecordingSidecar StoreSidecar(const SampleStore& store);

// The module's single-byte (Latin-1) text as UTF-8.
std::string Latin1ToUtf8(std::string_view text);
// Local date and time of `when`, to the millisecond.
LocalDateTime LocalDateTimeOf(std::chrono::system_clock::time_point when);
