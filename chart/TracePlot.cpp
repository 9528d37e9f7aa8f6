#include "chart/TracePlot.h"

#include <cmath>
#include <optional>
#include <string>

namespace {

// The label column the sweep reached with this record: a tenth of the
// sweep's width apart, the one between the previous record's column
// (excluded) and the cursor. One record a column reaches each label column
// in turn; at a paper speed a record may leave columns out, or share its
// column with the records before it (the first one writes the label).
std::optional<int> TimeLabelColumn(const ChartLayout& layout) {
  const int interval = (layout.RightEdge - layout.Margin) / 10;
  if (interval <= 0) return std::nullopt;  // no screen layout chosen yet: nowhere to label
  const int x = layout.Margin + (layout.CursorX - layout.Margin) / interval * interval;
  if (x <= layout.PrevX || x > layout.CursorX) return std::nullopt;
  return x;
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
  const std::optional<int> x = TimeLabelColumn(layout);
  if (!x) return;
  PutTimeText(layout, canvas, *x, TimeText(time, formatTime));
}

void PutTimeLabels12C(const ChartLayout& layout, ChartCanvas& canvas, double time, const TimeFormatter& formatTime) {
  const std::optional<int> x = TimeLabelColumn(layout);
  if (!x) return;
  const std::string text = TimeText(time, formatTime);
  PutTimeText(layout, canvas, *x, text);
  const int chestX = *x + layout.ColumnSplit;
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
