#pragma once
// Paging through the stored recording on the chart: a bar in the top row right
// of Export, where the recording's own controls lie (hidden while a review
// runs, so nothing moves, the status bar stays and the chart keeps its time
// labels), with the recording's file name, the readout of what the chart
// shows, the records-per-pixel or paper-speed choice (with the gain at a
// paper speed) and a scroll bar over it; the keys
// Left/Right, PageUp/PageDown, Home/End on the window and the mouse wheel on
// the chart move the view. On the chart a press, drag and release between
// two points of a lead lays a caliper (chart/Calipers.h): several stay until
// the view moves or Escape clears them.
//
// The window begins a review once a recording is in the store (after a load,
// after a Stop that stored records) and ends it when a new recording or a
// set-up takes the chart back. While it runs each move redraws the chart
// image with DrawReview; the store is only read. Main thread only.
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chart/Calipers.h"
#include "chart/ChartLayout.h"
#include "chart/ChartReview.h"
#include "chart/PaperReview.h"
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

  // Where the bar lies in every screen class: right of Export (the top row's
  // sixth place) to the window's right edge, as high as the top row.
  static constexpr int kReviewBarLeft = 392;
  static constexpr int kReviewBarRightMargin = 8;
  static constexpr int kReviewBarHeight = 27;

  // A child of `window`, placed in the top row for `screen`, hidden until
  // Begin. While it runs the paging keys are
  // shortcuts of `window` (ahead of the top row's buttons, which would take
  // the arrows to move the focus; a text field keeps them), and it watches
  // the wheel on `chartView`; the chart image `chart` is what it redraws.
  TReviewBar(QWidget& window, ScreenClass screen, const SampleStore& store, ImageCanvas& chart, TChartView& chartView,
             TimeFormatter formatTime, ErrorReport reportError);

  // What the recording's numbers mean: its samples per second, its leads'
  // calibration (the calipers read in mV where a lead has one, in steps
  // where not, and each calibrated lead shows its 1 mV pulse), and the
  // screen's millimetre for the paper speeds.
  struct Scale {
    double sampleRate = 0;
    MvScales mv{};
    double pixelsPerMm = PixelsPerMm(kFallbackDotsPerInch);
  };
  // Shows the bar and the last view of the store's recording, drawn with
  // `layout`'s bands (copied) in the given mode and at `scale`. Begun again while it runs in
  // the same mode over a recording of the same length (a cancelled load),
  // the place and the compression stay.
  void Begin(const ChartLayout& layout, bool twelveChannel, const Scale& scale);
  // Hides the bar; the chart keeps the view it shows until the window draws
  // anew.
  void End();
  bool Active() const { return active_; }
  // Draws the view again where it stands (after something else drew on the
  // chart).
  void Refresh() {
    if (active_) Redraw();
  }

  void Step(ReviewStep step);
  // 1, 2, 4 or 8 records per pixel; the first shown record stays (clamped).
  // kWholeRecording: as many as show the whole recording in one view.
  static constexpr int kWholeRecording = 0;
  void SetCompression(int compression);
  // The scales of ECG paper instead (chart/PaperReview.h): 25 or 50 mm/s,
  // 5, 10 or 20 mm/mV at the screen's `pixelsPerMm`. A paper speed needs
  // the recording's rate; 0 goes back to the records per pixel.
  void SetPaperSpeed(int mmPerSecond);
  void SetGain(int mmPerMv);
  int PaperSpeed() const { return OnPaper() ? paperSpeed_ : 0; }
  int Gain() const { return gain_; }

  // The bar's right end: `x` (the window's width, or a control's left
  // edge that must stay free) less the margin.
  void EndBefore(int x);

  // The file the recording came from or was saved to; empty: not saved.
  // `span`: where the records lie in it when only a part was loaded.
  void SetSource(const std::string& path, const ReviewSpan& span = {});
  const std::string& SourceName() const { return source_; }

  // The tool's beats in the recording (store slots), marked on the view.
  const std::vector<int>& Beats() const { return beats_; }
  // The calipers' texts, in the order they were laid.
  std::vector<std::string> CaliperTexts() const;
  void ClearCalipers();

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
  void FitReadout();
  void SetKeysEnabled(bool enabled);
  void FindBeats();
  bool OnPaper() const { return paperSpeed_ > 0 && rate_ > 0; }
  PaperScale Paper() const { return PaperScale{paperSpeed_, gain_, pixelsPerMm_}; }
  void ViewChanged();

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
  bool wholeView_ = false;  // the compression follows the recording's length
  int reviewedCount_ = 0;
  int wheelAngle_ = 0;  // wheel turn not yet worth a step (eighths of a degree)

  double rate_ = 0;
  int paperSpeed_ = 0;  // mm/s; 0: records per pixel
  int gain_ = 10;       // mm/mV
  double pixelsPerMm_ = PixelsPerMm(kFallbackDotsPerInch);
  PaperView paperView_;  // the paper view on show, for the calipers
  MvScales scales_{};
  std::vector<Caliper> calipers_;
  std::vector<int> beats_;
  ChartChannel beatLead_ = ccII;
  std::optional<ViewPlace> pressed_;  // a caliper's first end, while the button is down
  QShortcut* clearCalipers_ = nullptr;

  std::array<QShortcut*, 6> keys_{};
  QScrollBar* ReviewScroll = nullptr;
  QComboBox* ReviewCompression = nullptr;
  QComboBox* ReviewGain = nullptr;
  QLabel* ReviewLabel = nullptr;
  QLabel* ReviewFile = nullptr;
  std::string source_;
  QString readout_;  // the whole readout; the label may show it cut
  ReviewSpan span_;
};
