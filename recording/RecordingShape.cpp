#include "recording/RecordingShape.h"

#include <algorithm>

namespace {

// Export order: the limb leads, the chest leads, respiration last.
constexpr std::array<ChartChannel, kChartChannelCount> kExportOrder{ccI,  ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1,
                                                                    ccC2, ccC3, ccC4,  ccC5,  ccC6,  ccResp};

}  // namespace

RecordingShape DetectRecordingShape(const SampleStore& store) {
  // OR of every record's bytes: a channel holds data when its OR is not 0.
  SampleRecord any{};
  const int count = store.Count();
  for (int slot = 1; slot <= count; ++slot) AddBytesInUse(any, store.At(slot));
  return ShapeOfBytesInUse(any);
}

void AddBytesInUse(SampleRecord& orOfAllRecords, const SampleRecord& record) {
  for (std::size_t i = 0; i < record.channels.size(); ++i) orOfAllRecords.channels[i] |= record.channels[i];
  for (std::size_t i = 0; i < record.chest.size(); ++i) orOfAllRecords.chest[i] |= record.chest[i];
}

RecordingShape ShapeOfBytesInUse(const SampleRecord& any) {
  RecordingShape shape;
  for (ChartChannel channel : kExportOrder) shape.holdsData[channel] = ChannelSample(any, channel) != 0;

  const bool twelve = std::any_of(any.chest.begin(), any.chest.end(), [](std::uint8_t b) { return b != 0; });
  shape.mode = twelve ? RecordingMode::TwelveChannel : RecordingMode::EightChannel;
  if (twelve) {
    shape.shown.assign(kLimbLeads.begin(), kLimbLeads.end());
    shape.shown.insert(shape.shown.end(), kChestLeads.begin(), kChestLeads.end());
  } else {
    for (ChartChannel channel : kEightChannelOrder)
      if (shape.holdsData[channel]) shape.shown.push_back(channel);
    if (shape.shown.empty()) shape.shown.assign(kEightChannelOrder.begin(), kEightChannelOrder.end());
  }
  for (ChartChannel channel : kExportOrder)
    if (shape.holdsData[channel]) shape.withData.push_back(channel);
  return shape;
}

std::string_view ChannelName(ChartChannel channel) {
  static constexpr std::array<std::string_view, kChartChannelCount> kNames{"I",  "II", "III", "aVR", "aVL", "aVF", "C1",
                                                                           "C2", "C3", "C4",  "C5",  "C6",  "Resp"};
  return kNames[static_cast<std::size_t>(channel)];
}

std::array<bool, 8> EightChannelBoxes(const RecordingShape& shape) {
  std::array<bool, 8> checked{};
  for (std::size_t i = 0; i < kEightChannelOrder.size(); ++i)
    checked[i] = std::find(shape.shown.begin(), shape.shown.end(), kEightChannelOrder[i]) != shape.shown.end();
  return checked;
}
