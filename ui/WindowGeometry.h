#pragma once
// The window's outer geometry per screen class: its size and the status
// bar's font, height, width, top and panel widths. The chart's own geometry
// is ChartLayout's (chart/).
#include <array>
#include <initializer_list>

#include "chart/ChartLayout.h"

struct WindowGeometry {
  // The window as designed, title bar and borders included: what must fit
  // on the screen.
  int Width = 0, Height = 0;
  int StatusFontSize = 0;  // points
  int StatusHeight = 0;
  int StatusWidth = 0;
  int StatusTop = 0;
  // Panel widths as they are shown: the designed ones, narrowed where they
  // would not all fit into the bar (see FitPanelWidths).
  std::array<int, 7> PanelWidths{};
  // The area inside the frame ends with the status bar: the designed height
  // less the strip the class's window height leaves for the title bar and
  // borders.
  int ClientHeight() const { return StatusTop + StatusHeight; }
};

// In every class the acquisition status panel (5) and the clock (6) keep
// their widths, and the acquisition status has the room of its longest
// text: in the Narrow class that is more than the designed 50 pixels, and
// the other panels give it up (see FitPanelWidths).
WindowGeometry WindowGeometryFor(ScreenClass screen);

// The largest class whose window fits into the screen's free area (a
// laptop's 1366 x 768 takes Medium, not a Wide window that runs off its
// bottom; a 1920 x 1080 screen takes ExtraWide); Narrow when none does.
ScreenClass ScreenClassFor(int availableWidth, int availableHeight);

// Widths that fit into `room` pixels: unchanged when they already do, else
// the widest panels are cut down to one common width (the widest first,
// the others only as far as needed), so every panel stays visible and the
// narrow ones keep their designed widths. Panel `keep` (the clock) is never
// narrowed. Where even that cannot fit, every panel but `keep` gets an
// equal share of what is left.
std::array<int, 7> FitPanelWidths(const std::array<int, 7>& widths, int room, int keep);
// The same with several panels that are never narrowed.
std::array<int, 7> FitPanelWidths(const std::array<int, 7>& widths, int room, std::initializer_list<int> keep);
