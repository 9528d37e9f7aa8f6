#include "chart/ChartLayout.h"

namespace {

struct FixedFields {
  int ChartLeft, ChartTop, ChartWidth, ChartHeight;
  std::uint8_t Margin, BandTopPad;
  int ColumnSplit;
  std::uint8_t TimeLabelShift;
  int LabelFontSize, TimeFontSize;
  int TimeLabelTop;
};

FixedFields FieldsFor(ScreenClass screen) {
  switch (screen) {
    // The window's status bar covers the image below y 900, where the
    // designed 9-point labels would lie: they go into the 12 pixels between
    // the lowest base line (888, or 890 for some channel counts) and the bar.
    case ScreenClass::Wide: return {12, 40, 1260, 920, 30, 20, 620, 25, 11, 7, 891};
    case ScreenClass::Medium: return {12, 40, 1000, 675, 30, 20, 500, 25, 11, 9, 655};
    // Both columns 900 wide: the chest leads' traces end with their grid,
    // as the limb leads' do.
    case ScreenClass::ExtraWide: return {12, 40, 1900, 930, 30, 20, 940, 25, 11, 9, 910};
    case ScreenClass::Narrow: break;
  }
  // The small class gives up the label pad to keep the bands usable.
  return {8, 40, 780, 520, 25, 0, 390, 22, 9, 5, 500};
}

}  // namespace

ScreenClass ScreenClassForWidth(int screenWidth) {
  if (screenWidth > 1200) return ScreenClass::Wide;
  if (screenWidth <= 1000) return ScreenClass::Narrow;
  return ScreenClass::Medium;
}

TColor ChannelColor(ChartChannel channel) {
  switch (channel) {
    case ccI: return clBlue;
    case ccII: return clPurple;
    case ccIII: return clGreen;
    case ccAVR: return clRed;
    case ccAVL: return clFuchsia;
    case ccAVF: return clNavy;
    case ccC1:
    case ccC2:
    case ccC3:
    case ccC4:
    case ccC5:
    case ccC6: return clTeal;
    case ccResp: return clMaroon;
  }
  return clBlack;
}

std::string_view ChannelLabel(ChartChannel channel) {
  switch (channel) {
    case ccI: return "I";
    case ccII: return "II";
    case ccIII: return "III";
    case ccAVR: return "aVR";
    case ccAVL: return "aVL";
    case ccAVF: return "aVF";
    case ccC1: return "C1";
    case ccC2: return "C2";
    case ccC3: return "C3";
    case ccC4: return "C4";
    case ccC5: return "C5";
    case ccC6: return "C6";
    case ccResp: return "RESP";
  }
  return {};
}

void SelectScreenLayout(ChartLayout& layout, int screenWidth) {
  SelectScreenLayout(layout, ScreenClassForWidth(screenWidth));
}

void SelectScreenLayout(ChartLayout& layout, ScreenClass screen) {
  layout.Screen = screen;
  const FixedFields f = FieldsFor(screen);
  layout.ChartLeft = f.ChartLeft;
  layout.ChartTop = f.ChartTop;
  layout.ChartWidth = f.ChartWidth;
  layout.ChartHeight = f.ChartHeight;
  layout.Margin = f.Margin;
  layout.BandTopPad = f.BandTopPad;
  layout.ColumnSplit = f.ColumnSplit;
  layout.TimeLabelShift = f.TimeLabelShift;
  layout.LabelFontSize = f.LabelFontSize;
  layout.TimeFontSize = f.TimeFontSize;
  layout.TimeLabelTop = f.TimeLabelTop;
  layout.ChartRect = TRect{0, 0, f.ChartWidth, f.ChartHeight};
  layout.RightEdge = f.ChartWidth - f.Margin;
  layout.LeftColumnRight = f.ColumnSplit - 10;
}

void PrepareChart(const ChartLayout& layout, ChartCanvas& canvas) {
  canvas.SetPenColor(clBlack);
  // Every later fill, text background and dotted-line gap relies on this brush.
  canvas.SetBrushColor(clChartBackground);
  canvas.FillRect(layout.ChartRect);
}

void LayoutBands(ChartLayout& layout, const std::array<bool, 8>& checked) {
  int shown = 0;
  for (bool c : checked) shown += c ? 1 : 0;
  if (shown == 0) return;  // keep the previous bands rather than divide by zero
  const int height = (layout.ChartHeight - layout.Margin) / shown;
  int total = 0;
  for (std::size_t i = 0; i < kEightChannelOrder.size(); ++i) {
    BandEntry& band = layout.BandTable[kEightChannelOrder[i]];
    band.Height = checked[i] ? height : 0;
    total += band.Height;
    band.Bottom = total;
  }
}

void LayoutBands12C(ChartLayout& layout) {
  const int height = (layout.ChartHeight - layout.Margin) / 6;
  for (int row = 0; row < 6; ++row) {
    const BandEntry band{height, height * (row + 1)};
    layout.BandTable[kLimbLeads[static_cast<std::size_t>(row)]] = band;
    layout.BandTable[kChestLeads[static_cast<std::size_t>(row)]] = band;
  }
}
