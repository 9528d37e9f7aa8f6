#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "chart/ChartFrame.h"
#include "chart/ChartReview.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "chart/TracePlot.h"
#include "chart_support.h"

namespace {

// hh:mm:ss of a day fraction, to the nearest second.
const TimeFormatter kClock = [](double t) {
  const long s = std::lround(t * 86400.0);
  char text[16];
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", s / 3600 % 24, s / 60 % 60, s % 60);
  return std::string(text);
};

// ---- View arithmetic ----------------------------------------------------------

struct PerViewCase {
  ScreenClass screen;
  bool twelve;
  int compression;
  int records;
};

TEST(RecordsPerView, PlotWidthTimesCompressionPerModeAndScreen) {
  const PerViewCase cases[] = {
      {ScreenClass::Wide, false, 1, 1200},  {ScreenClass::Wide, false, 8, 9600},   {ScreenClass::Wide, true, 1, 580},
      {ScreenClass::Wide, true, 4, 2320},   {ScreenClass::Medium, false, 2, 1880}, {ScreenClass::Medium, true, 1, 460},
      {ScreenClass::Narrow, false, 1, 730}, {ScreenClass::Narrow, true, 8, 2840},
  };
  for (const PerViewCase& c : cases) {
    EXPECT_EQ(RecordsPerView(LayoutFor(c.screen), c.twelve, c.compression), c.records)
        << ScreenName(c.screen) << (c.twelve ? " twelve" : " eight") << " x" << c.compression;
  }
}

struct StepCase {
  const char* name;
  int count, perView, first;
  ReviewStep step;
  int expected;
};

class ViewStepping : public ::testing::TestWithParam<StepCase> {};

TEST_P(ViewStepping, StepsAndStaysWithinTheRecording) {
  const StepCase& c = GetParam();
  EXPECT_EQ(StepViewFirst(c.first, c.step, c.count, c.perView), c.expected);
}

using enum ReviewStep;
INSTANTIATE_TEST_SUITE_P(Views, ViewStepping,
                         ::testing::Values(
                             // First, middle and last view of 80000 records, 1200 a view.
                             StepCase{"FirstViewTenthOn", 80000, 1200, 1, TenthOn, 121},
                             StepCase{"FirstViewTenthBackStays", 80000, 1200, 1, TenthBack, 1},
                             StepCase{"FirstViewPageOn", 80000, 1200, 1, ViewOn, 1201},
                             StepCase{"MiddleTenthBack", 80000, 1200, 24001, TenthBack, 23881},
                             StepCase{"MiddlePageBack", 80000, 1200, 24001, ViewBack, 22801},
                             StepCase{"MiddlePageOn", 80000, 1200, 24001, ViewOn, 25201},
                             StepCase{"MiddleHome", 80000, 1200, 24001, Start, 1},
                             StepCase{"MiddleEnd", 80000, 1200, 24001, End, 78801},
                             StepCase{"LastViewTenthOnStays", 80000, 1200, 78801, TenthOn, 78801},
                             StepCase{"LastViewPageOnStays", 80000, 1200, 78801, ViewOn, 78801},
                             StepCase{"NearTheEndPageOnStopsAtTheLastView", 80000, 1200, 78000, ViewOn, 78801},
                             StepCase{"NearTheStartPageBackStopsAtTheFirst", 80000, 1200, 700, ViewBack, 1},
                             // Compression 8: 9600 a view, a tenth is 960.
                             StepCase{"CompressedTenthOn", 80000, 9600, 1, TenthOn, 961},
                             StepCase{"CompressedEnd", 80000, 9600, 1, End, 70401},
                             StepCase{"CompressedPageOnNearTheEnd", 80000, 9600, 65000, ViewOn, 70401},
                             // Twelve-channel views of 580 records: a tenth is 58.
                             StepCase{"TwelveTenthOn", 80000, 580, 1, TenthOn, 59},
                             // A recording shorter than a view has one view only.
                             StepCase{"ShortRecordingEnd", 500, 1200, 1, End, 1},
                             StepCase{"ShortRecordingPageOn", 500, 1200, 1, ViewOn, 1},
                             StepCase{"EmptyRecordingEnd", 0, 1200, 1, End, 1},
                             // A first record out of range (a stale position) is brought back.
                             StepCase{"StaleFirstPastTheEndTenthBack", 3000, 1200, 9000, TenthBack, 1801}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ViewClamp, FirstRecordLiesBetweenOneAndTheLastViewsFirst) {
  const std::tuple<int, int, int, int> cases[] = {
      // first, count, perView, clamped
      {0, 80000, 1200, 1},         {-5, 80000, 1200, 1},        {1, 80000, 1200, 1},
      {40000, 80000, 1200, 40000}, {78801, 80000, 1200, 78801}, {78802, 80000, 1200, 78801},
      {80000, 80000, 1200, 78801}, {2, 1200, 1200, 1},          {2, 1201, 1200, 2},
      {50, 10, 1200, 1},
  };
  for (auto [first, count, perView, clamped] : cases)
    EXPECT_EQ(ClampViewFirst(first, count, perView), clamped) << first << " of " << count << " by " << perView;
}

// ---- Readout ------------------------------------------------------------------

// Records at 300 a second from 14:02:00, each channel byte `value`.
void FillAt300(SampleStore& store, int count, std::uint8_t value = 10) {
  const double start = (14 * 3600 + 2 * 60) / 86400.0;
  for (int n = 1; n <= count; ++n) AppendRecord(store, value, start + (n - 1) / 300.0 / 86400.0);
}

TEST(ReviewReadout, NamesTheShownRecordsAndTheirTimes) {
  SampleStore store;
  FillAt300(store, 80000);
  EXPECT_EQ(ReviewReadout(store, 24001, 1200, kClock), "records 24001-25200 of 80000, 14:03:20 - 14:03:24");
  EXPECT_EQ(ReviewReadout(store, 1, 1200, kClock), "records 1-1200 of 80000, 14:02:00 - 14:02:04");
  EXPECT_EQ(ReviewReadout(store, 78801, 1200, kClock), "records 78801-80000 of 80000, 14:06:23 - 14:06:27");
  EXPECT_EQ(ReviewReadout(store, 99999, 1200, kClock), "records 78801-80000 of 80000, 14:06:23 - 14:06:27")
      << "a position past the end shows the last view";
  EXPECT_EQ(ReviewReadout(store, 1, 9600, kClock), "records 1-9600 of 80000, 14:02:00 - 14:02:32");
  EXPECT_EQ(ReviewReadout(store, 1, 1200, kClock, ReviewSpan{440000, 540000}),
            "records 440001-441200 of 540000, 14:02:00 - 14:02:04")
      << "a part of a longer file is numbered in the file";
}

TEST(BeatMarks, TickTheBeatsOfTheViewInTheLeadsColourAtTheTopOfItsBand) {
  ChartLayout layout = LayoutFor(ScreenClass::Wide);
  LayoutBands(layout, {true, true, true, false, false, false, false, false});
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  const std::vector<int> beats{50, 150, 300, 2000};
  DrawBeatMarks(layout, false, canvas, SweepColumns(layout, 101, 2), 1300, ccII, beats);
  const BandEntry& band = layout.BandTable[ccII];
  const int y = band.Bottom - band.Height + 2 + kBeatMarkHeight / 2;
  const int x0 = layout.Margin + 1;
  EXPECT_EQ(canvas.PixelAt(x0 + 24, y), ChannelColor(ccII)) << "record 150, 49 records into the view at 2 per pixel";
  EXPECT_EQ(canvas.PixelAt(x0 + 99, y), ChannelColor(ccII)) << "record 300";
  int ticks = 0;
  for (int x = 0; x < layout.ChartWidth; ++x) ticks += canvas.PixelAt(x, y) == ChannelColor(ccII);
  EXPECT_EQ(ticks, 2) << "records 50 and 2000 lie outside the view";
}

TEST(MvPulses, ShowEachCalibratedLeadsMillivoltInTheMarginOfItsBand) {
  ChartLayout layout = LayoutFor(ScreenClass::Wide);
  LayoutBands(layout, {true, true, true, false, false, false, false, false});
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  MvScales scales{};
  scales[ccII] = MvScale{128, 40};
  scales[ccIII] = MvScale{128, 400};  // taller than its band: not drawn
  DrawReview(SampleStore{}, layout, false, canvas, 1, 1, kClock, scales);
  auto blackInMargin = [&](ChartChannel channel) {
    const BandEntry& band = layout.BandTable[channel];
    int black = 0;
    for (int x = 0; x < layout.Margin; ++x)
      for (int y = band.Bottom - band.Height + layout.BandTopPad; y <= band.Bottom; ++y)
        black += canvas.PixelAt(x, y) == clBlack;
    return black;
  };
  const BandEntry& ii = layout.BandTable[ccII];
  const int top = MapSampleToY(168, ii, layout.BandTopPad);
  EXPECT_EQ(canvas.PixelAt(layout.Margin - 8, top), clBlack) << "the pulse's top, 1 mV above the zero";
  EXPECT_EQ(canvas.PixelAt(layout.Margin - 8, top - 2), clChartBackground);
  EXPECT_GT(blackInMargin(ccII), 40);
  EXPECT_EQ(blackInMargin(ccI), 0) << "uncalibrated: no scale";
  EXPECT_EQ(blackInMargin(ccIII), 0);
}

TEST(ReviewReadout, ShortAndEmptyRecordings) {
  SampleStore store;
  EXPECT_EQ(ReviewReadout(store, 1, 1200, kClock), "no records");
  FillAt300(store, 500);
  EXPECT_EQ(ReviewReadout(store, 1, 1200, kClock), "records 1-500 of 500, 14:02:00 - 14:02:02");
}

// ---- The redrawn view -----------------------------------------------------------

// Eight-channel Wide chart with I (band y 20..445) and II (465..890) shown.
ChartLayout TwoLeadLayout() {
  return EightChannelLayout(ScreenClass::Wide, {true, true, false, false, false, false, false, false});
}

// A quiet recording (every byte 0) with full-scale peaks: lead I at each
// record of `peaksI`, lead II at each of `peaksII`.
void FillWithPeaks(SampleStore& store, int count, std::initializer_list<int> peaksI,
                   std::initializer_list<int> peaksII) {
  FillAt300(store, count, 0);
  for (int n : peaksI) store.At(n).channels[chI] = 247;
  for (int n : peaksII) store.At(n).channels[chII] = 247;
}

// Columns in which the top row of a band's signal span holds `colour`.
std::vector<int> ColumnsAtTop(const ImageCanvas& canvas, const ChartLayout& layout, ChartChannel channel, TColor colour,
                              int xOffset = 0) {
  const BandEntry band = layout.BandTable[channel];
  const int top = band.Bottom - band.Height + layout.BandTopPad;
  std::vector<int> xs;
  for (int x = layout.Margin + 1 + xOffset; x <= layout.RightEdge + xOffset && x < canvas.Width(); ++x)
    if (canvas.PixelAt(x, top) == colour) xs.push_back(x);
  return xs;
}

struct ViewPicture {
  const char* name;
  int first;
  int compression;
  std::vector<int> peakColumnsI, peakColumnsII;
};

class ReviewPicture : public ::testing::TestWithParam<ViewPicture> {};

TEST_P(ReviewPicture, PeaksLandInTheirBandsAtTheirRecordsColumns) {
  const ViewPicture& c = GetParam();
  SampleStore store;
  // First view of 1200: peaks at records 100 (I) and 700 (II). Last view
  // 3801..5000: 4990 (I), 3900 (II). Compressed by 4 (4800 a view), the
  // first view's columns are (n - 1) / 4.
  FillWithPeaks(store, 5000, {100, 4990}, {700, 3900});
  const ChartLayout layout = TwoLeadLayout();
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  DrawReview(store, layout, false, canvas, c.first, c.compression, kClock);
  EXPECT_EQ(ColumnsAtTop(canvas, layout, ccI, clBlue), c.peakColumnsI);
  EXPECT_EQ(ColumnsAtTop(canvas, layout, ccII, clPurple), c.peakColumnsII);
  // Nothing of lead I strays into band II and back.
  EXPECT_TRUE(ColumnsAtTop(canvas, layout, ccII, clBlue).empty());
  EXPECT_TRUE(ColumnsAtTop(canvas, layout, ccI, clPurple).empty());
  // The empty frame is there: both bands' axes.
  EXPECT_EQ(canvas.PixelAt(layout.Margin, layout.BandTable[ccI].Bottom - 5), clBlack);
  EXPECT_EQ(canvas.PixelAt(layout.Margin, layout.BandTable[ccII].Bottom - 5), clBlack);
}

INSTANTIATE_TEST_SUITE_P(
    Views, ReviewPicture,
    ::testing::Values(ViewPicture{"FirstView", 1, 1, {31 + 99}, {31 + 699}},
                      ViewPicture{"LastView", 3801, 1, {31 + 4990 - 3801}, {31 + 3900 - 3801}},
                      ViewPicture{"PastTheEndShowsTheLastView", 4500, 1, {31 + 4990 - 3801}, {31 + 3900 - 3801}},
                      ViewPicture{"FirstViewBy4", 1, 4, {31 + 99 / 4}, {31 + 699 / 4, 31 + 3899 / 4}},
                      ViewPicture{"LastViewBy4", 201, 4, {31 + 4789 / 4}, {31 + 499 / 4, 31 + 3699 / 4}},
                      ViewPicture{
                          "WholeRecordingBy8", 1, 8, {31 + 99 / 8, 31 + 4989 / 8}, {31 + 699 / 8, 31 + 3899 / 8}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ReviewPicture, CompressedColumnsSpanTheirRecordsRange) {
  SampleStore store;
  FillWithPeaks(store, 5000, {100}, {});
  const ChartLayout layout = TwoLeadLayout();
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  DrawReview(store, layout, false, canvas, 1, 8, kClock);
  const int x = 31 + 99 / 8;
  // The peak's column reaches from the base line to the top in one stroke.
  for (int y = 20; y <= 445; y += 25) EXPECT_EQ(canvas.PixelAt(x, y), clBlue) << "y " << y;
  EXPECT_NE(canvas.PixelAt(x - 1, 200), clBlue);
  EXPECT_NE(canvas.PixelAt(x + 1, 200), clBlue);
  // 5000 records by 8 fill 625 columns (the last one's end point waits, as
  // live); the rest of the sweep stays empty.
  EXPECT_EQ(canvas.PixelAt(31 + 623, 445), clBlue);
  EXPECT_NE(canvas.PixelAt(31 + 626, 445), clBlue);
}

TEST(ReviewPicture, TwelveChannelViewsDrawTheChestLeadsInTheRightColumn) {
  SampleStore store;
  FillAt300(store, 3000, 0);
  store.At(2500).chest[1] = 247;  // C3
  store.At(2500).channels[chAVF] = 247;
  const ChartLayout layout = TwelveChannelLayout(ScreenClass::Wide);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  DrawReview(store, layout, true, canvas, 3000, 1, kClock);  // the last view: 2421..3000
  const int x = 31 + 2500 - 2421;
  EXPECT_EQ(ColumnsAtTop(canvas, layout, ccC3, clTeal, layout.ColumnSplit), std::vector<int>{x + layout.ColumnSplit});
  EXPECT_EQ(ColumnsAtTop(canvas, layout, ccAVF, clNavy), std::vector<int>{x});
  EXPECT_TRUE(ColumnsAtTop(canvas, layout, ccC2, clTeal, layout.ColumnSplit).empty());
  EXPECT_EQ(canvas.PixelAt(layout.ColumnSplit + layout.Margin, layout.BandTable[ccC6].Bottom - 5), clBlack)
      << "the right column's axis";
}

// Compressed or not, the chest column's traces end with its grid where it is
// the narrower column, and both columns carry their time labels.
TEST(ReviewPicture, TwelveChannelViewsKeepTheChestLeadsInsideTheirColumn) {
  SampleStore store;
  FillAt300(store, 20000);
  for (int n = 1; n <= 20000; n += 2) store.At(n).chest.fill(247);
  for (const ScreenClass screen : {ScreenClass::Medium, ScreenClass::Narrow}) {
    const ChartLayout layout = TwelveChannelLayout(screen);
    for (const int compression : kReviewCompressions) {
      SCOPED_TRACE(std::string(ScreenName(screen)) + " by " + std::to_string(compression));
      ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
      PrepareChart(layout, canvas);
      DrawReview(store, layout, true, canvas, 1001, compression, kClock);
      int right = 0;
      for (int y = 0; y < layout.ChartHeight; ++y)
        for (int x = 0; x < layout.ChartWidth; ++x)
          if (canvas.PixelAt(x, y) == clTeal) right = std::max(right, x);
      EXPECT_EQ(right, layout.RightEdge);
      RecordingCanvas texts;
      DrawReview(store, layout, true, texts, 1001, compression, kClock);
      int chestLabels = 0;
      for (const auto& text : texts.texts)
        chestLabels += text.y == layout.TimeLabelTop && text.x > layout.ColumnSplit ? 1 : 0;
      EXPECT_EQ(chestLabels, 4);
    }
  }
}

// The view that starts where a live sweep started is the picture live
// plotting left: same frame, same segments, the same join at the left.
TEST(ReviewPicture, AtCompressionOneAViewIsThePictureLivePlottingDrew) {
  for (const bool twelve : {false, true}) {
    SCOPED_TRACE(twelve ? "twelve-channel" : "eight-channel");
    ChartLayout live = twelve ? TwelveChannelLayout(ScreenClass::Wide) : TwoLeadLayout();
    const ChartLayout bands = live;
    const int perSweep = RecordsPerView(bands, twelve, 1);
    ImageCanvas drawn(live.ChartWidth, live.ChartHeight);
    PrepareChart(live, drawn);
    ChartSweep sweep(live, drawn, kClock, twelve);
    sweep.Frame();
    SampleStore store;
    // Three whole sweeps: the chart then shows the third.
    const int count = 3 * perSweep;
    for (int n = 1; n <= count; ++n) {
      AppendRecord(store, static_cast<std::uint8_t>((n * 37) % 256), (n + 3600 * 12) / 86400.0);
      store.At(n).chest[2] = static_cast<std::uint8_t>((n * 11) % 248);
      sweep.Plot(store, n);
    }
    ImageCanvas review(live.ChartWidth, live.ChartHeight);
    PrepareChart(live, review);
    DrawReview(store, bands, twelve, review, 2 * perSweep + 1, 1, kClock);
    EXPECT_TRUE(review.Image() == drawn.Image());
  }
}

TEST(ReviewPicture, TimeLabelsSitAtTheLivePositionsWithTheirColumnsTimes) {
  SampleStore store;
  FillAt300(store, 80000);
  const ChartLayout layout = TwoLeadLayout();
  for (const int compression : kReviewCompressions) {
    SCOPED_TRACE(compression);
    RecordingCanvas canvas;
    DrawReview(store, layout, false, canvas, 24001, compression, kClock);
    ASSERT_EQ(canvas.texts.size(), 2u + 10u) << "two lead labels and ten time labels";
    for (int k = 1; k <= 10; ++k) {
      const RecordingCanvas::DrawnText& label = canvas.texts[static_cast<std::size_t>(k + 1)];
      // The column at Margin + 120 k starts with record first + (120 k - 1) x compression.
      const int record = 24001 + (120 * k - 1) * compression;
      EXPECT_EQ(label.x, 30 + 120 * k - 25);
      EXPECT_EQ(label.y, layout.TimeLabelTop);
      EXPECT_EQ(label.text, kClock(store.At(record).time)) << "label " << k;
    }
  }
}

TEST(ReviewPicture, TheCallersLayoutAndSweepStateAreLeftAlone) {
  SampleStore store;
  FillAt300(store, 3000);
  ChartLayout layout = TwoLeadLayout();
  layout.CursorX = 400;
  layout.PrevX = 399;
  layout.LastY[ccI] = 77;
  const ChartLayout before = layout;
  RecordingCanvas canvas;
  DrawReview(store, layout, false, canvas, 1000, 2, kClock);
  EXPECT_EQ(layout.CursorX, before.CursorX);
  EXPECT_EQ(layout.PrevX, before.PrevX);
  EXPECT_EQ(layout.LastY, before.LastY);
  EXPECT_EQ(store.Count(), 3000);
}

}  // namespace

namespace {

// A record's marks show as a tick at the top edge in the record's column,
// whatever the compression: the marker's colour first, then data lost, then
// chest leads missing; unmarked records leave the edge alone.
struct MarkCase {
  std::uint8_t flags;
  std::uint8_t marker;
  TColor color;
};

TEST(ReviewMarks, TickTheRecordsColumnInTheColourOfWhatHappened) {
  const MarkCase cases[] = {
      {kDataLostBefore, 0, clRed},
      {kChestMissing, 0, kChestMissingColor},
      {kChestMissing | kDataLostBefore, 0, clRed},
      {kChestMissing, 3, clBlue},
  };
  for (const MarkCase& c : cases) {
    for (int compression : {1, 8}) {
      SCOPED_TRACE(testing::Message() << "flags " << int(c.flags) << " marker " << int(c.marker) << " x"
                                      << compression);
      SampleStore store;
      FillWithPeaks(store, 5000, {100}, {});
      RecordFlags(store.At(100)) = c.flags;
      RecordMarker(store.At(100)) = c.marker;
      const ChartLayout layout = TwoLeadLayout();
      ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
      PrepareChart(layout, canvas);
      DrawReview(store, layout, false, canvas, 1, compression, kClock);
      const int x = 31 + 99 / compression;
      EXPECT_EQ(canvas.PixelAt(x, 2), c.color);
      EXPECT_EQ(canvas.PixelAt(x, 200), clBlue) << "the mark stands in the column of the record's peak";
      EXPECT_NE(canvas.PixelAt(x + 1, 2), c.color);
      EXPECT_NE(canvas.PixelAt(x, kMarkHeight), c.color) << "a tick, not a line through the traces";
    }
  }
}

TEST(ReviewMarks, TwelveChannelViewsTickBothColumns) {
  SampleStore store;
  FillAt300(store, 3000, 0);
  RecordFlags(store.At(2500)) = kChestMissing;
  const ChartLayout layout = LayoutFor(ScreenClass::Wide);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  DrawReview(store, layout, true, canvas, 2001, 1, kClock);
  const int x = layout.Margin + 1 + 499;
  EXPECT_EQ(canvas.PixelAt(x, 2), kChestMissingColor);
  EXPECT_EQ(canvas.PixelAt(x + layout.ColumnSplit, 2), kChestMissingColor);
}

}  // namespace
