#include "chart/ChartSweep.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#include "chart/ChartFrame.h"
#include "chart/TracePlot.h"

namespace {

// Where a channel is drawn in the mode: its x offset from CursorX.
struct ShownChannel {
  ChartChannel channel;
  int xOffset;
};

std::span<const ShownChannel> ShownChannels(const ChartLayout& layout, bool twelveChannel,
                                            std::array<ShownChannel, 12>& out) {
  std::size_t n = 0;
  if (twelveChannel) {
    for (ChartChannel channel : kLimbLeads) out[n++] = {channel, 0};
    for (ChartChannel channel : kChestLeads) out[n++] = {channel, layout.ColumnSplit};
  } else {
    for (ChartChannel channel : kEightChannelOrder) {
      if (layout.BandTable[channel].Height > 0) out[n++] = {channel, 0};
    }
  }
  return {out.data(), n};
}

}  // namespace

ChartSweep::ChartSweep(ChartLayout& layout, ChartCanvas& canvas, TimeFormatter formatTime, bool twelveChannel)
    : layout_(layout), canvas_(canvas), formatTime_(std::move(formatTime)), twelveChannel_(twelveChannel) {}

void ChartSweep::Restart(bool twelveChannel, const std::array<bool, 8>& checked) {
  twelveChannel_ = twelveChannel;
  if (twelveChannel) {
    LayoutBands12C(layout_);
  } else {
    LayoutBands(layout_, checked);
  }
  Frame();
}

void DrawMvPulses(const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas, const MvScales& scales) {
  canvas.SetPenStyle(psSolid);
  canvas.SetPenColor(clBlack);
  for (std::size_t c = 0; c < scales.size(); ++c) {
    const auto channel = static_cast<ChartChannel>(c);
    const BandEntry& band = layout.BandTable[channel];
    if (!scales[c] || band.Height <= 0 || scales[c]->stepsPerMv <= 0) continue;
    const bool chest = twelveChannel && std::find(kChestLeads.begin(), kChestLeads.end(), channel) != kChestLeads.end();
    if (!twelveChannel && channel == ccResp) continue;
    const int top = band.Bottom - band.Height + layout.BandTopPad;
    const int zero = MapSampleToY(static_cast<int>(std::lround(scales[c]->zero)), band, layout.BandTopPad);
    const int high =
        MapSampleToY(static_cast<int>(std::lround(scales[c]->zero + scales[c]->stepsPerMv)), band, layout.BandTopPad);
    if (zero > band.Bottom || high < top) continue;  // a scale the band cannot show
    const int left = (chest ? layout.ColumnSplit : 0) + layout.Margin - 16;
    canvas.Polyline({TPoint{left, zero}, TPoint{left + 3, zero}, TPoint{left + 3, high}, TPoint{left + 13, high},
                     TPoint{left + 13, zero}, TPoint{left + 15, zero}});
  }
}

void ChartSweep::Frame() {
  if (twelveChannel_) {
    DrawBasic12C(layout_, canvas_);
  } else {
    DrawBasic(layout_, canvas_);
  }
  DrawMvPulses(layout_, twelveChannel_, canvas_, scales_);
  speedStartX_ = layout_.CursorX;
  recordsAtSpeed_ = 0;
}

TColor RecordMarkColor(const SampleRecord& record) {
  if (RecordMarker(record) != 0) return clBlue;
  if ((RecordFlags(record) & kDataLostBefore) != 0) return clRed;
  if ((RecordFlags(record) & kChestMissing) != 0) return kChestMissingColor;
  return clChartBackground;
}

void DrawRecordMark(const SampleRecord& record, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas,
                    int x) {
  if (RecordFlags(record) == 0 && RecordMarker(record) == 0) return;
  canvas.SetPenStyle(psSolid);
  canvas.SetPenColor(RecordMarkColor(record));
  // The pen leaves a polyline's last point unset: kMarkHeight pixels.
  canvas.Polyline({TPoint{x, 0}, TPoint{x, kMarkHeight}});
  if (twelveChannel) canvas.Polyline({TPoint{x + layout.ColumnSplit, 0}, TPoint{x + layout.ColumnSplit, kMarkHeight}});
  canvas.SetPenColor(clBlack);
}

void ChartSweep::Plot(const SampleStore& store, int slot) {
  if (layout_.CursorX > End()) Frame();
  const int x = layout_.CursorX;
  if (twelveChannel_) {
    ShowGraph12C(layout_, canvas_, store, slot, formatTime_);
  } else {
    ShowGraph(layout_, canvas_, store, slot, formatTime_);
  }
  DrawRecordMark(store.At(slot), layout_, twelveChannel_, canvas_, x);
  if (recordsPerColumn_ == 1) {
    ++layout_.CursorX;
    return;
  }
  // Counted from where the speed began, so no rounding adds up.
  ++recordsAtSpeed_;
  const int next =
      speedStartX_ + static_cast<int>(std::floor(static_cast<double>(recordsAtSpeed_) / recordsPerColumn_ + 1e-9));
  // A record that would leap over the last column is drawn there, so the
  // sweep ends at its edge (with its time label) as it does at one record
  // a column.
  layout_.CursorX = x < End() && next > End() ? End() : next;
}

void ChartSweep::SetRecordsPerColumn(double recordsPerColumn) {
  if (!(recordsPerColumn > 0) || !std::isfinite(recordsPerColumn)) recordsPerColumn = 1;
  recordsPerColumn_ = recordsPerColumn;
  speedStartX_ = layout_.CursorX;
  recordsAtSpeed_ = 0;
}

void ChartSweep::PlotSpan(const SampleStore& store, int from, int to) {
  std::array<ShownChannel, 12> buffer{};
  const SampleRecord& head = store.At(from);
  canvas_.SetPenStyle(psSolid);
  for (const ShownChannel& c : ShownChannels(layout_, twelveChannel_, buffer)) {
    const BandEntry& band = layout_.BandTable[c.channel];
    const int first = MapSampleToY(ChannelSample(head, c.channel), band, layout_.BandTopPad);
    int top = first, bottom = first, last = first;
    for (int i = from + 1; i <= to; ++i) {
      last = MapSampleToY(ChannelSample(store.At(i), c.channel), band, layout_.BandTopPad);
      top = std::min(top, last);
      bottom = std::max(bottom, last);
    }
    const int x = layout_.CursorX + c.xOffset;
    const int previous = std::exchange(layout_.LastY[c.channel], last);
    // Where the chest column is the narrower one, its traces end with its
    // frame, as a record's do.
    if (x > layout_.RightEdge) continue;
    canvas_.SetPenColor(ChannelColor(c.channel));
    if (from > 1) canvas_.Polyline({{layout_.PrevX + c.xOffset, previous}, {x, first}});
    // The end point of a polyline stays unset: one past the bottom sets it.
    if (top < bottom) canvas_.Polyline({{x, top}, {x, bottom + 1}});
  }
  if (twelveChannel_) {
    PutTimeLabels12C(layout_, canvas_, head.time, formatTime_);
  } else {
    PutTimeLabel(layout_, canvas_, head.time, formatTime_);
  }
  layout_.PrevX = layout_.CursorX;
  ++layout_.CursorX;
}

void ChartSweep::JoinFrom(const SampleRecord& record) {
  std::array<ShownChannel, 12> buffer{};
  for (const ShownChannel& c : ShownChannels(layout_, twelveChannel_, buffer)) {
    layout_.LastY[c.channel] =
        MapSampleToY(ChannelSample(record, c.channel), layout_.BandTable[c.channel], layout_.BandTopPad);
  }
}
