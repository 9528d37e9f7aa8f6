#include <gtest/gtest.h>

#include <QPainter>
#include <climits>
#include <cstdlib>
#include <set>

#include "chart/ImageCanvas.h"
#include "chart/LineRaster.h"
#include "chart/PainterCanvas.h"
#include "chart_support.h"

namespace {

constexpr TColor kRed{255, 0, 0};
constexpr TColor kGrey{240, 240, 240};
constexpr TColor kBlack{0, 0, 0};
constexpr TColor kBlue{0, 0, 255};

// Pixels of the canvas that differ from `background`.
std::set<std::pair<int, int>> Painted(const ImageCanvas& canvas, TColor background) {
  std::set<std::pair<int, int>> painted;
  for (int y = 0; y < canvas.Height(); ++y)
    for (int x = 0; x < canvas.Width(); ++x)
      if (canvas.PixelAt(x, y) != background) painted.insert({x, y});
  return painted;
}

TRect Bounds(const std::set<std::pair<int, int>>& pixels) {
  TRect r{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (auto [x, y] : pixels) {
    r.Left = std::min(r.Left, x);
    r.Top = std::min(r.Top, y);
    r.Right = std::max(r.Right, x + 1);
    r.Bottom = std::max(r.Bottom, y + 1);
  }
  return r;
}

ImageCanvas RedCanvas(int width = 64, int height = 64) {
  ImageCanvas canvas(width, height);
  canvas.SetBrushColor(kRed);
  canvas.FillRect({0, 0, width, height});
  canvas.SetBrushColor(kGrey);
  canvas.TakeDirtyRect();
  return canvas;
}

// ---- Lines ------------------------------------------------------------------

class SegmentShapes : public ::testing::TestWithParam<std::pair<TPoint, TPoint>> {};

TEST_P(SegmentShapes, FirstPointSetLastPointUnsetAndOnePixelPerStep) {
  const auto [from, to] = GetParam();
  ImageCanvas canvas = RedCanvas();
  canvas.Polyline({from, to});
  const auto painted = Painted(canvas, kRed);
  EXPECT_TRUE(painted.count({from.X, from.Y}));
  EXPECT_FALSE(painted.count({to.X, to.Y}));
  const int steps = std::max(std::abs(to.X - from.X), std::abs(to.Y - from.Y));
  EXPECT_EQ(static_cast<int>(painted.size()), steps);
  for (auto [x, y] : painted) EXPECT_EQ(canvas.PixelAt(x, y), kBlack);
  // A thin line: every pixel but the first has a neighbour one step nearer the start.
  for (auto [x, y] : painted) {
    if (x == from.X && y == from.Y) continue;
    bool linked = false;
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        if ((dx || dy) && painted.count({x + dx, y + dy})) linked = true;
    EXPECT_TRUE(linked) << x << "," << y;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Directions, SegmentShapes,
    ::testing::Values(std::pair{TPoint{5, 10}, TPoint{40, 10}}, std::pair{TPoint{40, 10}, TPoint{5, 10}},
                      std::pair{TPoint{7, 3}, TPoint{7, 50}}, std::pair{TPoint{7, 50}, TPoint{7, 3}},
                      std::pair{TPoint{2, 2}, TPoint{30, 30}}, std::pair{TPoint{30, 2}, TPoint{2, 30}},
                      std::pair{TPoint{10, 5}, TPoint{13, 60}}, std::pair{TPoint{13, 60}, TPoint{10, 5}},
                      std::pair{TPoint{1, 40}, TPoint{60, 33}}, std::pair{TPoint{31, 20}, TPoint{32, 55}}));

TEST(ImageCanvasLines, AChainOfSegmentsDoublesNoPixelAndLeavesItsEndUnset) {
  ImageCanvas canvas = RedCanvas();
  const TPoint a{5, 5}, b{20, 9}, c{21, 40}, d{50, 40};
  canvas.Polyline({a, b});
  canvas.Polyline({b, c});
  canvas.Polyline({c, d});
  const auto painted = Painted(canvas, kRed);
  EXPECT_EQ(painted.size(), 15u + 31u + 29u);
  EXPECT_TRUE(painted.count({b.X, b.Y}));
  EXPECT_TRUE(painted.count({c.X, c.Y}));
  EXPECT_FALSE(painted.count({d.X, d.Y}));
}

TEST(ImageCanvasLines, AMultiPointPolylineEqualsItsSegments) {
  ImageCanvas joined = RedCanvas(), separate = RedCanvas();
  const std::vector<TPoint> points{{3, 3}, {40, 12}, {12, 50}, {60, 60}};
  joined.Polyline(points);
  for (std::size_t i = 1; i < points.size(); ++i) separate.Polyline({points[i - 1], points[i]});
  EXPECT_EQ(joined.Image(), separate.Image());
}

TEST(ImageCanvasLines, AZeroLengthSegmentSetsNothing) {
  ImageCanvas canvas = RedCanvas();
  canvas.Polyline({{10, 10}, {10, 10}});
  EXPECT_TRUE(Painted(canvas, kRed).empty());
  EXPECT_EQ(canvas.TakeDirtyRect(), (TRect{10, 10, 11, 11}));
}

TEST(ImageCanvasLines, DottedLinesPaintTheirGapsInTheBrushColour) {
  ImageCanvas canvas = RedCanvas();
  canvas.SetPenStyle(psDot);
  canvas.Polyline({{4, 20}, {44, 20}});
  canvas.Polyline({{50, 4}, {50, 44}});
  for (int i = 0; i < 40; ++i) {
    const TColor expected = i % 2 == 0 ? kBlack : kGrey;
    EXPECT_EQ(canvas.PixelAt(4 + i, 20), expected) << "horizontal " << i;
    EXPECT_EQ(canvas.PixelAt(50, 4 + i), expected) << "vertical " << i;
  }
  EXPECT_EQ(canvas.PixelAt(44, 20), kRed);
  EXPECT_EQ(canvas.PixelAt(50, 44), kRed);
}

TEST(ImageCanvasLines, PenColourAndStyleHoldUntilChanged) {
  ImageCanvas canvas = RedCanvas();
  canvas.SetPenColor(kBlue);
  canvas.Polyline({{0, 1}, {10, 1}});
  canvas.Polyline({{0, 2}, {10, 2}});
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(canvas.PixelAt(x, 1), kBlue);
    EXPECT_EQ(canvas.PixelAt(x, 2), kBlue);
  }
}

TEST(ImageCanvasLines, PixelsOutsideTheImageAreDiscarded) {
  ImageCanvas canvas = RedCanvas(50, 50);
  canvas.Polyline({{-1000, -1000}, {1000, 1000}});
  const auto painted = Painted(canvas, kRed);
  EXPECT_EQ(painted.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(painted.count({i, i})) << i;
}

TEST(ImageCanvasLines, FarAwayCoordinatesOnlyWalkTheVisiblePart) {
  ImageCanvas canvas = RedCanvas(50, 50);
  canvas.Polyline({{INT_MIN, 10}, {INT_MAX, 10}});
  canvas.Polyline({{20, INT_MAX}, {20, INT_MIN}});
  canvas.Polyline({{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}});
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(canvas.PixelAt(i, 10), kBlack);
    EXPECT_EQ(canvas.PixelAt(20, i), kBlack);
  }
  EXPECT_EQ(Painted(canvas, kRed).size(), 99u);
}

// Every segment between two points of a grid that reaches past all four
// edges: the image holds exactly the pixels of the shared line rule, in
// either pen style, whichever way the canvas writes them.
class SegmentsFollowTheLineRule : public ::testing::TestWithParam<TPenStyle> {};

TEST_P(SegmentsFollowTheLineRule, ForEveryPairOfGridPoints) {
  const int size = 10;
  std::vector<TPoint> grid;
  for (int y = -3; y <= size + 2; ++y)
    for (int x = -3; x <= size + 2; ++x) grid.push_back({x, y});
  ImageCanvas canvas = RedCanvas(size, size), expected = RedCanvas(size, size);
  canvas.SetPenStyle(GetParam());
  const auto clear = [&](ImageCanvas& c) {
    c.SetBrushColor(kRed);
    c.FillRect({0, 0, size, size});
    c.SetBrushColor(kGrey);
  };
  for (const TPoint from : grid) {
    for (const TPoint to : grid) {
      clear(canvas);
      clear(expected);
      canvas.Polyline({from, to});
      RasterizeSegment(from, to, size, size, [&](int x, int y, std::int64_t k) {
        expected.SetBrushColor(GetParam() == psSolid || DotIsOn(k) ? kBlack : kGrey);
        expected.FillRect({x, y, x + 1, y + 1});
      });
      ASSERT_EQ(canvas.Image(), expected.Image())
          << "(" << from.X << "," << from.Y << ") to (" << to.X << "," << to.Y << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PenStyles, SegmentsFollowTheLineRule, ::testing::Values(psSolid, psDot));

// ---- Fills -----------------------------------------------------------------

TEST(ImageCanvasFill, FillsLeftToRightExclusiveTopToBottomExclusive) {
  ImageCanvas canvas = RedCanvas();
  canvas.FillRect({2, 3, 5, 7});
  const auto painted = Painted(canvas, kRed);
  EXPECT_EQ(painted.size(), 12u);
  EXPECT_EQ(Bounds(painted), (TRect{2, 3, 5, 7}));
  EXPECT_EQ(canvas.PixelAt(4, 6), kGrey);
}

TEST(ImageCanvasFill, EmptyAndOutsideRectanglesChangeNothing) {
  ImageCanvas canvas = RedCanvas();
  canvas.FillRect({5, 5, 5, 9});
  canvas.FillRect({9, 9, 3, 3});
  canvas.FillRect({-20, -20, 0, 0});
  canvas.FillRect({64, 0, 90, 10});
  EXPECT_TRUE(Painted(canvas, kRed).empty());
  EXPECT_EQ(canvas.TakeDirtyRect(), TRect{});
}

TEST(ImageCanvasFill, OversizedRectanglesAreClippedToTheImage) {
  ImageCanvas canvas = RedCanvas(20, 10);
  canvas.FillRect({-100, -100, 1000, 1000});
  EXPECT_EQ(Painted(canvas, kRed).size(), 200u);
  EXPECT_EQ(canvas.TakeDirtyRect(), (TRect{0, 0, 20, 10}));
}

// ---- Text -------------------------------------------------------------------

TEST(ImageCanvasText, TheCellIsOpaqueWithItsTopLeftCornerAtThePoint) {
  ImageCanvas canvas = RedCanvas(120, 60);
  canvas.SetFontColor(kBlue);
  canvas.SetFontSize(11);
  canvas.PutText(10, 20, "aVR");
  const auto painted = Painted(canvas, kRed);
  ASSERT_FALSE(painted.empty());
  const TRect cell = Bounds(painted);
  EXPECT_EQ(cell.Left, 10);
  EXPECT_EQ(cell.Top, 20);
  EXPECT_EQ(canvas.PixelAt(10, 20), kGrey);
  // An 11-point text at 96 dpi is about fifteen pixels high.
  EXPECT_GE(cell.Bottom - cell.Top, 13);
  EXPECT_LE(cell.Bottom - cell.Top, 20);
  int glyphPixels = 0;
  for (auto [x, y] : painted) {
    const TColor c = canvas.PixelAt(x, y);
    EXPECT_TRUE(c == kGrey || c == kBlue) << x << "," << y;
    glyphPixels += c == kBlue ? 1 : 0;
  }
  EXPECT_GT(glyphPixels, 20);
  // Every pixel of the cell is covered: nothing red inside it.
  EXPECT_EQ(painted.size(), static_cast<std::size_t>((cell.Right - cell.Left) * (cell.Bottom - cell.Top)));
}

TEST(ImageCanvasText, SmallerPointSizesMakeSmallerCells) {
  auto cellHeight = [](int points) {
    ImageCanvas canvas = RedCanvas(200, 60);
    canvas.SetFontSize(points);
    canvas.PutText(0, 0, "12:34:56");
    const TRect cell = Bounds(Painted(canvas, kRed));
    return cell.Bottom - cell.Top;
  };
  EXPECT_LT(cellHeight(5), cellHeight(9));
  EXPECT_LT(cellHeight(9), cellHeight(11));
}

TEST(ImageCanvasText, TextBeyondTheEdgeIsCutOff) {
  ImageCanvas canvas = RedCanvas(40, 20);
  canvas.PutText(30, 10, "RESP");
  canvas.PutText(-10, -10, "RESP");
  EXPECT_FALSE(Painted(canvas, kRed).empty());
  const TRect dirty = canvas.TakeDirtyRect();
  EXPECT_GE(dirty.Left, 0);
  EXPECT_GE(dirty.Top, 0);
  EXPECT_LE(dirty.Right, 40);
  EXPECT_LE(dirty.Bottom, 20);
}

// ---- Dirty rectangle --------------------------------------------------------

TEST(ImageCanvasDirtyRect, CoversEverythingTouchedSinceTheLastCallThenStartsEmpty) {
  ImageCanvas canvas(100, 100);
  EXPECT_EQ(canvas.TakeDirtyRect(), TRect{});
  canvas.Polyline({{10, 50}, {20, 40}});
  canvas.FillRect({60, 5, 70, 8});
  EXPECT_EQ(canvas.TakeDirtyRect(), (TRect{10, 5, 70, 51}));
  EXPECT_EQ(canvas.TakeDirtyRect(), TRect{});
  const QImage before = canvas.Image().copy();
  canvas.PutText(30, 30, "I");
  const TRect text = canvas.TakeDirtyRect();
  EXPECT_LE(text.Left, 30) << "may allow for glyph overhang";
  EXPECT_GE(text.Left, 20);
  EXPECT_EQ(text.Top, 30);
  EXPECT_GT(text.Right, 30);
  EXPECT_GT(text.Bottom, 40);
  // Everything the text changed lies inside.
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      const bool inside = x >= text.Left && x < text.Right && y >= text.Top && y < text.Bottom;
      if (inside) continue;
      ASSERT_EQ(canvas.Image().pixel(x, y), before.pixel(x, y)) << x << "," << y;
    }
}

TEST(ImageCanvasDirtyRect, DrawingAfterTheWindowTookACopyLeavesTheCopyAlone) {
  ImageCanvas canvas = RedCanvas(30, 30);
  const QImage shown = canvas.Image();
  canvas.Polyline({{0, 0}, {29, 0}});
  EXPECT_EQ(canvas.PixelAt(0, 0), kBlack);
  EXPECT_EQ(shown.pixel(0, 0), qRgb(255, 0, 0));
}

// ---- Scaled copy -----------------------------------------------------------

ImageCanvas Quadrants() {
  ImageCanvas source(4, 4);
  const TColor colours[4] = {kRed, kBlue, kBlack, kGrey};
  for (int q = 0; q < 4; ++q) {
    source.SetBrushColor(colours[q]);
    const int x = (q % 2) * 2, y = (q / 2) * 2;
    source.FillRect({x, y, x + 2, y + 2});
  }
  return source;
}

TEST(ImageCanvasCopy, StretchesTheSourceRectangleToFillTheDestination) {
  const ImageCanvas source = Quadrants();
  ImageCanvas canvas(20, 20);
  canvas.CopyRectStretched({10, 10, 18, 18}, source, {0, 0, 4, 4});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(canvas.PixelAt(10 + x, 10 + y), source.PixelAt(x / 2, y / 2)) << x << "," << y;
  EXPECT_EQ(canvas.PixelAt(9, 9), (TColor{255, 255, 255}));
  EXPECT_EQ(canvas.TakeDirtyRect(), (TRect{10, 10, 18, 18}));
}

TEST(ImageCanvasCopy, ASourceWithoutAnImageIsRefused) {
  RecordingCanvas notAnImage;
  ImageCanvas canvas(8, 8);
  EXPECT_THROW(canvas.CopyRectStretched({0, 0, 8, 8}, notAnImage, {0, 0, 8, 8}), std::invalid_argument);
}

// ---- The painter canvas (printer page) --------------------------------------

struct PaintedPage {
  QImage image{64, 64, QImage::Format_RGB32};
  PaintedPage() { image.fill(qRgb(255, 0, 0)); }
};

TEST(PainterCanvas, LinesFollowTheSameRulesAsTheChartImage) {
  PaintedPage page;
  ImageCanvas reference = RedCanvas();
  {
    QPainter painter(&page.image);
    PainterCanvas canvas(painter, 64, 64, 96);
    for (ChartCanvas* c : {static_cast<ChartCanvas*>(&canvas), static_cast<ChartCanvas*>(&reference)}) {
      c->SetBrushColor(kGrey);
      c->SetPenColor(kBlue);
      c->Polyline({{2, 2}, {50, 31}});
      c->SetPenStyle(psDot);
      c->Polyline({{5, 60}, {60, 40}});
      c->FillRect({40, 2, 44, 6});
    }
  }
  EXPECT_EQ(page.image, reference.Image());
}

TEST(PainterCanvas, CopyRectStretchedDrawsTheChartScaledOntoThePage) {
  PaintedPage page;
  const ImageCanvas source = Quadrants();
  {
    QPainter painter(&page.image);
    PainterCanvas canvas(painter, 64, 64, 96);
    canvas.CopyRectStretched({0, 0, 64, 64}, source, {0, 0, 4, 4});
  }
  for (int y = 0; y < 64; y += 7)
    for (int x = 0; x < 64; x += 7) {
      const TColor expected = source.PixelAt(x / 16, y / 16);
      EXPECT_EQ(page.image.pixel(x, y), qRgb(expected.r, expected.g, expected.b)) << x << "," << y;
    }
}

TEST(PainterCanvas, FontSizesFollowTheDeviceResolution) {
  auto cellHeight = [](int dpi) {
    QImage image(400, 200, QImage::Format_RGB32);
    image.fill(qRgb(255, 0, 0));
    {
      QPainter painter(&image);
      PainterCanvas canvas(painter, 400, 200, dpi);
      canvas.SetFontSize(8);
      canvas.PutText(0, 0, "Header");
    }
    int bottom = 0;
    for (int y = 0; y < image.height(); ++y)
      if (image.pixel(0, y) != qRgb(255, 0, 0)) bottom = y + 1;
    return bottom;
  };
  const int at96 = cellHeight(96), at384 = cellHeight(384);
  EXPECT_GT(at96, 5);
  EXPECT_GE(at384, 3 * at96);
  EXPECT_LE(at384, 5 * at96);
}

TEST(PainterCanvas, TextOnAPageUsesTheWhitePageBrushUnlessTold) {
  QImage image(200, 60, QImage::Format_RGB32);
  image.fill(qRgb(255, 0, 0));
  {
    QPainter painter(&image);
    PainterCanvas canvas(painter, 200, 60, 96);
    canvas.PutText(5, 5, "Header");
  }
  EXPECT_EQ(image.pixel(5, 5), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(4, 5), qRgb(255, 0, 0));
}

}  // namespace
