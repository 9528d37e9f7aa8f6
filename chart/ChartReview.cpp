#include "chart/ChartReview.h"

#include <algorithm>
#include <span>
#include <utility>

#include "chart/ChartFrame.h"
#include "chart/TracePlot.h"

namespace {

// Where a channel is drawn in the mode: its x offset from CursorX, or
// nothing when the mode does not show it.
struct ShownChannel {
  ChartChannel channel;
  int xOffset;
};

int ShownChannels(const ChartLayout& layout, bool twelveChannel, std::array<ShownChannel, 12>& out) {
  int n = 0;
  if (twelveChannel) {
    for (ChartChannel channel : kLimbLeads) out[static_cast<std::size_t>(n++)] = {channel, 0};
    for (ChartChannel channel : kChestLeads) out[static_cast<std::size_t>(n++)] = {channel, layout.ColumnSplit};
  } else {
    for (ChartChannel channel : kEightChannelOrder) {
      if (layout.BandTable[channel].Height > 0) out[static_cast<std::size_t>(n++)] = {channel, 0};
    }
  }
  return n;
}

// The y each shown channel of `record` is drawn at, as LastY, so the view's
// first segment starts where the record before it ended.
void JoinFrom(ChartLayout& layout, std::span<const ShownChannel> shown, const SampleRecord& record) {
  for (const ShownChannel& c : shown) {
    layout.LastY[c.channel] =
        MapSampleToY(ChannelSample(record, c.channel), layout.BandTable[c.channel], layout.BandTopPad);
  }
}

// One pixel column for records from..to. Per channel: the segment from the
// previous column's last point to this column's first record, then a
// vertical stroke over every y the column's records reach. Min and max rather
// than one record per column: at 8 records per pixel a QRS complex spans
// three or four columns and a pacemaker spike one record, so sampling one
// record per column would cut R waves to random heights from beat to beat
// and drop spikes; the stroke keeps every peak at its full height, and the
// joining segments still follow the trace's order in time.
void PlotColumn(ChartLayout& layout, ChartCanvas& canvas, const SampleStore& store, int from, int to,
                std::span<const ShownChannel> shown, const TimeFormatter& formatTime) {
  const SampleRecord& head = store.At(from);
  canvas.SetPenStyle(psSolid);
  for (const ShownChannel& c : shown) {
    const BandEntry& band = layout.BandTable[c.channel];
    const int first = MapSampleToY(ChannelSample(head, c.channel), band, layout.BandTopPad);
    int top = first, bottom = first, last = first;
    for (int i = from + 1; i <= to; ++i) {
      last = MapSampleToY(ChannelSample(store.At(i), c.channel), band, layout.BandTopPad);
      top = std::min(top, last);
      bottom = std::max(bottom, last);
    }
    const int x = layout.CursorX + c.xOffset;
    const int previous = std::exchange(layout.LastY[c.channel], last);
    // Where the chest column is the narrower one, its traces end with its
    // frame, as live plotting's do.
    if (x > layout.RightEdge) continue;
    canvas.SetPenColor(ChannelColor(c.channel));
    if (from > 1) canvas.Polyline({{layout.PrevX + c.xOffset, previous}, {x, first}});
    // The end point of a polyline stays unset: one past the bottom sets it.
    if (top < bottom) canvas.Polyline({{x, top}, {x, bottom + 1}});
  }
  const bool twoColumns = std::any_of(shown.begin(), shown.end(), [](const ShownChannel& c) { return c.xOffset != 0; });
  if (twoColumns) {
    PutTimeLabels12C(layout, canvas, head.time, formatTime);
  } else {
    PutTimeLabel(layout, canvas, head.time, formatTime);
  }
  layout.PrevX = layout.CursorX;
}

}  // namespace

int ReviewPlotWidth(const ChartLayout& layout, bool twelveChannel) {
  return std::max(1, (twelveChannel ? layout.LeftColumnRight : layout.RightEdge) - layout.Margin);
}

int RecordsPerView(const ChartLayout& layout, bool twelveChannel, int compression) {
  return ReviewPlotWidth(layout, twelveChannel) * std::max(1, compression);
}

int LastViewFirst(int count, int perView) { return std::max(1, count - perView + 1); }

int ClampViewFirst(int first, int count, int perView) { return std::clamp(first, 1, LastViewFirst(count, perView)); }

int StepViewFirst(int first, ReviewStep step, int count, int perView) {
  const int tenth = std::max(1, perView / 10);
  switch (step) {
    case ReviewStep::TenthBack: first -= tenth; break;
    case ReviewStep::TenthOn: first += tenth; break;
    case ReviewStep::ViewBack: first -= perView; break;
    case ReviewStep::ViewOn: first += perView; break;
    case ReviewStep::Start: first = 1; break;
    case ReviewStep::End: first = LastViewFirst(count, perView); break;
  }
  return ClampViewFirst(first, count, perView);
}

std::string ReviewReadout(const SampleStore& store, int first, int perView, const TimeFormatter& formatTime) {
  const int count = store.Count();
  if (count <= 0) return "no records";
  first = ClampViewFirst(first, count, perView);
  const int last = std::min(count, first + perView - 1);
  auto time = [&](int index) {
    const double t = store.At(index).time;
    return formatTime ? formatTime(t) : LongTimeText(t);
  };
  return "records " + std::to_string(first) + "-" + std::to_string(last) + " of " + std::to_string(count) + ", " +
         time(first) + " - " + time(last);
}

void DrawReview(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas, int first,
                int compression, const TimeFormatter& formatTime) {
  ChartLayout view = layout;
  compression = std::max(1, compression);
  if (twelveChannel) {
    DrawBasic12C(view, canvas);
  } else {
    DrawBasic(view, canvas);
  }
  const int count = store.Count();
  if (count <= 0) return;
  const int perView = RecordsPerView(view, twelveChannel, compression);
  first = ClampViewFirst(first, count, perView);
  const int last = std::min(count, first + perView - 1);

  std::array<ShownChannel, 12> buffer{};
  const std::span<const ShownChannel> shown(buffer.data(),
                                            static_cast<std::size_t>(ShownChannels(view, twelveChannel, buffer)));
  if (first > 1) JoinFrom(view, shown, store.At(first - 1));

  if (compression == 1) {
    for (int index = first; index <= last; ++index) {
      if (twelveChannel) {
        ShowGraph12C(view, canvas, store, index, formatTime);
      } else {
        ShowGraph(view, canvas, store, index, formatTime);
        ++view.CursorX;
      }
    }
    return;
  }
  for (int from = first; from <= last; from += compression) {
    PlotColumn(view, canvas, store, from, std::min(last, from + compression - 1), shown, formatTime);
    ++view.CursorX;
  }
}
