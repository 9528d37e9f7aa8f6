#include "simulator/ModuleFaults.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "simulator/ModuleFrames.h"

namespace {
constexpr std::array<const char*, slLeadCount> kLeadNames = {"I",  "II", "III", "aVR", "aVL", "aVF",
                                                             "C1", "C2", "C3",  "C4",  "C5",  "C6"};

struct NamedElectrode {
  const char* name;
  Electrode electrode;
};
constexpr NamedElectrode kElectrodes[] = {
    {"LL", {false, cfLL}}, {"RL", {false, cfRL}}, {"LA", {false, cfLA}}, {"RA", {false, cfRA}}, {"C1", {false, cfC1}},
    {"C2", {true, 0x01}},  {"C3", {true, 0x02}},  {"C4", {true, 0x04}},  {"C5", {true, 0x08}},  {"C6", {true, 0x10}},
};

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}
}  // namespace

std::optional<SimLead> LeadByName(std::string_view name) {
  for (std::size_t lead = 0; lead < kLeadNames.size(); ++lead) {
    if (SameName(name, kLeadNames[lead])) return static_cast<SimLead>(lead);
  }
  return std::nullopt;
}

const char* LeadName(SimLead lead) { return kLeadNames.at(static_cast<std::size_t>(lead)); }

std::optional<Electrode> ElectrodeByName(std::string_view name) {
  for (const NamedElectrode& known : kElectrodes) {
    if (SameName(name, known.name)) return known.electrode;
  }
  return std::nullopt;
}

LeadFaultFilter::LeadFaultFilter(const ModuleFaults& faults) : faults_(faults) {
  for (const auto& [lead, samples] : faults_.skew) {
    depth_ = std::max(depth_, static_cast<std::size_t>(std::clamp(samples, 0, ModuleFaults::kMaxSkew)));
  }
}

LeadVoltages LeadFaultFilter::Next(const LeadVoltages& leads) {
  LeadVoltages out = leads;
  if (depth_ > 0) {
    history_.push_back(leads);
    if (history_.size() > depth_ + 1) history_.pop_front();
    for (const auto& [lead, samples] : faults_.skew) {
      const auto late = static_cast<std::size_t>(std::clamp(samples, 0, ModuleFaults::kMaxSkew));
      const auto index = static_cast<std::size_t>(lead);
      out.mV.at(index) = late < history_.size() ? history_[history_.size() - 1 - late].mV.at(index) : 0.0;
    }
  }
  for (const auto& [lead, factor] : faults_.gain) out.mV.at(static_cast<std::size_t>(lead)) *= factor;
  for (const SimLead lead : faults_.dead) out.mV.at(static_cast<std::size_t>(lead)) = 0.0;
  return out;
}
