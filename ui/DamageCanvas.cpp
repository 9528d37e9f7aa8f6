#include "ui/DamageCanvas.h"

#include "chart/ImageCanvas.h"

TDamageCanvas::TDamageCanvas(ImageCanvas& image, DamageSink sink) : image_(image), sink_(std::move(sink)) {}

int TDamageCanvas::Width() const { return image_.Width(); }
int TDamageCanvas::Height() const { return image_.Height(); }
void TDamageCanvas::SetPenColor(TColor color) { image_.SetPenColor(color); }
void TDamageCanvas::SetPenStyle(TPenStyle style) { image_.SetPenStyle(style); }
void TDamageCanvas::SetBrushColor(TColor color) { image_.SetBrushColor(color); }
void TDamageCanvas::SetFontSize(int points) { image_.SetFontSize(points); }
void TDamageCanvas::SetFontColor(TColor color) { image_.SetFontColor(color); }

void TDamageCanvas::FillRect(const TRect& rect) {
  image_.FillRect(rect);
  Report();
}

void TDamageCanvas::Polyline(std::span<const TPoint> points) {
  image_.Polyline(points);
  Report();
}

void TDamageCanvas::PutText(int x, int y, std::string_view text) {
  image_.PutText(x, y, text);
  Report();
}

void TDamageCanvas::CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) {
  const ChartCanvas& from = &source == this ? static_cast<const ChartCanvas&>(image_) : source;
  image_.CopyRectStretched(dest, from, sourceRect);
  Report();
}

void TDamageCanvas::Report() {
  const TRect touched = image_.TakeDirtyRect();
  if (touched.Right > touched.Left && touched.Bottom > touched.Top && sink_) sink_(touched);
}
