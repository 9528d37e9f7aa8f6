#pragma once
// The status bar: a row of fixed-width text panels addressed by index
// (0 port, 1 transmission, 2 amplification, 3 filter, 4 mode, 5 acquisition
// status, 6 clock).
#include <QElapsedTimer>
#include <QFrame>
#include <QTimer>
#include <array>
#include <chrono>
#include <string>
#include <string_view>

class QLabel;

class TStatusBar : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kPanelCount = 7;
  // A text set "soon" waits at most this long, and texts set soon are shown
  // at most once per this time: a label laid out and painted with every
  // window repaint cost a quarter of the main thread at full rate.
  static constexpr std::chrono::milliseconds kMinShowInterval{250};

  explicit TStatusBar(QWidget* parent = nullptr);

  void SetPanelText(int index, const std::string& text);
  // The same for texts that change with every sample: the panel takes the
  // latest text at once when nothing was shown within kMinShowInterval,
  // otherwise when that time is over, instead of being laid out and
  // repainted per sample. PanelText reads the latest text at once. A later
  // SetPanelText wins.
  void SetPanelTextSoon(int index, std::string_view text);
  std::string PanelText(int index) const;
  void SetPanelWidth(int index, int width);
  int PanelWidth(int index) const;
  void SetPanelAlignment(int index, Qt::Alignment alignment);
  QLabel* Panel(int index) const;

  // Space kept free around the panels, in pixels.
  void SetBorderWidth(int pixels);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLabel* PanelAt(int index) const;  // throws std::out_of_range
  int PanelIndex(int index) const;   // `index`, checked as above
  void PlacePanels();
  void ShowPending();

  std::array<QLabel*, kPanelCount> panels_{};
  std::array<int, kPanelCount> widths_{};
  int border_ = 0;
  std::array<std::string, kPanelCount> pendingTexts_{};
  unsigned pending_ = 0;  // bit i: pendingTexts_[i] waits to be shown
  QTimer throttle_;       // runs only while texts wait
  QElapsedTimer sinceShown_;
};
