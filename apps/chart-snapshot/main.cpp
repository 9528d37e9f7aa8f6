// Writes PNG pictures of the chart into a directory: the empty frames of the
// screen classes in eight- and twelve-channel mode, and a frame of each with
// traces swept across it. For looking at the chart without a module.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

namespace {

constexpr const char* kUsage =
    "usage: chart-snapshot <output directory>\n"
    "Writes PNG pictures of the empty chart and of a chart with traces swept\n"
    "across it, for every screen class in eight- and twelve-channel mode.\n"
    "A directory whose name begins with '-' is given as ./-name.\n";

struct ScreenChoice {
  const char* name;
  ScreenClass screen;
};
constexpr ScreenChoice kScreens[] = {{"wide", ScreenClass::Wide},
                                     {"medium", ScreenClass::Medium},
                                     {"narrow", ScreenClass::Narrow},
                                     {"extra-wide", ScreenClass::ExtraWide}};

// A synthetic heartbeat: flat line, P wave, QRS spike, T wave, 72 beats a
// minute at 250 records a second; each lead scaled a little
// differently so the bands are told apart.
std::uint8_t Beat(int n, int lead) {
  const double t = std::fmod(n / 250.0, 60.0 / 72.0);
  auto bump = [t](double at, double width, double height) {
    const double d = (t - at) / width;
    return height * std::exp(-d * d);
  };
  double v = 90 + bump(0.20, 0.025, 12) - bump(0.31, 0.008, 14) + bump(0.33, 0.010, 120) - bump(0.35, 0.010, 30) +
             bump(0.55, 0.045, 25);
  v = 90 + (v - 90) * (0.55 + 0.07 * lead);
  if (lead == 12) v = 124 + 60 * std::sin(n / 250.0 * 2 * 3.14159265 * 0.25);  // respiration
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

void Fill(SampleRecord& record, int n) {
  record.time = (10 * 3600 + n / 250.0) / 86400.0;
  for (int i = 0; i < 7; ++i) record.channels[static_cast<std::size_t>(i)] = Beat(n, i);
  record.channels[chResp] = Beat(n, 12);
  for (int i = 0; i < 5; ++i) record.chest[static_cast<std::size_t>(i)] = Beat(n, 7 + i);
}

bool Save(const ImageCanvas& canvas, const QString& dir, const std::string& name) {
  const QString path = QDir(dir).filePath(QString::fromStdString(name) + ".png");
  if (!canvas.Image().save(path, "PNG")) {
    std::fprintf(stderr, "chart-snapshot: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  std::printf("%s\n", path.toLocal8Bit().constData());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // An option this program does not know is refused, never taken for the
  // name of a directory to create.
  if (argc != 2 || argv[1][0] == '-' || argv[1][0] == '\0') {
    if (argc == 2 && argv[1][0] == '-') std::fprintf(stderr, "chart-snapshot: unknown option %s\n", argv[1]);
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  const QString dir = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(dir)) {
    std::fprintf(stderr, "chart-snapshot: cannot create %s\n", argv[1]);
    return 1;
  }
  const TimeFormatter formatTime = LocaleTimeFormatter();
  bool ok = true;
  for (const ScreenChoice& screen : kScreens) {
    for (bool twelve : {false, true}) {
      ChartLayout layout;
      SelectScreenLayout(layout, screen.screen);
      ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
      PrepareChart(layout, canvas);
      ChartSweep sweep(layout, canvas, formatTime);
      const std::string name = std::string(screen.name) + (twelve ? "-12" : "-8");
      sweep.Restart(twelve, {true, true, true, true, true, true, true, true});
      ok = Save(canvas, dir, name + "-empty") && ok;

      // One and a half sweeps, so the picture shows a wrap.
      SampleStore store;
      const int perSweep = sweep.End() - layout.Margin;
      for (int n = 0; n < perSweep * 3 / 2; ++n) {
        const int slot = store.Append();
        Fill(store.At(slot), n);
        sweep.Plot(store, slot);
      }
      ok = Save(canvas, dir, name + "-traces") && ok;
    }
  }
  return ok ? 0 : 1;
}
