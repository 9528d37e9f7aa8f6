#include <gtest/gtest.h>

#include "chart/ChartFrame.h"
#include "chart/ImageCanvas.h"
#include "chart_support.h"

namespace {

constexpr TColor kGrey = clChartBackground;

// A chart image prepared as start-up leaves it.
struct Chart {
  ChartLayout layout;
  ImageCanvas canvas;
  explicit Chart(ChartLayout l) : layout(l), canvas(l.ChartWidth, l.ChartHeight) { PrepareChart(layout, canvas); }
  TColor At(int x, int y) const { return canvas.PixelAt(x, y); }
};

// Bounding box of the pixels of `color` inside `area`.
TRect BoxOf(const ImageCanvas& canvas, TColor color, TRect area) {
  TRect box{area.Right, area.Bottom, area.Left, area.Top};
  for (int y = area.Top; y < area.Bottom; ++y)
    for (int x = area.Left; x < area.Right; ++x)
      if (canvas.PixelAt(x, y) == color) {
        box.Left = std::min(box.Left, x);
        box.Top = std::min(box.Top, y);
        box.Right = std::max(box.Right, x + 1);
        box.Bottom = std::max(box.Bottom, y + 1);
      }
  return box;
}

// Expectations for one drawn band: solid base line and axis, dotted grid rows
// and columns (columns drawn last, so they win where the two cross).
// `lowest` says that no band lies below, so the base line stays solid.
void ExpectBand(const Chart& chart, int x0, int x1, const BandEntry& band, int pad, const std::vector<int>& rows,
                const std::vector<int>& columns, const std::string& what, bool lowest = true) {
  SCOPED_TRACE(what);
  const int b = band.Bottom, top = b - band.Height + pad;
  if (lowest || pad > 0) {
    for (int x = x0; x < x1; ++x) ASSERT_EQ(chart.At(x, b), clBlack) << "base line at x " << x;
    EXPECT_EQ(chart.At(x1, b), kGrey) << "the base line's end point stays unset";
  }
  for (int y = top + 20; y < b; ++y) ASSERT_EQ(chart.At(x0, y), clBlack) << "axis at y " << y;
  auto isColumn = [&](int x) { return std::find(columns.begin(), columns.end(), x) != columns.end(); };
  for (int y : rows) {
    for (int x = x0; x < x1; ++x) {
      if (isColumn(x)) continue;
      ASSERT_EQ(chart.At(x, y), (x - x0) % 2 == 0 ? clBlack : kGrey) << "row " << y << " x " << x;
    }
  }
  for (int x : columns) {
    for (int y = top; y < b; ++y)
      ASSERT_EQ(chart.At(x, y), (y - top) % 2 == 0 ? clBlack : kGrey) << "column " << x << " y " << y;
    EXPECT_EQ(chart.At(x + 1, top + 1), kGrey) << "nothing beside column " << x;
    EXPECT_EQ(chart.At(x - 1, top + 1), kGrey) << "nothing beside column " << x;
  }
}

std::vector<int> Columns(int x0, int step) {
  std::vector<int> columns;
  for (int j = 1; j <= 10; ++j) columns.push_back(x0 + j * step);
  return columns;
}

// ---- Eight channels ----------------------------------------------------------

TEST(DrawBasic, WideWithAllEightChannels) {
  Chart chart(EightChannelLayout(ScreenClass::Wide));
  DrawBasic(chart.layout, chart.canvas);
  ExpectBand(chart, 30, 1230, {111, 111}, 20, {93, 75, 56, 38, 20}, Columns(30, 120), "band I");
  for (int i = 1; i < 8; ++i) {
    const int b = 111 * (i + 1);
    ExpectBand(chart, 30, 1230, {111, b}, 20, {b - 18, b - 36, b - 55, b - 73, b - 91}, Columns(30, 120),
               "band " + std::to_string(i));
  }
  // The strip below the last band is free.
  for (int y = 889; y < 920; ++y) EXPECT_EQ(chart.At(600, y), kGrey);
}

struct LabelCase {
  ChartChannel channel;
  int bandBottom;
};

class WideLabels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(WideLabels, LabelCellStartsFourPixelsBelowTheBandTopInTheLeadColour) {
  Chart chart(EightChannelLayout(ScreenClass::Wide));
  DrawBasic(chart.layout, chart.canvas);
  const int top = GetParam().bandBottom - 111;
  const TRect glyphs = BoxOf(chart.canvas, ChannelColor(GetParam().channel), {0, top, 200, top + 40});
  ASSERT_LT(glyphs.Left, glyphs.Right) << "no pixel in the lead's colour";
  EXPECT_GE(glyphs.Left, 30);
  EXPECT_LE(glyphs.Left, 33);
  EXPECT_GE(glyphs.Top, top + 4);
  EXPECT_LE(glyphs.Bottom, top + 4 + 20);
  // Opaque cell: the pixel at its top-left corner is background.
  EXPECT_EQ(chart.At(30, top + 4), kGrey);
}

INSTANTIATE_TEST_SUITE_P(AllEight, WideLabels,
                         ::testing::Values(LabelCase{ccI, 111}, LabelCase{ccII, 222}, LabelCase{ccIII, 333},
                                           LabelCase{ccAVR, 444}, LabelCase{ccAVL, 555}, LabelCase{ccAVF, 666},
                                           LabelCase{ccC1, 777}, LabelCase{ccResp, 888}),
                         [](const auto& test) { return std::string(ChannelLabel(test.param.channel)); });

TEST(DrawBasic, OnlyRespGivesOneFullHeightBand) {
  Chart chart(EightChannelLayout(ScreenClass::Wide, {false, false, false, false, false, false, false, true}));
  DrawBasic(chart.layout, chart.canvas);
  ExpectBand(chart, 30, 1230, {890, 890}, 20, {716, 542, 368, 194, 20}, Columns(30, 120), "RESP");
  const TRect glyphs = BoxOf(chart.canvas, clMaroon, {0, 0, 200, 40});
  EXPECT_GE(glyphs.Left, 30);
  EXPECT_GE(glyphs.Top, 4);
  EXPECT_LT(glyphs.Left, glyphs.Right);
  for (TColor other : {clBlue, clPurple, clGreen, clRed, clFuchsia, clNavy, clTeal})
    EXPECT_EQ(BoxOf(chart.canvas, other, {0, 0, 1260, 920}).Left, 1260) << "no other lead drawn";
}

TEST(DrawBasic, MediumWithAllEightChannels) {
  Chart chart(EightChannelLayout(ScreenClass::Medium));
  DrawBasic(chart.layout, chart.canvas);
  // h 80, span 60: rows every 12 pixels.
  ExpectBand(chart, 30, 970, {80, 80}, 20, {68, 56, 44, 32, 20}, Columns(30, 94), "band I");
  ExpectBand(chart, 30, 970, {80, 640}, 20, {628, 616, 604, 592, 580}, Columns(30, 94), "RESP");
}

TEST(DrawBasic, NarrowTopGridLineLiesDottedOnTheBandAbove) {
  Chart chart(EightChannelLayout(ScreenClass::Narrow));
  DrawBasic(chart.layout, chart.canvas);
  const std::vector<int> columns = Columns(25, 73);
  // Band I (h 61, no pad): rows 49, 37, 24, 12, 0; the grid spans the full height.
  for (int y = 0; y < 61; ++y) EXPECT_EQ(chart.At(98, y), y % 2 == 0 ? clBlack : kGrey) << y;
  for (int x = 26; x < 755; ++x) {
    if (std::find(columns.begin(), columns.end(), x) != columns.end()) continue;
    EXPECT_EQ(chart.At(x, 0), (x - 25) % 2 == 0 ? clBlack : kGrey) << x;
  }
  // Band I's base line y 61 is band II's top grid row, drawn later: dotted.
  for (int x = 26; x < 755; ++x) {
    if (std::find(columns.begin(), columns.end(), x) != columns.end()) continue;
    ASSERT_EQ(chart.At(x, 61), (x - 25) % 2 == 0 ? clBlack : kGrey) << x;
  }
  // The last band's base line has nothing below it and stays solid.
  for (int x = 25; x < 755; ++x) ASSERT_EQ(chart.At(x, 488), clBlack) << x;
  // Label cell inside the grid at (25, 4).
  const TRect glyphs = BoxOf(chart.canvas, clBlue, {0, 0, 100, 30});
  EXPECT_GE(glyphs.Left, 25);
  EXPECT_GE(glyphs.Top, 4);
  EXPECT_LT(glyphs.Left, glyphs.Right);
}

TEST(DrawBasic, ResetsTheSweepCursorAndKeepsLastY) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Narrow);
  layout.CursorX = 700;
  layout.PrevX = 699;
  layout.LastY[ccII] = 77;
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  DrawBasic(layout, canvas);
  EXPECT_EQ(layout.CursorX, 26);
  EXPECT_EQ(layout.PrevX, 25);
  EXPECT_EQ(layout.LastY[ccII], 77);
}

TEST(DrawBasic, AnEmptyBandTableGivesAPlainGreyImage) {
  Chart chart(LayoutFor(ScreenClass::Wide));
  chart.canvas.Polyline({{0, 0}, {500, 500}});
  DrawBasic(chart.layout, chart.canvas);
  EXPECT_EQ(BoxOf(chart.canvas, kGrey, {0, 0, 1260, 920}), (TRect{0, 0, 1260, 920}));
  for (int y = 0; y < 920; y += 37)
    for (int x = 0; x < 1260; x += 41) ASSERT_EQ(chart.At(x, y), kGrey);
  EXPECT_EQ(chart.layout.CursorX, 31);
  EXPECT_EQ(chart.layout.PrevX, 30);
}

TEST(DrawBasic, DrawingTwiceGivesTheSameImageAsOnce) {
  Chart once(EightChannelLayout(ScreenClass::Medium)), twice(EightChannelLayout(ScreenClass::Medium));
  DrawBasic(once.layout, once.canvas);
  DrawBasic(twice.layout, twice.canvas);
  DrawBasic(twice.layout, twice.canvas);
  EXPECT_EQ(once.canvas.Image(), twice.canvas.Image());
}

TEST(DrawBasic, WipesTracesAndLabelsOfThePreviousSweep) {
  Chart fresh(EightChannelLayout(ScreenClass::Wide)), used(EightChannelLayout(ScreenClass::Wide));
  DrawBasic(fresh.layout, fresh.canvas);
  DrawBasic(used.layout, used.canvas);
  used.canvas.SetPenColor(clRed);
  used.canvas.Polyline({{40, 10}, {900, 900}});
  used.canvas.PutText(500, 900, "12:00:00");
  DrawBasic(used.layout, used.canvas);
  EXPECT_EQ(fresh.canvas.Image(), used.canvas.Image());
}

TEST(DrawBasic, AfterATwelveChannelSetUpDrawsTheTableAsItStands) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide, {false, false, false, false, false, false, false, true});
  LayoutBands12C(layout);
  Chart chart(layout);
  DrawBasic(chart.layout, chart.canvas);
  // Resp as the eight-channel layout left it, drawn last over everything.
  ExpectBand(chart, 30, 1230, {890, 890}, 20, {716, 542, 368, 194, 20}, Columns(30, 120), "Resp");
  // I..aVF across the full width at h 148; C1 drawn over I.
  for (int x = 30; x < 1230; ++x) ASSERT_EQ(chart.At(x, 888), clBlack) << "aVF base line at " << x;
  EXPECT_LT(BoxOf(chart.canvas, clNavy, {0, 740, 200, 780}).Left, 200) << "aVF label";
  const TRect c1 = BoxOf(chart.canvas, clTeal, {0, 0, 200, 40});
  EXPECT_GE(c1.Left, 30);
  EXPECT_GE(c1.Top, 4);
}

// ---- Twelve channels --------------------------------------------------------

TEST(DrawBasic12C, WideColumns) {
  Chart chart(TwelveChannelLayout(ScreenClass::Wide));
  DrawBasic12C(chart.layout, chart.canvas);
  for (int row = 0; row < 6; ++row) {
    const int b = 148 * (row + 1);
    const std::vector<int> rows{b - 26, b - 51, b - 77, b - 102, b - 128};
    ExpectBand(chart, 30, 610, {148, b}, 20, rows, Columns(30, 58), "left row " + std::to_string(row));
    ExpectBand(chart, 650, 1230, {148, b}, 20, rows, Columns(650, 58), "right row " + std::to_string(row));
  }
  // The strip between the columns holds nothing.
  for (int y = 0; y < 920; ++y)
    for (int x = 611; x < 650; ++x) ASSERT_EQ(chart.At(x, y), kGrey) << x << "," << y;
  // No respiration band whatever its entry holds.
  EXPECT_EQ(BoxOf(chart.canvas, clMaroon, {0, 0, 1260, 920}).Left, 1260);
}

TEST(DrawBasic12C, LabelsTheChestLeadsInTealAtTheRightColumn) {
  Chart chart(TwelveChannelLayout(ScreenClass::Wide));
  DrawBasic12C(chart.layout, chart.canvas);
  for (int row = 0; row < 6; ++row) {
    const int top = 148 * row;
    const TRect glyphs = BoxOf(chart.canvas, clTeal, {620, top, 760, top + 40});
    EXPECT_GE(glyphs.Left, 650) << row;
    EXPECT_LE(glyphs.Left, 653) << row;
    EXPECT_GE(glyphs.Top, top + 4) << row;
    const TRect limb =
        BoxOf(chart.canvas, ChannelColor(kLimbLeads[static_cast<std::size_t>(row)]), {0, top, 140, top + 40});
    EXPECT_GE(limb.Left, 30) << row;
    EXPECT_GE(limb.Top, top + 4) << row;
  }
}

TEST(DrawBasic12C, NarrowLeftColumnGridRoundsHalvesAsTheFrameAlwaysDid) {
  Chart chart(TwelveChannelLayout(ScreenClass::Narrow));
  DrawBasic12C(chart.layout, chart.canvas);
  const std::vector<int> left{61, 96, 132, 167, 203, 238, 273, 309, 345, 380};
  ExpectBand(chart, 25, 380, {82, 82}, 0, {66, 49, 33, 16, 0}, left, "I", false);
  ExpectBand(chart, 25, 380, {82, 492}, 0, {476, 459, 443, 426, 410}, left, "aVF");
  ExpectBand(chart, 415, 755, {82, 492}, 0, {476, 459, 443, 426, 410}, Columns(415, 34), "C6");
}

TEST(DrawBasic12C, MediumColumns) {
  Chart chart(TwelveChannelLayout(ScreenClass::Medium));
  DrawBasic12C(chart.layout, chart.canvas);
  ExpectBand(chart, 30, 490, {107, 107}, 20, {90, 72, 55, 37, 20}, Columns(30, 46), "I");
  ExpectBand(chart, 530, 970, {107, 107}, 20, {90, 72, 55, 37, 20}, Columns(530, 44), "C1");
  EXPECT_EQ(chart.layout.CursorX, 31);
  EXPECT_EQ(chart.layout.PrevX, 30);
}

// The class of the largest screens: two columns of one width, so the chest
// leads' sweep ends with their grid as the limb leads' does.
TEST(DrawBasic12C, ExtraWideColumnsAreEquallyWide) {
  Chart chart(TwelveChannelLayout(ScreenClass::ExtraWide));
  DrawBasic12C(chart.layout, chart.canvas);
  EXPECT_EQ(chart.layout.LeftColumnRight - chart.layout.Margin,
            chart.layout.RightEdge - chart.layout.ColumnSplit - chart.layout.Margin);
  const std::vector<int> rows{150 - 26, 150 - 52, 150 - 78, 150 - 104, 150 - 130};
  ExpectBand(chart, 30, 930, {150, 150}, 20, rows, Columns(30, 90), "I");
  ExpectBand(chart, 970, 1870, {150, 900}, 20, {874, 848, 822, 796, 770}, Columns(970, 90), "C6");
}

TEST(DrawBasic12C, SkipsBandsWithoutHeight) {
  // Twelve-channel mode chosen without a twelve-channel set-up: only the
  // eight-channel bands that have a height are drawn.
  Chart chart(EightChannelLayout(ScreenClass::Wide, {true, false, false, false, false, false, false, false}));
  DrawBasic12C(chart.layout, chart.canvas);
  ExpectBand(chart, 30, 610, {890, 890}, 20, {716, 542, 368, 194, 20}, Columns(30, 58), "I");
  EXPECT_EQ(BoxOf(chart.canvas, clBlack, {611, 0, 1260, 920}).Left, 1260) << "right column empty";
}

// ---- Grid arithmetic ---------------------------------------------------------

struct ColumnCase {
  int width;
  std::array<int, 10> offsets;
};

class GridColumns : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(GridColumns, OffsetsForEveryColumnWidth) {
  for (int j = 1; j <= 10; ++j)
    EXPECT_EQ(GridColumnOffset(GetParam().width, j), GetParam().offsets[static_cast<std::size_t>(j - 1)]) << "j " << j;
}

INSTANTIATE_TEST_SUITE_P(Widths, GridColumns,
                         ::testing::Values(ColumnCase{355, {36, 71, 107, 142, 178, 213, 248, 284, 320, 355}},
                                           ColumnCase{1200, {120, 240, 360, 480, 600, 720, 840, 960, 1080, 1200}},
                                           ColumnCase{940, {94, 188, 282, 376, 470, 564, 658, 752, 846, 940}},
                                           ColumnCase{730, {73, 146, 219, 292, 365, 438, 511, 584, 657, 730}},
                                           ColumnCase{580, {58, 116, 174, 232, 290, 348, 406, 464, 522, 580}},
                                           ColumnCase{460, {46, 92, 138, 184, 230, 276, 322, 368, 414, 460}},
                                           ColumnCase{440, {44, 88, 132, 176, 220, 264, 308, 352, 396, 440}},
                                           ColumnCase{340, {34, 68, 102, 136, 170, 204, 238, 272, 306, 340}}),
                         [](const auto& test) { return "Width" + std::to_string(test.param.width); });

TEST(GridColumnOffset, NegativeAndZeroWidthsAreSymmetric) {
  EXPECT_EQ(GridColumnOffset(0, 5), 0);
  EXPECT_EQ(GridColumnOffset(-355, 1), -36);
  EXPECT_EQ(GridColumnOffset(-1200, 3), -360);
}

TEST(GridRowOffset, RoundsToTheNearestPixel) {
  // Wide eight channels: span 91 -> 18.2, 36.4, 54.6, 72.8, 91.
  const int expected[] = {18, 36, 55, 73, 91};
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(GridRowOffset(91, i), expected[i - 1]);
}

}  // namespace
