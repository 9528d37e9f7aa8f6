#pragma once
// The chart's geometry: fixed fields chosen once from the screen width, the
// band table recomputed at every set-up, and the sweep state that ChartSweep
// moves. Everything here is plain data and pure functions, so the window,
// the sweep, the review and the tests share one definition.
#include <array>
#include <cstdint>
#include <string_view>

#include "chart/ChartCanvas.h"
#include "store/ChartChannel.h"

// Wide, Medium and Narrow are the designed classes. ExtraWide uses a screen
// of 1920 pixels and more; the width alone never picks it, the window does
// where its window fits the screen's free area (ui/WindowGeometry.h).
enum class ScreenClass { Wide, Medium, Narrow, ExtraWide };

// The designed rule: wider than 1200 is Wide, up to 1000 Narrow, in between
// Medium.
ScreenClass ScreenClassForWidth(int screenWidth);

// The channels in band-table order (ChartChannel, kEightChannelOrder,
// kLimbLeads, kChestLeads) are the record's: store/ChartChannel.h.

struct BandEntry {
  int Height = 0;  // 0: the band is not shown in eight-channel mode
  int Bottom = 0;  // y of the band's base line
  friend constexpr bool operator==(BandEntry, BandEntry) = default;
};

struct ChartLayout {
  ScreenClass Screen{};
  int ChartLeft = 0, ChartTop = 0, ChartWidth = 0, ChartHeight = 0;
  std::uint8_t Margin = 0, BandTopPad = 0;
  int ColumnSplit = 0;
  std::uint8_t TimeLabelShift = 0;
  int LabelFontSize = 0, TimeFontSize = 0;
  // y of the time labels' cells, in the free strip below the bands and above
  // what the window lays over the chart's lowest strip.
  int TimeLabelTop = 0;
  TRect ChartRect{};
  int RightEdge = 0, LeftColumnRight = 0;
  std::array<BandEntry, 13> BandTable{};
  // Sweep state.
  int CursorX = 0, PrevX = 0;
  std::array<int, 13> LastY{};
};

// The chart's colours.
inline constexpr TColor clBlack{0, 0, 0};
inline constexpr TColor clChartBackground{240, 240, 240};
inline constexpr TColor clBlue{0, 0, 255};
inline constexpr TColor clPurple{128, 0, 128};
inline constexpr TColor clGreen{0, 128, 0};
inline constexpr TColor clRed{255, 0, 0};
inline constexpr TColor clFuchsia{255, 0, 255};
inline constexpr TColor clNavy{0, 0, 128};
inline constexpr TColor clTeal{0, 128, 128};
inline constexpr TColor clMaroon{128, 0, 0};

// Colour of a channel's label and trace.
TColor ChannelColor(ChartChannel channel);
// Label text on the chart: "I", "II", "III", "aVR", "aVL", "aVF", "C1".."C6", "RESP".
std::string_view ChannelLabel(ChartChannel channel);

// Fixed fields for the screen class of `screenWidth`; band table and sweep
// state are left as they are.
void SelectScreenLayout(ChartLayout& layout, int screenWidth);
// The same for a class the caller chose.
void SelectScreenLayout(ChartLayout& layout, ScreenClass screen);
// Start-up look of the chart image: pen black, brush light grey (kept for the
// whole run), the whole image filled.
void PrepareChart(const ChartLayout& layout, ChartCanvas& canvas);
// Eight-channel band layout from the checked state of CH_I, CH_II, CH_III,
// CH_VR, CH_VL, CH_VF, CH_C1, CH_RE. With nothing checked the table is kept.
void LayoutBands(ChartLayout& layout, const std::array<bool, 8>& checked);
// Twelve-channel layout: two columns of six bands; the Resp entry is kept.
void LayoutBands12C(ChartLayout& layout);
