#include "chart/PainterCanvas.h"

#include <QPoint>
#include <stdexcept>
#include <vector>

#include "chart/ImageCanvas.h"
#include "chart/LineRaster.h"
#include "chart/TextRenderer.h"

namespace {

QColor ToQColor(TColor c) { return QColor(c.r, c.g, c.b); }

bool IsEmpty(const TRect& r) { return r.Left >= r.Right || r.Top >= r.Bottom; }

}  // namespace

PainterCanvas::PainterCanvas(QPainter& painter, int width, int height, int dpi)
    : painter_(painter), width_(width), height_(height), dpi_(dpi), text_(std::make_unique<TextRenderer>(dpi, true)) {}

PainterCanvas::~PainterCanvas() = default;

void PainterCanvas::FillRect(const TRect& rect) {
  if (IsEmpty(rect)) return;
  painter_.fillRect(QRect(rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top), ToQColor(brushColor_));
}

void PainterCanvas::Polyline(std::span<const TPoint> points) {
  // Same pixels as on the chart image: a painter's own line caps and end
  // points differ between devices, the rule of the last point must not.
  std::vector<QPoint> on, off;
  for (std::size_t i = 1; i < points.size(); ++i) {
    RasterizeSegment(points[i - 1], points[i], width_, height_, [&](int x, int y, std::int64_t k) {
      (penStyle_ == psSolid || DotIsOn(k) ? on : off).emplace_back(x, y);
    });
  }
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
  QPen pen(ToQColor(penColor_));
  pen.setWidth(1);
  painter_.setPen(pen);
  if (!on.empty()) painter_.drawPoints(on.data(), static_cast<int>(on.size()));
  pen.setColor(ToQColor(brushColor_));
  painter_.setPen(pen);
  if (!off.empty()) painter_.drawPoints(off.data(), static_cast<int>(off.size()));
  painter_.restore();
}

void PainterCanvas::PutText(int x, int y, std::string_view text) {
  painter_.save();
  text_->Draw(painter_, x, y, fontSize_, fontColor_, brushColor_, text);
  painter_.restore();
}

void PainterCanvas::CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) {
  const auto* from = dynamic_cast<const ImageCanvas*>(&source);
  if (!from) throw std::invalid_argument("CopyRectStretched: the source canvas holds no image");
  if (IsEmpty(dest) || IsEmpty(sourceRect)) return;
  painter_.save();
  // Scaled up many times onto a page, one-pixel lines must stay sharp.
  painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter_.drawImage(
      QRect(dest.Left, dest.Top, dest.Right - dest.Left, dest.Bottom - dest.Top), from->Image(),
      QRect(sourceRect.Left, sourceRect.Top, sourceRect.Right - sourceRect.Left, sourceRect.Bottom - sourceRect.Top));
  painter_.restore();
}
