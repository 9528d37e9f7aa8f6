// The window's reception fed arbitrary bytes in arbitrary chunks: the seven
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
//                       (mode C & 4, selection): frames keep their old length
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

#include "chart/ChartFrame.h"
#include "chart/ChartLayout.h"
#include "module/FrameHandlers.h"
#include "FuzzCheck.h"
#include "chart/ImageCanvas.h"
#include "module/ModuleFramers.h"
#include "OffscreenGui.h"
#include "store/SampleStore.h"
#include "module/SetupCommand.h"

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
  FUZZ_CHECK(store.Count() >= 0 && store.Count() <= SampleStore::kLastSlot, "count %d outside the store", store.Count());
  if (store.Settings().state == AcquisitionState::Receiving) {
    FUZZ_CHECK(store.Count() <= kRunLimit, "count %d above the run limit while receiving", store.Count());
  }
}

// The window as the handlers see it: check boxes from the input, a stop that
// does what the window's stop branch does to the state (its offer to save is
// the recording library's business and not fuzzed here).
class FuzzView : public TAcquisitionView {
 public:
  explicit FuzzView(SampleStore& store) : store_(store) {}

  bool TwelveChannelMode() const override { return twelveChannels; }
  Selection ChannelSelection() const override { return selection; }
  void SetStatusPanel(int index, std::string_view text) override {
    FUZZ_CHECK(index >= 0 && index < 7, "status panel %d does not exist", index);
    lastText.assign(text);
    CheckRecordingBounds(store_);
  }
  void SetText(ViewText, std::string_view text) override { lastText.assign(text); }
  void ShowIdentBox() override {}
  void StopRecording() override {
    CheckRecordingBounds(store_);
    store_.Settings().state = AcquisitionState::Idle;
  }
  void ReportError(const std::string& text) override {
    // Nothing in reception may fail with this view: any report is a fault.
    FUZZ_CHECK(false, "a handler reported an error: %s", text.c_str());
  }

  bool twelveChannels = false;
  Selection selection{};
  std::string lastText;

 private:
  SampleStore& store_;
};

// What lives as long as the process: the store (one big allocation) and one
// chart image per screen class. Every input starts them afresh.
struct Shared {
  SampleStore store;
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
  Station(SampleStore& s, ImageCanvas& c, int screenWidth)
      : store(s),
        canvas(c),
        view(store),
        handlers(store, layout, canvas, view, LocaleTimeFormatter(), [this] { return NextTime(); }),
        framers(handlers) {
    SelectScreenLayout(layout, screenWidth);
    PrepareChart(layout, canvas);
    store.BeginRecording();
    store.Settings().state = AcquisitionState::Idle;
  }

  // A clock that moves on by one sample at 300 per second, the same for every run.
  double NextTime() {
    time += 1.0 / (86400.0 * 300.0);
    return time;
  }

  void SetupOK(bool twelveChannels, const Selection& selection) {
    view.twelveChannels = twelveChannels;
    view.selection = selection;
    if (twelveChannels) {
      framers.SetTwelveChannelSizes();
      LayoutBands12C(layout);
      DrawBasic12C(layout, canvas);
    } else {
      framers.SetEightChannelSizes(SelectedChannelCount(selection));
      LayoutBands(layout, selection);
      DrawBasic(layout, canvas);
    }
  }

  void Read() {
    store.BeginRecording();
    store.Settings().state = AcquisitionState::Receiving;
    if (view.twelveChannels) {
      DrawBasic12C(layout, canvas);
    } else {
      DrawBasic(layout, canvas);
    }
  }

  void Feed(std::string_view chunk) {
    framers.Feed(chunk);
    for (const TComDataPacket* framer : framers.InBindingOrder()) {
      FUZZ_CHECK(framer->PendingBytes().size() < kFramerLimit, "a framer holds %zu bytes after a chunk of %zu",
                 framer->PendingBytes().size(), chunk.size());
    }
    CheckRecordingBounds(store);
  }

  SampleStore& store;
  ChartLayout layout;
  ImageCanvas& canvas;
  FuzzView view;
  double time = 0.5;
  TFrameHandlers handlers;
  TModuleFramers framers;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Shared& shared = TheShared();
  Reader in(data, size);
  const std::size_t screen = in.Byte() % kScreenWidths.size();
  const std::uint8_t flags = in.Byte();
  const std::uint8_t mask = in.Byte();
  const std::uint8_t distance = in.Byte();

  Station station(shared.store, *shared.canvases[screen], kScreenWidths[screen]);
  station.SetupOK((flags & 1) != 0, SelectionFrom(mask));
  station.Read();
  if (flags & 2) station.store.SetCount(kRunLimit - distance);

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
        station.view.twelveChannels = twelveChannels;
        station.view.selection = SelectionFrom(in.Byte());
        break;
      case 1:
        station.SetupOK(twelveChannels, SelectionFrom(in.Byte()));
        break;
      case 2:
        station.Read();
        break;
      default:
        station.store.Settings().state = AcquisitionState::Idle;
        break;
    }
    CheckRecordingBounds(station.store);
  }
  return 0;
}
