// Reception from the received chunk to the chart: a module stream cut into
// chunks, fed through the acquisition session's seven framers into the frame handlers,
// the store and the real chart image, status texts included. Figures in
// samples per second of CPU time, against 100,000 (150 times what a 115200
// baud line can carry); and the cost per sample early and late in a
// recording, which must not grow with its length.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "BenchFigures.h"
#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "module/AcquisitionSession.h"
#include "module/SetupCommand.h"
#include "simulator/ModuleFrames.h"
#include "simulator/SyntheticEcg.h"

namespace {

constexpr int kSamplesPerStream = 3000;  // ten seconds at 300 per second
constexpr int kInfoFramesEvery = 300;    // status, chest status, pulse, resp once a second
constexpr double kTargetSamplesPerSecond = 100000;

// A view that keeps the values the window would word, plots each record on
// the chart as the window does, and counts the calls.
class CountingView : public TSessionView {
 public:
  explicit CountingView(ChartSweep& sweep) : sweep_(sweep) {}
  void StatusReceived(const TModuleStatus&) override { ++calls; }
  void ChestStatusReceived(const std::array<bool, 5>&) override { ++calls; }
  void PulseReceived(int value) override {
    lastValue = value;
    ++calls;
  }
  void RespirationReceived(int value) override {
    lastValue = value;
    ++calls;
  }
  void SweepRestart(bool twelveChannel, const std::array<bool, kChannelBoxCount>& channels) override {
    sweep_.Restart(twelveChannel, channels);
  }
  void RecordCount(int count, bool) override {
    lastCount = count;
    ++calls;
  }
  void RecordReady(int slot) override { sweep_.Plot(*store, slot); }
  // The benchmark never lets a recording reach the limit.
  void RecordingStopped(bool) override { ++stops; }
  void ReportError(const std::string&) override { ++errors; }

  int lastValue = 0;
  int lastCount = 0;
  long calls = 0;
  long stops = 0;
  long errors = 0;
  const SampleStore* store = nullptr;  // the session's

 private:
  ChartSweep& sweep_;
};

// The port is never opened: nothing is handed over.
class NoDispatcher : public TMainThreadDispatcher {
 public:
  void Post(std::function<void()>) override {}
};

ModuleConfig StreamConfig(bool twelveChannels) {
  ModuleConfig config;
  config.transmission = 3;
  if (twelveChannels) {
    config.channelMask = kTwelveChannelMask;
    config.chestMask = kTwelveChannelChestMask;
  } else {
    config.channelMask = 0xFF;
    config.chestMask = kEightChannelChestMask;
  }
  return config;
}

// Ten seconds of what the module sends at 300 samples per second.
std::string ModuleStream(const ModuleConfig& config) {
  SyntheticEcg ecg;
  std::string stream;
  std::uint8_t sequence = 0;
  const auto next = [&sequence] {
    sequence = static_cast<std::uint8_t>((sequence + 1) % kSequenceModulus);
    return sequence;
  };
  for (int i = 0; i < kSamplesPerStream; ++i) {
    const SampleBytes sample = SyntheticEcg::ToBytes(ecg.At(i / 300.0), config.amplification);
    stream += EncodeSample(config, next(), sample);
    if (i % kInfoFramesEvery == kInfoFramesEvery - 1) {
      stream += EncodeStatusFrame(next(), kAllLimbElectrodes, config.SettingsByte(), mmNormal);
      stream += EncodeChestStatusFrame(next(), kAllChestElectrodes);
      stream += EncodePulseFrame(next(), 72);
      stream += EncodeRespirationFrame(next(), 15);
    }
  }
  return stream;
}

// The acquisition session as after the set-up OK (all eight channels, or
// twelve-channel mode) and Read.
struct Reception {
  explicit Reception(bool twelveChannels)
      : layout(Layout()),
        canvas(layout.ChartWidth, layout.ChartHeight),
        sweep(layout, canvas),
        view(sweep),
        session(dispatcher, view),
        store(session.Store()),
        handlers(session.Handlers()) {
    view.store = &store;
    PrepareChart(layout, canvas);
    TSetupRequest request;
    request.twelveChannel = twelveChannels;
    request.channels = {true, true, true, true, true, true, true, true};
    session.Configure(request);
    session.StartRecording();
  }

  static const ChartLayout& Layout() {
    static const ChartLayout wide = [] {
      ChartLayout l;
      SelectScreenLayout(l, 1280);
      return l;
    }();
    return wide;
  }

  void Deliver(std::string_view chunk) { session.Feed(chunk); }

  NoDispatcher dispatcher;
  ChartLayout layout;
  ImageCanvas canvas;
  ChartSweep sweep;
  CountingView view;
  AcquisitionSession session;
  SampleStore& store;
  TFrameHandlers& handlers;
};

void BM_Receive(benchmark::State& state) {
  const std::size_t chunkSize = static_cast<std::size_t>(state.range(0));
  const bool twelveChannels = state.range(1) == 12;
  const std::string stream = ModuleStream(StreamConfig(twelveChannels));
  auto reception = std::make_unique<Reception>(twelveChannels);
  long samples = 0;
  const double cpuBefore = ThreadCpuSeconds();
  for (auto _ : state) {
    if (reception->store.Count() + kSamplesPerStream >= SampleStore::kRunLimit) reception->store.BeginRecording();
    const int before = reception->store.Count();
    for (std::size_t at = 0; at < stream.size(); at += chunkSize) {
      reception->Deliver(std::string_view(stream).substr(at, chunkSize));
    }
    samples += reception->store.Count() - before;
  }
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  if (reception->view.errors != 0) state.SkipWithError("a handler reported an error");
  const double sent = static_cast<double>(state.iterations() * kSamplesPerStream);
  state.SetItemsProcessed(samples);
  state.counters["samples/s"] = benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
  state.counters["stored/sent"] = static_cast<double>(samples) / sent;
  state.SetLabel("target >= 100k samples/s");
  const std::string name = "receive " + std::to_string(state.range(1)) + "-channel, chunks of " +
                           std::to_string(chunkSize) + (chunkSize == 1 ? " byte" : " bytes");
  FigureBook::Instance().Record(name, static_cast<double>(samples) / cpu, "samples/s",
                                FigureTarget::AtLeast(kTargetSamplesPerSecond));
  if (samples != static_cast<long>(sent)) {
    FigureBook::Instance().Record(name + ": samples stored / sent", static_cast<double>(samples) / sent, "",
                                  FigureTarget::AtLeast(1.0));
  }
}
BENCHMARK(BM_Receive)
    ->ArgNames({"chunk", "channels"})
    ->ArgsProduct({{1, 16, 64, 4096}, {12, 8}})
    ->Unit(benchmark::kMillisecond);

// Flat cost: the same stretch of stream (900 twelve-channel samples, with
// their status frames, in chunks of 64 bytes) handled early and late in a
// recording, 1,000 and 79,000 records in.
constexpr int kFlatSamples = 900;

std::string FlatStretch() {
  const std::string stream = ModuleStream(StreamConfig(true));
  // Whole samples only: cut after the chest frame of sample kFlatSamples.
  std::size_t samples = 0, at = 0;
  while (at < stream.size() && samples < kFlatSamples) {
    if (static_cast<unsigned char>(stream[at]) == 0xFE) ++samples;
    ++at;
  }
  return stream.substr(0, std::min(stream.size(), at + 6));
}

void BM_ReceiveAtLength(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  const std::string stretch = FlatStretch();
  auto reception = std::make_unique<Reception>(true);
  // A recording that already holds `length` records.
  for (int n = 0; n < length; ++n) {
    SampleRecord& record = reception->store.At(reception->store.Append());
    record.time = 0.5 + n / 300.0 / 86400.0;
  }
  long samples = 0;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    reception->store.SetCount(length);
    state.ResumeTiming();
    const double before = ThreadCpuSeconds();
    for (std::size_t at = 0; at < stretch.size(); at += 64)
      reception->Deliver(std::string_view(stretch).substr(at, 64));
    cpu += ThreadCpuSeconds() - before;
    samples += reception->store.Count() - length;
  }
  if (reception->view.errors != 0 || reception->view.stops != 0) state.SkipWithError("the recording was disturbed");
  state.SetItemsProcessed(samples);
  FigureBook::Instance().Record("receive at " + FigureBook::Number(length) + " records: time per sample",
                                1e9 * cpu / static_cast<double>(std::max(1L, samples)), "ns",
                                FigureTarget::Informational());
}
BENCHMARK(BM_ReceiveAtLength)->Arg(1000)->Arg(79000)->Unit(benchmark::kMicrosecond);

// The handlers alone, without framing: one eight-channel sample frame.
void BM_ReceiveSampleFrame8(benchmark::State& state) {
  auto reception = std::make_unique<Reception>(false);
  const std::string frame("\xF8\x01\x10\x20\x30\x40\x50\x60\x70\x80", 10);
  for (auto _ : state) {
    if (reception->store.Count() >= SampleStore::kRunLimit - 1) reception->store.BeginRecording();
    reception->handlers.Receive(frame);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveSampleFrame8);

// One twelve-channel sample: the sample frame and its chest frame.
void BM_ReceiveSamplePair12(benchmark::State& state) {
  auto reception = std::make_unique<Reception>(true);
  const std::string sample("\xF8\x01\x10\x20\x30\x40\x50\x60\x70", 9);
  const std::string chest("\xFE\x01\x11\x22\x33\x44\x55", 7);
  for (auto _ : state) {
    if (reception->store.Count() >= SampleStore::kRunLimit - 1) reception->store.BeginRecording();
    reception->handlers.Receive(sample);
    reception->handlers.ReceiveCenter(chest);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveSamplePair12);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FigureBook& book = FigureBook::Instance();
  const Figure* early = book.Find("receive at 1,000 records: time per sample");
  const Figure* late = book.Find("receive at 79,000 records: time per sample");
  if (early && late && early->value > 0) {
    book.Record("receive: time per sample at 79,000 / at 1,000 records", late->value / early->value, "",
                FigureTarget::AtMost(1.25), "flat: must not grow with the recording");
  }
  return book.PrintSummary("receive path") > 0 ? 1 : 0;
}
