#include "ui/ChartView.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

TChartView::TChartView(const QImage& image, QWidget* parent) : QWidget(parent), image_(image) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the image covers every pixel
  lastChanges_.setSingleShot(true);
  lastChanges_.setTimerType(Qt::PreciseTimer);  // a coarse one may fire late by 5 %
  connect(&lastChanges_, &QTimer::timeout, this, &TChartView::Flush);
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
  ScheduleFlush();
}

void TChartView::ScheduleFlush() {
  if (flushQueued_) return;
  const qint64 since = sinceFlush_.isValid() ? sinceFlush_.elapsed() : kMinFrameInterval.count();
  if (since >= kMinFrameInterval.count()) {
    // Right after the handler that is drawing now, so that the repaint
    // shows all it drew (every lead of the record), in the same pass of the
    // event loop.
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, &TChartView::Flush, Qt::QueuedConnection);
  } else if (!lastChanges_.isActive()) {
    lastChanges_.start(static_cast<int>(kMaxFrameDelay.count() - since));
  }
}

void TChartView::InvalidateAll() { Invalidate(QRect(QPoint(0, 0), image_.size())); }

// Painted at once rather than through update(), which would wait for the
// toolkit's own update timer and wake the program once more for it.
// ScheduleFlush keeps these repaints at least kMinFrameInterval apart.
void TChartView::Flush() {
  flushQueued_ = false;
  lastChanges_.stop();
  if (pending_.empty()) return;
  QRegion region;
  for (const QRect& area : pending_) region += area;
  pending_.clear();
  sinceFlush_.start();
  if (isVisible()) {
    repaint(region);
  } else {
    update(region);  // shown later: painted when it is exposed
  }
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
