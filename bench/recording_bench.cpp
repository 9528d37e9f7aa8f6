// Saving and loading a full run (80000 records): both files written, and the
// loader with its per-record status text and plotting on the real chart image.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ChartFrame.h"
#include "ChartLayout.h"
#include "ImageCanvas.h"
#include "LocaleFormat.h"
#include "RecordingFiles.h"
#include "RecordingLoader.h"
#include "SampleStore.h"

namespace {

constexpr int kRunRecords = SampleStore::kRunLimit;

void FillRun(SampleStore& store) {
  store.BeginRecording();
  for (int i = 0; i < kRunRecords; ++i) {
    SampleRecord& record = store.At(store.Append());
    record.time = 0.5 + i / 500.0 / 86400.0;  // 500 records per second
    for (std::size_t c = 0; c < record.channels.size(); ++c) record.channels[c] = static_cast<std::uint8_t>((i + 31 * c) % 248);
    for (std::size_t c = 0; c < record.chest.size(); ++c) record.chest[c] = static_cast<std::uint8_t>((i * 3 + c) % 256);
  }
}

class NullView : public TRecordingView {
 public:
  void SetSaveButtonVisible(bool) override {}
  void SetPrintButtonVisible(bool) override {}
  void SetStatusPanel(int, const std::string& text) override { last = text; }
  std::string last;
};

class NoDialogs : public TDialogs {
 public:
  void ShowMessage(const std::string&, const std::string&) override {}
  bool Confirm(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> ExecuteSaveDialog(const FileDialogOptions&) override { return std::nullopt; }
  std::optional<std::string> ExecuteOpenDialog(const FileDialogOptions&) override { return std::nullopt; }
  std::unique_ptr<PrintJob> ExecutePrintDialog() override { return nullptr; }
};

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
  for (auto _ : state) {
    const std::string log = (folder / ("run" + std::to_string(n++) + ".log")).string();
    WriteRecordingFiles(*store, log, DataNameForLogName(log), "01.01.2024 12:00:00", formatTime);
    state.PauseTiming();
    std::filesystem::remove(log);
    std::filesystem::remove(DataNameForLogName(log));
    state.ResumeTiming();
  }
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(state.iterations() * kRunRecords);
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
  NullView view;
  NoDialogs dialogs;
  std::string currentDataFile;
  TRecordingContext context{*store, layout, chart, dialogs, view, currentDataFile};
  for (auto _ : state) {
    LoadRecordingFile(context, data);
    benchmark::DoNotOptimize(store->Count());
  }
  if (store->Count() != kRunRecords) state.SkipWithError("not every record was loaded");
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(state.iterations() * kRunRecords);
}
BENCHMARK(BM_LoadFullRun)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
