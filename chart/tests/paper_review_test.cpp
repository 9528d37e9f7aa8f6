// The review at paper scales: seconds and millivolts become the millimetres
// they stand for on the screen, the grid is the paper's, and calipers land
// on what the paper draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "chart/Calipers.h"
#include "chart/PaperReview.h"
#include "chart_support.h"

namespace {

struct PaperCase {
  int mmPerSecond;
  int mmPerMv;
  double rate;
  double dpi;
};

class PaperScales : public ::testing::TestWithParam<PaperCase> {};

TEST_P(PaperScales, ASecondAndAMillivoltAreTheirMillimetresOnTheScreen) {
  const PaperCase c = GetParam();
  const PaperScale scale{c.mmPerSecond, c.mmPerMv, PixelsPerMm(c.dpi)};
  const double mm = c.dpi / 25.4;
  const ChartLayout layout = EightChannelLayout(ScreenClass::Wide);

  const ViewColumns columns = PaperColumns(layout, scale, c.rate, 101);
  const int rate = static_cast<int>(c.rate);
  EXPECT_NEAR(columns.XOf(101 + 2 * rate) - columns.XOf(101), 2 * c.mmPerSecond * mm, 1.0) << "two seconds";
  EXPECT_NEAR(PaperPulseWidth(scale), 0.2 * c.mmPerSecond * mm, 0.5) << "the pulse is 0.2 s wide";

  const int perView = PaperRecordsPerView(layout, false, scale, c.rate);
  EXPECT_LE(columns.XOf(101 + perView - 1), layout.RightEdge) << "the view's last record is on the chart";
  EXPECT_GT(columns.XOf(101 + perView + rate / 10), layout.RightEdge - 1) << "and the view uses the width";
  for (const int x : {columns.left, columns.left + 7, columns.left + 333}) {
    const int record = columns.RecordAt(x);
    EXPECT_TRUE(columns.XOf(record) >= x && columns.XOf(record - 1) < x)
        << "the first record drawn at or after column " << x;
  }

  SampleStore store;
  for (int n = 1; n <= 3000; ++n) AppendRecord(store, 100, n / 86400.0);
  MvScales mv{};
  mv[ccII] = MvScale{100, 40};
  const PaperView view = PlanPaperView(store, layout, false, 1, c.rate, scale, mv);
  ASSERT_TRUE(view.leads[ccII] && view.leads[ccI]);
  const PaperLead& ii = *view.leads[ccII];
  EXPECT_NEAR(ii.Y(100) - ii.Y(140), c.mmPerMv * mm, 1.0) << "1 mV of a calibrated lead";
  const PaperLead& i = *view.leads[ccI];
  EXPECT_FALSE(i.calibrated);
  EXPECT_EQ(i.Y(255), i.top) << "clipped at the paper's top edge";
  EXPECT_NEAR(i.Y(100) - i.Y(110), c.mmPerMv * mm / 2, 1.0) << "an uncalibrated lead's 10 steps: half a mV";
  EXPECT_EQ(ii.Y(100), ii.baselineY) << "the view's median on the baseline";
  EXPECT_TRUE(ii.Y(255) >= ii.top && ii.Y(0) <= ii.bottom) << "never off the paper";
  const double fivemm = 5 * mm;
  const double fromTop = (ii.baselineY - ii.top) / fivemm;
  EXPECT_NEAR(fromTop, std::round(fromTop), 0.5 / fivemm) << "the baseline on a bold line";
}

INSTANTIATE_TEST_SUITE_P(Speeds, PaperScales,
                         ::testing::Values(PaperCase{25, 10, 300, 96}, PaperCase{50, 20, 300, 96},
                                           PaperCase{25, 5, 50, 96}, PaperCase{50, 10, 50, 141},
                                           PaperCase{25, 10, 150, 72}));

TEST(PaperScale, ScreensReportingNoSensibleSizeAreTakenAt96Dpi) {
  for (const double dpi : {0.0, -3.0, 12.0, 5000.0, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_DOUBLE_EQ(PixelsPerMm(dpi), 96 / 25.4) << dpi;
  EXPECT_DOUBLE_EQ(PixelsPerMm(120), 120 / 25.4);
}

TEST(PaperPicture, GridEveryMillimetreBoldEveryFiveTheLeadsLabelledAndPulsed) {
  const ChartLayout layout =
      EightChannelLayout(ScreenClass::Wide, {true, true, false, false, false, false, false, false});
  SampleStore store;
  for (int n = 1; n <= 2000; ++n)
    AppendRecord(store, static_cast<std::uint8_t>(100 + (n % 300 == 0 ? 40 : 0)), n / 86400.0);
  MvScales mv{};
  mv[ccII] = MvScale{100, 40};
  const PaperScale scale{25, 10, PixelsPerMm(96)};
  const PaperView view = PlanPaperView(store, layout, false, 1, 300, scale, mv);
  RecordingCanvas canvas;
  DrawPaperReview(store, layout, false, canvas, view, {});

  std::vector<int> bold, fine;
  for (const auto& line : canvas.lines)
    if (line.from.X == line.to.X && line.from.Y < line.to.Y - 100) {
      if (line.color == kPaperBoldLine) bold.push_back(line.from.X);
      if (line.color == kPaperFineLine) fine.push_back(line.from.X);
    }
  ASSERT_GT(bold.size(), 40u);
  for (std::size_t k = 1; k < bold.size(); ++k) EXPECT_NEAR(bold[k] - bold[k - 1], 5 * 96 / 25.4, 1.0);
  EXPECT_NEAR(static_cast<double>(fine.size()) / static_cast<double>(bold.size()), 4, 0.1);

  auto textOf = [&](const std::string& text) {
    return std::count_if(canvas.texts.begin(), canvas.texts.end(), [&](const auto& t) { return t.text == text; });
  };
  EXPECT_EQ(textOf("II"), 1);
  EXPECT_EQ(textOf("I (steps)"), 1) << "an uncalibrated lead says so";

  // The pulse: a 1 mV rise from the baseline before the trace begins, for
  // the calibrated lead alone.
  auto pulseOf = [&](const PaperLead& lead) {
    return std::count_if(canvas.lines.begin(), canvas.lines.end(), [&](const auto& line) {
      return line.color == clBlack && line.from.X == line.to.X && line.from.X < view.columns.left &&
             line.from.Y == lead.baselineY && std::abs(lead.baselineY - line.to.Y - 10 * 96 / 25.4) <= 1;
    });
  };
  EXPECT_EQ(pulseOf(*view.leads[ccII]), 1) << "II's 1 mV pulse from its baseline";
  EXPECT_EQ(pulseOf(*view.leads[ccI]), 0) << "none for a lead in steps";
}

TEST(PaperCalipers, LandOnThePaperTraceAndReadItsRecords) {
  const ChartLayout layout =
      EightChannelLayout(ScreenClass::Wide, {true, true, false, false, false, false, false, false});
  SampleStore store;
  for (int n = 1; n <= 4000; ++n) AppendRecord(store, static_cast<std::uint8_t>(n % 300 == 0 ? 180 : 100), n / 86400.0);
  MvScales mv{};
  mv[ccII] = MvScale{100, 40};
  const PaperView view = PlanPaperView(store, layout, false, 1, 300, PaperScale{25, 10, PixelsPerMm(96)}, mv);
  const PaperLead& ii = *view.leads[ccII];
  // Pointing a little off the peaks of records 300 and 600, whose columns
  // hold their neighbours too.
  const int peakY = ii.Y(180);
  const auto from = PlaceOnPaper(store, layout, false, view, {view.columns.XOf(300), peakY + 3});
  const auto to = PlaceOnPaper(store, layout, false, view, {view.columns.XOf(600), peakY - 3});
  ASSERT_TRUE(from && to);
  EXPECT_EQ(from->channel, ccII);
  EXPECT_EQ(to->trace, (ChartPoint{view.columns.XOf(600), peakY})) << "on the drawn peak";
  EXPECT_EQ(CaliperText(*CaliperBetween(*from, *to), 300, 40.0), "II: 1000 ms, 0.00 mV, 60 bpm");
  EXPECT_FALSE(PlaceOnPaper(store, layout, false, view, {view.columns.left - 2, peakY})) << "on the pulse";
  EXPECT_FALSE(PlaceOnPaper(store, layout, false, view, {layout.RightEdge + 5, peakY})) << "past the view";
}

}  // namespace
