#include "simulator/SimulatorArguments.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace {
constexpr const char* kUsage =
    "Usage: ecg-module-sim [options]\n"
    "Plays the ECG acquisition module on a virtual serial port.\n"
    "\n"
    "  --name NAME                port name (default ECG-SIM0)\n"
    "  --dir DIR                  directory of virtual ports (default $XDG_RUNTIME_DIR/virtual-serial\n"
    "                             or /tmp/virtual-serial-<uid>)\n"
    "  --rate-multiplier X        stream X times the set-up's rate (at most what the line carries)\n"
    "  --samples-per-second N     stream N samples per second whatever the set-up says\n"
    "  --fast                     stream as fast as a 115200-baud line carries\n"
    "  --unpaced                  stream as fast as the reader takes the samples\n"
    "  --heart-rate BPM           heart rate of the synthetic ECG (default 72)\n"
    "  --resp-rate N              breaths per minute (default 15)\n"
    "  --replay RECORD.hea        play a WFDB record instead of the synthetic ECG: II its first signal,\n"
    "                             I and C1..C6 its second (or its twelve leads), III and aV* from I and II;\n"
    "                             the pulse value from its beats (RECORD.atr) when there are any\n"
    "  --noise                    garbage between frames, lost bytes, writes in random pieces\n"
    "  --quiet                    do not log received commands\n"
    "  --register-dump            list the register writes received, on exit\n"
    "  --help, --version          this text; the version\n"
    "\n"
    "Module faults, each for as many leads or electrodes as given:\n"
    "  --gain-error LEAD=FACTOR   LEAD, its calibration rectangle included, scaled by FACTOR about 0 mV\n"
    "  --dead-lead LEAD           LEAD flat at 0 mV\n"
    "  --skew LEAD=SAMPLES        LEAD SAMPLES samples late (0 to 1000)\n"
    "  --lead-off ELECTRODE       the status frames report ELECTRODE not connected\n"
    "  --no-ident                 no answer to \"I\"\n"
    "LEAD: I, II, III, aVR, aVL, aVF, C1..C6. ELECTRODE: LL, RL, LA, RA, C1..C6.\n"
    "\n"
    "Runs until Ctrl-C. Exit codes: 0 ended, 1 the port or the record could not be set up,\n"
    "2 bad arguments.\n";

// Splits "NAME=VALUE"; nothing when there is no '=' or either side is empty.
std::optional<std::pair<std::string, std::string>> Pair(const std::string& text) {
  const std::size_t at = text.find('=');
  if (at == std::string::npos || at == 0 || at + 1 == text.size()) return std::nullopt;
  return std::pair{text.substr(0, at), text.substr(at + 1)};
}

std::optional<double> Number(const std::string& text, double low, double high) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(value >= low && value <= high)) return std::nullopt;
  return value;
}

std::string Range(double low, double high) {
  char range[96];
  std::snprintf(range, sizeof range, " needs a number from %g to %g", low, high);
  return range;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}
  SimulatorArguments Run();

 private:
  // Each returns false once the command line is refused (args_.error says why).
  bool One(const std::string& option);
  bool Refuse(const std::string& why) {
    args_.error = why;
    return false;
  }
  std::optional<std::string> Value(const std::string& option);
  std::optional<double> NumberOf(const std::string& option, double low, double high);
  std::optional<SimLead> Lead(const std::string& option, const std::string& name);
  bool LeadFault(const std::string& option);

  const std::vector<std::string>& arguments_;
  std::size_t next_ = 0;
  SimulatorArguments args_;
};

SimulatorArguments Parser::Run() {
  while (next_ < arguments_.size() && !args_.help && !args_.version) {
    if (!One(arguments_[next_++])) return args_;
  }
  if (args_.help || args_.version) return args_;
  const SimulatorPace& pace = args_.options.pace;
  if (pace.samplesPerSecond > 0 && pace.rateMultiplier != 1.0) {
    Refuse("--rate-multiplier cannot be combined with a fixed rate");
  }
  return args_;
}

std::optional<std::string> Parser::Value(const std::string& option) {
  if (next_ >= arguments_.size()) {
    Refuse(option + " needs a value");
    return std::nullopt;
  }
  return arguments_[next_++];
}

std::optional<double> Parser::NumberOf(const std::string& option, double low, double high) {
  const auto text = Value(option);
  if (!text) return std::nullopt;
  const auto value = Number(*text, low, high);
  if (!value) Refuse(option + Range(low, high));
  return value;
}

std::optional<SimLead> Parser::Lead(const std::string& option, const std::string& name) {
  const auto lead = LeadByName(name);
  if (!lead) Refuse(option + ": no lead named " + name + " (I, II, III, aVR, aVL, aVF, C1..C6)");
  return lead;
}

bool Parser::LeadFault(const std::string& option) {
  const auto text = Value(option);
  if (!text) return false;
  ModuleFaults& faults = args_.options.moduleFaults;
  if (option == "--dead-lead") {
    const auto lead = Lead(option, *text);
    if (lead) faults.dead.insert(*lead);
    return lead.has_value();
  }
  const bool gain = option == "--gain-error";
  const auto pair = Pair(*text);
  if (!pair) return Refuse(option + " needs " + (gain ? "LEAD=FACTOR, e.g. II=1.1" : "LEAD=SAMPLES, e.g. C2=3"));
  const auto lead = Lead(option, pair->first);
  if (!lead) return false;
  if (gain) {
    const auto factor = Number(pair->second, -100, 100);
    if (!factor) return Refuse(option + " " + pair->first + Range(-100, 100));
    faults.gain[*lead] = *factor;
    return true;
  }
  const auto samples = Number(pair->second, 0, ModuleFaults::kMaxSkew);
  if (!samples || *samples != static_cast<int>(*samples)) {
    return Refuse(option + " " + pair->first + " needs a whole number of samples from 0 to " +
                  std::to_string(ModuleFaults::kMaxSkew));
  }
  faults.skew[*lead] = static_cast<int>(*samples);
  return true;
}

bool Parser::One(const std::string& option) {
  SimulatorOptions& o = args_.options;
  if (option == "--help" || option == "-h") {
    args_.help = true;
  } else if (option == "--version") {
    args_.version = true;
  } else if (option == "--name" || option == "--dir" || option == "--replay") {
    const auto text = Value(option);
    if (!text) return false;
    (option == "--name" ? o.name : option == "--dir" ? o.directory : o.replay) = *text;
  } else if (option == "--rate-multiplier") {
    const auto value = NumberOf(option, 0.01, 1000);
    if (!value) return false;
    o.pace.rateMultiplier = *value;
  } else if (option == "--samples-per-second") {
    const auto value = NumberOf(option, 1, 1e6);
    if (!value) return false;
    o.pace.samplesPerSecond = *value;
  } else if (option == "--fast" || option == "--unpaced") {
    o.pace.samplesPerSecond = SimulatorPace::kUnpaced;
    o.pace.capAtLineRate = option == "--fast";
  } else if (option == "--heart-rate" || option == "--resp-rate") {
    const bool heart = option == "--heart-rate";
    const auto value = heart ? NumberOf(option, 20, 250) : NumberOf(option, 1, 60);
    if (!value) return false;
    (heart ? o.heartRate : o.respirationRate) = static_cast<int>(*value);
  } else if (option == "--noise") {
    o.faults.garbageChance = 0.02;
    o.faults.dropChance = 0.001;
    o.faults.randomChunks = true;
    o.faults.seed = static_cast<std::uint32_t>(std::time(nullptr));
  } else if (option == "--gain-error" || option == "--dead-lead" || option == "--skew") {
    return LeadFault(option);
  } else if (option == "--lead-off") {
    const auto name = Value(option);
    if (!name) return false;
    const auto electrode = ElectrodeByName(*name);
    if (!electrode) return Refuse(option + ": no electrode named " + *name + " (LL, RL, LA, RA, C1..C6)");
    (electrode->chest ? o.moduleFaults.chestOff : o.moduleFaults.limbOff) |= electrode->mask;
  } else if (option == "--no-ident") {
    o.moduleFaults.noIdent = true;
  } else if (option == "--quiet") {
    args_.quiet = true;
  } else if (option == "--register-dump") {
    args_.registerDump = true;
  } else {
    return Refuse("unknown option " + option);
  }
  return true;
}
}  // namespace

SimulatorArguments ParseSimulatorArguments(const std::vector<std::string>& arguments) {
  return Parser(arguments).Run();
}

const char* SimulatorUsage() { return kUsage; }

const char* SimulatorVersion() { return ECG_VERSION; }
