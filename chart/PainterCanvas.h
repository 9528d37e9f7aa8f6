#pragma once
// A ChartCanvas over a QPainter on any paint device: the printer page, a PDF.
// Coordinates are the device's pixels; font sizes are points at `dpi`.
#include <QPainter>
#include <memory>

#include "chart/ChartCanvas.h"

class TextRenderer;

class PainterCanvas : public ChartCanvas {
 public:
  PainterCanvas(QPainter& painter, int width, int height, int dpi);
  ~PainterCanvas() override;
  PainterCanvas(const PainterCanvas&) = delete;
  PainterCanvas& operator=(const PainterCanvas&) = delete;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int Dpi() const { return dpi_; }

  void SetPenColor(TColor color) override { penColor_ = color; }
  void SetPenStyle(TPenStyle style) override { penStyle_ = style; }
  void SetBrushColor(TColor color) override { brushColor_ = color; }
  void FillRect(const TRect& rect) override;
  void Polyline(std::span<const TPoint> points) override;
  using ChartCanvas::Polyline;
  void SetFontSize(int points) override { fontSize_ = points; }
  void SetFontColor(TColor color) override { fontColor_ = color; }
  void PutText(int x, int y, std::string_view text) override;
  // Draws the source image scaled into `dest`; `source` must be an ImageCanvas
  // (std::invalid_argument otherwise).
  void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) override;

 private:
  QPainter& painter_;
  int width_, height_, dpi_;
  TColor penColor_{0, 0, 0};
  TPenStyle penStyle_ = psSolid;
  TColor brushColor_{255, 255, 255};  // a page's own background
  int fontSize_ = 8;
  TColor fontColor_{0, 0, 0};
  std::unique_ptr<TextRenderer> text_;
};
