#include "chart/ImageCanvas.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "chart/LineRaster.h"
#include "chart/TextRenderer.h"

namespace {

QRgb ToRgb(TColor c) { return qRgb(c.r, c.g, c.b); }

bool IsEmpty(const TRect& r) { return r.Left >= r.Right || r.Top >= r.Bottom; }

}  // namespace

ImageCanvas::ImageCanvas(int width, int height)
    : image_(std::max(1, width), std::max(1, height), QImage::Format_RGB32),
      text_(std::make_unique<TextRenderer>(96, false)) {
  image_.fill(ToRgb(brushColor_));
}

ImageCanvas::~ImageCanvas() = default;
ImageCanvas::ImageCanvas(ImageCanvas&&) noexcept = default;
ImageCanvas& ImageCanvas::operator=(ImageCanvas&&) noexcept = default;

void ImageCanvas::Touch(int left, int top, int right, int bottom) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, image_.width());
  bottom = std::min(bottom, image_.height());
  if (left >= right || top >= bottom) return;
  if (IsEmpty(dirty_)) {
    dirty_ = TRect{left, top, right, bottom};
  } else {
    dirty_.Left = std::min(dirty_.Left, left);
    dirty_.Top = std::min(dirty_.Top, top);
    dirty_.Right = std::max(dirty_.Right, right);
    dirty_.Bottom = std::max(dirty_.Bottom, bottom);
  }
}

TRect ImageCanvas::TakeDirtyRect() {
  const TRect taken = dirty_;
  dirty_ = TRect{};
  return taken;
}

TColor ImageCanvas::PixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return TColor{};
  const QRgb p = image_.pixel(x, y);
  return TColor{static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
                static_cast<std::uint8_t>(qBlue(p))};
}

void ImageCanvas::FillRect(const TRect& rect) {
  const int left = std::max(rect.Left, 0), right = std::min(rect.Right, image_.width());
  const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, image_.height());
  if (left >= right || top >= bottom) return;
  const QRgb rgb = ToRgb(brushColor_);
  if (left == 0 && top == 0 && right == image_.width() && bottom == image_.height()) {
    image_.fill(rgb);  // every frame redraw; Qt's own fill is the fastest way over the whole image
    Touch(left, top, right, bottom);
    return;
  }
  for (int y = top; y < bottom; ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
    std::fill(row + left, row + right, rgb);
  }
  Touch(left, top, right, bottom);
}

namespace {

bool Inside(TPoint p, int width, int height) { return p.X >= 0 && p.X < width && p.Y >= 0 && p.Y < height; }

// The solid segment between two points inside the image, written straight
// into the scanlines: the same pixels as RasterizeSegment's walk (nearest to
// the ideal line, end point left out), without its per-pixel clipping and
// callback. Every pixel lies between the two ends, so none needs a check.
void DrawSolidInside(QRgb* pixels, qsizetype stride, TPoint from, TPoint to, QRgb pen) {
  const int dx = std::abs(to.X - from.X), dy = std::abs(to.Y - from.Y);
  const qsizetype sx = to.X >= from.X ? 1 : -1;
  const qsizetype sy = to.Y >= from.Y ? stride : -stride;
  const bool xMajor = dx >= dy;
  const int major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
  const qsizetype majorStep = xMajor ? sx : sy, minorStep = xMajor ? sy : sx;
  QRgb* p = pixels + from.Y * stride + from.X;
  if (minor == 0) {  // a horizontal or vertical run
    if (majorStep == 1) {
      std::fill_n(p, major, pen);
      return;
    }
    for (int k = 0; k < major; ++k, p += majorStep) *p = pen;
    return;
  }
  // r as in RasterizeSegment from its first step: one minor step each time
  // it passes 2 major.
  const int twoMajor = 2 * major, twoMinor = 2 * minor;
  int r = major;
  for (int k = 0; k < major; ++k) {
    *p = pen;
    p += majorStep;
    r += twoMinor;
    if (r >= twoMajor) {
      r -= twoMajor;
      p += minorStep;
    }
  }
}

}  // namespace

void ImageCanvas::DrawLine(TPoint from, TPoint to) {
  // bits() once per line: it detaches the image if the window holds a copy,
  // after which the pointer stays valid for the whole segment.
  uchar* const bits = image_.bits();
  const qsizetype stride = image_.bytesPerLine();
  const QRgb pen = ToRgb(penColor_);
  const int w = image_.width(), h = image_.height();
  if (penStyle_ == psSolid && Inside(from, w, h) && Inside(to, w, h)) {
    // Every segment of a trace: the case worth its own loop.
    // A 32-bit image's lines are whole pixels long.
    DrawSolidInside(reinterpret_cast<QRgb*>(bits), stride / static_cast<qsizetype>(sizeof(QRgb)), from, to, pen);
  } else {
    const QRgb gap = ToRgb(brushColor_);
    const bool dotted = penStyle_ == psDot;
    RasterizeSegment(from, to, w, h, [&](int x, int y, std::int64_t k) {
      QRgb* p = reinterpret_cast<QRgb*>(bits + y * stride) + x;
      *p = (!dotted || DotIsOn(k)) ? pen : gap;
    });
  }
  // The segment's box, in 64 bits since a far-away end may sit at INT_MAX.
  auto clampTo = [](std::int64_t v, int limit) { return static_cast<int>(std::clamp<std::int64_t>(v, 0, limit)); };
  Touch(clampTo(std::min(from.X, to.X), w), clampTo(std::min(from.Y, to.Y), h),
        clampTo(std::int64_t{std::max(from.X, to.X)} + 1, w), clampTo(std::int64_t{std::max(from.Y, to.Y)} + 1, h));
}

void ImageCanvas::Polyline(std::span<const TPoint> points) {
  for (std::size_t i = 1; i < points.size(); ++i) DrawLine(points[i - 1], points[i]);
}

void ImageCanvas::PutText(int x, int y, std::string_view text) {
  QPainter painter(&image_);
  const QRect touched = text_->Draw(painter, x, y, fontSize_, fontColor_, brushColor_, text);
  Touch(touched.left(), touched.top(), touched.right() + 1, touched.bottom() + 1);
}

void ImageCanvas::CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) {
  const auto* from = dynamic_cast<const ImageCanvas*>(&source);
  if (!from) throw std::invalid_argument("CopyRectStretched: the source canvas holds no image");
  if (IsEmpty(dest) || IsEmpty(sourceRect)) return;
  // A copy first when reading from ourselves, so the source does not change
  // under the painter.
  const QImage src = from == this ? image_.copy() : from->image_;
  QPainter painter(&image_);
  painter.drawImage(
      QRect(dest.Left, dest.Top, dest.Right - dest.Left, dest.Bottom - dest.Top), src,
      QRect(sourceRect.Left, sourceRect.Top, sourceRect.Right - sourceRect.Left, sourceRect.Bottom - sourceRect.Top));
  Touch(dest.Left, dest.Top, dest.Right, dest.Bottom);
}
