#pragma once
// The window's outer geometry per screen class: its size and the status
// bar's font, height, width, top and panel widths. The chart's own geometry
// is ChartLayout's (chart/).
#include <array>

#include "chart/ChartLayout.h"

struct WindowGeometry {
  int Width = 0, Height = 0;
  int StatusFontSize = 0;  // points
  int StatusHeight = 0;
  int StatusWidth = 0;
  int StatusTop = 0;
  std::array<int, 7> PanelWidths{};
};

WindowGeometry WindowGeometryFor(ScreenClass screen);
