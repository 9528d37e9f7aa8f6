#pragma once
// Paging through the stored recording on the chart: a thin bar in the status
// bar's place (the window hides its status bar while a review runs, so
// nothing moves and the window keeps its size) with a scroll bar over the recording, the
// records-per-pixel choice and the readout of what the chart shows; the keys
// Left/Right, PageUp/PageDown, Home/End on the window and the mouse wheel on
// the chart move the view.
//
// The window begins a review once a recording is in the store (after a load,
// after a Stop that stored records) and ends it when a new recording or a
// set-up takes the chart back. While it runs each move redraws the chart
// image with DrawReview; the store is only read. Main thread only.
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "chart/ChartLayout.h"
#include "chart/ChartReview.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

class ImageCanvas;
class QComboBox;
class QLabel;
class QScrollBar;
class QShortcut;
class TChartView;

class TReviewBar : public QWidget {
  Q_OBJECT

 public:
  using ErrorReport = std::function<void(const std::string& text)>;

  // A child of `window`, placed where the status bar lies for
  // `screen`, hidden until Begin. While it runs the paging keys are
  // shortcuts of `window` (ahead of the top row's buttons, which would take
  // the arrows to move the focus; a text field keeps them), and it watches
  // the wheel on `chartView`; the chart image `chart` is what it redraws.
  TReviewBar(QWidget& window, ScreenClass screen, const SampleStore& store, ImageCanvas& chart, TChartView& chartView,
             TimeFormatter formatTime, ErrorReport reportError);

  // Shows the bar and the last view of the store's recording, drawn with
  // `layout`'s bands (copied) in the given mode. Begun again while it runs in
  // the same mode over a recording of the same length (a cancelled load),
  // the place and the compression stay.
  void Begin(const ChartLayout& layout, bool twelveChannel);
  // Hides the bar; the chart keeps the view it shows until the window draws
  // anew.
  void End();
  bool Active() const { return active_; }

  void Step(ReviewStep step);
  // 1, 2, 4 or 8 records per pixel; the first shown record stays (clamped).
  void SetCompression(int compression);

  int First() const { return first_; }
  int Compression() const { return compression_; }
  int RecordsPerView() const;
  std::string ReadoutText() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowView(int first);
  void Redraw();
  void SyncControls();
  void SetKeysEnabled(bool enabled);

  const SampleStore& store_;
  ImageCanvas& chart_;
  TChartView& chartView_;
  TimeFormatter formatTime_;
  ErrorReport reportError_;

  ChartLayout layout_;
  bool twelveChannel_ = false;
  bool active_ = false;
  int first_ = 1;
  int compression_ = 1;
  int reviewedCount_ = 0;
  int wheelAngle_ = 0;  // wheel turn not yet worth a step (eighths of a degree)

  std::array<QShortcut*, 6> keys_{};
  QScrollBar* ReviewScroll = nullptr;
  QComboBox* ReviewCompression = nullptr;
  QLabel* ReviewLabel = nullptr;
};
