// Cost of the chart's drawing on the real chart image: plotting one record
// (what every received sample costs) and redrawing an empty frame (once per
// sweep). The targets are the chart's share of the receive path's budget:
// 100,000 samples a second leave 10 us per sample for everything, so one
// record's plot must take well under that, and a frame redraw (once per
// sweep of 1200 or 580 records) under the sweep's share.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>

#include "BenchFigures.h"
#include "BenchReporter.h"
#include "chart/ChartFrame.h"
#include "chart/ChartLayout.h"
#include "chart/ChartReview.h"
#include "chart/ImageCanvas.h"
#include "chart/TracePlot.h"
#include "store/SampleStore.h"

namespace {

constexpr int kRecords = 4096;

ChartLayout Layout(int screenWidth, bool twelve) {
  ChartLayout layout;
  SelectScreenLayout(layout, screenWidth);
  if (twelve) LayoutBands12C(layout);
  else LayoutBands(layout, {true, true, true, true, true, true, true, true});
  return layout;
}

// A store of records with lively values, so segments have real lengths.
void FillStore(SampleStore& store) {
  for (int n = 1; n <= kRecords; ++n) {
    SampleRecord& record = store.At(store.Append());
    record.time = n / 86400.0;
    const auto row = static_cast<std::size_t>(n);
    for (std::size_t c = 0; c < 8; ++c) record.channels[c] = static_cast<std::uint8_t>((row * 7 + c * 31) % 248);
    for (std::size_t c = 0; c < 5; ++c) record.chest[c] = static_cast<std::uint8_t>((row * 13 + c * 17) % 248);
  }
}

const TimeFormatter kFormat = LocaleTimeFormatter();

// One twelve-channel record, time labels included; the frame redraw at each
// wrap is left out of the figure.
void BM_ShowGraph12C(benchmark::State& state) {
  ChartLayout layout = Layout(static_cast<int>(state.range(0)), true);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  DrawBasic12C(layout, canvas);
  SampleStore store;
  FillStore(store);
  int n = 2;
  for (auto _ : state) {
    if (layout.CursorX > layout.LeftColumnRight) {
      state.PauseTiming();
      DrawBasic12C(layout, canvas);
      state.ResumeTiming();
    }
    ShowGraph12C(layout, canvas, store, n, kFormat);
    ++layout.CursorX;
    n = n == kRecords ? 2 : n + 1;
  }
  benchmark::DoNotOptimize(canvas.Image().constBits());
}
BENCHMARK(BM_ShowGraph12C)->Arg(1920)->Arg(1100)->Arg(800);

void BM_ShowGraph(benchmark::State& state) {
  ChartLayout layout = Layout(static_cast<int>(state.range(0)), false);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  DrawBasic(layout, canvas);
  SampleStore store;
  FillStore(store);
  int n = 2;
  for (auto _ : state) {
    if (layout.CursorX > layout.RightEdge) {
      state.PauseTiming();
      DrawBasic(layout, canvas);
      state.ResumeTiming();
    }
    ShowGraph(layout, canvas, store, n, kFormat);
    ++layout.CursorX;
    n = n == kRecords ? 2 : n + 1;
  }
}
BENCHMARK(BM_ShowGraph)->Arg(1920);

void BM_DrawBasic(benchmark::State& state) {
  ChartLayout layout = Layout(static_cast<int>(state.range(0)), false);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  for (auto _ : state) DrawBasic(layout, canvas);
}
BENCHMARK(BM_DrawBasic)->Arg(1920)->Arg(1100)->Arg(800);

void BM_DrawBasic12C(benchmark::State& state) {
  ChartLayout layout = Layout(static_cast<int>(state.range(0)), true);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  for (auto _ : state) DrawBasic12C(layout, canvas);
}
BENCHMARK(BM_DrawBasic12C)->Arg(1920);

// The parts: one time label, one trace segment.
void BM_TimeLabel(benchmark::State& state) {
  ImageCanvas canvas(1260, 920);
  canvas.SetFontSize(9);
  for (auto _ : state) canvas.PutText(125, 900, "12:34:56");
}
BENCHMARK(BM_TimeLabel);

void BM_Segment(benchmark::State& state) {
  ImageCanvas canvas(1260, 920);
  int y = 0;
  for (auto _ : state) {
    canvas.Polyline({{500, 100 + y}, {501, 140 - y}});
    y = (y + 1) % 40;
  }
}
BENCHMARK(BM_Segment);

// One view of a full recording redrawn while paging through it: frame and
// every column, at the first, a middle and the last view (range 1: 0, 1, 2)
// and 1 or 8 records per pixel (range 2); eight channels on Wide (range 0: 8)
// or twelve (12).
void BM_Review(benchmark::State& state) {
  const bool twelve = state.range(0) == 12;
  const int compression = static_cast<int>(state.range(2));
  ChartLayout layout = Layout(1920, twelve);
  ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, canvas);
  static SampleStore store;
  if (store.Count() != SampleStore::kRunLimit) {
    store.BeginRecording();
    for (int n = 1; n <= SampleStore::kRunLimit; ++n) {
      SampleRecord& record = store.At(store.Append());
      record.time = 0.5 + n / 300.0 / 86400.0;
      const auto row = static_cast<std::size_t>(n);
      for (std::size_t c = 0; c < 8; ++c) record.channels[c] = static_cast<std::uint8_t>((row * 7 + c * 31) % 248);
      for (std::size_t c = 0; c < 5; ++c) record.chest[c] = static_cast<std::uint8_t>((row * 13 + c * 17) % 248);
    }
  }
  const int perView = RecordsPerView(layout, twelve, compression);
  const int firsts[] = {1, SampleStore::kRunLimit / 2, LastViewFirst(SampleStore::kRunLimit, perView)};
  const int first = firsts[state.range(1)];
  for (auto _ : state) DrawReview(store, layout, twelve, canvas, first, compression, kFormat);
  benchmark::DoNotOptimize(canvas.Image().constBits());
}
BENCHMARK(BM_Review)->ArgsProduct({{8, 12}, {0, 1, 2}, {1, 8}})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  struct Budget {
    const char* run;
    const char* figure;
    double targetNs;
  };
  constexpr double kPerSample = 10000;  // ns: 100,000 samples a second
  const Budget budgets[] = {
      {"BM_ShowGraph12C/1920", "plot one twelve-channel record (Wide)", kPerSample / 4},
      {"BM_ShowGraph12C/800", "plot one twelve-channel record (Narrow)", kPerSample / 4},
      {"BM_ShowGraph/1920", "plot one eight-channel record (Wide)", kPerSample / 4},
      {"BM_DrawBasic12C/1920", "empty twelve-channel frame (Wide), once per 580 records", 580 * kPerSample / 4},
      {"BM_DrawBasic/1920", "empty eight-channel frame (Wide), once per 1200 records", 1200 * kPerSample / 4},
  };
  // Paging through a recording must follow a held key: any view under 50 ms.
  constexpr double kReviewRedraw = 50e6;
  const Budget reviewBudgets[] = {
      {"BM_Review/8/0/1", "review redraw, 80000 records, eight-channel, first view, 1 per pixel", kReviewRedraw},
      {"BM_Review/8/1/1", "review redraw, 80000 records, eight-channel, middle view, 1 per pixel", kReviewRedraw},
      {"BM_Review/8/2/1", "review redraw, 80000 records, eight-channel, last view, 1 per pixel", kReviewRedraw},
      {"BM_Review/8/1/8", "review redraw, 80000 records, eight-channel, middle view, 8 per pixel", kReviewRedraw},
      {"BM_Review/8/2/8", "review redraw, 80000 records, eight-channel, last view, 8 per pixel", kReviewRedraw},
      {"BM_Review/12/1/1", "review redraw, 80000 records, twelve-channel, middle view, 1 per pixel", kReviewRedraw},
      {"BM_Review/12/1/8", "review redraw, 80000 records, twelve-channel, middle view, 8 per pixel", kReviewRedraw},
  };
  FigureBook& book = FigureBook::Instance();
  for (const Budget& budget : budgets) {
    const double ns = reporter.CpuNanoseconds(budget.run);
    if (ns > 0) book.Record(budget.figure, ns, "ns", FigureTarget::AtMost(budget.targetNs), "a quarter of its budget");
  }
  for (const Budget& budget : reviewBudgets) {
    const double ns = reporter.CpuNanoseconds(budget.run);
    if (ns > 0) book.Record(budget.figure, ns / 1e6, "ms", FigureTarget::AtMost(budget.targetNs / 1e6), "any view");
  }
  return book.PrintSummary("chart") > 0 ? 1 : 0;
}
