// The sweep fed with records as the window feeds it: a column per record,
// the frame drawn again at the end of the plotting area in either mode, and
// a restart that lays the bands out for the mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "chart/ChartFrame.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "chart/TracePlot.h"
#include "chart_support.h"

namespace {

const TimeFormatter kFormat = [](double) { return std::string("12:00:00"); };
constexpr std::array<bool, 8> kIToIII{true, true, true, false, false, false, false, false};

TEST(ChartSweep, EachRecordIsPlottedOneColumnFurther) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide, kIToIII);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  ChartSweep sweep(layout, canvas, kFormat);
  sweep.Frame();
  const int start = layout.CursorX;
  ASSERT_EQ(start, layout.Margin + 1);
  SampleStore store;
  AppendRecord(store, 128);
  AppendRecord(store, 128);
  sweep.Plot(store, 1);
  sweep.Plot(store, 2);
  EXPECT_EQ(layout.CursorX, start + 2);
  EXPECT_EQ(layout.PrevX, start + 1);
  const int y = MapSampleToY(128, layout.BandTable[ccI], layout.BandTopPad);
  EXPECT_EQ(layout.LastY[ccI], y);
  // The segment from the first to the second record starts on the first column.
  EXPECT_EQ(canvas.PixelAt(start, y), ChannelColor(ccI));
}

// At a paper speed a record moves the cursor by the columns its time
// takes; a full sweep still writes its ten time labels, whether records
// share columns or leave columns out, and wraps after its width in time.
TEST(ChartSweep, AtAPaperSpeedTheCursorFollowsTheRecordsTimeAndEveryLabelIsWritten) {
  for (const double perColumn : {300 / (25 * 96 / 25.4), 50 / (50 * 96 / 25.4)}) {
    ChartLayout layout = EightChannelLayout(ScreenClass::Wide, kIToIII);
    RecordingCanvas canvas;
    ChartSweep sweep(layout, canvas, kFormat);
    sweep.SetRecordsPerColumn(perColumn);
    sweep.Frame();
    const int start = layout.CursorX;
    const int width = sweep.End() - start + 1;
    SampleStore store;
    for (int n = 0; n < width * 7; ++n) AppendRecord(store, 128);
    int k = 0;
    while (layout.CursorX <= sweep.End()) {
      sweep.Plot(store, ++k);
      const int due = start + static_cast<int>(std::floor(k / perColumn + 1e-9));
      if (layout.CursorX <= sweep.End()) {
        ASSERT_EQ(layout.CursorX, std::min(due, sweep.End())) << perColumn << " " << k;
      }
    }
    EXPECT_NEAR(k, width * perColumn, 2.0 + perColumn) << "the sweep's width took its time";
    const auto labels = std::count_if(canvas.texts.begin(), canvas.texts.end(),
                                      [](const auto& text) { return text.text == "12:00:00"; });
    EXPECT_EQ(labels, 10) << perColumn;
    canvas.Clear();
    sweep.Plot(store, k + 1);
    EXPECT_EQ(layout.PrevX, layout.Margin + 1) << "a fresh frame";
  }
}

struct WrapCase {
  const char* name;
  ScreenClass screen;
  bool twelve;
};

class SweepWrap : public testing::TestWithParam<WrapCase> {};

TEST_P(SweepWrap, TheRecordAtTheEndIsPlottedThereAndTheNextOneStartsAFreshFrame) {
  ChartLayout layout =
      GetParam().twelve ? TwelveChannelLayout(GetParam().screen) : EightChannelLayout(GetParam().screen, kIToIII);
  RecordingCanvas canvas;
  ChartSweep sweep(layout, canvas, kFormat, GetParam().twelve);
  sweep.Frame();
  SampleStore store;
  AppendRecord(store, 10);
  AppendRecord(store, 20);
  AppendRecord(store, 30);
  sweep.Plot(store, 1);
  layout.CursorX = sweep.End();
  canvas.Clear();
  sweep.Plot(store, 2);
  EXPECT_EQ(layout.CursorX, sweep.End() + 1);
  EXPECT_TRUE(canvas.fills.empty()) << "plotted at the end itself";
  canvas.Clear();
  sweep.Plot(store, 3);
  EXPECT_EQ(canvas.fills.size(), 1u) << "the frame was drawn again first";
  EXPECT_EQ(layout.CursorX, layout.Margin + 2);
  EXPECT_EQ(layout.PrevX, layout.Margin + 1);
  ASSERT_FALSE(canvas.lines.empty());
  // The record joins the previous sweep's last point from the left edge.
  EXPECT_EQ(canvas.lines.back().to.X, layout.Margin + 1 + (GetParam().twelve ? layout.ColumnSplit : 0));
}

INSTANTIATE_TEST_SUITE_P(, SweepWrap,
                         testing::Values(WrapCase{"EightChannelsWide", ScreenClass::Wide, false},
                                         WrapCase{"EightChannelsNarrow", ScreenClass::Narrow, false},
                                         WrapCase{"TwelveChannelsWide", ScreenClass::Wide, true},
                                         WrapCase{"TwelveChannelsMedium", ScreenClass::Medium, true}),
                         [](const auto& row) { return std::string(row.param.name); });

struct RestartCase {
  const char* name;
  bool twelve;
  std::array<bool, 8> checked;
};

class SweepRestart : public testing::TestWithParam<RestartCase> {};

TEST_P(SweepRestart, LaysTheBandsOutForTheModeAndDrawsItsEmptyFrame) {
  ChartLayout layout = LayoutFor(ScreenClass::Wide);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  ChartLayout expectedLayout = layout;
  ImageCanvas expected(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(expectedLayout, expected);
  if (GetParam().twelve) {
    LayoutBands12C(expectedLayout);
    DrawBasic12C(expectedLayout, expected);
  } else {
    LayoutBands(expectedLayout, GetParam().checked);
    DrawBasic(expectedLayout, expected);
  }
  layout.CursorX = 400;
  ChartSweep sweep(layout, canvas, kFormat, !GetParam().twelve);
  sweep.Restart(GetParam().twelve, GetParam().checked);
  EXPECT_EQ(sweep.TwelveChannel(), GetParam().twelve);
  EXPECT_EQ(layout.BandTable, expectedLayout.BandTable);
  EXPECT_EQ(layout.CursorX, layout.Margin + 1);
  EXPECT_TRUE(canvas.Image() == expected.Image());
}

INSTANTIATE_TEST_SUITE_P(
    , SweepRestart,
    testing::Values(RestartCase{"EightChannels", false, kIToIII}, RestartCase{"TwelveChannels", true, kIToIII},
                    RestartCase{"OneChannel", false, {false, false, false, false, false, false, false, true}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ChartSweep, ARestartWithNoChannelCheckedKeepsTheBands) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide, kIToIII);
  const auto bands = layout.BandTable;
  RecordingCanvas canvas;
  ChartSweep sweep(layout, canvas, kFormat);
  sweep.Restart(false, {});
  EXPECT_EQ(layout.BandTable, bands);
}

}  // namespace
