#pragma once
// The chart image draws its text with QPainter, which needs a QGuiApplication.
// Fuzz targets create one once, on the offscreen platform, and keep it for
// the life of the process (neither driver gives them a main() of their own).
#include <QGuiApplication>
#include <cstdlib>

inline void EnsureGuiApplication() {
  static QGuiApplication* const app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "ecg-fuzz";
    static char* argv[] = {name, nullptr};
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
}
