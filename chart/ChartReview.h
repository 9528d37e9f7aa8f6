#pragma once
// Paging through a stored recording on the chart: the arithmetic of a view
// (which records it shows, where the keys take it, its readout) and the
// redraw of one view with the same frames and plotting as live drawing.
//
// A view is the records from `first` across the plotting area, `compression`
// records per pixel column. Nothing here changes the store or the caller's
// layout: the redraw plots on a copy of the layout, so the live sweep state
// (CursorX, PrevX, LastY) is left as the last recording left it.
#include <array>
#include <cmath>
#include <span>
#include <string>

#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

// The compressions a user can choose, in records per pixel.
inline constexpr std::array<int, 4> kReviewCompressions{1, 2, 4, 8};

// Pixel columns a sweep plots: RightEdge - Margin in eight-channel mode,
// LeftColumnRight - Margin in twelve-channel mode (1200 and 580 on Wide).
int ReviewPlotWidth(const ChartLayout& layout, bool twelveChannel);
// Records one view shows: plot width x compression.
int RecordsPerView(const ChartLayout& layout, bool twelveChannel, int compression);
// The compression that shows all `count` records in one view.
int WholeViewCompression(const ChartLayout& layout, bool twelveChannel, int count);
// First record of the last view: the view that ends with the last record,
// or 1 when the whole recording fits into one view.
int LastViewFirst(int count, int perView);
// `first` brought into 1..LastViewFirst().
int ClampViewFirst(int first, int count, int perView);

enum class ReviewStep { TenthBack, TenthOn, ViewBack, ViewOn, Start, End };
// First record after a step: a tenth of a view (Left/Right), a whole view
// (PageUp/PageDown), the start or the end (Home/End); always clamped.
int StepViewFirst(int first, ReviewStep step, int count, int perView);

// Where the store's records lie in their file, when it holds only a part
// of a larger one: the records before slot 1 and the file's whole count
// (0: the store holds the whole file).
struct ReviewSpan {
  long long skipped = 0;
  long long fileRecords = 0;
};

// "records 24001-25200 of 80000, 14:03:20 - 14:03:24": the 1-based numbers of
// the first and last shown record and their times of day, as the chart's
// time labels show them; numbered in the file for a part of one. "no
// records" for an empty store.
std::string ReviewReadout(const SampleStore& store, int first, int perView, const TimeFormatter& formatTime,
                          const ReviewSpan& span = {});

// Wipes `canvas` with the empty frame of the mode (DrawBasic, DrawBasic12C)
// and plots the view from `first` (clamped) with time labels at the live
// positions. With compression 1 every record is plotted by the sweep
// exactly as it was live, the first segment joining the record
// before the view as a wrap joins the previous sweep. With more records per
// column each column shows the range its records span (ChartSweep::PlotSpan).
void DrawReview(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas, int first,
                int compression, const TimeFormatter& formatTime, const MvScales& scales = {});

// Where a view puts its records across the plotting area (the left
// column's coordinates): record `first` in column `left`, then
// `recordsPerColumn` records a column (below 1 at a paper speed faster than
// the records: a record is then more than a column from the next).
struct ViewColumns {
  int first = 1;
  double recordsPerColumn = 1;
  int left = 0;
  int XOf(int record) const { return left + static_cast<int>(std::floor((record - first) / recordsPerColumn)); }
  // The record drawn at column `x` (the first of its column).
  int RecordAt(int x) const { return first + static_cast<int>(std::ceil((x - left) * recordsPerColumn - 1e-9)); }
};
// The sweep's view: `compression` records per column from the first
// plotting column.
ViewColumns SweepColumns(const ChartLayout& layout, int first, int compression);

// The tool's beats (store slots, ascending) found in `lead`, as short ticks
// in the lead's colour at the top of its band, in the view up to `last`.
void DrawBeatMarks(const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas, const ViewColumns& view,
                   int last, ChartChannel lead, std::span<const int> beatSlots);
inline constexpr int kBeatMarkHeight = 5;

// The marks of the records of a view up to `last` (DrawRecordMark), drawn
// over the traces.
void DrawRecordMarks(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas,
                     const ViewColumns& view, int last);
