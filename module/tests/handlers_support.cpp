#include "handlers_support.h"

namespace module_test {

HandlerRig::HandlerRig()
    : view(store),
      handlers(
          store, view, [this] { view.StopAtLimit(); }, [] { return kFixedClock; }) {
  SetUp8({true, true, true, false, false, false, false, false});
}

void HandlerRig::SetUp8(const std::array<bool, kChannelBoxCount>& selection) { handlers.SetDecoding(false, selection); }

void HandlerRig::SetUp12() { handlers.SetDecoding(true, ChannelBoxDefaults); }

void HandlerRig::StartRecording() {
  store.BeginRecording();
  store.Settings().state = AcquisitionState::Receiving;
  view.readySlots.clear();
  view.readyRecords.clear();
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

}  // namespace module_test
