// The chart widget repaints what changed, coalescing bursts of changes into
// few repaints.
#include <QImage>

#include "ui/ChartView.h"
#include "window_support.h"

namespace {

class ChartViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = QImage(200, 100, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    view = std::make_unique<TChartView>(image);
    view->resize(image.size());
    view->show();
    ASSERT_TRUE(WaitUntil([&] { return view->PaintCount() > 0 && !view->RepaintPending(); }));
  }

  QImage image;
  std::unique_ptr<TChartView> view;
};

TEST_F(ChartViewTest, ManyChangesBetweenTwoLoopPassesCostOneRepaint) {
  const long long before = view->PaintCount();
  for (int x = 0; x < 200; ++x) {
    image.setPixelColor(x, 50, Qt::blue);
    view->Invalidate(QRect(x, 50, 1, 1));
  }
  ASSERT_TRUE(WaitUntil([&] { return !view->RepaintPending() && view->PaintCount() > before; }));
  DrainEvents(std::chrono::milliseconds(50));
  EXPECT_LE(view->PaintCount() - before, 2);
  EXPECT_EQ(view->grab().toImage().pixelColor(120, 50), QColor(Qt::blue));
}

TEST_F(ChartViewTest, WholeImageRedrawnShowsEverywhere) {
  image.fill(QColor(0, 128, 128));
  view->InvalidateAll();
  ASSERT_TRUE(WaitUntil([&] { return !view->RepaintPending(); }));
  DrainEvents(std::chrono::milliseconds(50));
  const QImage shown = view->grab().toImage();
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(0, 128, 128));
  EXPECT_EQ(shown.pixelColor(199, 99), QColor(0, 128, 128));
}

TEST_F(ChartViewTest, EmptyChangeSchedulesNothing) {
  view->Invalidate(QRect());
  EXPECT_FALSE(view->RepaintPending());
}

TEST_F(ChartViewTest, DistantChangesAreRepaintedApart) {
  view->RecordPaintedRegion(true);
  view->Invalidate(QRect(10, 5, 2, 90));
  view->Invalidate(QRect(150, 5, 2, 90));
  view->Invalidate(QRect(14, 5, 2, 90));
  ASSERT_TRUE(WaitUntil([&] { return !view->RepaintPending(); }));
  DrainEvents(std::chrono::milliseconds(50));
  const QRegion painted = view->TakePaintedRegion();
  EXPECT_TRUE(painted.contains(QPoint(10, 50)));
  EXPECT_TRUE(painted.contains(QPoint(151, 50)));
  EXPECT_FALSE(painted.contains(QPoint(80, 50))) << "the space between two distant changes is left alone";
}

}  // namespace
