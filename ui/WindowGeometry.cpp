#include "ui/WindowGeometry.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// The status bar's border, kept free left and right of the panels.
constexpr int kStatusBorder = 3;

}  // namespace

WindowGeometry WindowGeometryFor(ScreenClass screen) {
  WindowGeometry g;
  switch (screen) {
    case ScreenClass::Wide:
      g = {1280, 1000, 7, 30, 1280, 0, {135, 185, 185, 155, 145, 355, 75}};
      g.StatusTop = g.Height - 60;
      break;
    case ScreenClass::Medium:
      g = {1024, 768, 7, 30, 1024, 0, {100, 150, 150, 120, 110, 320, 40}};
      g.StatusTop = g.Height - 60;
      break;
    case ScreenClass::Narrow:
      // The last panel keeps its designed width of 100 in this class.
      g = {800, 600, 6, 20, 800, 0, {115, 125, 175, 75, 255, 50, 100}};
      g.StatusTop = g.Height - 40;
      break;
  }
  g.PanelWidths = FitPanelWidths(g.PanelWidths, g.StatusWidth - 2 * kStatusBorder, 6);
  return g;
}

ScreenClass ScreenClassFor(int availableWidth, int availableHeight) {
  for (ScreenClass screen : {ScreenClass::Wide, ScreenClass::Medium}) {
    const WindowGeometry g = WindowGeometryFor(screen);
    if (g.Width <= availableWidth && g.Height <= availableHeight) return screen;
  }
  return ScreenClass::Narrow;
}

std::array<int, 7> FitPanelWidths(const std::array<int, 7>& widths, int room, int keep) {
  std::array<int, 7> fitted = widths;
  if (std::accumulate(widths.begin(), widths.end(), 0) <= room) return fitted;
  const auto kept = static_cast<std::size_t>(keep);
  const int left = std::max(0, room - widths[kept]);
  const int others = static_cast<int>(widths.size()) - 1;

  // The common width `cap`: the largest one for which the panels, each cut
  // to at most `cap`, take no more than `left`.
  std::vector<int> sorted;
  for (std::size_t i = 0; i < widths.size(); ++i)
    if (i != kept) sorted.push_back(widths[i]);
  std::sort(sorted.begin(), sorted.end());
  int below = 0;  // sum of the panels narrower than the cap
  int cap = left / others;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const int wider = static_cast<int>(sorted.size() - i);  // panels from sorted[i] on are cut
    const int candidate = (left - below) / wider;
    if (candidate <= sorted[i]) {
      cap = candidate;
      break;
    }
    below += sorted[i];
  }
  int spare = left;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (i == kept) continue;
    fitted[i] = std::min(widths[i], cap);
    spare -= fitted[i];
  }
  // What the division left over goes to the cut panels, from the left.
  for (std::size_t i = 0; i < widths.size() && spare > 0; ++i) {
    if (i != kept && fitted[i] < widths[i]) {
      ++fitted[i];
      --spare;
    }
  }
  return fitted;
}
