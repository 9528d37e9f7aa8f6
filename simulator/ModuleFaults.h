#pragma once
// Faults of the module itself, the kind an acceptance test of a module has to
// catch: a lead amplified wrongly, a dead lead, an electrode reported off, a
// lead late against the others, no answer to "I". (FaultInjector.h has the
// line's faults.) Pure: names, and a filter over the stream of lead values.
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "simulator/SyntheticEcg.h"

struct ModuleFaults {
  static constexpr int kMaxSkew = 1000;  // samples: over 3 s at the highest rate

  std::map<SimLead, double> gain{};  // lead -> factor, about the lead's zero (0 mV)
  std::set<SimLead> dead{};          // flat at the lead's zero
  std::map<SimLead, int> skew{};     // lead -> samples late, 0..kMaxSkew
  std::uint8_t limbOff = 0;          // ConnectionFlag bits of the electrodes reported off
  std::uint8_t chestOff = 0;         // chest status bits (C2 bit 0 .. C6 bit 4) reported off
  bool noIdent = false;              // "I" goes unanswered

  bool operator==(const ModuleFaults&) const = default;
};

// Lead names as the tool's channels name them: "I", "II", "III", "aVR",
// "aVL", "aVF", "C1".."C6"; any letter case. Nothing for other text.
std::optional<SimLead> LeadByName(std::string_view name);
const char* LeadName(SimLead lead);

// An electrode as the status frames name it: "LL", "RL", "LA", "RA", "C1" in
// the status frame, "C2".."C6" in the chest status frame; any letter case.
struct Electrode {
  bool chest = false;     // its bit is in the chest status frame
  std::uint8_t mask = 0;  // its bit there
  bool operator==(const Electrode&) const = default;
};
std::optional<Electrode> ElectrodeByName(std::string_view name);

// Applies a fault set's gain errors, dead leads and skews to one sample of
// lead values after another; the respiration channel passes untouched. A
// skewed lead reads 0 mV until its delay line has filled.
class LeadFaultFilter {
 public:
  explicit LeadFaultFilter(const ModuleFaults& faults = {});
  LeadVoltages Next(const LeadVoltages& leads);

 private:
  ModuleFaults faults_;
  std::size_t depth_ = 0;  // the longest skew
  std::deque<LeadVoltages> history_;
};
