#pragma once
// Opaque text on a QPainter with the chart's font rules: the default
// sans-serif face, sizes in points at the device's resolution, the cell's
// top-left corner at the given point. Fonts and metrics are kept per size,
// because the chart uses two sizes over and over.
#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <map>
#include <string_view>

#include "chart/ChartCanvas.h"

class QPainter;

class TextRenderer {
 public:
  TextRenderer(int dpi, bool antialias);

  // Fills the text cell at (x, y) with `background` and draws `text` in it;
  // returns every pixel it may have touched.
  QRect Draw(QPainter& painter, int x, int y, int points, TColor foreground, TColor background, std::string_view text);
  // Size of the cell `text` takes at `points`.
  QSize CellSize(int points, std::string_view text);

 private:
  struct Face {
    QFont font;
    QFontMetrics metrics;
  };
  const Face& FaceFor(int points);

  int dpi_;
  bool antialias_;
  std::map<int, Face> faces_;
};
