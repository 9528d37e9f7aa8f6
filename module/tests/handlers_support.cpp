#include "handlers_support.h"

#include <stdexcept>

namespace module_test {

namespace {

ChartLayout WideLayout() {
  ChartLayout layout;
  SelectScreenLayout(layout, 1280);
  return layout;
}

}  // namespace

HandlerRig::HandlerRig()
    : layout(WideLayout()),
      canvas(layout.ChartWidth, layout.ChartHeight),
      sweep(layout, trace, [](double) { return std::string("12:00:00"); }),
      view(store, sweep),
      handlers(store, view, [] { return kFixedClock; }) {
  PrepareChart(layout, canvas);
  SetUp8({true, true, true, false, false, false, false, false});
}

void HandlerRig::SetUp8(const std::array<bool, kChannelBoxCount>& selection) {
  handlers.SetDecoding(false, selection);
  sweep.Restart(false, selection);
}

void HandlerRig::SetUp12() {
  handlers.SetDecoding(true, ChannelBoxDefaults);
  sweep.Restart(true, ChannelBoxDefaults);
}

void HandlerRig::StartRecording() {
  store.BeginRecording();
  store.Settings().state = AcquisitionState::Receiving;
  sweep.Frame();
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

}  // namespace module_test
