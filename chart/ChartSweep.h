#pragma once
// The sweep: records plotted one pixel column apart from the left edge of
// the plotting area to its end, where the empty frame is drawn again and the
// sweep starts over at the left. The window feeds it each record the
// acquisition completes, the load flow every record of a file, and the
// review the records of one view. It is the one place that moves the sweep
// cursor (CursorX); the acquisition itself draws nothing.
//
// Eight-channel mode shows the bands of the table that have a height and
// ends at RightEdge; twelve-channel mode shows the limb leads in the left
// column and C1..C6 in the right one, and ends at LeftColumnRight.
//
// Main thread (or the one thread that owns the layout and the canvas). The
// layout and the canvas must outlive the sweep.
#include <array>
#include <optional>

#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

// A record's mark (its flags and marker), as a tick at the top edge of the
// chart in its column `x` (and the chest column's in twelve-channel mode),
// the marker's colour winning over the flags': blue a user's marker, red
// data lost just before, orange chest leads missing. Nothing for a record
// without either. The sweep draws it as the record comes, the review over
// its view.
inline constexpr int kMarkHeight = 8;
inline constexpr TColor kChestMissingColor{255, 140, 0};
TColor RecordMarkColor(const SampleRecord& record);
void DrawRecordMark(const SampleRecord& record, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas,
                    int x);

// A calibrated lead's 1 mV: its zero and its height, in the module's steps.
struct MvScale {
  double zero = 0;
  double stepsPerMv = 0;
};
using MvScales = std::array<std::optional<MvScale>, 13>;  // by ChartChannel; nothing: steps
// The lead's scale on the chart: a 1 mV calibration pulse (200 ms wide on
// paper; here a fixed 10 pixels) from the lead's zero, in the margin left of
// each calibrated lead's band, clipped to the band.
void DrawMvPulses(const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas, const MvScales& scales);

class ChartSweep {
 public:
  // `formatTime` writes the time labels. Eight-channel mode until Restart
  // says otherwise.
  ChartSweep(ChartLayout& layout, ChartCanvas& canvas, TimeFormatter formatTime = LocaleTimeFormatter(),
             bool twelveChannel = false);

  // A new sweep in `twelveChannel` mode: the bands laid out (eight channels:
  // those of the checked boxes CH_I .. CH_RE; with none checked the table is
  // kept) and the empty frame drawn, the cursor at the left.
  void Restart(bool twelveChannel, const std::array<bool, 8>& checked);
  // The empty frame of the mode again, bands as they are, cursor at the left.
  void Frame();
  // Record `slot` in the next column: the empty frame again first when the
  // cursor has passed the end of the plotting area, then one segment per
  // shown channel from the previous record's point (none for slot 1, the
  // start of a recording) and a time label where one falls; the cursor then
  // moves one column on (at another speed: as far as the records plotted
  // since the frame reach).
  void Plot(const SampleStore& store, int slot);
  // One column for the records from..to of a compressed view (no wrap): per
  // channel the segment from the previous column's last point to record
  // `from`, then a vertical stroke over every y the records reach, so that
  // no peak is lost however many records share the column.
  void PlotSpan(const SampleStore& store, int from, int to);
  // The points the next column joins from are `record`'s, as if it had just
  // been plotted (a view that begins inside a recording).
  void JoinFrom(const SampleRecord& record);

  // The sweep's speed: `recordsPerColumn` records a pixel column (1, the
  // default, is one record a column; a paper speed gives a fraction, more
  // than 1 when records come faster than the columns, and then a column
  // shows the span of its records). From the next record on.
  void SetRecordsPerColumn(double recordsPerColumn);
  double RecordsPerColumn() const { return recordsPerColumn_; }

  bool TwelveChannel() const { return twelveChannel_; }
  // The leads' 1 mV pulses drawn with every empty frame from now on.
  void SetMvScales(const MvScales& scales) { scales_ = scales; }
  // The last column the mode plots before the sweep starts over.
  int End() const { return twelveChannel_ ? layout_.LeftColumnRight : layout_.RightEdge; }

 private:
  ChartLayout& layout_;
  ChartCanvas& canvas_;
  TimeFormatter formatTime_;
  bool twelveChannel_;
  MvScales scales_{};
  double recordsPerColumn_ = 1;
  int speedStartX_ = 0;           // the cursor where the frame or the speed began
  long long recordsAtSpeed_ = 0;  // records plotted since
};
