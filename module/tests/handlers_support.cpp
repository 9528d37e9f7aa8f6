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
      view(store),
      handlers(
          store, layout, trace, view, [](double) { return std::string("12:00:00"); }, [] { return kFixedClock; }) {
  PrepareChart(layout, canvas);
  SetUp8({true, true, true, false, false, false, false, false});
}

void HandlerRig::SetUp8(const std::array<bool, kChannelBoxCount>& selection) {
  handlers.SetDecoding(false, selection);
  LayoutBands(layout, selection);
  DrawBasic(layout, canvas);
}

void HandlerRig::SetUp12() {
  handlers.SetDecoding(true, ChannelBoxDefaults);
  LayoutBands12C(layout);
  DrawBasic12C(layout, canvas);
}

void HandlerRig::StartRecording() {
  store.BeginRecording();
  store.Settings().state = AcquisitionState::Receiving;
  if (handlers.TwelveChannelMode()) {
    DrawBasic12C(layout, canvas);
  } else {
    DrawBasic(layout, canvas);
  }
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

}  // namespace module_test
