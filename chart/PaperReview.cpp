#include "chart/PaperReview.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "chart/TracePlot.h"

namespace {

// Room between the pulse and the trace, in pixels.
constexpr int kPulseGap = 4;

bool InChestColumn(bool twelveChannel, ChartChannel channel) {
  return twelveChannel && std::find(kChestLeads.begin(), kChestLeads.end(), channel) != kChestLeads.end();
}

std::span<const ChartChannel> ColumnLeads(bool twelveChannel, bool chest) {
  if (!twelveChannel) return kEightChannelOrder;
  return chest ? std::span<const ChartChannel>(kChestLeads) : std::span<const ChartChannel>(kLimbLeads);
}

// The paper of one column: from its left edge to its right one, from the
// top of its first band to the base line of its last.
struct PaperArea {
  int left = 0, right = 0, top = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
};

PaperArea ColumnArea(const ChartLayout& layout, bool twelveChannel, bool chest) {
  PaperArea area;
  area.left = chest ? layout.ColumnSplit + layout.Margin : layout.Margin;
  area.right = chest || !twelveChannel ? layout.RightEdge : layout.LeftColumnRight;
  area.top = layout.ChartRect.Bottom;
  area.bottom = layout.ChartRect.Top;
  for (const ChartChannel channel : ColumnLeads(twelveChannel, chest)) {
    const BandEntry& band = layout.BandTable[channel];
    if (band.Height <= 0) continue;
    area.top = std::min(area.top, band.Bottom - band.Height);
    area.bottom = std::max(area.bottom, band.Bottom);
  }
  return area;
}

void DrawGrid(ChartCanvas& canvas, const PaperArea& area, double pixelsPerMm) {
  canvas.SetBrushColor(kPaperColor);
  canvas.FillRect(TRect{area.left, area.top, area.right + 1, area.bottom + 1});
  canvas.SetPenStyle(psSolid);
  // Fine lines first, so the bold ones cross them whole.
  for (const bool bold : {false, true}) {
    canvas.SetPenColor(bold ? kPaperBoldLine : kPaperFineLine);
    for (int mm = 0;; ++mm) {
      const int x = area.left + static_cast<int>(std::lround(mm * pixelsPerMm));
      if (x > area.right) break;
      if ((mm % 5 == 0) == bold) canvas.Polyline({TPoint{x, area.top}, TPoint{x, area.bottom + 1}});
    }
    for (int mm = 0;; ++mm) {
      const int y = area.top + static_cast<int>(std::lround(mm * pixelsPerMm));
      if (y > area.bottom) break;
      if ((mm % 5 == 0) == bold) canvas.Polyline({TPoint{area.left, y}, TPoint{area.right + 1, y}});
    }
  }
}

double Median(std::vector<int> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace

double PixelsPerMm(double dotsPerInch) {
  if (!(dotsPerInch >= 30 && dotsPerInch <= 1200)) dotsPerInch = kFallbackDotsPerInch;
  return dotsPerInch / 25.4;
}

int PaperPulseWidth(const PaperScale& scale) {
  return std::max(2, static_cast<int>(std::lround(0.2 * scale.mmPerSecond * scale.pixelsPerMm)));
}

ViewColumns PaperColumns(const ChartLayout& layout, const PaperScale& scale, double sampleRate, int first) {
  const double pixelsPerSecond = scale.mmPerSecond * scale.pixelsPerMm;
  const double recordsPerColumn = sampleRate > 0 && pixelsPerSecond > 0 ? sampleRate / pixelsPerSecond : 1;
  return ViewColumns{first, recordsPerColumn, layout.Margin + 1 + PaperPulseWidth(scale) + 2 * kPulseGap};
}

int PaperRecordsPerView(const ChartLayout& layout, bool twelveChannel, const PaperScale& scale, double sampleRate) {
  const ViewColumns columns = PaperColumns(layout, scale, sampleRate, 1);
  const int end = twelveChannel ? layout.LeftColumnRight : layout.RightEdge;
  const int width = std::max(1, end - columns.left);
  return std::max(1, static_cast<int>(std::floor(width * columns.recordsPerColumn)));
}

int PaperLead::Y(int steps) const {
  const int y = baselineY - static_cast<int>(std::lround((steps - baseline) * pixelsPerStep));
  return std::clamp(y, top, bottom);
}

PaperView PlanPaperView(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, int first,
                        double sampleRate, const PaperScale& scale, const MvScales& mvScales) {
  PaperView view;
  view.scale = scale;
  view.sampleRate = sampleRate;
  const int count = store.Count();
  const int perView = PaperRecordsPerView(layout, twelveChannel, scale, sampleRate);
  first = count > 0 ? ClampViewFirst(first, count, perView) : 1;
  view.columns = PaperColumns(layout, scale, sampleRate, first);
  view.last = std::min(count, first + perView - 1);
  const double fivemm = 5 * scale.pixelsPerMm;
  for (const bool chest : {false, true}) {
    if (chest && !twelveChannel) break;
    const PaperArea area = ColumnArea(layout, twelveChannel, chest);
    for (const ChartChannel channel : ColumnLeads(twelveChannel, chest)) {
      const BandEntry& band = layout.BandTable[channel];
      if (band.Height <= 0) continue;
      PaperLead lead;
      std::vector<int> values;
      values.reserve(static_cast<std::size_t>(std::max(0, view.last - first + 1)));
      for (int record = first; record <= view.last; ++record)
        values.push_back(ChannelSample(store.At(record), channel));
      lead.baseline = Median(std::move(values));
      const std::optional<MvScale>& mv = mvScales[static_cast<std::size_t>(channel)];
      lead.calibrated = mv && mv->stepsPerMv > 0;
      const double stepsPerMv = lead.calibrated ? mv->stepsPerMv : kUncalibratedStepsPerMv;
      lead.pixelsPerStep = scale.mmPerMv * scale.pixelsPerMm / stepsPerMv;
      const double middle = band.Bottom - band.Height / 2.0;
      lead.baselineY = area.top + static_cast<int>(std::lround(std::round((middle - area.top) / fivemm) * fivemm));
      lead.top = area.top;
      lead.bottom = area.bottom;
      view.leads[static_cast<std::size_t>(channel)] = lead;
    }
  }
  return view;
}

void DrawPaperReview(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas,
                     const PaperView& view, const TimeFormatter& formatTime) {
  canvas.SetBrushColor(clChartBackground);
  canvas.FillRect(layout.ChartRect);
  for (const bool chest : {false, true}) {
    if (chest && !twelveChannel) break;
    const PaperArea area = ColumnArea(layout, twelveChannel, chest);
    if (!area.empty()) DrawGrid(canvas, area, view.scale.pixelsPerMm);
  }
  const int first = view.columns.first;
  const int pulseWidth = PaperPulseWidth(view.scale);
  std::vector<TPoint> trace;
  for (std::size_t c = 0; c < view.leads.size(); ++c) {
    if (!view.leads[c]) continue;
    const PaperLead& lead = *view.leads[c];
    const auto channel = static_cast<ChartChannel>(c);
    const BandEntry& band = layout.BandTable[channel];
    const int shift = InChestColumn(twelveChannel, channel) ? layout.ColumnSplit : 0;
    const int columnEnd =
        InChestColumn(twelveChannel, channel) || !twelveChannel ? layout.RightEdge : layout.LeftColumnRight;
    canvas.SetFontSize(layout.LabelFontSize);
    canvas.SetFontColor(ChannelColor(channel));
    std::string label(ChannelLabel(channel));
    if (!lead.calibrated) label += " (steps)";
    canvas.PutText(layout.Margin + shift + 2, band.Bottom - band.Height + 4, label);

    canvas.SetPenStyle(psSolid);
    canvas.SetPenColor(clBlack);
    if (lead.calibrated) {  // a lead in steps has no millivolt to show
      const int x0 = layout.Margin + shift + kPulseGap;
      const int zero = lead.baselineY;
      const int high =
          std::max(lead.top, zero - static_cast<int>(std::lround(view.scale.mmPerMv * view.scale.pixelsPerMm)));
      canvas.Polyline({TPoint{x0, zero}, TPoint{x0 + 1, zero}, TPoint{x0 + 1, high}, TPoint{x0 + 1 + pulseWidth, high},
                       TPoint{x0 + 1 + pulseWidth, zero}, TPoint{x0 + 2 + pulseWidth, zero}});
    }

    // Several records in one column draw their span as a vertical stroke,
    // so no peak is lost; records further apart than a column are joined.
    trace.clear();
    for (int record = first; record <= view.last; ++record) {
      const int x = view.columns.XOf(record) + shift;
      if (x > columnEnd) break;
      trace.push_back(TPoint{x, lead.Y(ChannelSample(store.At(record), channel))});
    }
    if (trace.size() == 1) trace.push_back(TPoint{trace.front().X + 1, trace.front().Y});
    canvas.SetPenColor(ChannelColor(channel));
    if (!trace.empty()) canvas.Polyline(trace);
  }
  canvas.SetPenColor(clBlack);
  canvas.SetBrushColor(clChartBackground);

  const int perSecond = std::max(1, static_cast<int>(std::lround(view.sampleRate)));
  for (int record = first; record <= view.last; ++record) {
    if ((record - 1) % perSecond != 0) continue;
    const int x = view.columns.XOf(record);
    PutTimeLabelAt(layout, canvas, x, store.At(record).time, formatTime);
    if (twelveChannel && x + layout.ColumnSplit <= layout.RightEdge)
      PutTimeLabelAt(layout, canvas, x + layout.ColumnSplit, store.At(record).time, formatTime);
  }
  DrawRecordMarks(store, layout, twelveChannel, canvas, view.columns, view.last);
}
