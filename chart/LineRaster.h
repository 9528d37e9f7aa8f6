#pragma once
// The one line rule both canvases share: a straight one-pixel segment from
// `from` towards `to`, the end point itself left out, so a segment that
// continues the previous one doubles no pixel. A zero-length segment sets
// nothing.
#include <algorithm>
#include <cstdint>

#include "chart/ChartCanvas.h"

// Calls plot(x, y, k) for every pixel of the segment that lies inside
// [0, width) x [0, height); k is the pixel's index counted from `from`, the
// phase of a dot pattern. Only the part of the segment inside the image is
// walked, so a wild coordinate costs nothing.
template <class Plot>
void RasterizeSegment(TPoint from, TPoint to, int width, int height, Plot&& plot) {
  using i64 = std::int64_t;
  __extension__ using i128 = __int128;  // the compilers' own, not standard C++
  const i64 x0 = from.X, y0 = from.Y;
  const i64 dx = to.X >= from.X ? i64{to.X} - x0 : x0 - to.X;
  const i64 dy = to.Y >= from.Y ? i64{to.Y} - y0 : y0 - to.Y;
  const i64 sx = to.X >= from.X ? 1 : -1;
  const i64 sy = to.Y >= from.Y ? 1 : -1;
  const bool xMajor = dx >= dy;
  const i64 major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
  if (major == 0) return;

  // Steps k whose major coordinate lies inside the image.
  const i64 start = xMajor ? x0 : y0;
  const i64 step = xMajor ? sx : sy;
  const i64 limit = xMajor ? width : height;
  i64 kFirst = 0, kLast = major - 1;
  if (step > 0) {
    kFirst = std::max<i64>(kFirst, -start);
    kLast = std::min<i64>(kLast, limit - 1 - start);
  } else {
    kFirst = std::max<i64>(kFirst, start - (limit - 1));
    kLast = std::min<i64>(kLast, start);
  }
  if (kFirst > kLast) return;

  // Minor offset at step k is floor((2 k minor + major) / (2 major)), the
  // nearest pixel to the ideal line; q and r carry that division along.
  const i64 twoMajor = 2 * major, twoMinor = 2 * minor;
  // 128 bits: a far-away start times the slope can pass 2^63.
  const i128 num = static_cast<i128>(kFirst) * twoMinor + major;
  i64 q = static_cast<i64>(num / twoMajor), r = static_cast<i64>(num % twoMajor);
  for (i64 k = kFirst; k <= kLast; ++k) {
    const i64 x = xMajor ? x0 + sx * k : x0 + sx * q;
    const i64 y = xMajor ? y0 + sy * q : y0 + sy * k;
    if (x >= 0 && x < width && y >= 0 && y < height) plot(static_cast<int>(x), static_cast<int>(y), k);
    r += twoMinor;
    if (r >= twoMajor) {
      r -= twoMajor;
      ++q;
    }
  }
}

// psDot: one pixel in the pen colour, one in the brush colour, starting with
// the pen at the segment's first pixel.
inline bool DotIsOn(std::int64_t k) { return (k & 1) == 0; }
