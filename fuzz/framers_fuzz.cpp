// The acquisition session fed arbitrary bytes in arbitrary chunks: the seven
// framers, the real frame handlers, the store and the real chart image, in
// both modes, on every screen class and with every channel selection.
//
// Input layout:
//   byte 0  screen class (Wide, Medium, Narrow)
//   byte 1  bit 0: twelve-channel set-up; bit 1: the recording starts near
//           the run limit (count = 80000 - byte 3) instead of at 0
//   byte 2  channel selection CH_I (bit 0) .. CH_RE (bit 7)
//   byte 3  distance from the run limit
//   then a program of steps, each a length byte L and
//     L > 0: a chunk of the next L bytes (fewer at the end), fed to the framers
//     L = 0: a control byte C and, for C's operations 0 and 1, a selection byte:
//            C & 3 = 0  the set-up panel's check boxes changed, panel cancelled
//                       (mode C & 4, selection): nothing the session decodes
//                       with changes
//                    1  set-up OK with mode C & 4 and the selection
//                    2  Read (a new recording)   3  Stop
//
// Invariants: no sanitizer report; no handler reports an error; while a
// recording runs its count is never above 80000, checked at every status text
// and after every chunk; no framer holds 1024 or more bytes after a chunk.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "OffscreenGui.h"
#include "chart/ChartFrame.h"
#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "module/AcquisitionSession.h"
#include "store/SampleStore.h"

namespace {

constexpr int kRunLimit = SampleStore::kRunLimit;
constexpr std::size_t kFramerLimit = 1024;  // MaxBufferSize of every framer
constexpr std::array<int, 3> kScreenWidths{1280, 1100, 800};

using Selection = std::array<bool, kChannelBoxCount>;

Selection SelectionFrom(std::uint8_t mask) {
  Selection selection{};
  for (std::size_t i = 0; i < selection.size(); ++i) selection[i] = (mask >> i) & 1;
  return selection;
}

void CheckRecordingBounds(const SampleStore& store) {
  FUZZ_CHECK(store.Count() >= 0 && store.Count() <= SampleStore::kLastSlot, "count %d outside the store",
             store.Count());
  if (store.Settings().state == AcquisitionState::Receiving) {
    FUZZ_CHECK(store.Count() <= kRunLimit, "count %d above the run limit while receiving", store.Count());
  }
}

// What the session tells its owner, checked as it happens (no offer to save:
// that is the window's business and not fuzzed here).
class FuzzView : public TSessionView {
 public:
  void StatusReceived(const TModuleStatus& status) override {
    FUZZ_CHECK(status.modeCode >= 0 && status.modeCode < 16, "mode code %d", status.modeCode);
  }
  void Identified(std::string_view text) override { lastText.assign(text); }
  void PulseReceived(int value) override { FUZZ_CHECK(value >= 0 && value <= 255, "pulse %d", value); }
  void RespirationReceived(int value) override { FUZZ_CHECK(value >= 0 && value <= 255, "respiration %d", value); }
  // The window's sweep draws every record reported ready, on a real image.
  void SweepRestart(bool twelveChannel, const std::array<bool, kChannelBoxCount>& channels) override {
    sweep->Restart(twelveChannel, channels);
  }
  void RecordCount(int count, bool) override {
    FUZZ_CHECK(store && count == store->Count(), "count %d told, the store holds %d", count,
               store ? store->Count() : -1);
    CheckRecordingBounds(*store);
  }
  void RecordReady(int slot) override {
    FUZZ_CHECK(store && slot >= 1 && slot <= store->Count(), "record %d reported ready outside the recording", slot);
    sweep->Plot(*store, slot);
  }
  void RecordingStopped(bool) override {
    if (store) CheckRecordingBounds(*store);
  }
  void ReportError(const std::string& text) override {
    // Nothing in reception may fail with this view: any report is a fault.
    FUZZ_CHECK(false, "a handler reported an error: %s", text.c_str());
  }

  const SampleStore* store = nullptr;
  ChartSweep* sweep = nullptr;
  std::string lastText;
};

// The session never opens its port here: nothing is ever handed over.
class NoDispatcher : public TMainThreadDispatcher {
 public:
  void Post(std::function<void()>) override {}
};

// What lives as long as the process: one chart image per screen class.
struct Shared {
  std::array<std::unique_ptr<ImageCanvas>, kScreenWidths.size()> canvases;
};

Shared& TheShared() {
  static Shared* const shared = [] {
    EnsureGuiApplication();
    auto* s = new Shared;
    for (std::size_t i = 0; i < kScreenWidths.size(); ++i) {
      ChartLayout layout;
      SelectScreenLayout(layout, kScreenWidths[i]);
      s->canvases[i] = std::make_unique<ImageCanvas>(layout.ChartWidth, layout.ChartHeight);
    }
    return s;
  }();
  return *shared;
}

ChartLayout ScreenLayout(int screenWidth) {
  ChartLayout layout;
  SelectScreenLayout(layout, screenWidth);
  return layout;
}

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ == size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string_view Take(std::size_t count) {
    count = std::min(count, size_ - at_);
    const std::string_view piece(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return piece;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

struct Station {
  Station(ImageCanvas& canvas, int screenWidth)
      : layout(ScreenLayout(screenWidth)),
        sweep(layout, canvas, LocaleTimeFormatter()),
        session(dispatcher, view, [this] { return NextTime(); }) {
    view.store = &session.Store();
    view.sweep = &sweep;
    PrepareChart(layout, canvas);
  }

  // A clock that moves on by one sample at 300 per second, the same for every run.
  double NextTime() {
    time += 1.0 / (86400.0 * 300.0);
    return time;
  }

  void SetupOK(bool twelveChannels, const Selection& selection) {
    TSetupRequest request;
    request.twelveChannel = twelveChannels;
    request.channels = selection;
    session.Configure(request);
  }

  void Feed(std::string_view chunk) {
    session.Feed(chunk);
    for (const TComDataPacket* framer : session.Framers().InBindingOrder()) {
      FUZZ_CHECK(framer->PendingBytes().size() < kFramerLimit, "a framer holds %zu bytes after a chunk of %zu",
                 framer->PendingBytes().size(), chunk.size());
    }
    CheckRecordingBounds(session.Store());
  }

  NoDispatcher dispatcher;
  FuzzView view;
  double time = 0.5;
  ChartLayout layout;
  ChartSweep sweep;
  AcquisitionSession session;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Shared& shared = TheShared();
  Reader in(data, size);
  const std::size_t screen = in.Byte() % kScreenWidths.size();
  const std::uint8_t flags = in.Byte();
  const std::uint8_t mask = in.Byte();
  const std::uint8_t distance = in.Byte();

  Station station(*shared.canvases[screen], kScreenWidths[screen]);
  station.SetupOK((flags & 1) != 0, SelectionFrom(mask));
  station.session.StartRecording();
  if (flags & 2) station.session.Store().SetCount(kRunLimit - distance);

  while (!in.Empty()) {
    const std::uint8_t length = in.Byte();
    if (length > 0) {
      station.Feed(in.Take(length));
      continue;
    }
    const std::uint8_t control = in.Byte();
    const bool twelveChannels = (control & 4) != 0;
    switch (control & 3) {
      case 0:
        (void)in.Byte();  // boxes changed without OK: the module streams as before
        break;
      case 1: station.SetupOK(twelveChannels, SelectionFrom(in.Byte())); break;
      case 2: station.session.StartRecording(); break;
      default: station.session.StopRecording(); break;
    }
    CheckRecordingBounds(station.session.Store());
  }
  return 0;
}
