#include "chart/ChartFrame.h"

#include <cmath>
#include <cstdlib>

namespace {

// The compilers' own 128-bit integer, not standard C++.
__extension__ using u128 = unsigned __int128;

int BitLength(u128 n) {
  int bits = 0;
  while (n != 0) {
    n >>= 1;
    ++bits;
  }
  return bits;
}

// n / 2^shift rounded to the nearest integer, halves to even.
u128 ShiftRoundEven(u128 n, int shift) {
  if (shift <= 0) return n << -shift;
  u128 q = n >> shift;
  const u128 rem = n - (q << shift);
  const u128 half = u128{1} << (shift - 1);
  if (rem > half || (rem == half && (q & 1) != 0)) ++q;
  return q;
}

void DrawBand(ChartCanvas& canvas, ChartChannel channel, const BandEntry& band, int x0, int x1, int pad,
              int labelFontSize) {
  const int b = band.Bottom, h = band.Height;
  const int top = b - h + pad;
  canvas.SetPenStyle(psSolid);
  canvas.Polyline({{x0, b}, {x1, b}});
  canvas.Polyline({{x0, top}, {x0, b}});
  canvas.SetFontSize(labelFontSize);
  canvas.SetFontColor(ChannelColor(channel));
  canvas.PutText(x0, b - h + 4, ChannelLabel(channel));
  canvas.SetPenStyle(psDot);
  for (int i = 1; i <= 5; ++i) {
    const int y = b - GridRowOffset(h - pad, i);
    canvas.Polyline({{x0, y}, {x1, y}});
  }
  for (int j = 1; j <= 10; ++j) {
    const int x = x0 + GridColumnOffset(x1 - x0, j);
    canvas.Polyline({{x, top}, {x, b}});
  }
}

}  // namespace

int GridColumnOffset(int width, int j) {
  if (width == 0 || j == 0) return 0;
  const bool negative = (width < 0) != (j < 0);
  const u128 w = static_cast<u128>(std::llabs(width));
  const u128 n = static_cast<u128>(std::llabs(j));
  // j / 10 as m * 2^-e with a 64-bit significand m, rounded half to even.
  const u128 lowest = u128{1} << 63;
  int e = 0;
  while ((n << e) / 10 < lowest) ++e;
  u128 q = (n << e) / 10;
  const u128 rem = (n << e) % 10;
  if (rem * 2 > 10 || (rem * 2 == 10 && (q & 1) != 0)) ++q;
  if (q == (lowest << 1)) {
    q = lowest;
    --e;
  }
  // The product, rounded to 64 significant bits.
  u128 product = q * w;
  const int excess = BitLength(product) - 64;
  if (excess > 0) product = ShiftRoundEven(product, excess) << excess;
  const int offset = static_cast<int>(ShiftRoundEven(product, e));
  return negative ? -offset : offset;
}

int GridRowOffset(int span, int i) { return static_cast<int>(std::lround(i * static_cast<double>(span) / 5.0)); }

void DrawBasic(ChartLayout& layout, ChartCanvas& canvas) {
  canvas.FillRect(layout.ChartRect);
  canvas.SetPenColor(clBlack);
  for (ChartChannel channel : kEightChannelOrder) {
    const BandEntry& band = layout.BandTable[channel];
    if (band.Height > 0)
      DrawBand(canvas, channel, band, layout.Margin, layout.RightEdge, layout.BandTopPad, layout.LabelFontSize);
  }
  layout.CursorX = layout.Margin + 1;
  layout.PrevX = layout.Margin;
}

void DrawBasic12C(ChartLayout& layout, ChartCanvas& canvas) {
  canvas.FillRect(layout.ChartRect);
  canvas.SetPenColor(clBlack);
  for (ChartChannel channel : kLimbLeads) {
    const BandEntry& band = layout.BandTable[channel];
    if (band.Height > 0)
      DrawBand(canvas, channel, band, layout.Margin, layout.LeftColumnRight, layout.BandTopPad, layout.LabelFontSize);
  }
  const int rightColumnLeft = layout.ColumnSplit + layout.Margin;
  for (ChartChannel channel : kChestLeads) {
    const BandEntry& band = layout.BandTable[channel];
    if (band.Height > 0)
      DrawBand(canvas, channel, band, rightColumnLeft, layout.RightEdge, layout.BandTopPad, layout.LabelFontSize);
  }
  layout.CursorX = layout.Margin + 1;
  layout.PrevX = layout.Margin;
}
