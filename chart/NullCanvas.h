#pragma once
// A canvas that draws nothing: for an acquisition without a screen (the
// command-line recorder), where the sweep state still moves but no picture
// is wanted.
#include "chart/ChartCanvas.h"

class TNullCanvas : public ChartCanvas {
 public:
  TNullCanvas(int width, int height) : width_(width), height_(height) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetPenColor(TColor) override {}
  void SetPenStyle(TPenStyle) override {}
  void SetBrushColor(TColor) override {}
  void FillRect(const TRect&) override {}
  void Polyline(std::span<const TPoint>) override {}
  using ChartCanvas::Polyline;
  void SetFontSize(int) override {}
  void SetFontColor(TColor) override {}
  void PutText(int, int, std::string_view) override {}
  void CopyRectStretched(const TRect&, const ChartCanvas&, const TRect&) override {}

 private:
  int width_;
  int height_;
};
