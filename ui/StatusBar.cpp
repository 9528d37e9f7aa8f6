#include "ui/StatusBar.h"

#include <QLabel>
#include <stdexcept>

TStatusBar::TStatusBar(QWidget* parent) : QFrame(parent) {
  setAutoFillBackground(true);  // lies over the chart's lowest strip in the Wide class
  for (int i = 0; i < kPanelCount; ++i) {
    auto* panel = new QLabel(this);
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    panel->setIndent(2);
    // Opaque: a new text repaints the panel alone, not the bar behind it.
    panel->setAutoFillBackground(true);
    panels_[static_cast<std::size_t>(i)] = panel;
    widths_[static_cast<std::size_t>(i)] = 50;
  }
  PlacePanels();
  throttle_.setSingleShot(true);
  connect(&throttle_, &QTimer::timeout, this, &TStatusBar::ShowPending);
}

QLabel* TStatusBar::PanelAt(int index) const {
  if (index < 0 || index >= kPanelCount) throw std::out_of_range("status bar panel index");
  return panels_[static_cast<std::size_t>(index)];
}

QLabel* TStatusBar::Panel(int index) const { return PanelAt(index); }

int TStatusBar::PanelIndex(int index) const {
  PanelAt(index);
  return index;
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
  PanelAt(index)->setText(QString::fromStdString(text));
  pending_ &= ~(1u << index);
  if (pending_ == 0) throttle_.stop();
}

void TStatusBar::SetPanelTextSoon(int index, std::string_view text) {
  PanelAt(index);
  pendingTexts_[static_cast<std::size_t>(index)].assign(text);
  pending_ |= 1u << index;
  if (throttle_.isActive()) return;
  const auto interval = kMinShowInterval.count();
  const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : interval;
  if (since >= interval) {
    ShowPending();
  } else {
    throttle_.start(static_cast<int>(interval - since));
  }
}

void TStatusBar::ShowPending() {
  throttle_.stop();
  for (int i = 0; i < kPanelCount; ++i) {
    if (pending_ & (1u << i)) {
      QLabel* panel = panels_[static_cast<std::size_t>(i)];
      const QString text = QString::fromStdString(pendingTexts_[static_cast<std::size_t>(i)]);
      if (panel->text() != text) panel->setText(text);
    }
  }
  pending_ = 0;
  sinceShown_.start();
}

std::string TStatusBar::PanelText(int index) const {
  if (pending_ & (1u << PanelIndex(index))) return pendingTexts_[static_cast<std::size_t>(index)];
  return PanelAt(index)->text().toStdString();
}

void TStatusBar::SetPanelWidth(int index, int width) {
  PanelAt(index);
  widths_[static_cast<std::size_t>(index)] = width;
  PlacePanels();
}

int TStatusBar::PanelWidth(int index) const {
  PanelAt(index);
  return widths_[static_cast<std::size_t>(index)];
}

void TStatusBar::SetPanelAlignment(int index, Qt::Alignment alignment) { PanelAt(index)->setAlignment(alignment); }

void TStatusBar::SetBorderWidth(int pixels) {
  border_ = pixels;
  PlacePanels();
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  PlacePanels();
}

// Panels keep their widths; what does not fit is cut off at the right, as a
// status bar narrower than its panels shows them.
void TStatusBar::PlacePanels() {
  int x = border_;
  const int h = std::max(0, height() - 2 * border_);
  for (int i = 0; i < kPanelCount; ++i) {
    const int w = widths_[static_cast<std::size_t>(i)];
    // A fixed size: a new text then asks no one to lay the bar out again.
    QLabel* panel = panels_[static_cast<std::size_t>(i)];
    panel->move(x, border_);
    panel->setFixedSize(w, h);
    x += w;
  }
}
