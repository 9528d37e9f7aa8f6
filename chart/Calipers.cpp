#include "chart/Calipers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

#include "chart/ChartReview.h"
#include "chart/TracePlot.h"

namespace {

constexpr int kTick = 6;  // pixels above and below an end
constexpr int kCaliperFontSize = 9;

}  // namespace

std::optional<ViewPlace> PlaceInView(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, int first,
                                     int compression, ChartPoint point) {
  compression = std::max(1, compression);
  // The column the point lies in, and its leads.
  int x = point.x;
  std::span<const ChartChannel> leads = kEightChannelOrder;
  if (twelveChannel) {
    leads = kLimbLeads;
    if (point.x > layout.LeftColumnRight) {
      leads = kChestLeads;
      x -= layout.ColumnSplit;
    }
  }
  const int column = x - (layout.Margin + 1);
  if (column < 0) return std::nullopt;
  const int record = first + column * compression;
  if (record < 1 || record > store.Count() || record >= first + RecordsPerView(layout, twelveChannel, compression))
    return std::nullopt;
  for (const ChartChannel channel : leads) {
    const BandEntry& band = layout.BandTable[channel];
    if (band.Height <= 0 || point.y > band.Bottom || point.y <= band.Bottom - band.Height) continue;
    ViewPlace place;
    place.channel = channel;
    place.record = record;
    place.steps = ChannelSample(store.At(record), channel);
    place.trace = {point.x, MapSampleToY(place.steps, band, layout.BandTopPad)};
    return place;
  }
  return std::nullopt;
}

std::optional<Caliper> CaliperBetween(const ViewPlace& from, const ViewPlace& to) {
  if (from.channel != to.channel) return std::nullopt;
  return from.record <= to.record ? Caliper{from, to} : Caliper{to, from};
}

std::string CaliperText(const Caliper& caliper, double sampleRate, std::optional<double> stepsPerMv) {
  const double ms = sampleRate > 0 ? (caliper.to.record - caliper.from.record) * 1000.0 / sampleRate : 0;
  const int steps = caliper.to.steps - caliper.from.steps;
  char text[96];
  const std::string lead(ChannelLabel(caliper.from.channel));
  int n = stepsPerMv && *stepsPerMv > 0
              ? std::snprintf(text, sizeof text, "%s: %.0f ms, %.2f mV", lead.c_str(), ms, steps / *stepsPerMv)
              : std::snprintf(text, sizeof text, "%s: %.0f ms, %d steps", lead.c_str(), ms, steps);
  if (ms > 0 && n > 0 && static_cast<std::size_t>(n) < sizeof text)
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ", %.0f bpm", 60000.0 / ms);
  return text;
}

void DrawCaliper(ChartCanvas& canvas, const Caliper& caliper, const std::string& text) {
  const ChartPoint a = caliper.from.trace, b = caliper.to.trace;
  canvas.SetPenStyle(psSolid);
  canvas.SetPenColor(clBlack);
  // The pen leaves a polyline's last point unset: one past each end.
  canvas.Polyline({TPoint{a.x, a.y - kTick}, TPoint{a.x, a.y + kTick + 1}});
  canvas.Polyline({TPoint{b.x, b.y - kTick}, TPoint{b.x, b.y + kTick + 1}});
  canvas.Polyline({TPoint{a.x, a.y}, TPoint{b.x, b.y}});
  canvas.SetFontSize(kCaliperFontSize);
  canvas.SetFontColor(clBlack);
  canvas.PutText(b.x + 4, std::min(a.y, b.y) - kTick - 14, text);
}
