#include "chart/TextRenderer.h"

#include <QFontDatabase>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>

namespace {

QColor ToQColor(TColor c) { return QColor(c.r, c.g, c.b); }

}  // namespace

TextRenderer::TextRenderer(int dpi, bool antialias) : dpi_(dpi > 0 ? dpi : 96), antialias_(antialias) {}

const TextRenderer::Face& TextRenderer::FaceFor(int points) {
  auto it = faces_.find(points);
  if (it != faces_.end()) return it->second;
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  // Pixel size rather than point size: the device's own idea of its
  // resolution (a QImage says 96, a printer what it likes) must not matter.
  const int pixels = std::max(1, static_cast<int>(std::lround(points * static_cast<double>(dpi_) / 72.0)));
  font.setPixelSize(pixels);
  // The chart image is an exact raster (tests and users compare colours);
  // smoothing would blend the label colours into the grey.
  if (!antialias_) font.setStyleStrategy(QFont::NoAntialias);
  return faces_.emplace(points, Face{font, QFontMetrics(font)}).first->second;
}

QSize TextRenderer::CellSize(int points, std::string_view text) {
  const Face& face = FaceFor(points);
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return QSize(face.metrics.horizontalAdvance(s), face.metrics.height());
}

QRect TextRenderer::Draw(QPainter& painter, int x, int y, int points, TColor foreground, TColor background,
                         std::string_view text) {
  const Face& face = FaceFor(points);
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QRect cell(x, y, face.metrics.horizontalAdvance(s), face.metrics.height());
  painter.fillRect(cell, ToQColor(background));
  painter.setFont(face.font);
  painter.setPen(ToQColor(foreground));
  painter.drawText(x, y + face.metrics.ascent(), s);
  // Glyphs may reach a little past their advance (italic overhangs, wide
  // last letters); a margin is cheaper than measuring the ink a second time.
  const int overhang = face.metrics.height() / 4 + 1;
  return cell.adjusted(-overhang, 0, overhang, 0);
}
