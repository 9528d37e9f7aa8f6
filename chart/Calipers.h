#pragma once
// Calipers on a reviewed recording: two points of one lead, read as the
// time between them, the lead's change of value and, for an interval, the
// rate it stands for. Each end snaps to the lead's trace at the record under
// it, so an R peak clicked a pixel off still reads its own value.
//
// Pure geometry over the review's view (DrawReview's `first`, `compression`,
// or a paper view's plan)
// and the store; drawing on any ChartCanvas.
#include <optional>
#include <string>

#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"
#include "chart/PaperReview.h"
#include "store/ChartChannel.h"
#include "store/SampleStore.h"

struct ChartPoint {
  int x = 0, y = 0;
  friend bool operator==(ChartPoint, ChartPoint) = default;
};

// A point of the view as a lead's sample: the band that holds the point, the
// record under it (a store slot) and the lead's value there, in steps.
struct ViewPlace {
  ChartChannel channel{};
  int record = 0;
  int steps = 0;
  ChartPoint trace;  // where the trace is drawn at that record
};

// Nothing off the bands, left of the first record's column or right of the
// last shown.
std::optional<ViewPlace> PlaceInView(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, int first,
                                     int compression, ChartPoint point);

// The same on a paper view: the trace point where the paper draws it.
std::optional<ViewPlace> PlaceOnPaper(const SampleStore& store, const ChartLayout& layout, bool twelveChannel,
                                      const PaperView& view, ChartPoint point);

struct Caliper {
  ViewPlace from, to;
};
// A caliper between two places of one lead; nothing for two leads.
std::optional<Caliper> CaliperBetween(const ViewPlace& from, const ViewPlace& to);

// "II: 820 ms, 1.05 mV, 73 bpm": the time between the records at
// `sampleRate`, the change of value in mV with the lead's steps per mV (in
// steps without one), and 60000 / ms for a time of 200 ms to 6 s.
std::string CaliperText(const Caliper& caliper, double sampleRate, std::optional<double> stepsPerMv);

// Ticks at both ends (on the trace), the line between them and `text`
// beside the later end, in black over the view.
void DrawCaliper(ChartCanvas& canvas, const Caliper& caliper, const std::string& text);
