#include "ChartView.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

TChartView::TChartView(const QImage& image, QWidget* parent) : QWidget(parent), image_(image) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the image covers every pixel
  throttle_.setSingleShot(true);
  connect(&throttle_, &QTimer::timeout, this, &TChartView::Flush);
}

void TChartView::Invalidate(const QRect& rect) {
  if (rect.isEmpty()) return;
  bool merged = false;
  for (QRect& area : pending_) {
    if (rect.left() <= area.right() + kMergeGap && rect.right() >= area.left() - kMergeGap) {
      area = area.united(rect);
      merged = true;
      break;
    }
  }
  if (!merged) {
    pending_.push_back(rect);
    if (pending_.size() > kMaxAreas) {
      QRect all;
      for (const QRect& area : pending_) all = all.united(area);
      pending_.assign(1, all);
    }
  }
  if (throttle_.isActive()) return;
  const auto interval = kMinFrameInterval.count();
  const qint64 since = sinceFlush_.isValid() ? sinceFlush_.elapsed() : interval;
  if (since >= interval) {
    Flush();
  } else {
    throttle_.start(static_cast<int>(interval - since));
  }
}

void TChartView::InvalidateAll() { Invalidate(QRect(QPoint(0, 0), image_.size())); }

// Qt merges every update() of one event-loop pass into a single paint event;
// the throttle above keeps those passes at least kMinFrameInterval apart.
void TChartView::Flush() {
  if (pending_.empty()) return;
  QRegion region;
  for (const QRect& area : pending_) region += area;
  pending_.clear();
  update(region);
  sinceFlush_.start();
}

void TChartView::paintEvent(QPaintEvent* event) {
  ++paintCount_;
  if (recordPainted_) painted_ += event->region();
  QPainter painter(this);
  // One rectangle at a time, each as the only clip: a plain copy of the
  // image's pixels then. Under a clip of several rectangles the toolkit
  // blends line by line and hands tall areas to worker threads, which costs
  // more than the copy itself.
  for (const QRect& area : event->region()) {
    painter.setClipRect(area, Qt::ReplaceClip);
    painter.drawImage(area.topLeft(), image_, area);
  }
}
