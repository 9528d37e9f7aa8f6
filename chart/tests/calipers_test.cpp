// Calipers on the review: where a point of the view lies in a lead and a
// record, and what two such points read.
#include <gtest/gtest.h>

#include "chart/Calipers.h"
#include "chart/ChartReview.h"
#include "chart/ImageCanvas.h"
#include "chart/TracePlot.h"
#include "chart_support.h"

namespace {

// Record n carries n % 200 in every channel.
void FillCounting(SampleStore& store, int count) {
  for (int n = 1; n <= count; ++n) AppendRecord(store, static_cast<std::uint8_t>(n % 200), n / 86400.0);
}

TEST(Calipers, APointOfTheViewIsTheLeadOfItsBandAtTheRecordUnderIt) {
  SampleStore store;
  FillCounting(store, 3000);
  ChartLayout eight = LayoutFor(ScreenClass::Wide);
  LayoutBands(eight, {true, true, true, false, false, false, false, false});
  const BandEntry& ii = eight.BandTable[ccII];
  const int x0 = eight.Margin + 1;
  const int inII = ii.Bottom - ii.Height / 2;

  const int y121 = MapSampleToY(121, ii, eight.BandTopPad);
  const std::optional<ViewPlace> at = PlaceInView(store, eight, false, 101, 2, {x0 + 10, y121});
  ASSERT_TRUE(at);
  EXPECT_EQ(at->channel, ccII);
  EXPECT_EQ(at->record, 121) << "10 columns of 2 records after the view's first";
  EXPECT_EQ(at->steps, 121);
  EXPECT_EQ(at->trace, (ChartPoint{x0 + 10, y121})) << "on the trace";
  const int y122 = MapSampleToY(122, ii, eight.BandTopPad);
  ASSERT_NE(y121, y122);
  EXPECT_EQ(PlaceInView(store, eight, false, 101, 2, {x0 + 10, y122 - 30})->record, 122)
      << "of the records sharing a column, the one nearest to the pointer";
  EXPECT_FALSE(PlaceInView(store, eight, false, 101, 2, {x0 - 1, inII})) << "left of the first column";
  EXPECT_FALSE(PlaceInView(store, eight, false, 2900, 1, {x0 + 200, inII})) << "past the last record";
  EXPECT_FALSE(
      PlaceInView(store, eight, false, 1, 1, {x0 + 10, eight.BandTable[ccI].Bottom - eight.BandTable[ccI].Height}))
      << "on a band's upper edge: the band above's";

  ChartLayout twelve = LayoutFor(ScreenClass::Wide);
  LayoutBands12C(twelve);
  const BandEntry& c3 = twelve.BandTable[ccC3];
  const std::optional<ViewPlace> chest =
      PlaceInView(store, twelve, true, 1, 1, {x0 + twelve.ColumnSplit + 5, c3.Bottom - 3});
  ASSERT_TRUE(chest);
  EXPECT_EQ(chest->channel, ccC3) << "the right column holds the chest leads";
  EXPECT_EQ(chest->record, 6);
}

TEST(Calipers, ReadTimeAmplitudeAndRateOfOneLead) {
  const ViewPlace q{ccII, 100, 120, {}}, r{ccII, 346, 160, {}}, other{ccI, 346, 160, {}};
  ASSERT_TRUE(CaliperBetween(r, q));
  EXPECT_EQ(CaliperBetween(r, q)->from.record, 100) << "earlier end first";
  EXPECT_FALSE(CaliperBetween(q, other)) << "two leads make no caliper";
  const Caliper interval = *CaliperBetween(q, r);
  EXPECT_EQ(CaliperText(interval, 300, 40.0), "II: 820 ms, 1.00 mV, 73 bpm");
  EXPECT_EQ(CaliperText(interval, 300, std::nullopt), "II: 820 ms, 40 steps, 73 bpm");
  EXPECT_EQ(CaliperText(Caliper{q, ViewPlace{ccII, 100, 80, {}}}, 300, 40.0), "II: 0 ms, -1.00 mV")
      << "no rate for no time";
  EXPECT_EQ(CaliperText(Caliper{q, ViewPlace{ccII, 130, 80, {}}}, 300, 40.0), "II: 100 ms, -1.00 mV")
      << "nor for a QRS width";
}

TEST(Calipers, AreDrawnOverTheView) {
  ImageCanvas canvas(200, 100);
  canvas.SetBrushColor(clChartBackground);
  canvas.FillRect({0, 0, 200, 100});
  DrawCaliper(canvas, Caliper{ViewPlace{ccII, 1, 0, {20, 60}}, ViewPlace{ccII, 50, 0, {120, 60}}}, "II: 1 ms");
  EXPECT_EQ(canvas.PixelAt(20, 55), clBlack) << "the first end's tick";
  EXPECT_EQ(canvas.PixelAt(70, 60), clBlack) << "the line between";
  EXPECT_EQ(canvas.PixelAt(120, 66), clBlack) << "the later end's tick";
}

}  // namespace
