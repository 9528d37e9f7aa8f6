#include <gtest/gtest.h>

#include "chart/ChartLayout.h"
#include "chart/ImageCanvas.h"
#include "chart_support.h"

namespace {

// ---- Screen classes -------------------------------------------------------

struct WidthCase {
  int width;
  ScreenClass expected;
};

class ScreenClassThresholds : public ::testing::TestWithParam<WidthCase> {};

TEST_P(ScreenClassThresholds, WidthPicksTheClass) {
  EXPECT_EQ(ScreenClassForWidth(GetParam().width), GetParam().expected) << "width " << GetParam().width;
  ChartLayout layout;
  SelectScreenLayout(layout, GetParam().width);
  EXPECT_EQ(layout.Screen, GetParam().expected) << "width " << GetParam().width;
}

INSTANTIATE_TEST_SUITE_P(Widths, ScreenClassThresholds,
                         ::testing::Values(WidthCase{640, ScreenClass::Narrow}, WidthCase{1000, ScreenClass::Narrow},
                                           WidthCase{1001, ScreenClass::Medium}, WidthCase{1200, ScreenClass::Medium},
                                           WidthCase{1201, ScreenClass::Wide}, WidthCase{3840, ScreenClass::Wide},
                                           WidthCase{0, ScreenClass::Narrow}),
                         [](const auto& test) { return "Width" + std::to_string(test.param.width); });

// ---- Fixed fields ---------------------------------------------------------

struct FixedCase {
  ScreenClass screen;
  int left, top, width, height, margin, pad, split, shift, labelFont, timeFont, timeTop, rightEdge, leftColumnRight;
};

class FixedFields : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedFields, SelectScreenLayoutSetsTheClassTable) {
  const FixedCase& c = GetParam();
  ChartLayout layout;
  SelectScreenLayout(layout, c.screen);
  EXPECT_EQ(layout.Screen, c.screen);
  EXPECT_EQ(layout.ChartLeft, c.left);
  EXPECT_EQ(layout.ChartTop, c.top);
  EXPECT_EQ(layout.ChartWidth, c.width);
  EXPECT_EQ(layout.ChartHeight, c.height);
  EXPECT_EQ(layout.Margin, c.margin);
  EXPECT_EQ(layout.BandTopPad, c.pad);
  EXPECT_EQ(layout.ColumnSplit, c.split);
  EXPECT_EQ(layout.TimeLabelShift, c.shift);
  EXPECT_EQ(layout.LabelFontSize, c.labelFont);
  EXPECT_EQ(layout.TimeFontSize, c.timeFont);
  EXPECT_EQ(layout.TimeLabelTop, c.timeTop);
  EXPECT_EQ(layout.ChartRect, (TRect{0, 0, c.width, c.height}));
  EXPECT_EQ(layout.RightEdge, c.rightEdge);
  EXPECT_EQ(layout.LeftColumnRight, c.leftColumnRight);
}

TEST_P(FixedFields, SelectScreenLayoutLeavesBandsAndSweepAlone) {
  ChartLayout layout;
  layout.BandTable[ccII] = {7, 9};
  layout.CursorX = 5;
  layout.PrevX = 4;
  layout.LastY[ccResp] = 3;
  SelectScreenLayout(layout, GetParam().screen);
  EXPECT_EQ(layout.BandTable[ccII], (BandEntry{7, 9}));
  EXPECT_EQ(layout.CursorX, 5);
  EXPECT_EQ(layout.PrevX, 4);
  EXPECT_EQ(layout.LastY[ccResp], 3);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, FixedFields,
    ::testing::Values(FixedCase{ScreenClass::Wide, 12, 40, 1260, 920, 30, 20, 620, 25, 11, 7, 891, 1230, 610},
                      FixedCase{ScreenClass::Medium, 12, 40, 1000, 675, 30, 20, 500, 25, 11, 9, 655, 970, 490},
                      FixedCase{ScreenClass::Narrow, 8, 40, 780, 520, 25, 0, 390, 22, 9, 5, 500, 755, 380},
                      FixedCase{ScreenClass::ExtraWide, 12, 40, 1900, 930, 30, 20, 940, 25, 11, 9, 910, 1870, 930}),
    [](const auto& test) { return std::string(ScreenName(test.param.screen)); });

TEST(ChartLayoutDefaults, EverythingStartsAtZero) {
  const ChartLayout layout;
  for (const BandEntry& band : layout.BandTable) EXPECT_EQ(band, BandEntry{});
  for (int y : layout.LastY) EXPECT_EQ(y, 0);
  EXPECT_EQ(layout.CursorX, 0);
  EXPECT_EQ(layout.PrevX, 0);
}

TEST(PrepareChart, FillsTheWholeImageLightGreyAndLeavesABlackPen) {
  const ChartLayout layout = LayoutFor(ScreenClass::Narrow);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  EXPECT_EQ(canvas.PenColor(), clBlack);
  EXPECT_EQ(canvas.BrushColor(), clChartBackground);
  for (TPoint p : {TPoint{0, 0}, TPoint{779, 0}, TPoint{0, 519}, TPoint{779, 519}, TPoint{400, 260}})
    EXPECT_EQ(canvas.PixelAt(p.X, p.Y), clChartBackground);
}

// ---- Eight-channel band layout -------------------------------------------

struct HeightCase {
  int selected;
  int wide, medium, narrow;
};

class EightChannelHeights : public ::testing::TestWithParam<HeightCase> {};

TEST_P(EightChannelHeights, SelectedBandsShareTheHeightAndStackFromTheTop) {
  const HeightCase& c = GetParam();
  for (auto [screen, expected] : {std::pair{ScreenClass::Wide, c.wide}, std::pair{ScreenClass::Medium, c.medium},
                                  std::pair{ScreenClass::Narrow, c.narrow}}) {
    // The first `selected` boxes, and again the last `selected`.
    for (bool fromEnd : {false, true}) {
      std::array<bool, 8> checked{};
      for (int i = 0; i < c.selected; ++i) checked[static_cast<std::size_t>(fromEnd ? 7 - i : i)] = true;
      const ChartLayout layout = EightChannelLayout(screen, checked);
      int total = 0;
      for (std::size_t i = 0; i < 8; ++i) {
        const BandEntry& band = layout.BandTable[kEightChannelOrder[i]];
        const int height = checked[i] ? expected : 0;
        total += height;
        EXPECT_EQ(band, (BandEntry{height, total})) << ScreenName(screen) << " channel " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, EightChannelHeights,
                         ::testing::Values(HeightCase{1, 890, 645, 495}, HeightCase{2, 445, 322, 247},
                                           HeightCase{3, 296, 215, 165}, HeightCase{4, 222, 161, 123},
                                           HeightCase{5, 178, 129, 99}, HeightCase{6, 148, 107, 82},
                                           HeightCase{7, 127, 92, 70}, HeightCase{8, 111, 80, 61}),
                         [](const auto& test) { return std::to_string(test.param.selected) + "Selected"; });

TEST(LayoutBands, WideWithAllChannelsLeavesTheStripBelowFree) {
  const ChartLayout layout = EightChannelLayout(ScreenClass::Wide);
  int expectedBottom = 111;
  for (ChartChannel channel : kEightChannelOrder) {
    EXPECT_EQ(layout.BandTable[channel], (BandEntry{111, expectedBottom}));
    expectedBottom += 111;
  }
  EXPECT_EQ(layout.BandTable[ccResp].Bottom, 888);
}

TEST(LayoutBands, UncheckedChannelsTakeNoRoomButCarryTheRunningBottom) {
  const ChartLayout layout =
      EightChannelLayout(ScreenClass::Wide, {true, false, true, false, false, false, false, false});
  EXPECT_EQ(layout.BandTable[ccI], (BandEntry{445, 445}));
  EXPECT_EQ(layout.BandTable[ccII], (BandEntry{0, 445}));
  EXPECT_EQ(layout.BandTable[ccIII], (BandEntry{445, 890}));
  for (ChartChannel channel : {ccAVR, ccAVL, ccAVF, ccC1, ccResp})
    EXPECT_EQ(layout.BandTable[channel], (BandEntry{0, 890}));
}

TEST(LayoutBands, NothingCheckedKeepsThePreviousTable) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Medium, {false, true, false, false, false, false, false, true});
  const auto before = layout.BandTable;
  LayoutBands(layout, {});
  EXPECT_EQ(layout.BandTable, before);
}

TEST(LayoutBands, ChestEntriesAreNotTouched) {
  ChartLayout layout = TwelveChannelLayout(ScreenClass::Wide);
  LayoutBands(layout, {true, true, true, true, true, true, true, true});
  for (ChartChannel channel : {ccC2, ccC3, ccC4, ccC5, ccC6}) EXPECT_EQ(layout.BandTable[channel].Height, 148);
  EXPECT_EQ(layout.BandTable[ccC6].Bottom, 888);
}

// ---- Twelve-channel band layout ------------------------------------------

class TwelveChannelBands : public ::testing::TestWithParam<std::pair<ScreenClass, int>> {};

TEST_P(TwelveChannelBands, BothColumnsStackSixBandsAndRespIsKept) {
  const auto [screen, height] = GetParam();
  ChartLayout layout = EightChannelLayout(screen, {false, false, false, false, false, false, false, true});
  const BandEntry resp = layout.BandTable[ccResp];
  LayoutBands12C(layout);
  for (int row = 0; row < 6; ++row) {
    const BandEntry expected{height, height * (row + 1)};
    EXPECT_EQ(layout.BandTable[kLimbLeads[static_cast<std::size_t>(row)]], expected) << "limb row " << row;
    EXPECT_EQ(layout.BandTable[kChestLeads[static_cast<std::size_t>(row)]], expected) << "chest row " << row;
  }
  EXPECT_EQ(layout.BandTable[ccResp], resp);
}

INSTANTIATE_TEST_SUITE_P(Classes, TwelveChannelBands,
                         ::testing::Values(std::pair{ScreenClass::Wide, 148}, std::pair{ScreenClass::Medium, 107},
                                           std::pair{ScreenClass::Narrow, 82}, std::pair{ScreenClass::ExtraWide, 150}),
                         [](const auto& test) { return std::string(ScreenName(test.param.first)); });

TEST(LayoutBands12C, NarrowColumnsEndAt492) {
  const ChartLayout layout = TwelveChannelLayout(ScreenClass::Narrow);
  EXPECT_EQ(layout.BandTable[ccAVF].Bottom, 492);
  EXPECT_EQ(layout.BandTable[ccC6].Bottom, 492);
}

// ---- Channels ---------------------------------------------------------------

struct ChannelCase {
  ChartChannel channel;
  const char* label;
  TColor color;
};

class Channels : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(Channels, LabelAndColour) {
  EXPECT_EQ(ChannelLabel(GetParam().channel), GetParam().label);
  EXPECT_EQ(ChannelColor(GetParam().channel), GetParam().color);
}

INSTANTIATE_TEST_SUITE_P(
    All, Channels,
    ::testing::Values(ChannelCase{ccI, "I", {0, 0, 255}}, ChannelCase{ccII, "II", {128, 0, 128}},
                      ChannelCase{ccIII, "III", {0, 128, 0}}, ChannelCase{ccAVR, "aVR", {255, 0, 0}},
                      ChannelCase{ccAVL, "aVL", {255, 0, 255}}, ChannelCase{ccAVF, "aVF", {0, 0, 128}},
                      ChannelCase{ccC1, "C1", {0, 128, 128}}, ChannelCase{ccC2, "C2", {0, 128, 128}},
                      ChannelCase{ccC3, "C3", {0, 128, 128}}, ChannelCase{ccC4, "C4", {0, 128, 128}},
                      ChannelCase{ccC5, "C5", {0, 128, 128}}, ChannelCase{ccC6, "C6", {0, 128, 128}},
                      ChannelCase{ccResp, "RESP", {128, 0, 0}}),
    [](const auto& test) { return std::string(test.param.label); });

}  // namespace
