#include "chart/ChartReview.h"

#include <algorithm>

#include "chart/ChartSweep.h"

int ReviewPlotWidth(const ChartLayout& layout, bool twelveChannel) {
  return std::max(1, (twelveChannel ? layout.LeftColumnRight : layout.RightEdge) - layout.Margin);
}

int RecordsPerView(const ChartLayout& layout, bool twelveChannel, int compression) {
  return ReviewPlotWidth(layout, twelveChannel) * std::max(1, compression);
}

int WholeViewCompression(const ChartLayout& layout, bool twelveChannel, int count) {
  const int width = std::max(1, ReviewPlotWidth(layout, twelveChannel));
  return std::max(1, (count + width - 1) / width);
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

std::string ReviewReadout(const SampleStore& store, int first, int perView, const TimeFormatter& formatTime,
                          const ReviewSpan& span) {
  const int count = store.Count();
  if (count <= 0) return "no records";
  first = ClampViewFirst(first, count, perView);
  const int last = std::min(count, first + perView - 1);
  auto time = [&](int index) {
    const double t = store.At(index).time;
    return formatTime ? formatTime(t) : LongTimeText(t);
  };
  const long long of = span.fileRecords > 0 ? span.fileRecords : count;
  return "records " + std::to_string(span.skipped + first) + "-" + std::to_string(span.skipped + last) + " of " +
         std::to_string(of) + ", " + time(first) + " - " + time(last);
}

void DrawReview(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas, int first,
                int compression, const TimeFormatter& formatTime, const MvScales& scales) {
  ChartLayout view = layout;
  ChartSweep sweep(view, canvas, formatTime, twelveChannel);
  sweep.SetMvScales(scales);
  compression = std::max(1, compression);
  sweep.Frame();
  const int count = store.Count();
  if (count <= 0) return;
  const int perView = RecordsPerView(view, twelveChannel, compression);
  first = ClampViewFirst(first, count, perView);
  const int last = std::min(count, first + perView - 1);

  if (first > 1) sweep.JoinFrom(store.At(first - 1));
  // A view is one sweep wide: it never wraps.
  if (compression == 1) {
    for (int index = first; index <= last; ++index) sweep.Plot(store, index);
    DrawRecordMarks(store, view, twelveChannel, canvas, SweepColumns(view, first, 1), last);
    return;
  }
  // Min and max per column rather than one record per column: at 8 records
  // per pixel a QRS complex spans three or four columns and a pacemaker
  // spike one record, so sampling one record per column would cut R waves to
  // random heights from beat to beat and drop spikes; the stroke keeps every
  // peak at its full height, and the joining segments still follow the
  // trace's order in time.
  for (int from = first; from <= last; from += compression)
    sweep.PlotSpan(store, from, std::min(last, from + compression - 1));
  DrawRecordMarks(store, view, twelveChannel, canvas, SweepColumns(view, first, compression), last);
}

ViewColumns SweepColumns(const ChartLayout& layout, int first, int compression) {
  return ViewColumns{first, static_cast<double>(std::max(1, compression)), layout.Margin + 1};
}

void DrawBeatMarks(const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas, const ViewColumns& view,
                   int last, ChartChannel lead, std::span<const int> beatSlots) {
  const BandEntry& band = layout.BandTable[lead];
  if (band.Height <= 0) return;
  const bool chestColumn =
      twelveChannel && std::find(kChestLeads.begin(), kChestLeads.end(), lead) != kChestLeads.end();
  const int top = band.Bottom - band.Height + 2;
  canvas.SetPenStyle(psSolid);
  canvas.SetPenColor(ChannelColor(lead));
  for (auto beat = std::lower_bound(beatSlots.begin(), beatSlots.end(), view.first);
       beat != beatSlots.end() && *beat <= last; ++beat) {
    const int x = view.XOf(*beat) + (chestColumn ? layout.ColumnSplit : 0);
    canvas.Polyline({TPoint{x, top}, TPoint{x, top + kBeatMarkHeight}});
  }
  canvas.SetPenColor(clBlack);
}

void DrawRecordMarks(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas,
                     const ViewColumns& view, int last) {
  for (int index = view.first; index <= last; ++index)
    DrawRecordMark(store.At(index), layout, twelveChannel, canvas, view.XOf(index));
}
