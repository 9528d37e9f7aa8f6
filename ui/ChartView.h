#pragma once
// Shows the chart image on the window. Drawing goes straight into the image
// (chart/); this widget only repaints the parts that changed, and never more
// often than kMinFrameInterval allows, so a stream of 300 samples a second
// costs a few repaints a second, not one per sample.
#include <QElapsedTimer>
#include <QRect>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <utility>
#include <vector>

class QImage;

class TChartView : public QWidget {
  Q_OBJECT

 public:
  // About 25 repaints a second while data flows: the sweep moves 300 pixels
  // a second at the fastest rate, so each repaint shows twelve new columns,
  // which still looks smooth, and every repaint costs a copy of strips of the
  // image into the window and a new status text (see TStatusBar); twice the
  // rate would double that for nothing the eye can follow.
  static constexpr std::chrono::milliseconds kMinFrameInterval{38};
  // A change waits at most this long after the last repaint. While samples
  // arrive, the first change after kMinFrameInterval repaints at once (no
  // timer wakes the program for it); the timer only catches the last
  // changes of a burst.
  static constexpr std::chrono::milliseconds kMaxFrameDelay{46};

  // `image` must outlive the view and keep its address and size.
  explicit TChartView(const QImage& image, QWidget* parent = nullptr);

  // Marks a rectangle of the image (image coordinates) as changed. Cheap: it
  // only widens the pending area and schedules one repaint. Changes close to
  // each other across x are merged, whatever their height: the repaint then
  // copies one strip per column of the sweep, which costs less than many
  // small pieces (each copy has its own set-up). Distant ones (the two
  // columns of the twelve-channel chart) stay apart so the repaint covers
  // only what changed.
  void Invalidate(const QRect& rect);
  // Repaints everything (after a new frame was drawn, or on demand).
  void InvalidateAll();

  // Repaints done so far, for measurements and tests.
  long long PaintCount() const { return paintCount_; }
  // Tests: collect everything repainted from now on, and take it.
  void RecordPaintedRegion(bool on) { recordPainted_ = on; }
  QRegion TakePaintedRegion() { return std::exchange(painted_, QRegion()); }
  bool RepaintPending() const { return !pending_.empty(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void ScheduleFlush();
  void Flush();

  // Horizontal gap up to which two changed areas are repainted as one.
  static constexpr int kMergeGap = 16;
  // More separate areas than this are repainted as their union.
  static constexpr std::size_t kMaxAreas = 8;

  const QImage& image_;
  std::vector<QRect> pending_;
  QTimer lastChanges_;
  QElapsedTimer sinceFlush_;
  bool flushQueued_ = false;
  long long paintCount_ = 0;
  bool recordPainted_ = false;
  QRegion painted_;
};
