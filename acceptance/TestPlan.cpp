#include "acceptance/TestPlan.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <map>
#include <sstream>
#include <utility>

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QString>

#include <toml++/toml.h>

namespace {

using Keys = std::initializer_list<std::string_view>;

constexpr std::array<std::string_view, 4> kRateSettings{"50 / sec", "100 / sec", "150 / sec", "300 / sec"};
constexpr std::array<std::string_view, 4> kStageSettings{"Stage 1", "Stage 2", "Stage 3", "Stage 4"};
constexpr std::string_view kTwelveChannelSetting = "12-Channel";
constexpr std::array<std::string_view, 3> kFilterNames{"off", "50 hz", "60 hz"};
constexpr std::array<std::string_view, 2> kModeNames{"diagnostic", "monitoring"};
constexpr std::array<std::pair<CheckKind, std::string_view>, 8> kKinds{{
    {CheckKind::Identification, "identification"},
    {CheckKind::Rate, "rate"},
    {CheckKind::Channels, "channels"},
    {CheckKind::Calibration, "calibration"},
    {CheckKind::Electrodes, "electrodes"},
    {CheckKind::HeartRate, "heart_rate"},
    {CheckKind::Noise, "noise"},
    {CheckKind::RegisterWrites, "register_writes"},
}};

// Longest wait or recording a step may ask for: an hour is a soak test, more
// is a typing error.
constexpr double kLongestSeconds = 3600;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

template <typename Names>
std::string Listed(const Names& names) {
  std::string list;
  for (const auto& name : names) list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

std::string Shown(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

std::string_view Described(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return "a text";
    case toml::node_type::integer: return "a whole number";
    case toml::node_type::floating_point: return "a number";
    case toml::node_type::boolean: return "true or false";
    case toml::node_type::array: return "a list";
    case toml::node_type::table: return "a table";
    case toml::node_type::date:
    case toml::node_type::time:
    case toml::node_type::date_time: return "a date or time";
    case toml::node_type::none: break;
  }
  return "nothing";
}

int Clamped(toml::source_index index) { return static_cast<int>(std::max<toml::source_index>(index, 1)); }

// The channel's index from its name as the plan writes it ("aVR", "resp",
// "Resp."), without regard to case.
std::optional<std::size_t> ChannelIndex(std::string_view name) {
  std::string lower = Lower(name);
  if (!lower.empty() && lower.back() == '.') lower.pop_back();
  for (std::size_t i = 0; i < kPlanChannelCount; ++i) {
    if (lower == Lower(kPlanChannelNames[i])) return i;
  }
  return std::nullopt;
}

// Any lead of the electrocardiogram recorded (the respiration channel is not one).
bool RecordsEcgLead(const StepSetup& setup) {
  return setup.twelveChannel ||
         std::any_of(setup.channels.begin(), setup.channels.end() - 1, [](bool on) { return on; });
}

// Reads the TOML tree and throws EPlan at the first thing it cannot use.
class PlanReader {
 public:
  explicit PlanReader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void Fail(const toml::source_region& where, const std::string& reason) const {
    throw EPlan(source_, Clamped(where.begin.line), Clamped(where.begin.column), reason);
  }
  [[noreturn]] void Fail(const toml::node& where, const std::string& reason) const { Fail(where.source(), reason); }

  // Refuses a key the table's reader does not know: a misspelt limit
  // would otherwise be left at its default without a word.
  void OnlyKeys(const toml::table& table, std::string_view what, Keys keys) const {
    for (const auto& [key, node] : table) {
      if (std::find(keys.begin(), keys.end(), key.str()) == keys.end()) {
        Fail(key.source(),
             Quoted(key.str()) + " is not a key of " + std::string(what) + "; its keys are " + Listed(keys));
      }
    }
  }

  const toml::table* OptionalTable(const toml::table& table, std::string_view key) const {
    const toml::node* node = table.get(key);
    if (!node) return nullptr;
    if (!node->is_table()) Fail(*node, Quoted(key) + " must be a table, not " + std::string(Described(*node)));
    return node->as_table();
  }

  const toml::array* OptionalArray(const toml::table& table, std::string_view key) const {
    const toml::node* node = table.get(key);
    if (!node) return nullptr;
    if (!node->is_array()) Fail(*node, Quoted(key) + " must be a list, not " + std::string(Described(*node)));
    return node->as_array();
  }

  const toml::array& RequiredArray(const toml::table& table, std::string_view key, std::string_view what) const {
    const toml::array* array = OptionalArray(table, key);
    if (!array) Fail(table.source(), std::string(what) + " needs " + Quoted(key));
    if (array->empty()) Fail(*array, Quoted(key) + " lists nothing");
    return *array;
  }

  std::optional<std::string> OptionalText(const toml::table& table, std::string_view key) const {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    if (!node->is_string()) Fail(*node, Quoted(key) + " must be a text, not " + std::string(Described(*node)));
    return node->as_string()->get();
  }

  bool Flag(const toml::table& table, std::string_view key, bool fallback) const {
    const toml::node* node = table.get(key);
    if (!node) return fallback;
    if (!node->is_boolean()) Fail(*node, Quoted(key) + " must be true or false, not " + std::string(Described(*node)));
    return node->as_boolean()->get();
  }

  std::int64_t Whole(const toml::node& node, std::string_view key, std::int64_t low, std::int64_t high) const {
    if (!node.is_integer()) Fail(node, Quoted(key) + " must be a whole number, not " + std::string(Described(node)));
    const std::int64_t value = node.as_integer()->get();
    if (value < low || value > high) {
      Fail(node, Quoted(key) + " must be from " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
                     std::to_string(value));
    }
    return value;
  }

  std::optional<std::int64_t> OptionalWhole(const toml::table& table, std::string_view key, std::int64_t low,
                                            std::int64_t high) const {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    return Whole(*node, key, low, high);
  }

  // A number above 0 and at most `most`; whole numbers are numbers too.
  double Positive(const toml::node& node, std::string_view key, double most) const {
    double value = 0;
    if (const auto* integer = node.as_integer()) {
      value = static_cast<double>(integer->get());
    } else if (const auto* number = node.as_floating_point()) {
      value = number->get();
    } else {
      Fail(node, Quoted(key) + " must be a number, not " + std::string(Described(node)));
    }
    if (!std::isfinite(value) || value <= 0 || value > most) {
      Fail(node, Quoted(key) + " must be above 0 and at most " + Shown(most) + ", not " + Shown(value));
    }
    return value;
  }

  std::optional<double> OptionalPositive(const toml::table& table, std::string_view key, double most) const {
    const toml::node* node = table.get(key);
    if (!node) return std::nullopt;
    return Positive(*node, key, most);
  }

  double Positive(const toml::table& table, std::string_view key, double most, double fallback) const {
    return OptionalPositive(table, key, most).value_or(fallback);
  }

  double RequiredPositive(const toml::table& table, std::string_view key, double most, std::string_view what) const {
    const std::optional<double> value = OptionalPositive(table, key, most);
    if (!value) Fail(table.source(), std::string(what) + " needs " + Quoted(key));
    return *value;
  }

  template <std::size_t N>
  int Named(const toml::table& table, std::string_view key, const std::array<std::string_view, N>& names,
            int fallback) const {
    const std::optional<std::string> text = OptionalText(table, key);
    if (!text) return fallback;
    std::string wanted = Lower(*text);
    wanted.erase(std::remove(wanted.begin(), wanted.end(), ' '), wanted.end());
    for (std::size_t i = 0; i < N; ++i) {
      std::string name(names[i]);
      name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
      if (wanted == name) return static_cast<int>(i);
    }
    Fail(*table.get(key), Quoted(key) + " must be one of " + Listed(names) + ", not " + Quoted(*text));
  }

  std::array<bool, kPlanChannelCount> Channels(const toml::node& node, std::string_view key) const {
    std::array<bool, kPlanChannelCount> channels{};
    const toml::array* names = node.as_array();
    if (!names) Fail(node, Quoted(key) + " must be a list of lead names, not " + std::string(Described(node)));
    for (const toml::node& name : *names) {
      const std::optional<std::size_t> index = name.is_string() ? ChannelIndex(name.as_string()->get()) : std::nullopt;
      if (!index) Fail(name, Quoted(key) + " lists leads by name: " + Listed(kPlanChannelNames));
      if (channels[*index]) Fail(name, "lead " + std::string(kPlanChannelNames[*index]) + " is listed twice");
      channels[*index] = true;
    }
    return channels;
  }

  // `base` changed by what the table names. `chosen` are the keys the
  // check sets itself step by step: naming one is a contradiction.
  StepSetup Setup(const toml::table& table, StepSetup base, Keys chosen, std::string_view chooser) const {
    OnlyKeys(table, "a set-up",
             {"transmission", "amplification", "filter", "mode", "pacer", "emg", "simulation", "twelve_channel",
              "channels"});
    for (const auto& [key, node] : table) {
      if (std::find(chosen.begin(), chosen.end(), key.str()) != chosen.end()) {
        Fail(key.source(), Quoted(key.str()) + " is chosen step by step by this check's " + Quoted(chooser) +
                               "; leave it out of its set-up");
      }
    }
    if (const toml::node* node = table.get("transmission")) {
      const std::int64_t rate = Whole(*node, "transmission", 1, 1000);
      const auto* at = std::find(kPlanRates.begin(), kPlanRates.end(), rate);
      if (at == kPlanRates.end()) {
        Fail(*node, "'transmission' must be one of " + Listed(kRateSettings) + " as samples per second, not " +
                        std::to_string(rate));
      }
      base.transmission = static_cast<int>(at - kPlanRates.begin());
    }
    if (const auto stage = OptionalWhole(table, "amplification", 1, 4))
      base.amplification = static_cast<int>(*stage) - 1;
    base.filter = Named(table, "filter", kFilterNames, base.filter);
    base.mode = Named(table, "mode", kModeNames, base.mode);
    base.pacer = Flag(table, "pacer", base.pacer);
    base.emg = Flag(table, "emg", base.emg);
    base.simulation = Flag(table, "simulation", base.simulation);
    base.twelveChannel = Flag(table, "twelve_channel", base.twelveChannel);
    if (const toml::node* node = table.get("channels")) base.channels = Channels(*node, "channels");
    return base;
  }

  IntegrityLimits Integrity(const toml::table& table) const {
    OnlyKeys(table, "[integrity]",
             {"enabled", "max_rejected_frames", "max_stray_bytes", "max_queue_gaps", "max_silent_spells",
              "silent_spell_seconds", "max_line_errors"});
    constexpr std::int64_t kMost = 1'000'000'000;
    IntegrityLimits limits;
    limits.enabled = Flag(table, "enabled", limits.enabled);
    const auto count = [&](std::string_view key, std::uint64_t fallback) {
      return static_cast<std::uint64_t>(
          OptionalWhole(table, key, 0, kMost).value_or(static_cast<std::int64_t>(fallback)));
    };
    limits.maxRejectedFrames = count("max_rejected_frames", limits.maxRejectedFrames);
    limits.maxStrayBytes = count("max_stray_bytes", limits.maxStrayBytes);
    limits.maxQueueGaps = count("max_queue_gaps", limits.maxQueueGaps);
    limits.maxSilentSpells = count("max_silent_spells", limits.maxSilentSpells);
    limits.maxLineErrors = count("max_line_errors", limits.maxLineErrors);
    limits.silentSpellSeconds = Positive(table, "silent_spell_seconds", 60, limits.silentSpellSeconds);
    return limits;
  }

  PlanCheck Check(const toml::table& table, const StepSetup& base) const {
    PlanCheck check;
    check.line = Clamped(table.source().begin.line);
    const toml::node* kindNode = table.get("kind");
    if (!kindNode) Fail(table.source(), "a check needs a 'kind': one of " + Listed(KindNames()));
    const std::optional<std::string> kind = OptionalText(table, "kind");
    const auto* known = std::find_if(kKinds.begin(), kKinds.end(), [&](const auto& k) { return k.second == *kind; });
    if (*kind == "integrity") Fail(*kindNode, "integrity is watched during every step: give its limits in [integrity]");
    if (known == kKinds.end())
      Fail(*kindNode, "'kind' must be one of " + Listed(KindNames()) + ", not " + Quoted(*kind));
    check.kind = known->first;
    check.name = OptionalText(table, "name").value_or(*kind);
    if (check.name.empty()) Fail(*table.get("name"), "'name' is empty");

    const std::string what = "a " + *kind + " check";
    const toml::table empty;
    const toml::table* setupTable = OptionalTable(table, "setup");
    const auto setup = [&](Keys chosen, std::string_view chooser) {
      return Setup(setupTable ? *setupTable : empty, base, chosen, chooser);
    };
    switch (check.kind) {
      case CheckKind::Identification: {
        OnlyKeys(table, what, {"kind", "name", "setup", "timeout_seconds", "pattern"});
        IdentificationLimits limits;
        limits.timeoutSeconds = Positive(table, "timeout_seconds", 60, limits.timeoutSeconds);
        limits.pattern = OptionalText(table, "pattern").value_or("");
        Pattern(table, limits.pattern);
        check.steps.push_back({"", setup({}, "")});
        check.limits = limits;
        break;
      }
      case CheckKind::Rate: {
        OnlyKeys(table, what, {"kind", "name", "setup", "rates", "tolerance_percent", "seconds"});
        RateLimits limits;
        limits.tolerancePercent = Positive(table, "tolerance_percent", 100, limits.tolerancePercent);
        limits.seconds = Positive(table, "seconds", kLongestSeconds, limits.seconds);
        const StepSetup stepSetup = setup({"transmission"}, "rates");
        std::vector<int> indices{0, 1, 2, 3};
        if (table.get("rates")) {
          indices.clear();
          for (const toml::node& node : RequiredArray(table, "rates", what)) {
            const auto* at = std::find(kPlanRates.begin(), kPlanRates.end(),
                                       node.is_integer() ? node.as_integer()->get() : std::int64_t{-1});
            if (at == kPlanRates.end()) Fail(node, "'rates' lists samples per second: " + Listed(kRateSettings));
            const int index = static_cast<int>(at - kPlanRates.begin());
            if (std::find(indices.begin(), indices.end(), index) != indices.end()) {
              Fail(node, "rate " + std::to_string(*at) + " is listed twice");
            }
            indices.push_back(index);
          }
        }
        for (const int index : indices) {
          PlanStep step{std::string(kRateSettings[static_cast<std::size_t>(index)]), stepSetup};
          step.setup.transmission = index;
          check.steps.push_back(step);
        }
        check.limits = limits;
        break;
      }
      case CheckKind::Channels: {
        OnlyKeys(table, what, {"kind", "name", "setup", "masks", "twelve_channel", "seconds"});
        ChannelLimits limits;
        limits.seconds = Positive(table, "seconds", kLongestSeconds, limits.seconds);
        StepSetup stepSetup = setup({"channels", "twelve_channel"}, "masks");
        stepSetup.twelveChannel = false;
        if (table.get("masks")) {
          for (const toml::node& node : RequiredArray(table, "masks", what)) {
            PlanStep step{"", stepSetup};
            step.setup.channels = Mask(node, step.setting);
            for (const PlanStep& earlier : check.steps) {
              if (earlier.setup.channels == step.setup.channels)
                Fail(node, "the mask " + Quoted(step.setting) + " is listed twice");
            }
            check.steps.push_back(step);
          }
        } else {
          check.steps.push_back({"all", stepSetup});
          check.steps.back().setup.channels.fill(true);
          check.steps.push_back({"none", stepSetup});
          check.steps.back().setup.channels.fill(false);
          for (std::size_t i = 0; i < kPlanChannelCount; ++i) {
            check.steps.push_back({std::string(kPlanChannelNames[i]), stepSetup});
            check.steps.back().setup.channels.fill(false);
            check.steps.back().setup.channels[i] = true;
          }
        }
        if (Flag(table, "twelve_channel", true)) {
          check.steps.push_back({std::string(kTwelveChannelSetting), stepSetup});
          check.steps.back().setup.twelveChannel = true;
        }
        check.limits = limits;
        break;
      }
      case CheckKind::Calibration: {
        OnlyKeys(table, what,
                 {"kind", "name", "setup", "stages", "ratio_tolerance_percent", "lead_tolerance_percent",
                  "edge_skew_samples", "seconds"});
        CalibrationLimits limits;
        limits.ratioTolerancePercent = Positive(table, "ratio_tolerance_percent", 100, limits.ratioTolerancePercent);
        limits.leadTolerancePercent = Positive(table, "lead_tolerance_percent", 100, limits.leadTolerancePercent);
        limits.edgeSkewSamples = static_cast<int>(OptionalWhole(table, "edge_skew_samples", 0, 1000).value_or(1));
        limits.seconds = Positive(table, "seconds", kLongestSeconds, limits.seconds);
        const StepSetup stepSetup = setup({"amplification"}, "stages");
        NeedsEcgLead(table, stepSetup, what);
        for (const toml::node& node : RequiredArray(table, "stages", what)) {
          const StageLimits stage = Stage(node, limits.stages);
          PlanStep step{std::string(kStageSettings[static_cast<std::size_t>(stage.stage)]), stepSetup};
          step.setup.amplification = stage.stage;
          check.steps.push_back(step);
          limits.stages.push_back(stage);
        }
        check.limits = limits;
        break;
      }
      case CheckKind::Electrodes: {
        OnlyKeys(table, what, {"kind", "name", "setup", "disconnected", "timeout_seconds"});
        ElectrodeLimits limits;
        limits.timeoutSeconds = Positive(table, "timeout_seconds", kLongestSeconds, limits.timeoutSeconds);
        const StepSetup stepSetup = setup({}, "");
        if (const toml::array* names = OptionalArray(table, "disconnected")) {
          for (const toml::node& name : *names) {
            const std::size_t index = Electrode(name);
            if (!limits.connected[index])
              Fail(name, "electrode " + std::string(kPlanElectrodeNames[index]) + " is listed twice");
            if (index >= kPlanLimbElectrodeCount && !stepSetup.twelveChannel) {
              Fail(name, "electrode " + std::string(kPlanElectrodeNames[index]) +
                             " is reported only in twelve-channel mode: set twelve_channel = true in this check's "
                             "set-up");
            }
            limits.connected[index] = false;
          }
        }
        check.steps.push_back({"", stepSetup});
        check.limits = limits;
        break;
      }
      case CheckKind::HeartRate: {
        OnlyKeys(table, what, {"kind", "name", "setup", "tolerance_bpm", "expected_bpm", "seconds"});
        HeartRateLimits limits;
        limits.toleranceBpm = Positive(table, "tolerance_bpm", 100, limits.toleranceBpm);
        limits.expectedBpm = OptionalPositive(table, "expected_bpm", 300);
        limits.seconds = Positive(table, "seconds", kLongestSeconds, limits.seconds);
        check.steps.push_back({"", setup({}, "")});
        NeedsEcgLead(table, check.steps.back().setup, what);
        check.limits = limits;
        break;
      }
      case CheckKind::Noise: {
        OnlyKeys(table, what, {"kind", "name", "setup", "max_steps", "max_microvolts", "seconds"});
        NoiseLimits limits;
        limits.maxSteps = RequiredPositive(table, "max_steps", 255, what);
        limits.maxMicrovolts = OptionalPositive(table, "max_microvolts", 100'000);
        limits.seconds = Positive(table, "seconds", kLongestSeconds, limits.seconds);
        check.steps.push_back({"", setup({}, "")});
        NeedsEcgLead(table, check.steps.back().setup, what);
        check.limits = limits;
        break;
      }
      case CheckKind::RegisterWrites: {
        OnlyKeys(table, what, {"kind", "name", "setup", "writes"});
        RegisterWriteLimits limits;
        const StepSetup stepSetup = setup({}, "");
        for (const toml::node& node : RequiredArray(table, "writes", what)) {
          const RegisterWrite write = Write(node);
          std::ostringstream setting;
          setting << "register " << write.address << " = 0x" << std::hex << std::uppercase
                  << static_cast<int>(write.value);
          check.steps.push_back({setting.str(), stepSetup});
          limits.writes.push_back(write);
        }
        check.limits = limits;
        break;
      }
    }
    return check;
  }

 private:
  static std::vector<std::string_view> KindNames() {
    std::vector<std::string_view> names;
    names.reserve(kKinds.size());
    for (const auto& kind : kKinds) names.push_back(kind.second);
    return names;
  }

  void NeedsEcgLead(const toml::table& table, const StepSetup& setup, std::string_view what) const {
    if (RecordsEcgLead(setup)) return;
    const toml::table* setupTable = table.get_as<toml::table>("setup");
    Fail(setupTable ? setupTable->source() : table.source(),
         std::string(what) + " needs a lead of the electrocardiogram among the set-up's channels");
  }

  // Refused now rather than when the module has answered.
  void Pattern(const toml::table& table, const std::string& pattern) const {
    const QRegularExpression expression(QString::fromStdString(pattern));
    if (expression.isValid()) return;
    const toml::node& node = *table.get("pattern");
    toml::source_region where = node.source();
    where.begin.column += static_cast<toml::source_index>(1 + expression.patternErrorOffset());
    Fail(where, "'pattern' is not a regular expression: " + expression.errorString().toStdString());
  }

  // A channel mask: "all", "none", a lead's name or a list of names.
  std::array<bool, kPlanChannelCount> Mask(const toml::node& node, std::string& setting) const {
    std::array<bool, kPlanChannelCount> channels{};
    if (node.is_array()) {
      channels = Channels(node, "masks");
      for (std::size_t i = 0; i < kPlanChannelCount; ++i) {
        if (channels[i]) setting += (setting.empty() ? "" : "+") + std::string(kPlanChannelNames[i]);
      }
      if (setting.empty()) setting = "none";
      return channels;
    }
    const std::string name = node.is_string() ? Lower(node.as_string()->get()) : "";
    if (name == "all" || name == "none") {
      channels.fill(name == "all");
      setting = name;
      return channels;
    }
    const std::optional<std::size_t> index = node.is_string() ? ChannelIndex(name) : std::nullopt;
    if (!index) {
      Fail(node, "'masks' lists \"all\", \"none\", a lead's name or a list of names; the leads are " +
                     Listed(kPlanChannelNames));
    }
    channels[*index] = true;
    setting = kPlanChannelNames[*index];
    return channels;
  }

  StageLimits Stage(const toml::node& node, const std::vector<StageLimits>& earlier) const {
    const toml::table* table = node.as_table();
    if (!table) Fail(node, "'stages' lists tables such as { stage = 2, steps_per_mv = [36, 44], ratio = 2 }");
    OnlyKeys(*table, "a stage", {"stage", "steps_per_mv", "ratio"});
    StageLimits stage;
    const toml::node* number = table->get("stage");
    if (!number) Fail(*table, "a stage needs 'stage', its number 1..4");
    stage.stage = static_cast<int>(Whole(*number, "stage", 1, 4)) - 1;
    for (const StageLimits& other : earlier) {
      if (other.stage == stage.stage) Fail(*number, "stage " + std::to_string(stage.stage + 1) + " is listed twice");
    }
    const toml::node* band = table->get("steps_per_mv");
    const toml::array* bounds = band ? band->as_array() : nullptr;
    if (!band) Fail(*table, "a stage needs 'steps_per_mv', its band [lowest, highest]");
    if (!bounds || bounds->size() != 2) Fail(*band, "'steps_per_mv' must be a band [lowest, highest]");
    stage.minStepsPerMv = Positive(*bounds->get(0), "steps_per_mv", 255);
    stage.maxStepsPerMv = Positive(*bounds->get(1), "steps_per_mv", 255);
    if (stage.minStepsPerMv >= stage.maxStepsPerMv) Fail(*band, "'steps_per_mv' must give its lowest value first");
    stage.ratio = OptionalPositive(*table, "ratio", 1000);
    // Proportions need a ratio for every stage; one left out is a slip.
    if (!earlier.empty() && earlier.front().ratio.has_value() != stage.ratio.has_value()) {
      Fail(*table, "give 'ratio' for every stage or for none");
    }
    return stage;
  }

  std::size_t Electrode(const toml::node& node) const {
    const std::string name = node.is_string() ? Lower(node.as_string()->get()) : "";
    for (std::size_t i = 0; i < kPlanElectrodeCount; ++i) {
      if (name == Lower(kPlanElectrodeNames[i])) return i;
    }
    Fail(node, "'disconnected' lists electrodes by name: " + Listed(kPlanElectrodeNames));
  }

  RegisterWrite Write(const toml::node& node) const {
    const toml::table* table = node.as_table();
    if (!table) Fail(node, "'writes' lists tables such as { address = 5, value = 0x81 }");
    OnlyKeys(*table, "a register write", {"address", "value"});
    const toml::node* address = table->get("address");
    const toml::node* value = table->get("value");
    if (!address) Fail(*table, "a register write needs 'address', 0..25");
    if (!value) Fail(*table, "a register write needs 'value', one byte 0..255 (0x.. and 0b.. are welcome)");
    return {static_cast<int>(Whole(*address, "address", 0, 25)),
            static_cast<std::uint8_t>(Whole(*value, "value", 0, 255))};
  }

  std::string source_;
};

}  // namespace

int StepSetup::SampleFrameSize() const {
  if (twelveChannel) return 9;
  return 2 + static_cast<int>(std::count(channels.begin(), channels.end(), true));
}

std::string_view CheckKindName(CheckKind kind) {
  for (const auto& [known, name] : kKinds) {
    if (known == kind) return name;
  }
  return {};
}

EPlan::EPlan(const std::string& source, int line, int column, const std::string& reason)
    : std::runtime_error(source + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + reason),
      line_(line),
      column_(column),
      reason_(reason) {}

TestPlan ParsePlan(std::string_view text, const std::string& source) {
  const PlanReader reader(source);
  toml::table root;
  try {
    root = toml::parse(text, source);
  } catch (const toml::parse_error& error) {
    reader.Fail(error.source(), "not TOML: " + std::string(error.description()));
  }
  reader.OnlyKeys(root, "the plan", {"name", "setup", "integrity", "check"});

  TestPlan plan;
  plan.source = source;
  plan.sha256 = QCryptographicHash::hash(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())),
                                         QCryptographicHash::Sha256)
                    .toHex()
                    .toStdString();
  const std::optional<std::string> name = reader.OptionalText(root, "name");
  if (!name || name->empty()) {
    reader.Fail(name ? root.get("name")->source() : root.source(), "the plan needs a 'name', shown in its results");
  }
  plan.name = *name;
  if (const toml::table* setup = reader.OptionalTable(root, "setup")) plan.setup = reader.Setup(*setup, {}, {}, "");
  if (const toml::table* integrity = reader.OptionalTable(root, "integrity"))
    plan.integrity = reader.Integrity(*integrity);

  const toml::node* checks = root.get("check");
  if (!checks) reader.Fail(root.source(), "the plan has no check: add one with [[check]]");
  if (!checks->is_array_of_tables())
    reader.Fail(*checks, "'check' must be a list of tables: begin each check with [[check]]");
  std::map<std::string, int> names;  // name -> line of its check
  for (const toml::node& node : *checks->as_array()) {
    PlanCheck check = reader.Check(*node.as_table(), plan.setup);
    const auto [at, inserted] = names.emplace(check.name, check.line);
    if (!inserted) {
      const toml::table& table = *node.as_table();
      reader.Fail(table.get("name") ? *table.get("name") : *table.get("kind"),
                  "a check named " + Quoted(check.name) + " comes already at line " + std::to_string(at->second) +
                      "; give this one its own 'name'");
    }
    plan.checks.push_back(std::move(check));
  }
  return plan;
}

TestPlan LoadPlan(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) throw EPlan(path, 0, 0, "cannot be read: " + file.errorString().toStdString());
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    throw EPlan(path, 0, 0, "cannot be read: " + file.errorString().toStdString());
  }
  return ParsePlan(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), path);
}
