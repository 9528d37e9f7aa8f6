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

// ---- Traces inside their frames ---------------------------------------------

struct FrameCase {
  ScreenClass screen;
  bool twelve;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << ScreenName(c.screen) << (c.twelve ? " 12" : " 8"); }

class TracesInsideTheirFrames : public ::testing::TestWithParam<FrameCase> {};

// Where a lead's colour may show: its band from the axis to the end of its
// grid. The six chest leads share teal, so they share the right column.
TRect AllowedArea(const ChartLayout& layout, ChartChannel channel, bool twelve) {
  const BandEntry band = layout.BandTable[channel];
  if (!twelve) return {layout.Margin, band.Bottom - band.Height, layout.RightEdge + 1, band.Bottom + 1};
  if (channel >= ccC1 && channel <= ccC6)
    return {layout.ColumnSplit + layout.Margin, 0, layout.RightEdge + 1, layout.BandTable[ccC6].Bottom + 1};
  return {layout.Margin, band.Bottom - band.Height, layout.LeftColumnRight + 1, band.Bottom + 1};
}

TEST_P(TracesInsideTheirFrames, NoLeadIsDrawnPastTheEndOfItsGrid) {
  const auto [screen, twelve] = GetParam();
  ChartLayout layout = twelve ? TwelveChannelLayout(screen) : EightChannelLayout(screen);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  SampleStore store;
  ChartSweep sweep(layout, canvas, kFormat, twelve);
  sweep.Frame();
  // A sweep and a half of full-scale swings, so every column holds a steep
  // segment and the picture shows a wrap; the last records of the first
  // sweep are looked at before the wrap wipes them.
  const int perSweep = sweep.End() - layout.Margin;
  auto plot = [&](int n) {
    AppendRecord(store, static_cast<std::uint8_t>(n % 2 == 0 ? 0 : 247));
    sweep.Plot(store, store.Count());
  };
  int n = 1;
  for (; n <= perSweep; ++n) plot(n);
  const std::vector<ChartChannel> shown =
      twelve ? std::vector<ChartChannel>{ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1, ccC2, ccC3, ccC4, ccC5, ccC6}
             : std::vector<ChartChannel>(kEightChannelOrder.begin(), kEightChannelOrder.end());
  auto check = [&](const char* when, bool wholeSweep) {
    SCOPED_TRACE(when);
    for (ChartChannel channel : shown) {
      const TRect allowed = AllowedArea(layout, channel, twelve);
      int inside = 0;
      for (int y = 0; y < layout.ChartHeight; ++y) {
        for (int x = 0; x < layout.ChartWidth; ++x) {
          if (canvas.PixelAt(x, y) != ChannelColor(channel)) continue;
          const bool within = x >= allowed.Left && x < allowed.Right && y >= allowed.Top && y < allowed.Bottom;
          ASSERT_TRUE(within) << ChannelLabel(channel) << " at " << x << "," << y;
          ++inside;
        }
      }
      // The trace runs to the end of its grid: the last column holds it.
      int atEnd = 0;
      for (int y = allowed.Top; y < allowed.Bottom; ++y)
        atEnd += canvas.PixelAt(allowed.Right - 2, y) == ChannelColor(channel) ? 1 : 0;
      if (wholeSweep) {
        EXPECT_GT(atEnd, 0) << ChannelLabel(channel) << " stops short of its grid's end";
      }
      EXPECT_GT(inside, perSweep / 2) << ChannelLabel(channel);
    }
  };
  check("a whole sweep", true);
  for (; n <= perSweep * 3 / 2; ++n) plot(n);
  check("after the wrap", false);
}

INSTANTIATE_TEST_SUITE_P(ClassesAndModes, TracesInsideTheirFrames,
                         ::testing::Values(FrameCase{ScreenClass::Wide, false}, FrameCase{ScreenClass::Wide, true},
                                           FrameCase{ScreenClass::Medium, false}, FrameCase{ScreenClass::Medium, true},
                                           FrameCase{ScreenClass::Narrow, false}, FrameCase{ScreenClass::Narrow, true},
                                           FrameCase{ScreenClass::ExtraWide, false},
                                           FrameCase{ScreenClass::ExtraWide, true}),
                         [](const auto& test) {
                           return std::string(ScreenName(test.param.screen)) + (test.param.twelve ? "12" : "8");
                         });

TEST(ShowGraph12C, TheChestColumnEndsWithItsGridAndTheLimbColumnWithItsOwn) {
  for (auto [screen, lastLimb, lastChest] :
       {std::tuple{ScreenClass::Wide, 610, 1230}, std::tuple{ScreenClass::Medium, 490, 970},
        std::tuple{ScreenClass::Narrow, 380, 755}, std::tuple{ScreenClass::ExtraWide, 930, 1870}}) {
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
    int limbEnd = 0, chestEnd = 0;
    for (const auto& line : canvas.lines) {
      int& end = line.color == clTeal ? chestEnd : limbEnd;
      end = std::max(end, line.to.X);
    }
    EXPECT_EQ(limbEnd, lastLimb) << ScreenName(screen);
    EXPECT_EQ(chestEnd, lastChest) << ScreenName(screen);
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
    EXPECT_EQ(text.y, base.TimeLabelTop);
    EXPECT_EQ(text.size, base.TimeFontSize);
    EXPECT_EQ(text.color, clBlack);
    // The label carries the time of the record plotted at its x.
    EXPECT_EQ(text.text, "t=" + std::to_string(text.x + base.TimeLabelShift - base.Margin));
  }
  EXPECT_EQ(xs, GetParam().eight);
}

TEST_P(TimeLabels, TwelveChannelSweepLabelsBothColumnsAtTheFullWidthInterval) {
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
    EXPECT_EQ(text.y, layout.TimeLabelTop);
    EXPECT_EQ(text.size, layout.TimeFontSize);
  }
  EXPECT_EQ(xs, GetParam().twelve);
  // Each pair is one record's time, under the limb leads and the chest leads.
  for (std::size_t i = 0; i + 1 < canvas.texts.size(); i += 2)
    EXPECT_EQ(canvas.texts[i].text, canvas.texts[i + 1].text);
}

INSTANTIATE_TEST_SUITE_P(Classes, TimeLabels,
                         ::testing::Values(LabelCase{ScreenClass::Wide,
                                                     {150, 270, 390, 510, 630, 750, 870, 990, 1110, 1230},
                                                     {150, 770, 270, 890, 390, 1010, 510, 1130}},
                                           LabelCase{ScreenClass::Medium,
                                                     {124, 218, 312, 406, 500, 594, 688, 782, 876, 970},
                                                     {124, 624, 218, 718, 312, 812, 406, 906}},
                                           LabelCase{ScreenClass::Narrow,
                                                     {98, 171, 244, 317, 390, 463, 536, 609, 682, 755},
                                                     {98, 488, 171, 561, 244, 634, 317, 707}},
                                           LabelCase{ScreenClass::ExtraWide,
                                                     {214, 398, 582, 766, 950, 1134, 1318, 1502, 1686, 1870},
                                                     {214, 1154, 398, 1338, 582, 1522, 766, 1706}}),
                         [](const auto& test) { return std::string(ScreenName(test.param.screen)); });

class TimeLabelsOnTheImage : public ::testing::TestWithParam<ScreenClass> {};

// Below the lowest band and above the strip the window's status bar covers
// (Wide: the image below y 900; Medium: below 668), whatever the channels.
TEST_P(TimeLabelsOnTheImage, AreDrawnInBlackBetweenTheBandsAndTheStatusBar) {
  const ScreenClass screen = GetParam();
  const int shownHeight = screen == ScreenClass::Wide     ? 900
                          : screen == ScreenClass::Medium ? 668
                                                          : LayoutFor(screen).ChartHeight;
  for (int selected = 1; selected <= 8; ++selected) {
    std::array<bool, 8> checked{};
    for (int i = 0; i < selected; ++i) checked[static_cast<std::size_t>(i)] = true;
    ChartLayout layout = EightChannelLayout(screen, checked);
    ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
    PrepareChart(layout, canvas);
    ChartSweep sweep(layout, canvas, LocaleTimeFormatter());
    sweep.Frame();
    SampleStore store;
    const int firstLabel = layout.Margin + (layout.RightEdge - layout.Margin) / 10;
    while (layout.CursorX <= firstLabel) {
      AppendRecord(store, 100, 0.5);
      sweep.Plot(store, store.Count());
    }
    int lowest = 0;
    for (const BandEntry& band : layout.BandTable) lowest = std::max(lowest, band.Bottom);
    const int left = firstLabel - layout.TimeLabelShift;
    int black = 0, top = layout.ChartHeight, bottom = 0;
    for (int y = 0; y < layout.ChartHeight; ++y) {
      for (int x = left; x < left + 60; ++x) {
        if (canvas.PixelAt(x, y) != clBlack || y <= lowest) continue;
        ++black;
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
    SCOPED_TRACE(std::to_string(selected) + " channels");
    EXPECT_GT(black, 20);
    EXPECT_GE(top, layout.TimeLabelTop);
    EXPECT_LT(bottom, shownHeight);
    // The lowest base line stays whole beside and under the label.
    for (int x = layout.Margin; x < layout.RightEdge; ++x) ASSERT_EQ(canvas.PixelAt(x, lowest), clBlack) << x;
    for (int x = 0; x < left; ++x) ASSERT_EQ(canvas.PixelAt(x, layout.TimeLabelTop + 3), clChartBackground) << x;
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, TimeLabelsOnTheImage,
                         ::testing::Values(ScreenClass::Wide, ScreenClass::Medium, ScreenClass::Narrow,
                                           ScreenClass::ExtraWide),
                         [](const auto& test) { return std::string(ScreenName(test.param)); });

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
