#pragma once
// What a recording holds, decided from its records alone: eight- or
// twelve-channel, and which channels carry data. The loader lays out and
// draws the chart from it; the exporters write the channels it names.
#include <array>
#include <string_view>
#include <vector>

#include "store/ChartChannel.h"
#include "store/SampleStore.h"

enum class RecordingMode { EightChannel, TwelveChannel };

struct RecordingShape {
  RecordingMode mode = RecordingMode::EightChannel;
  // Per ChartChannel: some record holds a byte other than 0 there.
  std::array<bool, kChartChannelCount> holdsData{};
  // The bands to draw, in band-table order: all twelve leads in
  // twelve-channel mode; in eight-channel mode the channels of the eight
  // that hold data (all eight when none does, so the frame is not empty).
  std::vector<ChartChannel> shown;
  // The channels that hold data, in the order I..aVF, C1..C6, Resp: the
  // columns and signals of an export.
  std::vector<ChartChannel> withData;
  friend bool operator==(const RecordingShape&, const RecordingShape&) = default;
};

// Slots 1..Count() of `store`. Twelve-channel as soon as any record has a
// chest byte C2..C6 other than 0; a channel whose byte is 0 in every record
// holds no data.
RecordingShape DetectRecordingShape(const SampleStore& store);
// The same from the OR of every record's bytes, for records that are not in
// a store (a data file read front to back).
RecordingShape ShapeOfBytesInUse(const SampleRecord& orOfAllRecords);
// Adds a record's bytes to such an OR.
void AddBytesInUse(SampleRecord& orOfAllRecords, const SampleRecord& record);

// The name of a channel outside the chart: "I", "II", "III", "aVR", "aVL",
// "aVF", "C1" .. "C6", "Resp".
std::string_view ChannelName(ChartChannel channel);

// The eight-channel check boxes (CH_I .. CH_RE) that select the shown
// channels: what the chart lays its bands out from.
std::array<bool, 8> EightChannelBoxes(const RecordingShape& shape);
