#include "chart_support.h"

const char* ScreenName(ScreenClass screen) {
  switch (screen) {
    case ScreenClass::Wide: return "Wide";
    case ScreenClass::Medium: return "Medium";
    case ScreenClass::Narrow: return "Narrow";
    case ScreenClass::ExtraWide: return "ExtraWide";
  }
  return "?";
}

ChartLayout LayoutFor(ScreenClass screen) {
  ChartLayout layout;
  SelectScreenLayout(layout, screen);
  return layout;
}

ChartLayout EightChannelLayout(ScreenClass screen, std::array<bool, 8> checked) {
  ChartLayout layout = LayoutFor(screen);
  LayoutBands(layout, checked);
  return layout;
}

ChartLayout TwelveChannelLayout(ScreenClass screen) {
  ChartLayout layout = LayoutFor(screen);
  LayoutBands12C(layout);
  return layout;
}

void PrintTo(const TColor& c, std::ostream* os) {
  *os << "rgb(" << int{c.r} << "," << int{c.g} << "," << int{c.b} << ")";
}
void PrintTo(const TPoint& p, std::ostream* os) { *os << "(" << p.X << "," << p.Y << ")"; }
void PrintTo(const TRect& r, std::ostream* os) {
  *os << "[" << r.Left << "," << r.Top << " .. " << r.Right << "," << r.Bottom << ")";
}

void RecordingCanvas::SetPenColor(TColor color) {
  pen_ = color;
  calls.push_back(CanvasCall::Of(CanvasCall::PenColor, color));
}
void RecordingCanvas::SetPenStyle(TPenStyle style) {
  style_ = style;
  CanvasCall call = CanvasCall::Of(CanvasCall::PenStyle);
  call.style = style;
  calls.push_back(call);
}
void RecordingCanvas::SetBrushColor(TColor color) { calls.push_back(CanvasCall::Of(CanvasCall::BrushColor, color)); }
void RecordingCanvas::FillRect(const TRect& rect) {
  CanvasCall call = CanvasCall::Of(CanvasCall::Fill);
  call.rect = rect;
  calls.push_back(call);
  fills.push_back(rect);
}
void RecordingCanvas::Polyline(std::span<const TPoint> points) {
  for (std::size_t i = 1; i < points.size(); ++i) {
    CanvasCall call = CanvasCall::Of(CanvasCall::Line, pen_);
    call.style = style_;
    call.from = points[i - 1];
    call.to = points[i];
    calls.push_back(call);
    lines.push_back({points[i - 1], points[i], pen_, style_});
  }
}
void RecordingCanvas::SetFontSize(int points) {
  size_ = points;
  CanvasCall call = CanvasCall::Of(CanvasCall::FontSize);
  call.size = points;
  calls.push_back(call);
}
void RecordingCanvas::SetFontColor(TColor color) {
  font_ = color;
  calls.push_back(CanvasCall::Of(CanvasCall::FontColor, color));
}
void RecordingCanvas::PutText(int x, int y, std::string_view text) {
  CanvasCall call = CanvasCall::Of(CanvasCall::Text, font_);
  call.from = {x, y};
  call.size = size_;
  call.text = std::string(text);
  calls.push_back(call);
  texts.push_back({x, y, std::string(text), size_, font_});
}
void RecordingCanvas::CopyRectStretched(const TRect& dest, const ChartCanvas&, const TRect&) {
  CanvasCall call = CanvasCall::Of(CanvasCall::Copy);
  call.rect = dest;
  calls.push_back(call);
}
void RecordingCanvas::Clear() {
  calls.clear();
  lines.clear();
  texts.clear();
  fills.clear();
}

void AppendRecord(SampleStore& store, std::uint8_t value, double time) {
  SampleRecord& record = store.At(store.Append());
  record.time = time;
  record.channels.fill(value);
  record.chest.fill(value);
}
