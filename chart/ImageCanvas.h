#pragma once
// The chart image: a ChartCanvas over a QImage (QtGui only). Lines and fills
// go straight into the image's scanlines, which keeps the canvas rules exact
// (last point unset, dotted gaps in the brush colour) and is far cheaper than
// a QPainter per segment; only text goes through QPainter.
#include <QImage>
#include <memory>

#include "chart/ChartCanvas.h"

class TextRenderer;

class ImageCanvas : public ChartCanvas {
 public:
  ImageCanvas(int width, int height);
  ~ImageCanvas() override;
  ImageCanvas(const ImageCanvas&) = delete;
  ImageCanvas& operator=(const ImageCanvas&) = delete;
  ImageCanvas(ImageCanvas&&) noexcept;
  ImageCanvas& operator=(ImageCanvas&&) noexcept;

  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }

  void SetPenColor(TColor color) override { penColor_ = color; }
  void SetPenStyle(TPenStyle style) override { penStyle_ = style; }
  void SetBrushColor(TColor color) override { brushColor_ = color; }
  void FillRect(const TRect& rect) override;
  void Polyline(std::span<const TPoint> points) override;
  using ChartCanvas::Polyline;
  void SetFontSize(int points) override { fontSize_ = points; }
  void SetFontColor(TColor color) override { fontColor_ = color; }
  void PutText(int x, int y, std::string_view text) override;
  // `source` must be an ImageCanvas; anything else raises std::invalid_argument.
  void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) override;

  const QImage& Image() const { return image_; }
  // Colour of one pixel (tests, tools); black outside the image.
  TColor PixelAt(int x, int y) const;
  // Union of the pixels touched since the last call; an empty rect if none.
  TRect TakeDirtyRect();

  TColor PenColor() const { return penColor_; }
  TPenStyle PenStyle() const { return penStyle_; }
  TColor BrushColor() const { return brushColor_; }
  int FontSize() const { return fontSize_; }
  TColor FontColor() const { return fontColor_; }

 private:
  void DrawLine(TPoint from, TPoint to);
  void Touch(int left, int top, int right, int bottom);

  QImage image_;
  TColor penColor_{0, 0, 0};
  TPenStyle penStyle_ = psSolid;
  TColor brushColor_{255, 255, 255};
  int fontSize_ = 8;
  TColor fontColor_{0, 0, 0};
  TRect dirty_{};
  std::unique_ptr<TextRenderer> text_;
};
