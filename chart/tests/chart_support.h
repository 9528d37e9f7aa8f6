#pragma once
// Shared pieces of the chart tests: laid-out charts per screen class, a canvas
// that records the operations it receives, and colour printing for gtest.
#include <ostream>
#include <string>
#include <vector>

#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"
#include "store/SampleStore.h"

const char* ScreenName(ScreenClass screen);

// A chart of the class with the fixed fields chosen; no bands yet.
ChartLayout LayoutFor(ScreenClass screen);
// The same with all eight eight-channel boxes checked, or the twelve-channel layout.
ChartLayout EightChannelLayout(ScreenClass screen,
                               std::array<bool, 8> checked = {true, true, true, true, true, true, true, true});
ChartLayout TwelveChannelLayout(ScreenClass screen);

void PrintTo(const TColor& color, std::ostream* os);
void PrintTo(const TPoint& point, std::ostream* os);
void PrintTo(const TRect& rect, std::ostream* os);

struct CanvasCall {
  enum Kind { PenColor, PenStyle, BrushColor, Fill, Line, FontSize, FontColor, Text, Copy } kind = PenColor;
  TColor color{};
  TPenStyle style = psSolid;
  TRect rect{};
  TPoint from{}, to{};
  int size = 0;
  std::string text;

  static CanvasCall Of(Kind kind, TColor color = {}) {
    CanvasCall call;
    call.kind = kind;
    call.color = color;
    return call;
  }
};

// Records every operation, keeping track of the state each one ran with.
class RecordingCanvas : public ChartCanvas {
 public:
  struct DrawnLine {
    TPoint from, to;
    TColor color;
    TPenStyle style;
  };
  struct DrawnText {
    int x, y;
    std::string text;
    int size;
    TColor color;
  };

  int Width() const override { return 2000; }
  int Height() const override { return 2000; }
  void SetPenColor(TColor color) override;
  void SetPenStyle(TPenStyle style) override;
  void SetBrushColor(TColor color) override;
  void FillRect(const TRect& rect) override;
  void Polyline(std::span<const TPoint> points) override;
  using ChartCanvas::Polyline;
  void SetFontSize(int points) override;
  void SetFontColor(TColor color) override;
  void PutText(int x, int y, std::string_view text) override;
  void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& sourceRect) override;

  std::vector<CanvasCall> calls;
  std::vector<DrawnLine> lines;
  std::vector<DrawnText> texts;
  std::vector<TRect> fills;
  void Clear();

 private:
  TColor pen_{}, font_{};
  TPenStyle style_ = psSolid;
  int size_ = 0;
};

// Appends a record whose thirteen channel bytes all hold `value`.
void AppendRecord(SampleStore& store, std::uint8_t value, double time = 0.5);
