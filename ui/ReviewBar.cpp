#include "ui/ReviewBar.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QWheelEvent>
#include <algorithm>
#include <exception>

#include "analysis/QrsDetector.h"
#include "chart/ImageCanvas.h"
#include "station/RecordingAnalysis.h"
#include "ui/ChartView.h"
#include "ui/WindowGeometry.h"

namespace {

// One notch of a common mouse wheel, in eighths of a degree.
constexpr int kWheelNotch = 120;

}  // namespace

TReviewBar::TReviewBar(QWidget& window, ScreenClass screen, const SampleStore& store, ImageCanvas& chart,
                       TChartView& chartView, TimeFormatter formatTime, ErrorReport reportError)
    : QWidget(&window),
      store_(store),
      chart_(chart),
      chartView_(chartView),
      formatTime_(std::move(formatTime)),
      reportError_(std::move(reportError)) {
  setObjectName(QStringLiteral("ReviewBar"));
  const WindowGeometry g = WindowGeometryFor(screen);
  // In the top row right of Export: while a review runs the recording's own
  // controls there are hidden, and the status bar and the chart's time
  // labels stay in view.
  setGeometry(kReviewBarLeft, 0, g.Width - kReviewBarLeft - kReviewBarRightMargin, kReviewBarHeight);
  const bool narrow = screen == ScreenClass::Narrow;

  ReviewScroll = new QScrollBar(Qt::Horizontal, this);
  ReviewScroll->setObjectName(QStringLiteral("ReviewScroll"));
  ReviewScroll->setMinimumWidth(60);
  ReviewCompression = new QComboBox(this);
  ReviewCompression->setObjectName(QStringLiteral("ReviewCompression"));
  for (int c : kReviewCompressions) ReviewCompression->addItem(QStringLiteral("%1 per pixel").arg(c), c);
  ReviewCompression->addItem(QStringLiteral("whole"), kWholeRecording);
  // A paper speed is kept as its negative, apart from the compressions.
  for (int speed : kPaperSpeeds) ReviewCompression->addItem(QStringLiteral("%1 mm/s").arg(speed), -speed);
  ReviewGain = new QComboBox(this);
  ReviewGain->setObjectName(QStringLiteral("ReviewGain"));
  for (int gain : kPaperGains) ReviewGain->addItem(QStringLiteral("%1 mm/mV").arg(gain), gain);
  ReviewGain->setToolTip(QStringLiteral("Gain on the paper; leads without a calibration at 20 steps per mV"));
  ReviewGain->hide();
  ReviewFile = new QLabel(this);
  ReviewFile->setObjectName(QStringLiteral("ReviewFile"));
  ReviewFile->setMaximumWidth(narrow ? 90 : 260);
  ReviewLabel = new QLabel(this);
  ReviewLabel->setObjectName(QStringLiteral("ReviewLabel"));
  if (narrow) {
    QFont small = ReviewLabel->font();
    small.setPointSize(std::max(6, small.pointSize() - 1));
    for (QWidget* control : {static_cast<QWidget*>(ReviewLabel), static_cast<QWidget*>(ReviewFile),
                             static_cast<QWidget*>(ReviewCompression), static_cast<QWidget*>(ReviewGain)})
      control->setFont(small);
  }
  // The keys page the chart wherever the pointer last was: neither control
  // takes them for itself.
  ReviewScroll->setFocusPolicy(Qt::NoFocus);
  ReviewCompression->setFocusPolicy(Qt::NoFocus);
  ReviewGain->setFocusPolicy(Qt::NoFocus);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 1, 0, 1);
  row->setSpacing(narrow ? 4 : 8);
  row->addWidget(ReviewFile);
  row->addWidget(ReviewLabel);
  row->addWidget(ReviewCompression);
  row->addWidget(ReviewGain);
  row->addWidget(ReviewScroll, 1);

  connect(ReviewScroll, &QScrollBar::valueChanged, this, [this](int value) { ShowView(value); });
  connect(ReviewCompression, &QComboBox::currentIndexChanged, this, [this](int index) {
    const int choice = ReviewCompression->itemData(index).toInt();
    if (choice < 0) {
      SetPaperSpeed(-choice);
    } else {
      SetCompression(choice);
    }
  });
  connect(ReviewGain, &QComboBox::currentIndexChanged, this,
          [this](int index) { SetGain(ReviewGain->itemData(index).toInt()); });
  const std::pair<int, ReviewStep> keys[] = {
      {Qt::Key_Left, ReviewStep::TenthBack},  {Qt::Key_Right, ReviewStep::TenthOn},
      {Qt::Key_PageUp, ReviewStep::ViewBack}, {Qt::Key_PageDown, ReviewStep::ViewOn},
      {Qt::Key_Home, ReviewStep::Start},      {Qt::Key_End, ReviewStep::End}};
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    keys_[i] = new QShortcut(QKeySequence(keys[i].first), &window);
    keys_[i]->setContext(Qt::WindowShortcut);
    connect(keys_[i], &QShortcut::activated, this, [this, step = keys[i].second] { Step(step); });
  }
  clearCalipers_ = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
  clearCalipers_->setContext(Qt::WindowShortcut);
  connect(clearCalipers_, &QShortcut::activated, this, [this] { ClearCalipers(); });
  SetKeysEnabled(false);
  chartView.installEventFilter(this);
  hide();
}

void TReviewBar::Begin(const ChartLayout& layout, bool twelveChannel, const Scale& scale) {
  const bool samePlace = active_ && twelveChannel == twelveChannel_ && store_.Count() == reviewedCount_;
  layout_ = layout;
  twelveChannel_ = twelveChannel;
  reviewedCount_ = store_.Count();
  rate_ = scale.sampleRate;
  scales_ = scale.mv;
  if (scale.pixelsPerMm > 0) pixelsPerMm_ = scale.pixelsPerMm;
  if (wholeView_) compression_ = WholeViewCompression(layout_, twelveChannel_, reviewedCount_);
  active_ = true;
  wheelAngle_ = 0;
  FindBeats();
  first_ = samePlace ? ClampViewFirst(first_, reviewedCount_, RecordsPerView())
                     : LastViewFirst(reviewedCount_, RecordsPerView());
  if (!samePlace) calipers_.clear();
  SyncControls();
  Redraw();
  SetKeysEnabled(true);
  show();
  raise();
}

void TReviewBar::End() {
  active_ = false;
  calipers_.clear();
  pressed_.reset();
  SetKeysEnabled(false);
  hide();
}

void TReviewBar::SetKeysEnabled(bool enabled) {
  for (QShortcut* key : keys_) key->setEnabled(enabled);
  // Escape is the set-up panel's too: taken only while there is something to clear.
  clearCalipers_->setEnabled(enabled && !calipers_.empty());
}

// The beats of the recording on view, once per recording and rate: II where
// it is drawn, else the first lead drawn (not the respiration).
void TReviewBar::FindBeats() {
  beats_.clear();
  const int count = store_.Count();
  if (!active_ || count <= 0 || rate_ < 20) return;
  std::array<bool, 8> channels{};
  for (std::size_t i = 0; i < channels.size(); ++i)
    channels[i] = layout_.BandTable[kEightChannelOrder[i]].Height > 0 && kEightChannelOrder[i] != ccResp;
  const std::vector<LeadTrace> leads = RecordedLeads(store_, 1, count, twelveChannel_, channels);
  const LeadTrace* lead = BeatLead(leads);
  if (!lead) return;
  for (const ChartChannel channel : kEightChannelOrder)
    if (ChannelLabel(channel) == lead->name) beatLead_ = channel;
  for (const std::int64_t beat : DetectBeats(lead->samples, rate_)) beats_.push_back(static_cast<int>(beat) + 1);
}

std::vector<std::string> TReviewBar::CaliperTexts() const {
  std::vector<std::string> texts;
  for (const Caliper& caliper : calipers_) {
    const std::optional<MvScale>& scale = scales_[static_cast<std::size_t>(caliper.from.channel)];
    texts.push_back(CaliperText(caliper, rate_, scale ? std::optional(scale->stepsPerMv) : std::nullopt));
  }
  return texts;
}

void TReviewBar::ClearCalipers() {
  pressed_.reset();
  if (calipers_.empty()) return;
  calipers_.clear();
  SetKeysEnabled(active_);
  if (active_) Redraw();
}

int TReviewBar::RecordsPerView() const {
  if (OnPaper()) return PaperRecordsPerView(layout_, twelveChannel_, Paper(), rate_);
  return ::RecordsPerView(layout_, twelveChannel_, compression_);
}

std::string TReviewBar::ReadoutText() const { return readout_.toStdString(); }

void TReviewBar::EndBefore(int x) {
  const int width = std::max(0, x - kReviewBarLeft - kReviewBarRightMargin);
  if (width == this->width()) return;
  resize(width, kReviewBarHeight);
  FitReadout();
}

void TReviewBar::SetSource(const std::string& path, const ReviewSpan& span) {
  span_ = span;
  SyncControls();
  const QString full = QString::fromLocal8Bit(path);
  const QString name = path.empty() ? QStringLiteral("(not saved)") : QFileInfo(full).fileName();
  source_ = name.toStdString();
  ReviewFile->setText(ReviewFile->fontMetrics().elidedText(name, Qt::ElideMiddle, ReviewFile->maximumWidth()));
  ReviewFile->setToolTip(full);
  FitReadout();
}

void TReviewBar::Step(ReviewStep step) {
  if (!active_) return;
  ShowView(StepViewFirst(first_, step, store_.Count(), RecordsPerView()));
}

void TReviewBar::SetCompression(int compression) {
  const bool whole = compression == kWholeRecording;
  if (whole) compression = WholeViewCompression(layout_, twelveChannel_, store_.Count());
  if ((compression == compression_ && whole == wholeView_ && paperSpeed_ == 0) || compression < 1) return;
  compression_ = compression;
  wholeView_ = whole;
  paperSpeed_ = 0;
  ViewChanged();
}

void TReviewBar::SetPaperSpeed(int mmPerSecond) {
  if (mmPerSecond != 0 && std::find(kPaperSpeeds.begin(), kPaperSpeeds.end(), mmPerSecond) == kPaperSpeeds.end())
    return;
  if (mmPerSecond == paperSpeed_) return;
  paperSpeed_ = mmPerSecond;
  ViewChanged();
}

void TReviewBar::SetGain(int mmPerMv) {
  if (std::find(kPaperGains.begin(), kPaperGains.end(), mmPerMv) == kPaperGains.end() || mmPerMv == gain_) return;
  gain_ = mmPerMv;
  ViewChanged();
}

// A new scale: the first shown record stays where it can, the calipers
// measured on the old one go.
void TReviewBar::ViewChanged() {
  if (!active_) {
    SyncControls();
    return;
  }
  first_ = ClampViewFirst(first_, store_.Count(), RecordsPerView());
  calipers_.clear();
  SetKeysEnabled(true);
  SyncControls();
  Redraw();
}

void TReviewBar::ShowView(int first) {
  if (!active_) return;
  first = ClampViewFirst(first, store_.Count(), RecordsPerView());
  if (first == first_) return;
  first_ = first;
  calipers_.clear();  // they measured what is no longer shown
  SetKeysEnabled(true);
  SyncControls();
  Redraw();
}

void TReviewBar::SyncControls() {
  const int perView = RecordsPerView();
  {
    const QSignalBlocker blockScroll(ReviewScroll);
    ReviewScroll->setRange(1, LastViewFirst(store_.Count(), perView));
    ReviewScroll->setSingleStep(std::max(1, perView / 10));
    ReviewScroll->setPageStep(perView);
    ReviewScroll->setValue(first_);
  }
  {
    const QSignalBlocker blockChoice(ReviewCompression);
    const int choice = OnPaper() ? -paperSpeed_ : wholeView_ ? kWholeRecording : compression_;
    ReviewCompression->setCurrentIndex(ReviewCompression->findData(choice));
    // A paper speed needs the recording's rate.
    auto* items = qobject_cast<QStandardItemModel*>(ReviewCompression->model());
    for (int speed : kPaperSpeeds)
      if (QStandardItem* item = items ? items->item(ReviewCompression->findData(-speed)) : nullptr)
        item->setEnabled(rate_ > 0);
    const QSignalBlocker blockGain(ReviewGain);
    ReviewGain->setCurrentIndex(ReviewGain->findData(gain_));
    ReviewGain->setVisible(OnPaper());
  }
  readout_ = QString::fromStdString(ReviewReadout(store_, first_, perView, formatTime_, span_));
  FitReadout();
}

// The readout in the room the other controls leave, cut at its end (the
// whole of it in the tooltip) where the bar is short: the narrow class with
// the gain choice shown.
void TReviewBar::FitReadout() {
  const int spacing = layout() ? layout()->spacing() : 0;
  const int others = ReviewFile->sizeHint().width() + ReviewCompression->sizeHint().width() +
                     (OnPaper() ? ReviewGain->sizeHint().width() : 0) + ReviewScroll->minimumWidth() + 4 * spacing;
  const QFontMetrics metrics(ReviewLabel->font());
  ReviewLabel->setText(metrics.elidedText(readout_, Qt::ElideRight, std::max(0, width() - others)));
  ReviewLabel->setToolTip(readout_);
}

void TReviewBar::Redraw() {
  try {
    if (OnPaper()) {
      paperView_ = PlanPaperView(store_, layout_, twelveChannel_, first_, rate_, Paper(), scales_);
      DrawPaperReview(store_, layout_, twelveChannel_, chart_, paperView_, formatTime_);
      DrawBeatMarks(layout_, twelveChannel_, chart_, paperView_.columns, paperView_.last, beatLead_, beats_);
    } else {
      DrawReview(store_, layout_, twelveChannel_, chart_, first_, compression_, formatTime_, scales_);
      const int last = std::min(store_.Count(), first_ + RecordsPerView() - 1);
      DrawBeatMarks(layout_, twelveChannel_, chart_, SweepColumns(layout_, first_, compression_), last, beatLead_,
                    beats_);
    }
    const std::vector<std::string> texts = CaliperTexts();
    for (std::size_t i = 0; i < calipers_.size(); ++i) DrawCaliper(chart_, calipers_[i], texts[i]);
  } catch (const std::exception& error) {
    if (reportError_) reportError_(error.what());
  }
  chart_.TakeDirtyRect();  // the whole image was drawn anew
  chartView_.InvalidateAll();
}

bool TReviewBar::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (active_ && watched == &chartView_ && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease)) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return QWidget::eventFilter(watched, event);
    const QPoint at = mouse->position().toPoint();
    const ChartPoint point{at.x(), at.y()};
    const std::optional<ViewPlace> place =
        OnPaper() ? PlaceOnPaper(store_, layout_, twelveChannel_, paperView_, point)
                  : PlaceInView(store_, layout_, twelveChannel_, first_, compression_, point);
    if (type == QEvent::MouseButtonPress) {
      pressed_ = place;
    } else if (pressed_ && place) {
      if (const std::optional<Caliper> caliper = CaliperBetween(*pressed_, *place)) {
        calipers_.push_back(*caliper);
        SetKeysEnabled(true);
        Redraw();
      }
      pressed_.reset();
    }
    return true;
  }
  if (active_ && event->type() == QEvent::Wheel && watched == &chartView_) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    const QPoint angle = wheel->angleDelta();
    // Turned away from the user (or pushed left) goes back in time, as on
    // the scroll bar; fine-grained wheels add up to whole notches.
    wheelAngle_ += angle.y() != 0 ? angle.y() : angle.x();
    while (wheelAngle_ >= kWheelNotch) {
      wheelAngle_ -= kWheelNotch;
      Step(ReviewStep::TenthBack);
    }
    while (wheelAngle_ <= -kWheelNotch) {
      wheelAngle_ += kWheelNotch;
      Step(ReviewStep::TenthOn);
    }
    wheel->accept();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
