#include "chart/TracePlot.h"

#include <cmath>
#include <string>

namespace {

bool OnTimeLabelColumn(const ChartLayout& layout) {
  const int interval = (layout.RightEdge - layout.Margin) / 10;
  if (interval <= 0) return false;  // no screen layout chosen yet: nowhere to label
  return (layout.CursorX - layout.Margin) % interval == 0;
}

void PutTimeText(const ChartLayout& layout, ChartCanvas& canvas, int x, const std::string& text) {
  canvas.SetFontColor(clBlack);
  canvas.SetFontSize(layout.TimeFontSize);
  canvas.PutText(x - layout.TimeLabelShift, layout.TimeLabelTop, text);
}

std::string TimeText(double time, const TimeFormatter& formatTime) {
  return formatTime ? formatTime(time) : LongTimeText(time);
}

}  // namespace

void PutTimeLabelAt(const ChartLayout& layout, ChartCanvas& canvas, int x, double time,
                    const TimeFormatter& formatTime) {
  PutTimeText(layout, canvas, x, TimeText(time, formatTime));
}

void PutTimeLabel(const ChartLayout& layout, ChartCanvas& canvas, double time, const TimeFormatter& formatTime) {
  if (!OnTimeLabelColumn(layout)) return;
  PutTimeText(layout, canvas, layout.CursorX, TimeText(time, formatTime));
}

void PutTimeLabels12C(const ChartLayout& layout, ChartCanvas& canvas, double time, const TimeFormatter& formatTime) {
  if (!OnTimeLabelColumn(layout)) return;
  const std::string text = TimeText(time, formatTime);
  PutTimeText(layout, canvas, layout.CursorX, text);
  const int chestX = layout.CursorX + layout.ColumnSplit;
  if (chestX <= layout.RightEdge) PutTimeText(layout, canvas, chestX, text);
}

int MapSampleToY(int sample, const BandEntry& band, int bandTopPad) {
  const double span = band.Height - bandTopPad;
  return band.Bottom - static_cast<int>(std::lround(sample / 247.0 * span));
}

void ShowGraph(ChartLayout& layout, ChartCanvas& canvas, const SampleStore& store, int index,
               const TimeFormatter& formatTime) {
  const SampleRecord& record = store.At(index);
  const bool joinPrevious = index > 1;
  canvas.SetPenStyle(psSolid);
  for (ChartChannel channel : kEightChannelOrder) {
    const BandEntry& band = layout.BandTable[channel];
    if (band.Height <= 0) continue;  // not shown: its last y waits for the next set-up that shows it
    canvas.SetPenColor(ChannelColor(channel));
    const int y = MapSampleToY(ChannelSample(record, channel), band, layout.BandTopPad);
    if (joinPrevious) canvas.Polyline({{layout.PrevX, layout.LastY[channel]}, {layout.CursorX, y}});
    layout.LastY[channel] = y;
  }
  PutTimeLabel(layout, canvas, record.time, formatTime);
  layout.PrevX = layout.CursorX;
}

void ShowGraph12C(ChartLayout& layout, ChartCanvas& canvas, const SampleStore& store, int index,
                  const TimeFormatter& formatTime) {
  const SampleRecord& record = store.At(index);
  const bool joinPrevious = index > 1;
  canvas.SetPenStyle(psSolid);
  auto plot = [&](ChartChannel channel, int xOffset, int columnRight) {
    canvas.SetPenColor(ChannelColor(channel));
    const int y = MapSampleToY(ChannelSample(record, channel), layout.BandTable[channel], layout.BandTopPad);
    const bool inFrame = layout.CursorX + xOffset <= columnRight;
    if (joinPrevious && inFrame)
      canvas.Polyline({{layout.PrevX + xOffset, layout.LastY[channel]}, {layout.CursorX + xOffset, y}});
    layout.LastY[channel] = y;
  };
  for (ChartChannel channel : kLimbLeads) plot(channel, 0, layout.LeftColumnRight);
  for (ChartChannel channel : kChestLeads) plot(channel, layout.ColumnSplit, layout.RightEdge);
  PutTimeLabels12C(layout, canvas, record.time, formatTime);
  layout.PrevX = layout.CursorX;
}
