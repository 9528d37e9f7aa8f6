#include "ui/WindowGeometry.h"

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
  return g;
}
