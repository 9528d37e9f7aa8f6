#include "chart/Calipers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "chart/ChartReview.h"
#include "chart/TracePlot.h"

namespace {

constexpr int kTick = 6;  // pixels above and below an end
constexpr int kCaliperFontSize = 9;

}  // namespace

namespace {

// The lead whose band holds `point`, with the point's x in the left
// column's coordinates and the shift of the lead's column.
struct LeadUnder {
  ChartChannel channel{};
  int x = 0;
  int shift = 0;
};

std::optional<LeadUnder> LeadAt(const ChartLayout& layout, bool twelveChannel, ChartPoint point) {
  LeadUnder under{ChartChannel{}, point.x, 0};
  std::span<const ChartChannel> leads = kEightChannelOrder;
  if (twelveChannel) {
    leads = kLimbLeads;
    if (point.x > layout.LeftColumnRight) {
      leads = kChestLeads;
      under.shift = layout.ColumnSplit;
      under.x -= layout.ColumnSplit;
    }
  }
  for (const ChartChannel channel : leads) {
    const BandEntry& band = layout.BandTable[channel];
    if (band.Height <= 0 || point.y > band.Bottom || point.y <= band.Bottom - band.Height) continue;
    under.channel = channel;
    return under;
  }
  return std::nullopt;
}

// The record of `first`..`last` drawn at the lead's x in `view` nearest to
// the point's y (`yOf` maps a record to its y): where one column holds
// several records, the end goes to the peak the user pointed at.
template <typename YOf>
std::optional<int> RecordUnder(const ViewColumns& view, int last, int x, int y, YOf yOf) {
  if (x < view.left) return std::nullopt;
  const int from = std::max({1, view.first, view.RecordAt(x)});
  const int to = std::min(last, std::max(from, view.RecordAt(x + 1) - 1));
  if (from > last) return std::nullopt;
  int best = from;
  for (int record = from + 1; record <= to; ++record)
    if (std::abs(yOf(record) - y) < std::abs(yOf(best) - y)) best = record;
  return best;
}

}  // namespace

std::optional<ViewPlace> PlaceInView(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, int first,
                                     int compression, ChartPoint point) {
  const std::optional<LeadUnder> lead = LeadAt(layout, twelveChannel, point);
  if (!lead) return std::nullopt;
  const int last = std::min(store.Count(), first + RecordsPerView(layout, twelveChannel, compression) - 1);
  const BandEntry& band = layout.BandTable[lead->channel];
  auto yOf = [&](int record) {
    return MapSampleToY(ChannelSample(store.At(record), lead->channel), band, layout.BandTopPad);
  };
  const std::optional<int> record = RecordUnder(SweepColumns(layout, first, compression), last, lead->x, point.y, yOf);
  if (!record) return std::nullopt;
  ViewPlace place;
  place.channel = lead->channel;
  place.record = *record;
  place.steps = ChannelSample(store.At(*record), lead->channel);
  place.trace = {point.x, yOf(*record)};
  return place;
}

std::optional<ViewPlace> PlaceOnPaper(const SampleStore& store, const ChartLayout& layout, bool twelveChannel,
                                      const PaperView& view, ChartPoint point) {
  const std::optional<LeadUnder> lead = LeadAt(layout, twelveChannel, point);
  if (!lead || !view.leads[static_cast<std::size_t>(lead->channel)]) return std::nullopt;
  const PaperLead& paper = *view.leads[static_cast<std::size_t>(lead->channel)];
  auto yOf = [&](int record) { return paper.Y(ChannelSample(store.At(record), lead->channel)); };
  const std::optional<int> record =
      RecordUnder(view.columns, std::min(view.last, store.Count()), lead->x, point.y, yOf);
  if (!record) return std::nullopt;
  ViewPlace place;
  place.channel = lead->channel;
  place.record = *record;
  place.steps = ChannelSample(store.At(*record), lead->channel);
  place.trace = {view.columns.XOf(*record) + lead->shift, paper.Y(place.steps)};
  return place;
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
  // A rate only for what can be a beat-to-beat interval (10 to 300 bpm):
  // a QRS width read as 750 bpm would only mislead.
  if (ms >= 200 && ms <= 6000 && n > 0 && static_cast<std::size_t>(n) < sizeof text)
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
