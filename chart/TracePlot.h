#pragma once
// The plotting of one sample record at the sweep cursor: one segment per
// shown channel from its previous point, and a time label every tenth of the
// sweep. Neither function moves the cursor: ChartSweep does, once per record.
#include <cstdint>

#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"
#include "store/ChartChannel.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

// y of sample byte `sample` in `band`: 0 on the base line, 247 at the top of
// the signal span; nothing is clipped.
int MapSampleToY(int sample, const BandEntry& band, int bandTopPad);

// A time label for `time` below the bands at column `x`, as the sweep
// writes them.
void PutTimeLabelAt(const ChartLayout& layout, ChartCanvas& canvas, int x, double time,
                    const TimeFormatter& formatTime);

// Eight-channel mode: the record at `index` (0..kLastSlot) at CursorX, every
// band of the table with a height. The first record of a recording (index 1)
// draws no segment.
void ShowGraph(ChartLayout& layout, ChartCanvas& canvas, const SampleStore& store, int index,
               const TimeFormatter& formatTime);
// Twelve-channel mode: the limb leads in the left column, C1..C6 in the
// right one, ColumnSplit further right. A record is plotted once its chest
// leads are known, which need not be the newest record. A segment that would
// end past its column's frame (LeftColumnRight, RightEdge) is left out, so
// where the right column is the narrower one its traces stop with its grid.
void ShowGraph12C(ChartLayout& layout, ChartCanvas& canvas, const SampleStore& store, int index,
                  const TimeFormatter& formatTime);

// The time label of a record plotted at CursorX, if CursorX lies on one of
// the label positions (every tenth of the eight-channel sweep width).
void PutTimeLabel(const ChartLayout& layout, ChartCanvas& canvas, double time, const TimeFormatter& formatTime);
// The same in twelve-channel mode: a label below each column, the chest
// column's ColumnSplit further right (while that lies inside its frame).
void PutTimeLabels12C(const ChartLayout& layout, ChartCanvas& canvas, double time, const TimeFormatter& formatTime);
