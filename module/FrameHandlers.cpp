#include "FrameHandlers.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <utility>

#include "ChartFrame.h"
#include "StatusFrames.h"
#include "TracePlot.h"

namespace {

constexpr std::string_view kReceivingPrefix = "Status: Receiving... ";
constexpr std::string_view kPacketsSuffix = " packets";

// Byte `position` (1-based, as the frame tables count) of a packet, or 0 when
// the packet is shorter. Frames are cut to the framer's size, but a channel
// selection changed without a new set-up can ask for more bytes than a frame
// carries; those channels stay 0 rather than reading past the packet.
std::uint8_t ByteOrZero(std::string_view packet, std::size_t position) {
  return position <= packet.size() ? static_cast<std::uint8_t>(packet[position - 1]) : 0;
}

}  // namespace

TFrameHandlers::TFrameHandlers(SampleStore& store, ChartLayout& layout, ChartCanvas& canvas, TAcquisitionView& view,
                               TimeFormatter formatTime, DayClock clock)
    : store_(store),
      layout_(layout),
      canvas_(canvas),
      view_(view),
      formatTime_(std::move(formatTime)),
      clock_(std::move(clock)) {
  statusText_.reserve(64);
}

template <typename Step>
void TFrameHandlers::Guarded(Step&& step) noexcept {
  // An exception leaving a handler would end the port's event thread, and
  // with it all reception until the next set-up: report it instead.
  try {
    step();
  } catch (const std::exception& e) {
    Report(e.what());
  } catch (...) {
    Report("Unknown error while handling a received frame");
  }
}

void TFrameHandlers::Report(const char* what) noexcept {
  try {
    view_.ReportError(what);
  } catch (...) {
    // Nothing is left to tell the user with; reception goes on regardless.
  }
}

bool TFrameHandlers::Storing() {
  if (store_.Settings().state != AcquisitionState::Receiving) return false;
  // Read starts every recording at count 0, so a count below the limit means
  // the stop of an earlier recording no longer applies.
  if (store_.Count() < kRunLimit) limitStopDone_ = false;
  return true;
}

void TFrameHandlers::StopAtRunLimit() {
  if (limitStopDone_) return;  // one offer to save per recording
  limitStopDone_ = true;
  try {
    view_.StopRecording();
  } catch (const std::exception& e) {
    Report(e.what());
  } catch (...) {
    Report("Unknown error while stopping the recording");
  }
}

void TFrameHandlers::ShowReceivingStatus() {
  statusText_.assign(kReceivingPrefix);
  char digits[16];
  const auto [end, ec] = std::to_chars(std::begin(digits), std::end(digits), store_.Count());
  (void)ec;  // an int always fits
  statusText_.append(digits, end);
  statusText_.append(kPacketsSuffix);
  view_.SetStatusPanel(spStatus, statusText_);
}

void TFrameHandlers::Receive(const std::string& packet) {
  Guarded([&] {
    if (!Storing()) return;
    if (store_.Count() >= kRunLimit) {
      // The recording is full; in twelve-channel mode the last record's chest
      // frame may never come (a chunk's sample frames are handled after its
      // chest frames), so the sample frame ends the recording itself.
      StopAtRunLimit();
      return;
    }
    if (view_.TwelveChannelMode()) {
      StoreSample12(packet);
    } else {
      StoreSample8(packet);
    }
  });
}

void TFrameHandlers::StoreSample8(std::string_view packet) {
  store_.Append();
  ShowReceivingStatus();
  if (layout_.CursorX > layout_.RightEdge) DrawBasic(layout_, canvas_);
  SampleRecord& record = store_.Newest();
  record.time = clock_();
  record.channels.fill(0);
  record.chest.fill(0);
  const std::array<bool, kChannelBoxCount> selected = view_.ChannelSelection();
  std::size_t position = 3;
  for (std::size_t channel = 0; channel < selected.size(); ++channel) {
    if (selected[channel]) record.channels[channel] = ByteOrZero(packet, position++);
  }
  ShowGraph(layout_, canvas_, store_, formatTime_);
  ++layout_.CursorX;
  if (store_.Count() >= kRunLimit) StopAtRunLimit();
}

void TFrameHandlers::StoreSample12(std::string_view packet) {
  store_.Append();
  ShowReceivingStatus();
  if (layout_.CursorX > layout_.LeftColumnRight) DrawBasic12C(layout_, canvas_);
  SampleRecord& record = store_.Newest();
  record.time = clock_();
  record.channels.fill(0);
  record.chest.fill(0);
  for (std::size_t channel = chI; channel <= chC1; ++channel) record.channels[channel] = ByteOrZero(packet, 3 + channel);
  // Plotting and the run limit wait for the chest frame that completes the record.
}

void TFrameHandlers::ReceiveCenter(const std::string& packet) {
  Guarded([&] {
    if (!Storing()) return;
    // Chest frames belong to twelve-channel records; in eight-channel mode
    // they would write into a record of the other layout and plot columns
    // the chart does not have.
    if (!view_.TwelveChannelMode()) return;
    if (limitStopDone_) return;  // the recording is over; keep its last record as it was
    SampleRecord& record = store_.Newest();
    for (std::size_t lead = 0; lead < record.chest.size(); ++lead) record.chest[lead] = ByteOrZero(packet, 3 + lead);
    ShowGraph12C(layout_, canvas_, store_, formatTime_);
    if (store_.Count() >= kRunLimit) StopAtRunLimit();
  });
}

void TFrameHandlers::ReceiveStatus(const std::string& packet) {
  Guarded([&] {
    const std::optional<StatusFrameTexts> texts = DecodeStatusFrame(packet);
    if (!texts) return;
    view_.SetText(ViewText::RespLabel, texts->RespLabel);
    view_.SetText(ViewText::ChestLabel, texts->ChestLabel);
    view_.SetText(ViewText::RALabel, texts->RALabel);
    view_.SetText(ViewText::LALabel, texts->LALabel);
    view_.SetText(ViewText::RLLabel, texts->RLLabel);
    view_.SetText(ViewText::LLLabel, texts->LLLabel);
    view_.SetStatusPanel(spTransmission, texts->TransmissionPanel);
    view_.SetStatusPanel(spAmplification, texts->AmplificationPanel);
    view_.SetStatusPanel(spFilter, texts->FilterPanel);
    if (texts->ModePanel) view_.SetStatusPanel(spMode, *texts->ModePanel);
  });
}

void TFrameHandlers::ReceiveCenterStatus(const std::string& packet) {
  Guarded([&] {
    const auto texts = DecodeChestStatusFrame(packet);
    if (!texts) return;
    constexpr std::array<ViewText, 5> kLabels{ViewText::Chest2Label, ViewText::Chest3Label, ViewText::Chest4Label,
                                              ViewText::Chest5Label, ViewText::Chest6Label};
    for (std::size_t i = 0; i < kLabels.size(); ++i) view_.SetText(kLabels[i], (*texts)[i]);
  });
}

void TFrameHandlers::ReceiveIdent(const std::string& packet) {
  Guarded([&] {
    const std::optional<std::string> text = IdentificationText(packet);
    if (!text) return;
    view_.SetText(ViewText::IdentLabel, *text);
    view_.ShowIdentBox();
  });
}

void TFrameHandlers::ReceivePulse(const std::string& packet) {
  Guarded([&] {
    if (const std::optional<std::string> text = PulseText(packet)) view_.SetText(ViewText::PulsePanel, *text);
  });
}

void TFrameHandlers::ReceiveResp(const std::string& packet) {
  Guarded([&] {
    if (const std::optional<std::string> text = RespText(packet)) view_.SetText(ViewText::RespPanel, *text);
  });
}
