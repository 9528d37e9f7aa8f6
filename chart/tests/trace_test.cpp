#include <gtest/gtest.h>

#include "chart/ChartFrame.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "chart/TracePlot.h"
#include "chart_support.h"

namespace {

// A formatter that shows which record's time it was given.
const TimeFormatter kFormat = [](double t) { return "t=" + std::to_string(static_cast<int>(t * 86400.0 + 0.5)); };

// ---- Mapping ------------------------------------------------------------------

struct MappingCase {
  const char* name;
  BandEntry band;
  int pad;
  int sample;
  int y;
};

class SampleMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(SampleMapping, SampleGivesY) {
  EXPECT_EQ(MapSampleToY(GetParam().sample, GetParam().band, GetParam().pad), GetParam().y);
}

INSTANTIATE_TEST_SUITE_P(Bands, SampleMapping,
                         ::testing::Values(MappingCase{"WideEightBandI_0", {111, 111}, 20, 0, 111},
                                           MappingCase{"WideEightBandI_128", {111, 111}, 20, 128, 64},
                                           MappingCase{"WideEightBandI_247", {111, 111}, 20, 247, 20},
                                           MappingCase{"WideEightBandI_248", {111, 111}, 20, 248, 20},
                                           MappingCase{"WideEightBandI_255", {111, 111}, 20, 255, 17},
                                           MappingCase{"WideEightResp_128", {111, 888}, 20, 128, 841},
                                           MappingCase{"WideOneBand_0", {890, 890}, 20, 0, 890},
                                           MappingCase{"WideOneBand_247", {890, 890}, 20, 247, 20},
                                           MappingCase{"WideOneBandAboveTheImage_255", {890, 890}, 20, 255, -8},
                                           MappingCase{"MediumEightBandI_128", {80, 80}, 20, 128, 49},
                                           MappingCase{"NarrowEightBandI_247", {61, 61}, 0, 247, 0},
                                           MappingCase{"NarrowEightBandIIIntoBandI_255", {61, 122}, 0, 255, 59},
                                           MappingCase{"NarrowTwelve_1", {82, 82}, 0, 1, 82},
                                           MappingCase{"NoBand_200", {0, 445}, 20, 200, 461}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(SampleMapping, LargerValuesAreNeverDrawnLower) {
  for (const BandEntry band : {BandEntry{111, 111}, BandEntry{890, 890}, BandEntry{61, 61}, BandEntry{148, 296}}) {
    for (int s = 1; s <= 255; ++s) EXPECT_LE(MapSampleToY(s, band, 20), MapSampleToY(s - 1, band, 20)) << s;
  }
}

// ---- Eight-channel plotting -------------------------------------------------

// Appends a record whose channel k (band-table order) holds values[k].
void AppendChannels(SampleStore& store, const std::array<int, 13>& values, double time = 0.5) {
  SampleRecord& record = store.At(store.Append());
  record.time = time;
  for (int c = 0; c < 13; ++c) {
    const auto channel = static_cast<ChartChannel>(c);
    const auto value = static_cast<std::uint8_t>(values[static_cast<std::size_t>(c)]);
    if (channel >= ccC2 && channel <= ccC6) record.chest[static_cast<std::size_t>(channel - ccC2)] = value;
    else record.channels[channel == ccResp ? std::size_t{chResp} : static_cast<std::size_t>(channel)] = value;
  }
}

struct Plot {
  ChartLayout layout;
  RecordingCanvas canvas;
  SampleStore store;
  ChartSweep sweep{layout, canvas, kFormat};
  explicit Plot(ChartLayout l) : layout(l) {
    DrawBasic(layout, canvas);
    canvas.Clear();
  }
  // A record stored in eight-channel mode and handed to the sweep, as the
  // window does with each record the acquisition reports.
  void Receive8(std::uint8_t value, double time = 0.5) {
    AppendRecord(store, value, time);
    sweep.Plot(store, store.Count());
  }
};

TEST(ShowGraph, TheFirstRecordDrawsNoSegmentButSetsLastY) {
  Plot plot(EightChannelLayout(ScreenClass::Wide));
  plot.layout.CursorX = 40;
  plot.layout.PrevX = 39;
  AppendRecord(plot.store, 128);
  ShowGraph(plot.layout, plot.canvas, plot.store, 1, kFormat);
  EXPECT_TRUE(plot.canvas.lines.empty());
  for (ChartChannel channel : kEightChannelOrder)
    EXPECT_EQ(plot.layout.LastY[channel], plot.layout.BandTable[channel].Bottom - 47) << ChannelLabel(channel);
  EXPECT_EQ(plot.layout.PrevX, 40);
  EXPECT_EQ(plot.layout.CursorX, 40) << "the caller advances the cursor";
}

TEST(ShowGraph, OneSolidSegmentPerShownChannelInTheChannelsColour) {
  Plot plot(EightChannelLayout(ScreenClass::Wide, {true, false, true, false, false, false, true, true}));
  plot.Receive8(0);
  plot.canvas.Clear();
  plot.Receive8(247);
  const ChartLayout& l = plot.layout;
  ASSERT_EQ(plot.canvas.lines.size(), 4u);
  const ChartChannel shown[] = {ccI, ccIII, ccC1, ccResp};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& line = plot.canvas.lines[i];
    const BandEntry band = l.BandTable[shown[i]];
    EXPECT_EQ(line.from, (TPoint{31, band.Bottom})) << i;
    EXPECT_EQ(line.to, (TPoint{32, band.Bottom - band.Height + 20})) << i;
    EXPECT_EQ(line.color, ChannelColor(shown[i])) << i;
    EXPECT_EQ(line.style, psSolid) << i;
  }
}

TEST(ShowGraph, AHiddenChannelKeepsItsLastYUntilShownAgain) {
  Plot plot(EightChannelLayout(ScreenClass::Wide));
  plot.Receive8(0);
  plot.Receive8(100);
  const int oldY = plot.layout.LastY[ccII];
  LayoutBands(plot.layout, {true, false, false, false, false, false, false, false});
  DrawBasic(plot.layout, plot.canvas);
  plot.Receive8(200);
  EXPECT_EQ(plot.layout.LastY[ccII], oldY);
  LayoutBands(plot.layout, {true, true, false, false, false, false, false, false});
  DrawBasic(plot.layout, plot.canvas);
  plot.canvas.Clear();
  plot.Receive8(0);
  ASSERT_EQ(plot.canvas.lines.size(), 2u);
  EXPECT_EQ(plot.canvas.lines[1].from, (TPoint{30, oldY}));
  EXPECT_EQ(plot.canvas.lines[1].to, (TPoint{31, 890}));
}

TEST(ShowGraph, TheFirstSegmentAfterAWrapStartsAtTheMarginFromTheLastY) {
  Plot plot(EightChannelLayout(ScreenClass::Narrow, {false, false, false, false, false, false, false, true}));
  std::vector<int> xs;
  for (int i = 0; i < 730; ++i) plot.Receive8(static_cast<std::uint8_t>(i % 200));
  EXPECT_EQ(plot.layout.CursorX, 756);
  EXPECT_EQ(plot.canvas.lines.back().to.X, 755) << "the record at RightEdge is plotted";
  const int lastY = plot.layout.LastY[ccResp];
  plot.canvas.Clear();
  plot.Receive8(50);
  ASSERT_EQ(plot.canvas.fills.size(), 1u) << "the frame was redrawn first";
  ASSERT_EQ(plot.canvas.lines.back().from, (TPoint{25, lastY}));
  EXPECT_EQ(plot.canvas.lines.back().to, (TPoint{26, MapSampleToY(50, plot.layout.BandTable[ccResp], 0)}));
}

TEST(ShowGraph, TheTraceJoinsTheAxisAfterAWrapOnTheImage) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide, {true, false, false, false, false, false, false, false});
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  SampleStore store;
  ChartSweep sweep(layout, canvas, kFormat);
  sweep.Frame();
  for (int i = 0; i < 1201; ++i) {
    AppendRecord(store, i < 1200 ? 100 : 200);
    sweep.Plot(store, store.Count());
  }
  const int y100 = MapSampleToY(100, layout.BandTable[ccI], 20), y200 = MapSampleToY(200, layout.BandTable[ccI], 20);
  EXPECT_EQ(canvas.PixelAt(30, y100), clBlue) << "first pixel of the joining segment lies on the axis";
  EXPECT_NE(canvas.PixelAt(31, y200), clBlue) << "its end point waits for the next record";
  EXPECT_EQ(canvas.PixelAt(500, y100), clChartBackground) << "the old sweep is gone";
}

TEST(ShowGraph, SegmentsOnTheImageLeaveNoGaps) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide, {true, false, false, false, false, false, false, false});
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  ChartSweep sweep(layout, canvas, kFormat);
  sweep.Frame();
  SampleStore store;
  const int values[] = {0, 247, 10, 10, 128, 255, 0};
  for (int v : values) {
    AppendRecord(store, static_cast<std::uint8_t>(v));
    sweep.Plot(store, store.Count());
  }
  // Between consecutive records every y from one value to the next is covered.
  for (std::size_t i = 1; i + 1 < std::size(values); ++i) {
    const int x0 = 31 + static_cast<int>(i) - 1;
    const int ya = MapSampleToY(values[i - 1], layout.BandTable[ccI], 20);
    const int yb = MapSampleToY(values[i], layout.BandTable[ccI], 20);
    for (int y = std::max(0, std::min(ya, yb) + 1); y < std::max(ya, yb); ++y)
      EXPECT_TRUE(canvas.PixelAt(x0, y) == clBlue || canvas.PixelAt(x0 + 1, y) == clBlue) << "x " << x0 << " y " << y;
  }
}

// ---- Twelve-channel plotting --------------------------------------------------

TEST(ShowGraph12C, PlotsAllTwelveChannelsWithTheChestLeadsInTheRightColumn) {
  ChartLayout layout = TwelveChannelLayout(ScreenClass::Medium);
  RecordingCanvas canvas;
  ChartSweep sweep(layout, canvas, kFormat, true);
  sweep.Frame();
  SampleStore store;
  std::array<int, 13> first{}, second{};
  for (int c = 0; c < 13; ++c) {
    first[static_cast<std::size_t>(c)] = 10 * c;
    second[static_cast<std::size_t>(c)] = 240 - 10 * c;
  }
  layout.LastY[ccResp] = 4242;
  AppendChannels(store, first);
  sweep.Plot(store, 1);
  EXPECT_EQ(layout.CursorX, 32);
  EXPECT_EQ(layout.PrevX, 31);
  canvas.Clear();
  AppendChannels(store, second);
  sweep.Plot(store, 2);
  ASSERT_EQ(canvas.lines.size(), 12u);
  const ChartChannel order[] = {ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1, ccC2, ccC3, ccC4, ccC5, ccC6};
  for (std::size_t i = 0; i < 12; ++i) {
    const ChartChannel channel = order[i];
    const int offset = i < 6 ? 0 : 500;
    const BandEntry band = layout.BandTable[channel];
    EXPECT_EQ(canvas.lines[i].from, (TPoint{31 + offset, MapSampleToY(first[channel], band, 20)})) << i;
    EXPECT_EQ(canvas.lines[i].to, (TPoint{32 + offset, MapSampleToY(second[channel], band, 20)})) << i;
    EXPECT_EQ(canvas.lines[i].color, ChannelColor(channel)) << i;
  }
  EXPECT_EQ(layout.LastY[ccResp], 4242) << "Resp is not read";
  EXPECT_EQ(layout.CursorX, 33);
  EXPECT_EQ(layout.PrevX, 32);
}

TEST(ShowGraph12C, PlotsEveryChannelWhateverItsBandHeight) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide, {true, false, false, false, false, false, false, false});
  RecordingCanvas canvas;
  SampleStore store;
  AppendRecord(store, 1);
  AppendRecord(store, 2);
  ShowGraph12C(layout, canvas, store, 2, kFormat);
  EXPECT_EQ(canvas.lines.size(), 12u);
}

TEST(ShowGraph12C, AChestFrameBeforeAnySampleDrawsNothingButAdvances) {
  ChartLayout layout = TwelveChannelLayout(ScreenClass::Wide);
  RecordingCanvas canvas;
  ChartSweep sweep(layout, canvas, kFormat, true);
  sweep.Frame();
  canvas.Clear();
  SampleStore store;
  store.At(0).channels[chI] = 247;  // the header slot
  sweep.Plot(store, store.Count());
  EXPECT_TRUE(canvas.lines.empty());
  EXPECT_EQ(layout.LastY[ccI], 20);
  EXPECT_EQ(layout.CursorX, 32);
}

TEST(ShowGraph12C, RightColumnTracesRunPastTheGridInTheSmallerClasses) {
  for (auto [screen, lastRight] :
       {std::pair{ScreenClass::Wide, 1230}, std::pair{ScreenClass::Medium, 990}, std::pair{ScreenClass::Narrow, 770}}) {
    ChartLayout layout = TwelveChannelLayout(screen);
    RecordingCanvas canvas;
    ChartSweep sweep(layout, canvas, kFormat, true);
    sweep.Frame();
    canvas.Clear();
    SampleStore store;
    while (layout.CursorX <= layout.LeftColumnRight) {
      AppendRecord(store, 9);
      sweep.Plot(store, store.Count());
    }
    EXPECT_EQ(canvas.lines.back().to.X, lastRight) << ScreenName(screen);
    EXPECT_EQ(canvas.lines[5].to.X, layout.Margin + 2) << ScreenName(screen);
  }
}

// ---- Time labels -------------------------------------------------------------

struct LabelCase {
  ScreenClass screen;
  std::vector<int> eight, twelve;  // x before the shift
};

class TimeLabels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(TimeLabels, EightChannelSweepLabelsEveryTenthOfTheWidth) {
  const ChartLayout base = EightChannelLayout(GetParam().screen);
  Plot plot(base);
  int n = 0;
  while (plot.layout.CursorX <= plot.layout.RightEdge) plot.Receive8(7, ++n / 86400.0);
  std::vector<int> xs;
  for (const auto& text : plot.canvas.texts) {
    xs.push_back(text.x + base.TimeLabelShift);
    EXPECT_EQ(text.y, base.ChartHeight - 20);
    EXPECT_EQ(text.size, base.TimeFontSize);
    EXPECT_EQ(text.color, clBlack);
    // The label carries the time of the record plotted at its x.
    EXPECT_EQ(text.text, "t=" + std::to_string(text.x + base.TimeLabelShift - base.Margin));
  }
  EXPECT_EQ(xs, GetParam().eight);
}

TEST_P(TimeLabels, TwelveChannelSweepKeepsTheFullWidthInterval) {
  ChartLayout layout = TwelveChannelLayout(GetParam().screen);
  RecordingCanvas canvas;
  ChartSweep sweep(layout, canvas, kFormat, true);
  sweep.Frame();
  canvas.Clear();
  SampleStore store;
  while (layout.CursorX <= layout.LeftColumnRight) {
    AppendRecord(store, 7);
    sweep.Plot(store, store.Count());
  }
  std::vector<int> xs;
  for (const auto& text : canvas.texts) {
    xs.push_back(text.x + layout.TimeLabelShift);
    EXPECT_EQ(text.y, layout.ChartHeight - 20);
    EXPECT_EQ(text.size, layout.TimeFontSize);
  }
  EXPECT_EQ(xs, GetParam().twelve);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, TimeLabels,
    ::testing::Values(
        LabelCase{ScreenClass::Wide, {150, 270, 390, 510, 630, 750, 870, 990, 1110, 1230}, {150, 270, 390, 510}},
        LabelCase{ScreenClass::Medium, {124, 218, 312, 406, 500, 594, 688, 782, 876, 970}, {124, 218, 312, 406}},
        LabelCase{ScreenClass::Narrow, {98, 171, 244, 317, 390, 463, 536, 609, 682, 755}, {98, 171, 244, 317}}),
    [](const auto& test) { return std::string(ScreenName(test.param.screen)); });

TEST(TimeLabels, AreDrawnOpaqueInBlackBelowTheBands) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  ChartSweep sweep(layout, canvas, LocaleTimeFormatter());
  sweep.Frame();
  SampleStore store;
  while (layout.CursorX <= 150) {
    AppendRecord(store, 0, 0.5);
    sweep.Plot(store, store.Count());
  }
  int black = 0;
  for (int y = 900; y < 920; ++y)
    for (int x = 125; x < 200; ++x) black += canvas.PixelAt(x, y) == clBlack ? 1 : 0;
  EXPECT_GT(black, 30);
  EXPECT_EQ(canvas.PixelAt(125, 900), clChartBackground);
  for (int x = 0; x < 125; ++x) ASSERT_EQ(canvas.PixelAt(x, 905), clChartBackground) << x;
}

TEST(TimeLabels, AnEmptyFormatterFallsBackToTheLocaleTime) {
  ChartLayout layout = EightChannelLayout(ScreenClass::Wide);
  RecordingCanvas canvas;
  SampleStore store;
  AppendRecord(store, 0, 0.5);
  layout.CursorX = 150;
  ShowGraph(layout, canvas, store, 1, TimeFormatter{});
  ASSERT_EQ(canvas.texts.size(), 1u);
  EXPECT_EQ(canvas.texts[0].text, LongTimeText(0.5));
}

TEST(TimeLabels, ALayoutWithoutAScreenClassLabelsNothing) {
  ChartLayout layout;  // no SelectScreenLayout yet: interval 0
  RecordingCanvas canvas;
  SampleStore store;
  AppendRecord(store, 0);
  EXPECT_NO_THROW(ShowGraph(layout, canvas, store, 1, kFormat));
  EXPECT_NO_THROW(ShowGraph12C(layout, canvas, store, 1, kFormat));
  EXPECT_TRUE(canvas.texts.empty());
}

}  // namespace
