#pragma once
// The acceptance test plan: the checks a person wrote in a TOML file, with
// their limits, expanded into the steps the runner performs one after the
// other, each with its complete set-up.
//
// Plain values only: the set-up is the set-up panel's indices, so the plan
// can be read, checked and reported on without a port or the module code.
// ParsePlan refuses every plan it cannot run as written (unknown keys, values
// out of range, contradictions) with EPlan, naming the line and column; a
// limit is never silently replaced by a default.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The channels of eight-channel mode in the order of the channel mask bits.
inline constexpr std::size_t kPlanChannelCount = 8;
inline constexpr std::array<std::string_view, kPlanChannelCount> kPlanChannelNames{"I",   "II",  "III", "aVR",
                                                                                   "aVL", "aVF", "C1",  "Resp"};
// Samples per second of the transmission indices 0..3.
inline constexpr std::array<int, 4> kPlanRates{50, 100, 150, 300};
// The electrodes the status frames report: RA, LA, RL, LL and C1 in every
// status frame, C2..C6 only in the chest status frames of twelve-channel mode.
inline constexpr std::size_t kPlanElectrodeCount = 10;
inline constexpr std::size_t kPlanLimbElectrodeCount = 5;
inline constexpr std::array<std::string_view, kPlanElectrodeCount> kPlanElectrodeNames{"RA", "LA", "RL", "LL", "C1",
                                                                                       "C2", "C3", "C4", "C5", "C6"};

// One step's set-up: the indices the module's set-up command is built from.
// The defaults are the set-up panel's.
struct StepSetup {
  int transmission = 1;   // 0..3: 50, 100, 150, 300 / sec
  int amplification = 1;  // 0..3: "Stage 1" .. "Stage 4"
  int filter = 1;         // 0 off, 1 50 Hz, 2 60 Hz
  int mode = 1;           // 0 diagnostic, 1 monitoring
  bool pacer = false;
  bool simulation = false;
  bool emg = false;
  bool twelveChannel = false;
  std::array<bool, kPlanChannelCount> channels{true, true, true, false, false, false, false, false};  // eight-channel

  int SamplesPerSecond() const { return kPlanRates.at(static_cast<std::size_t>(transmission)); }
  // Bytes of a sample frame (start byte included) and of a chest frame (0:
  // none are sent) this set-up makes the module send.
  int SampleFrameSize() const;
  int ChestFrameSize() const { return twelveChannel ? 7 : 0; }
  bool operator==(const StepSetup&) const = default;
};

enum class CheckKind { Identification, Rate, Channels, Calibration, Electrodes, HeartRate, Noise, RegisterWrites };
// The kind as the plan's `kind` key spells it ("heart_rate").
std::string_view CheckKindName(CheckKind kind);

// "I" answered with an identification frame within the timeout; its text
// matches `pattern` (a Perl-compatible regular expression, searched
// anywhere in the text) unless the pattern is empty.
struct IdentificationLimits {
  double timeoutSeconds = 2.0;
  std::string pattern;
};

// Sample frames per second over `seconds`, within ±tolerancePercent of the
// step's rate. One step per transmission setting.
struct RateLimits {
  double tolerancePercent = 1.0;
  double seconds = 10.0;
};

// Every frame of the step's length (StepSetup::SampleFrameSize and
// ChestFrameSize) over `seconds`. One step per channel mask, and one in
// twelve-channel mode.
struct ChannelLimits {
  double seconds = 2.0;
};

// One amplification stage's expectation. `ratio` is the stage's gain in
// proportion to the other stages' (only the proportions count).
struct StageLimits {
  int stage = 0;  // index 0..3
  double minStepsPerMv = 0;
  double maxStepsPerMv = 0;
  std::optional<double> ratio;
};

// After "K", at each stage: the rectangle found in every recorded lead, its
// steps per mV within the stage's band, the stages' ratios within
// ±ratioTolerancePercent of the plan's (when the plan gives ratios), every
// lead within ±leadTolerancePercent of the leads' median, the rising edges
// at most edgeSkewSamples apart across leads. Step i is stages[i].
struct CalibrationLimits {
  std::vector<StageLimits> stages;
  double ratioTolerancePercent = 5.0;
  double leadTolerancePercent = 5.0;
  int edgeSkewSamples = 1;
  double seconds = 5.0;  // recorded after "K"

  bool Ratios() const { return !stages.empty() && stages.front().ratio.has_value(); }
};

// After "q0", within the timeout, the status frames report each electrode as
// `connected` says (by default all connected). C2..C6 are reported only in
// twelve-channel mode; the parser refuses an expectation for them otherwise.
struct ElectrodeLimits {
  std::array<bool, kPlanElectrodeCount> connected{true, true, true, true, true, true, true, true, true, true};
  double timeoutSeconds = 5.0;
};

// The module's pulse value and the tool's own heart rate over `seconds`
// agree within ±toleranceBpm; both within ±toleranceBpm of expectedBpm when
// it is given.
struct HeartRateLimits {
  double toleranceBpm = 3.0;
  std::optional<double> expectedBpm;
  double seconds = 10.0;
};

// On a baseline stretch of the `seconds` recorded, the peak-to-peak of every
// recorded lead at most maxSteps, and at most maxMicrovolts when the stage is
// calibrated and the plan gives a limit in µV.
struct NoiseLimits {
  double maxSteps = 0;
  std::optional<double> maxMicrovolts;
  double seconds = 5.0;
};

// Register writes, sent in order. The protocol has no read-back: the result
// can only say that a write was sent. Step i is writes[i].
struct RegisterWrite {
  int address = 0;  // 0..25
  std::uint8_t value = 0;
  bool operator==(const RegisterWrite&) const = default;
};
struct RegisterWriteLimits {
  std::vector<RegisterWrite> writes;
};

using CheckLimits = std::variant<IdentificationLimits, RateLimits, ChannelLimits, CalibrationLimits, ElectrodeLimits,
                                 HeartRateLimits, NoiseLimits, RegisterWriteLimits>;

// One set-up and what is measured under it. `setting` names what sets the
// step apart from the check's other steps ("100 / sec", "Stage 2", "aVR",
// "12-Channel", "register 5 = 0x81"); empty when the check has one step.
struct PlanStep {
  std::string setting;
  StepSetup setup;
};

struct PlanCheck {
  CheckKind kind = CheckKind::Identification;
  std::string name;  // the plan's `name`, else the kind; unique in the plan
  int line = 0;      // where the check begins in the file
  CheckLimits limits;
  std::vector<PlanStep> steps;
};

// Watched during every step: no more rejected frames, stray bytes (bytes of
// no frame: a frame broken on the line), input-queue gaps, silent spells (no
// sample frame for silentSpellSeconds) or device line errors (parity,
// framing, overrun, break) than these.
struct IntegrityLimits {
  bool enabled = true;
  std::uint64_t maxRejectedFrames = 0;
  std::uint64_t maxStrayBytes = 0;
  std::uint64_t maxQueueGaps = 0;
  std::uint64_t maxSilentSpells = 0;
  double silentSpellSeconds = 0.5;
  std::uint64_t maxLineErrors = 0;
};

struct TestPlan {
  std::string name;
  std::string source;  // the file as it was named, for messages
  std::string sha256;  // of the bytes parsed, lower-case hex
  StepSetup setup;     // what every step starts from
  IntegrityLimits integrity;
  std::vector<PlanCheck> checks;
};

// A plan that cannot be run. what() reads "SOURCE:LINE:COLUMN: REASON"
// (line and column from 1; both 0 when the file itself could not be read).
class EPlan : public std::runtime_error {
 public:
  EPlan(const std::string& source, int line, int column, const std::string& reason);
  int Line() const { return line_; }
  int Column() const { return column_; }
  const std::string& Reason() const { return reason_; }

 private:
  int line_;
  int column_;
  std::string reason_;
};

// `source` names the text in messages. Raises EPlan.
TestPlan ParsePlan(std::string_view text, const std::string& source);
// Reads and parses the file. Raises EPlan, also when it cannot be read.
TestPlan LoadPlan(const std::string& path);
