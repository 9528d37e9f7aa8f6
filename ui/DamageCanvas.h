#pragma once
// The chart image as the live drawing code sees it: every operation goes to
// the image, and the pixels each one touched are reported at once. One
// twelve-channel record touches two thin strips far apart (the two columns);
// reporting per operation keeps them apart, where the image's own union of
// touched pixels would span the whole chart between them.
#include <functional>

#include "chart/ChartCanvas.h"

class ImageCanvas;

class TDamageCanvas : public ChartCanvas {
 public:
  using DamageSink = std::function<void(const TRect& touched)>;

  // `image` must outlive this canvas.
  TDamageCanvas(ImageCanvas& image, DamageSink sink);

  int Width() const override;
  int Height() const override;
  void SetPenColor(TColor color) override;
  void SetPenStyle(TPenStyle style) override;
  void SetBrushColor(TColor color) override;
  void FillRect(const TRect& rect) override;
  void Polyline(std::span<const TPoint> points) override;
  using ChartCanvas::Polyline;
  void SetFontSize(int points) override;
  void SetFontColor(TColor color) override;
  void PutText(int x, int y, std::string_view text) override;
  // Copies from `source` as the image does; a source that is this canvas
  // stands for its image.
  void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) override;

 private:
  void Report();

  ImageCanvas& image_;
  DamageSink sink_;
};
