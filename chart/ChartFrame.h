#pragma once
// The empty chart frames: bands with base line, axis, label and dotted grid.
// Both wipe the image first and put the sweep cursor back to the left.
#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"

// Eight-channel frame: every band of I..C1, Resp whose height is above 0.
void DrawBasic(ChartLayout& layout, ChartCanvas& canvas);
// Twelve-channel frame: limb leads in the left column, C1..C6 in the right.
void DrawBasic12C(ChartLayout& layout, ChartCanvas& canvas);

// Offset of vertical grid line j (1..10) from the left bound of a column
// `width` pixels wide. Computed as the frame has always been drawn: j / 10
// and the product rounded to a 64-bit significand, then rounded to the
// nearest integer with halves to even (the Narrow left column, 355 wide,
// is the one width where this decides: 36, 71, 107, 142, 178, ...).
int GridColumnOffset(int width, int j);
// Offset of horizontal grid line i (1..5) above the base line of a signal
// span `span` pixels high.
int GridRowOffset(int span, int i);
