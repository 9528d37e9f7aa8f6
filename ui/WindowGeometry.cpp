#include "ui/WindowGeometry.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// The status bar's border, kept free left and right of the panels.
constexpr int kStatusBorder = 3;

constexpr int kStatusPanel = 5;
constexpr int kClockPanel = 6;

// The longest acquisition status, "Status: Port lost - reconnecting...
// 80000 packets", is 170 pixels wide in Arial at the Narrow bar's 6 points;
// with the panel's frame and indent it needs 177. The designed 50 showed
// "Status: Rece".
constexpr int kNarrowStatusRoom = 177;

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
      g = {800, 600, 6, 20, 800, 0, {115, 125, 175, 75, 255, kNarrowStatusRoom, 100}};
      g.StatusTop = g.Height - 40;
      break;
    case ScreenClass::ExtraWide:
      // The chart ends where the status bar begins: nothing of it, the time
      // labels included, lies under the bar.
      g = {1920, 1030, 8, 30, 1920, 0, {200, 280, 280, 230, 220, 530, 110}};
      g.StatusTop = g.Height - 60;
      break;
  }
  g.PanelWidths = FitPanelWidths(g.PanelWidths, g.StatusWidth - 2 * kStatusBorder, {kStatusPanel, kClockPanel});
  return g;
}

ScreenClass ScreenClassFor(int availableWidth, int availableHeight) {
  for (ScreenClass screen : {ScreenClass::ExtraWide, ScreenClass::Wide, ScreenClass::Medium}) {
    const WindowGeometry g = WindowGeometryFor(screen);
    if (g.Width <= availableWidth && g.Height <= availableHeight) return screen;
  }
  return ScreenClass::Narrow;
}

std::array<int, 7> FitPanelWidths(const std::array<int, 7>& widths, int room, int keep) {
  return FitPanelWidths(widths, room, {keep});
}

std::array<int, 7> FitPanelWidths(const std::array<int, 7>& widths, int room, std::initializer_list<int> keep) {
  std::array<int, 7> fitted = widths;
  if (std::accumulate(widths.begin(), widths.end(), 0) <= room) return fitted;
  std::array<bool, 7> kept{};
  int keptWidth = 0;
  for (int k : keep) {
    const auto i = static_cast<std::size_t>(k);
    if (i >= kept.size() || kept[i]) continue;
    kept[i] = true;
    keptWidth += widths[i];
  }
  const int left = std::max(0, room - keptWidth);

  // The common width `cap`: the largest one for which the panels, each cut
  // to at most `cap`, take no more than `left`.
  std::vector<int> sorted;
  for (std::size_t i = 0; i < widths.size(); ++i)
    if (!kept[i]) sorted.push_back(widths[i]);
  if (sorted.empty()) return fitted;
  std::sort(sorted.begin(), sorted.end());
  const int others = static_cast<int>(sorted.size());
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
    if (kept[i]) continue;
    fitted[i] = std::min(widths[i], cap);
    spare -= fitted[i];
  }
  // What the division left over goes to the cut panels, from the left.
  for (std::size_t i = 0; i < widths.size() && spare > 0; ++i) {
    if (!kept[i] && fitted[i] < widths[i]) {
      ++fitted[i];
      --spare;
    }
  }
  return fitted;
}
