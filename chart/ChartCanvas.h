#pragma once
// The drawing operations the chart frame, the trace plotting and the
// print-out use. The chart image and the printer page both offer them.
//
// Rules every implementation keeps, because the chart's look depends on them:
//  - the pen is always one pixel wide;
//  - Polyline joins the points and leaves the last point unset, so a segment
//    that continues the previous one doubles no pixel;
//  - psDot lines paint their gaps in the brush colour;
//  - PutText fills the text cell with the brush colour and puts the cell's
//    top-left corner at (x, y); sizes are points at 96 pixels per inch;
//  - FillRect fills left <= x < right, top <= y < bottom.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

struct TColor {
  std::uint8_t r = 0, g = 0, b = 0;
  friend constexpr bool operator==(TColor, TColor) = default;
};

struct TPoint {
  int X = 0, Y = 0;
  friend constexpr bool operator==(TPoint, TPoint) = default;
};

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend constexpr bool operator==(TRect, TRect) = default;
};

enum TPenStyle { psSolid, psDot };

class ChartCanvas {
 public:
  virtual ~ChartCanvas() = default;

  virtual int Width() const = 0;
  virtual int Height() const = 0;

  virtual void SetPenColor(TColor color) = 0;
  virtual void SetPenStyle(TPenStyle style) = 0;
  virtual void SetBrushColor(TColor color) = 0;
  virtual void FillRect(const TRect& rect) = 0;
  virtual void Polyline(std::span<const TPoint> points) = 0;
  void Polyline(std::initializer_list<TPoint> points) {
    Polyline(std::span<const TPoint>(points.begin(), points.size()));
  }
  virtual void SetFontSize(int points) = 0;
  virtual void SetFontColor(TColor color) = 0;
  virtual void PutText(int x, int y, std::string_view text) = 0;
  // Copies `sourceRect` of `source` into `dest` of this canvas, scaled to fill it.
  virtual void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) = 0;
};
