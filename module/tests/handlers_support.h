#pragma once
// A frame-handler rig: the store, a Wide chart on a real ImageCanvas, and a
// view that records what the handlers show and feeds each record they report
// ready to the chart's sweep, as the window does.
#include <array>
#include <functional>
#include <map>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "chart/ChartFrame.h"
#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "module/FrameHandlers.h"
#include "store/SampleStore.h"

namespace module_test {

class RecordingView : public TAcquisitionView {
 public:
  RecordingView(SampleStore& store, ChartSweep& sweep) : store_(store), sweep_(sweep) {}

  void SetStatusPanel(int index, std::string_view text) override {
    panels[index] = std::string(text);
    ++panelWrites;
  }
  void SetText(ViewText which, std::string_view text) override { texts[which] = std::string(text); }
  void ShowIdentBox() override { ++identBoxShown; }
  void RecordReady(int slot) override {
    readySlots.push_back(slot);
    sweep_.Plot(store_, slot);
  }
  // Like the window's stop branch: Idle first, then the offer to save.
  void StopRecording() override {
    ++stopCalls;
    if (stopSetsIdle) store_.Settings().state = AcquisitionState::Idle;
    if (onStop) onStop();
  }
  void ReportError(const std::string& text) override {
    errors.push_back(text);
    if (reportThrows) throw std::runtime_error("message box failed");
  }

  bool stopSetsIdle = true;
  bool reportThrows = false;
  std::function<void()> onStop;  // the offer to save

  std::map<int, std::string> panels;
  int panelWrites = 0;
  std::map<ViewText, std::string> texts;
  int identBoxShown = 0;
  int stopCalls = 0;
  std::vector<int> readySlots;
  std::vector<std::string> errors;

 private:
  SampleStore& store_;
  ChartSweep& sweep_;
};

// Draws on `inner` and writes down every line drawn, in order.
class TracingCanvas : public ChartCanvas {
 public:
  struct Line {
    TPoint from;
    TPoint to;
    friend bool operator==(const Line&, const Line&) = default;
    friend void PrintTo(const Line& line, std::ostream* os) {
      *os << "(" << line.from.X << "," << line.from.Y << ")-(" << line.to.X << "," << line.to.Y << ")";
    }
  };

  explicit TracingCanvas(ChartCanvas& inner) : inner_(inner) {}

  int Width() const override { return inner_.Width(); }
  int Height() const override { return inner_.Height(); }
  void SetPenColor(TColor color) override { inner_.SetPenColor(color); }
  void SetPenStyle(TPenStyle style) override { inner_.SetPenStyle(style); }
  void SetBrushColor(TColor color) override { inner_.SetBrushColor(color); }
  void FillRect(const TRect& rect) override { inner_.FillRect(rect); }
  void Polyline(std::span<const TPoint> points) override {
    if (points.size() == 2) lines.push_back({points[0], points[1]});
    inner_.Polyline(points);
  }
  using ChartCanvas::Polyline;
  void SetFontSize(int points) override { inner_.SetFontSize(points); }
  void SetFontColor(TColor color) override { inner_.SetFontColor(color); }
  void PutText(int x, int y, std::string_view text) override { inner_.PutText(x, y, text); }
  void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) override {
    inner_.CopyRectStretched(dest, source, sourceRect);
  }

  std::vector<Line> lines;

 private:
  ChartCanvas& inner_;
};

inline constexpr double kFixedClock = 0.5;  // noon

struct HandlerRig {
  HandlerRig();

  // Set-up OK for eight or twelve channels (band layout and frame), as the window does it.
  void SetUp8(const std::array<bool, kChannelBoxCount>& selection);
  void SetUp12();
  // Read: count 0, Receiving, a fresh frame.
  void StartRecording();

  SampleStore store;
  ChartLayout layout;
  ImageCanvas canvas;
  TracingCanvas trace{canvas};  // what the sweep draws on
  ChartSweep sweep;
  RecordingView view;
  TFrameHandlers handlers;
};

// Builds a byte string from byte values (packets hold any byte, 0x00 too).
std::string Bytes(std::initializer_list<int> values);

}  // namespace module_test
