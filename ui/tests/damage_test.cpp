// Live drawing reports what it touched, piece by piece, and the status bar
// shows per-sample texts at a readable pace without losing the latest one.
#include <QLabel>

#include "chart/ChartLayout.h"
#include "chart/ImageCanvas.h"
#include "ui/DamageCanvas.h"
#include "ui/StatusBar.h"
#include "window_support.h"

namespace {

class DamageCanvasTest : public ::testing::Test {
 protected:
  ImageCanvas image{200, 100};
  std::vector<TRect> reported;
  TDamageCanvas canvas{image, [this](const TRect& r) { reported.push_back(r); }};
};

TEST_F(DamageCanvasTest, EachSegmentIsReportedOnItsOwn) {
  canvas.SetPenColor(clBlue);
  canvas.Polyline({TPoint{10, 10}, TPoint{11, 60}});
  canvas.Polyline({TPoint{150, 20}, TPoint{151, 70}});
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_LE(reported[0].Right, 12);
  EXPECT_GE(reported[1].Left, 150);
  EXPECT_EQ(image.PixelAt(10, 10), clBlue);
  EXPECT_EQ(image.TakeDirtyRect(), TRect{}) << "nothing left over for the image's own union";
}

TEST_F(DamageCanvasTest, FillsAndTextsAreReportedStateChangesAreNot) {
  canvas.SetBrushColor(clChartBackground);
  canvas.SetFontSize(9);
  canvas.SetFontColor(clBlack);
  EXPECT_TRUE(reported.empty());
  canvas.FillRect(TRect{0, 0, 200, 100});
  canvas.PutText(20, 50, "12:00:00");
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0], (TRect{0, 0, 200, 100}));
  EXPECT_LE(reported[1].Left, 20);
  EXPECT_EQ(image.BrushColor(), clChartBackground);
}

TEST_F(DamageCanvasTest, DrawingOutsideTheImageReportsNothing) {
  canvas.Polyline({TPoint{-50, -50}, TPoint{-10, -10}});
  EXPECT_TRUE(reported.empty());
}

TEST_F(DamageCanvasTest, CopyFromItselfCopiesItsImage) {
  canvas.SetBrushColor(clRed);
  canvas.FillRect(TRect{0, 0, 10, 10});
  canvas.CopyRectStretched(TRect{100, 0, 120, 20}, canvas, TRect{0, 0, 10, 10});
  EXPECT_EQ(image.PixelAt(110, 10), clRed);
}

class StatusBarTest : public ::testing::Test {
 protected:
  TStatusBar bar;
};

TEST_F(StatusBarTest, LatestTextIsReadAtOnceAndShownSoon) {
  bar.show();
  for (int i = 1; i <= 300; ++i) bar.SetPanelTextSoon(5, "Status: Receiving... " + std::to_string(i) + " packets");
  EXPECT_EQ(bar.PanelText(5), "Status: Receiving... 300 packets");
  EXPECT_TRUE(WaitUntil([&] { return bar.Panel(5)->text() == "Status: Receiving... 300 packets"; }));
}

TEST_F(StatusBarTest, TextSetAtOnceWinsOverAnEarlierPendingOne) {
  bar.SetPanelTextSoon(5, "one");  // shown at once: nothing was shown lately
  bar.SetPanelTextSoon(5, "two");  // waits
  bar.SetPanelText(5, "Status: Idle");
  EXPECT_EQ(bar.PanelText(5), "Status: Idle");
  DrainEvents(std::chrono::milliseconds(250));
  EXPECT_EQ(bar.Panel(5)->text(), "Status: Idle");
}

TEST_F(StatusBarTest, PanelsSitSideBySideWithTheirWidths) {
  bar.resize(800, 30);
  bar.SetBorderWidth(3);
  const int widths[] = {135, 185, 185, 155, 145, 355, 75};
  for (int i = 0; i < 7; ++i) bar.SetPanelWidth(i, widths[i]);
  int x = 3;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(bar.Panel(i)->geometry(), QRect(x, 3, widths[i], 24)) << "panel " << i;
    x += widths[i];
  }
  EXPECT_THROW(bar.SetPanelText(7, "x"), std::out_of_range);
}

}  // namespace
