#include "station/SessionSidecar.h"

#include <algorithm>
#include <ctime>

#include "module/SetupChoices.h"

namespace {

int RateOf(int transmission) {
  static constexpr std::array<int, 4> kRates = {50, 100, 150, 300};
  if (transmission < 0 || transmission >= static_cast<int>(kRates.size())) return 0;
  return kRates[static_cast<std::size_t>(transmission)];
}

// "Resp." in the panel, "Resp" in the file.
std::string ChannelName(std::size_t box) {
  std::string name(ChannelBoxItems[box]);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

SidecarSetup IndicesSetup(const AcquisitionSettings& i) {
  static constexpr std::array<int, 3> kFilterHz = {0, 50, 60};
  SidecarSetup setup;
  if (const int rate = RateOf(i.transmission)) setup.rateHz = rate;
  if (i.amplification < AmpBoxChoice.Items.size()) setup.amplificationStage = i.amplification + 1;
  if (i.filter < kFilterHz.size()) setup.mainsFilterHz = kFilterHz[i.filter];
  if (const std::string_view mode = ChoiceItem(ModeBoxChoice, i.mode); !mode.empty()) setup.mode = std::string(mode);
  setup.pacer = i.pacer != 0;
  setup.simulation = i.simulation != 0;
  return setup;
}

SidecarSetup SetupOf(const TSetupRequest& request) {
  SidecarSetup setup = IndicesSetup(request.indices);
  setup.emgFilter = request.emg;
  setup.twelveChannel = request.twelveChannel;
  if (request.twelveChannel) {
    // Every limb lead and C1..C6; no respiration in this mode.
    for (std::size_t box = 0; box < kChannelBoxCount; ++box)
      if (box != static_cast<std::size_t>(chResp)) setup.channels.push_back(ChannelName(box));
    for (const char* chest : {"C2", "C3", "C4", "C5", "C6"}) setup.channels.emplace_back(chest);
  } else {
    for (std::size_t box = 0; box < kChannelBoxCount; ++box)
      if (request.channels[box]) setup.channels.push_back(ChannelName(box));
  }
  return setup;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

LocalDateTime LocalDateTimeOf(std::chrono::system_clock::time_point when) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  const auto milli = std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count();
  const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  ::localtime_r(&t, &local);
  // A leap second is told as the second before it: msOfDay stays in the day.
  const long long second = (local.tm_hour * 60LL + local.tm_min) * 60 + std::min(local.tm_sec, 59);
  return LocalDateTime{{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, second * 1000 + milli};
}

RecordingSidecar SidecarFromFacts(const RecordingFacts& facts) {
  RecordingSidecar sidecar;
  sidecar.setup = SetupOf(facts.setup);
  if (!facts.setup.port.empty()) sidecar.port = facts.setup.port;
  if (facts.identification) sidecar.identification = Latin1ToUtf8(*facts.identification);
  if (facts.startedAt) sidecar.start = LocalDateTimeOf(*facts.startedAt);
  sidecar.records = facts.records;
  if (facts.measuredRateHz > 0) sidecar.measuredRateHz = facts.measuredRateHz;
  SidecarIntegrity integrity;
  const TLineQuality& q = facts.quality;
  integrity.gaps = static_cast<long long>(q.inputGaps);
  for (std::size_t kind = 0; kind < kFrameKindNames.size(); ++kind)
    integrity.rejectedFrames[kFrameKindNames[kind]] = static_cast<long long>(q.framesRejected[kind]);
  integrity.incompleteRecordsDropped = static_cast<long long>(q.incompleteRecordsDropped);
  integrity.rateOff = facts.rateOff;
  integrity.silentSpells = static_cast<long long>(q.silentSpells);
  sidecar.integrity = integrity;
  return sidecar;
}

RecordingFacts SessionFacts(const AcquisitionSession& session) {
  RecordingFacts facts;
  facts.setup = session.ConfirmedSetup();
  if (!session.Identification().empty()) facts.identification = session.Identification();
  facts.startedAt = session.RecordingStartedAt();
  facts.records = session.Store().Count();
  facts.measuredRateHz = session.MeasuredRate();
  facts.rateOff = session.RateIsOff();
  facts.quality = session.RecordingLineQuality();
  return facts;
}

RecordingSidecar StoreSidecar(const SampleStore& store) {
  RecordingSidecar sidecar;
  sidecar.setup = IndicesSetup(store.Settings());
  sidecar.records = store.Count();
  return sidecar;
}
