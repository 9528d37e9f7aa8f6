// How the window keeps pace with a stream while repainting little: the chart
// repaints what a handler drew right after it, in the same pass of the event
// loop and without a timer; and the status bar's per-sample texts go out a
// few times a second, whatever the window repaints meanwhile.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>

#include "ui/ChartView.h"
#include "ui/StatusBar.h"
#include "window_support.h"

namespace {

class ChartPace : public ::testing::Test {
 protected:
  void SetUp() override {
    image = QImage(400, 100, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    view = std::make_unique<TChartView>(image);
    view->resize(image.size());
    view->show();
    ASSERT_TRUE(WaitUntil([&] { return view->PaintCount() > 0 && !view->RepaintPending(); }));
  }

  // Draws a vertical line into the image and reports it, as a handler does.
  void Draw(int x, QColor color) {
    for (int y = 10; y < 90; ++y) image.setPixelColor(x, y, color);
    view->Invalidate(QRect(x, 10, 1, 80));
  }

  QImage image;
  std::unique_ptr<TChartView> view;
};

TEST_F(ChartPace, EverythingOneHandlerDrewIsRepaintedTogetherRightAfterIt) {
  // Long enough after the start-up repaint for the next one to be due.
  ASSERT_TRUE(WaitUntil([&] { return !view->RepaintPending(); }));
  DrainEvents(TChartView::kMaxFrameDelay * 2);
  view->RecordPaintedRegion(true);
  const long long before = view->PaintCount();
  Draw(20, Qt::blue);  // both columns of a twelve-channel record
  Draw(300, Qt::blue);
  EXPECT_EQ(view->PaintCount(), before) << "not in the middle of the handler";
  QCoreApplication::sendPostedEvents();  // the rest of this pass of the loop
  EXPECT_EQ(view->PaintCount(), before + 1);
  const QRegion painted = view->TakePaintedRegion();
  EXPECT_TRUE(painted.contains(QPoint(20, 50)));
  EXPECT_TRUE(painted.contains(QPoint(300, 50)));
  const QImage shown = view->grab().toImage();
  EXPECT_EQ(shown.pixelColor(20, 50), QColor(Qt::blue));
  EXPECT_EQ(shown.pixelColor(300, 50), QColor(Qt::blue));
}

TEST_F(ChartPace, ChangeRightAfterARepaintIsShownOnceNothingElseComes) {
  Draw(40, Qt::red);
  QCoreApplication::sendPostedEvents();
  const long long before = view->PaintCount();
  Draw(41, Qt::red);  // too soon for a repaint of its own
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(view->RepaintPending());
  ASSERT_TRUE(WaitUntil([&] { return !view->RepaintPending() && view->PaintCount() > before; }));
  EXPECT_EQ(view->grab().toImage().pixelColor(41, 50), QColor(Qt::red));
}

// A window with the status bar and one more widget whose repaint stands for
// the chart's.
class StatusPace : public ::testing::Test {
 protected:
  void SetUp() override {
    window.resize(800, 100);
    other = new QLabel(QStringLiteral("chart"), &window);
    other->setGeometry(0, 0, 800, 60);
    bar = new TStatusBar(&window);
    bar->setGeometry(0, 60, 800, 30);
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
    bar->SetPanelTextSoon(5, "Status: Receiving... 1 packets");  // shown at once: nothing was shown lately
    ASSERT_EQ(bar->Panel(5)->text(), "Status: Receiving... 1 packets");
  }

  QWidget window;
  QLabel* other = nullptr;
  TStatusBar* bar = nullptr;
};

TEST_F(StatusPace, TextsOfManySamplesAreShownAFewTimesASecondNotWithEveryRepaint) {
  // Only a stall of the machine lets a text through at once: each needs a
  // whole interval since the one shown before.
  QElapsedTimer clock;
  clock.start();
  int shows = 0;
  QString shown = bar->Panel(5)->text();
  for (int i = 2; i <= 300; ++i) {
    bar->SetPanelTextSoon(5, "Status: Receiving... " + std::to_string(i) + " packets");
    other->repaint();  // the chart repaints with every sample
    if (bar->Panel(5)->text() != shown) {
      ++shows;
      shown = bar->Panel(5)->text();
    }
  }
  EXPECT_LE(shows, 1 + clock.elapsed() / TStatusBar::kMinShowInterval.count()) << "not laid out per sample";
  EXPECT_EQ(bar->PanelText(5), "Status: Receiving... 300 packets");
  EXPECT_TRUE(WaitUntil([&] { return bar->Panel(5)->text() == "Status: Receiving... 300 packets"; }))
      << "the last text of a burst is not lost";
}

TEST_F(StatusPace, TextSetAtOnceIsNotUndoneByAnOlderPendingOne) {
  bar->SetPanelTextSoon(5, "Status: Receiving... 2 packets");
  bar->SetPanelText(5, "Status: Idle");
  other->repaint();
  DrainEvents(TStatusBar::kMinShowInterval * 2);
  EXPECT_EQ(bar->Panel(5)->text(), "Status: Idle");
}

TEST_F(StatusPace, PendingTextIsShownAlsoWhenNothingElseRepaints) {
  QCoreApplication::sendPostedEvents();  // the first text's own repaint
  bar->SetPanelTextSoon(5, "Status: Receiving... 2 packets");
  EXPECT_TRUE(WaitUntil([&] { return bar->Panel(5)->text() == "Status: Receiving... 2 packets"; }));
}

}  // namespace
