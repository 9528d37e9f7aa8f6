#pragma once
// Shows the chart image on the window. Drawing goes straight into the image
// (chart/); this widget only repaints the parts that changed, and never more
// often than kMinFrameInterval allows, so a stream of 300 samples a second
// costs a few repaints, not one per sample.
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
  // At most 60 repaints a second.
  static constexpr std::chrono::milliseconds kMinFrameInterval{17};

  // `image` must outlive the view and keep its address and size.
  explicit TChartView(const QImage& image, QWidget* parent = nullptr);

  // Marks a rectangle of the image (image coordinates) as changed. Cheap: it
  // only widens the pending area and schedules one repaint. Changes close to
  // each other across x are merged; distant ones (the two columns of the
  // twelve-channel chart) stay apart so the repaint covers only what changed.
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
  void Flush();

  // Horizontal gap up to which two changed areas are repainted as one.
  static constexpr int kMergeGap = 16;
  // More separate areas than this are repainted as their union.
  static constexpr std::size_t kMaxAreas = 8;

  const QImage& image_;
  std::vector<QRect> pending_;
  QTimer throttle_;
  QElapsedTimer sinceFlush_;
  long long paintCount_ = 0;
  bool recordPainted_ = false;
  QRegion painted_;
};
