// Saving and loading a full run (80000 records): both files written, and the
// loader with its per-record status text and plotting on the real chart image.
// Targets: under 0.3 s each (wall time; the save includes syncing both files
// to the disk). Flat cost: the loader's time per record in a file of 1,000
// and of 79,000 records.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "chart/ChartFrame.h"
#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "recording/RecordingExport.h"
#include "recording/RecordingFiles.h"
#include "recording/RecordingLoader.h"
#include "recording/RecordingShape.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

namespace {

constexpr int kRunRecords = SampleStore::kRunLimit;
constexpr double kTargetSeconds = 0.3;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void FillRun(SampleStore& store, int records = kRunRecords) {
  store.BeginRecording();
  for (int i = 0; i < records; ++i) {
    SampleRecord& record = store.At(store.Append());
    record.time = 0.5 + i / 500.0 / 86400.0;  // 500 records per second
    const auto row = static_cast<std::size_t>(i);
    for (std::size_t c = 0; c < record.channels.size(); ++c)
      record.channels[c] = static_cast<std::uint8_t>((row + 31 * c) % 248);
    for (std::size_t c = 0; c < record.chest.size(); ++c)
      record.chest[c] = static_cast<std::uint8_t>((row * 3 + c) % 256);
  }
}

// What the window's Load does once the file is chosen: the records read by
// the loader's rules with a status text per record, then drawn sweep by
// sweep in the mode they show.
void LoadAndDraw(const std::string& path, SampleStore& store, ChartLayout& layout, ChartCanvas& chart) {
  std::string status;
  LoadRecordingFile(path, store,
                    [&](int count) { status = "Status: Loading... " + std::to_string(count) + " packets"; });
  benchmark::DoNotOptimize(status.data());
  const RecordingShape shape = DetectRecordingShape(store);
  ChartSweep sweep(layout, chart, LocaleTimeFormatter());
  sweep.Restart(shape.mode == RecordingMode::TwelveChannel, EightChannelBoxes(shape));
  for (int slot = 1; slot <= store.Count(); ++slot) sweep.Plot(store, slot);
}

std::filesystem::path BenchFolder() {
  auto folder = std::filesystem::temp_directory_path() / ("recording_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  return folder;
}

void BM_SaveFullRun(benchmark::State& state) {
  auto store = std::make_unique<SampleStore>();
  FillRun(*store);
  const auto folder = BenchFolder();
  const TimeFormatter formatTime = LocaleTimeFormatter();
  int n = 0;
  std::vector<double> times;
  double cpu = 0;
  for (auto _ : state) {
    const std::string log = (folder / ("run" + std::to_string(n++) + ".log")).string();
    const auto started = Clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    WriteRecordingFiles(*store, log, DataNameForLogName(log), "01.01.2024 12:00:00", formatTime);
    cpu += ThreadCpuSeconds() - cpuBefore;
    times.push_back(SecondsSince(started));
    state.PauseTiming();
    std::filesystem::remove(log);
    std::filesystem::remove(DataNameForLogName(log));
    state.ResumeTiming();
  }
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(state.iterations() * kRunRecords);
  state.SetLabel("target < 0.3 s");
  FigureBook::Instance().Record("save of 80000 records (log and data file), median", Median(times), "s",
                                FigureTarget::AtMost(kTargetSeconds));
  FigureBook::Instance().Record("save of 80000 records: CPU time", cpu / static_cast<double>(state.iterations()), "s",
                                FigureTarget::Informational());
}
BENCHMARK(BM_SaveFullRun)->Unit(benchmark::kMillisecond);

void BM_LoadFullRun(benchmark::State& state) {
  auto store = std::make_unique<SampleStore>();
  FillRun(*store);
  const auto folder = BenchFolder();
  const std::string log = (folder / "run.log").string();
  const std::string data = DataNameForLogName(log);
  WriteRecordingFiles(*store, log, data, "01.01.2024 12:00:00", LocaleTimeFormatter());

  ChartLayout layout;
  SelectScreenLayout(layout, 1280);
  LayoutBands(layout, {true, true, true, true, true, true, true, true});
  ImageCanvas chart(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, chart);
  std::vector<double> times;
  double cpu = 0;
  for (auto _ : state) {
    const auto started = Clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    LoadAndDraw(data, *store, layout, chart);
    cpu += ThreadCpuSeconds() - cpuBefore;
    times.push_back(SecondsSince(started));
    benchmark::DoNotOptimize(store->Count());
  }
  if (store->Count() != kRunRecords) state.SkipWithError("not every record was loaded");
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(state.iterations() * kRunRecords);
  state.SetLabel("target < 0.3 s");
  FigureBook::Instance().Record("load of 80000 records (status text, plotting), median", Median(times), "s",
                                FigureTarget::AtMost(kTargetSeconds));
  FigureBook::Instance().Record("load of 80000 records: CPU time", cpu / static_cast<double>(state.iterations()), "s",
                                FigureTarget::Informational());
}
BENCHMARK(BM_LoadFullRun)->Unit(benchmark::kMillisecond);

// Flat cost of the loader: time per record in a short and in a long file.
void BM_LoadPerRecord(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  auto store = std::make_unique<SampleStore>();
  FillRun(*store, records);
  const auto folder = BenchFolder();
  const std::string log = (folder / "run.log").string();
  const std::string data = DataNameForLogName(log);
  WriteRecordingFiles(*store, log, data, "01.01.2024 12:00:00", LocaleTimeFormatter());

  ChartLayout layout;
  SelectScreenLayout(layout, 1280);
  LayoutBands(layout, {true, true, true, true, true, true, true, true});
  ImageCanvas chart(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(layout, chart);
  double cpu = 0;
  for (auto _ : state) {
    const double cpuBefore = ThreadCpuSeconds();
    LoadAndDraw(data, *store, layout, chart);
    cpu += ThreadCpuSeconds() - cpuBefore;
  }
  if (store->Count() != records) state.SkipWithError("not every record was loaded");
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(state.iterations() * records);
  FigureBook::Instance().Record("load of " + FigureBook::Number(records) + " records: time per record",
                                1e9 * cpu / static_cast<double>(state.iterations() * records), "ns",
                                FigureTarget::Informational());
}
BENCHMARK(BM_LoadPerRecord)->Arg(1000)->Arg(79000)->Unit(benchmark::kMillisecond);

// Export of a full run, each format: the whole write, temporary file,
// sync and rename included.
void BM_ExportFullRun(benchmark::State& state) {
  const bool edf = state.range(0) == 0;
  auto store = std::make_unique<SampleStore>();
  FillRun(*store);
  const auto folder = BenchFolder();
  const std::string path = (folder / (edf ? "run.edf" : "run.csv")).string();
  std::vector<double> times;
  ExportOptions replacing;  // each run replaces the previous one's file
  replacing.replaceExisting = true;
  for (auto _ : state) {
    const auto started = Clock::now();
    if (edf) {
      ExportEdf(*store, path, replacing);
    } else {
      ExportCsv(*store, path, replacing);
    }
    times.push_back(SecondsSince(started));
  }
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(state.iterations() * kRunRecords);
  state.SetLabel("target < 0.5 s");
  FigureBook::Instance().Record(std::string("export of 80000 records as ") + (edf ? "EDF+" : "CSV") + ", median",
                                Median(times), "s", FigureTarget::AtMost(0.5));
}
BENCHMARK(BM_ExportFullRun)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FigureBook& book = FigureBook::Instance();
  const Figure* shortFile = book.Find("load of 1,000 records: time per record");
  const Figure* longFile = book.Find("load of 79,000 records: time per record");
  if (shortFile && longFile && shortFile->value > 0) {
    book.Record("load: time per record at 79,000 / at 1,000 records", longFile->value / shortFile->value, "",
                FigureTarget::AtMost(1.25), "flat: must not grow with the file");
  }
  return book.PrintSummary("files") > 0 ? 1 : 0;
}
