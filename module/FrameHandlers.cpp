#include "module/FrameHandlers.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "module/StatusFrames.h"

namespace {

// Byte `position` (1-based, as the frame tables count) of a packet, or 0 when
// the packet is shorter. Frames are cut to the framer's size, but a channel
// selection changed without a new set-up can ask for more bytes than a frame
// carries; those channels stay 0 rather than reading past the packet.
std::uint8_t ByteOrZero(std::string_view packet, std::size_t position) {
  return position <= packet.size() ? static_cast<std::uint8_t>(packet[position - 1]) : 0;
}

}  // namespace

TFrameHandlers::TFrameHandlers(SampleStore& store, TSessionView& view, LimitStop stop, DayClock clock)
    : store_(store), view_(view), stop_(std::move(stop)), clock_(std::move(clock)) {}

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

void TFrameHandlers::SetDecoding(bool twelveChannel, const std::array<bool, kChannelBoxCount>& channels) {
  twelveChannel_ = twelveChannel;
  channels_ = channels;
}

void TFrameHandlers::SetRecordLimit(int limit) { limit_ = std::clamp(limit, 1, kRunLimit); }

bool TFrameHandlers::NewestRecordComplete() const {
  return !(twelveChannel_ && awaiting_ && awaitingSlot_ != kNotStored && awaitingSlot_ == store_.Count());
}

bool TFrameHandlers::Storing() {
  if (store_.Settings().state != AcquisitionState::Receiving) return false;
  // Read starts every recording at count 0, so a count below the limit means
  // the stop of an earlier recording no longer applies.
  if (store_.Count() < limit_) limitStopDone_ = false;
  return true;
}

void TFrameHandlers::StopAtLimit() {
  if (limitStopDone_) return;  // one offer to save per recording
  limitStopDone_ = true;
  try {
    if (stop_) stop_();
  } catch (const std::exception& e) {
    Report(e.what());
  } catch (...) {
    Report("Unknown error while stopping the recording");
  }
}

void TFrameHandlers::TellCount() { view_.RecordCount(store_.Count(), dataLost_); }

void TFrameHandlers::Receive(const std::string& packet) {
  Guarded([&] {
    if (twelveChannel_) {
      ReceiveSample12(packet);
      return;
    }
    ForgetPairing();  // eight-channel samples have no chest frame
    if (!Storing()) return;
    if (store_.Count() >= limit_) {
      // A set-up during a twelve-channel recording can leave it full for the
      // eight-channel path: the sample frame ends the recording itself.
      StopAtLimit();
      return;
    }
    StoreSample8(packet);
  });
}

// A slot keeps what an earlier recording or a load left in it: every byte
// of the new record is written here.
SampleRecord& TFrameHandlers::NewRecord(int slot) {
  SampleRecord& record = store_.At(slot);
  record.time = clock_();
  record.channels.fill(0);
  record.chest.fill(0);
  record.reserved.fill(0);
  RecordFlags(record) = nextFlags_;
  RecordMarker(record) = 0;
  if (!nextMarkers_.empty()) {
    RecordMarker(record) = nextMarkers_.front();
    nextMarkers_.pop_front();
  }
  nextFlags_ = 0;
  return record;
}

void TFrameHandlers::StoreSample8(std::string_view packet) {
  const int slot = store_.Append();
  TellCount();
  SampleRecord& record = NewRecord(slot);
  const std::array<bool, kChannelBoxCount>& selected = channels_;
  std::size_t position = 3;
  for (std::size_t channel = 0; channel < selected.size(); ++channel) {
    if (selected[channel]) record.channels[channel] = ByteOrZero(packet, position++);
  }
  view_.RecordReady(slot);
  if (slot >= limit_) StopAtLimit();
}

void TFrameHandlers::ReceiveSample12(std::string_view packet) {
  const bool recording = Storing() && !limitStopDone_;
  FollowRecording(recording);
  // A sample frame after a sample frame: the earlier one's chest frame never
  // came.
  GiveUpAwaiting();
  if (recording && store_.Count() >= limit_) {
    // Full without its limit's stop (a set-up switched modes at the limit).
    StopAtLimit();
    return;
  }
  if (!recording) {
    Await(kNotStored);
    return;
  }
  const int slot = store_.Append();
  TellCount();
  SampleRecord& record = NewRecord(slot);
  for (std::size_t channel = chI; channel <= chC1; ++channel)
    record.channels[channel] = ByteOrZero(packet, 3 + channel);
  Await(slot);
}

void TFrameHandlers::ReceiveCenter(const std::string& packet) {
  Guarded([&] {
    // Chest frames belong to twelve-channel records; in eight-channel mode
    // they would write into a record of the other layout and plot columns
    // the chart does not have.
    if (!twelveChannel_) {
      ForgetPairing();
      return;
    }
    ReceiveChest12(packet);
  });
}

// Frames come in stream order (TModuleFramers), so a chest frame belongs to
// the sample frame right before it, if that one still awaits it; a chest
// frame with anything else before it (a chest frame, a refused sample frame,
// a gap) lost its sample frame and is dropped. Byte 2 is not used: what the
// module puts there is not known to match between the two frames of a
// sample.
void TFrameHandlers::ReceiveChest12(std::string_view packet) {
  FollowRecording(Storing() && !limitStopDone_);
  if (!awaiting_) return;
  awaiting_ = false;
  if (awaitingSlot_ == kNotStored) return;
  ChestLeads chest{};
  for (std::size_t lead = 0; lead < chest.size(); ++lead) chest[lead] = ByteOrZero(packet, 3 + lead);
  CompleteRecord(awaitingSlot_, chest);
}

void TFrameHandlers::SampleFrameRefused() {
  Guarded([&] {
    if (twelveChannel_) {
      FollowRecording(Storing() && !limitStopDone_);
      GiveUpAwaiting();
    }
    MarkDataLost();
  });
}

void TFrameHandlers::ChestFrameRefused() {
  Guarded([&] {
    if (!twelveChannel_) return;
    FollowRecording(Storing() && !limitStopDone_);
    GiveUpAwaiting();
    MarkDataLost();
  });
}

void TFrameHandlers::StreamBroken() {
  Guarded([&] {
    FollowRecording(Storing() && !limitStopDone_);
    GiveUpAwaiting();
    MarkDataLost();
  });
}

void TFrameHandlers::MarkDataLost() {
  if (store_.Settings().state == AcquisitionState::Receiving) nextFlags_ |= kDataLostBefore;
}

void TFrameHandlers::BeginRecording() {
  awaiting_ = false;
  nextFlags_ = 0;
  nextMarkers_.clear();  // markers belong to the recording they were set in
}

bool TFrameHandlers::DropIncompleteNewest() {
  if (!awaiting_ || awaitingSlot_ == kNotStored || awaitingSlot_ != store_.Count()) return false;
  awaiting_ = false;
  store_.SetCount(awaitingSlot_ - 1);
  ++incompleteRecordsDropped_;
  return true;
}

void TFrameHandlers::FollowRecording(bool recording) {
  // A record awaiting its chest frame belongs to the recording that stored
  // it. Once that has ended, or the store has been reset under it (Read
  // starts at count 0, a load sets its own count), its chest frame must not
  // write into whatever the slot holds now; it still pairs, though, as a
  // frame not stored.
  if (!awaiting_ || awaitingSlot_ == kNotStored) return;
  if (recording && store_.Count() == awaitingSlot_) return;
  awaitingSlot_ = kNotStored;
}

void TFrameHandlers::ForgetPairing() { awaiting_ = false; }

void TFrameHandlers::Await(int slot) {
  awaiting_ = true;
  awaitingSlot_ = slot;
}

// The record awaiting its chest frame will not get it. Mid-stream it is kept,
// marked and plotted without chest leads; the record of the limit is left
// out instead, so that a recording never ends on a record without them: the
// next sample frame takes its place, marked for the data lost before it.
void TFrameHandlers::GiveUpAwaiting() {
  if (!awaiting_) return;
  awaiting_ = false;
  const int slot = awaitingSlot_;
  if (slot == kNotStored) return;
  if (slot >= limit_ && slot == store_.Count()) {
    store_.SetCount(slot - 1);
    ++incompleteRecordsDropped_;
    nextFlags_ |= kDataLostBefore;
    return;
  }
  RecordFlags(store_.At(slot)) |= kChestMissing;
  ++chestMissingRecords_;
  view_.RecordReady(slot);
}

void TFrameHandlers::CompleteRecord(int slot, const ChestLeads& chest) {
  store_.At(slot).chest = chest;
  view_.RecordReady(slot);
  // Records complete in stream order: the limit's record is the last.
  if (slot >= limit_) StopAtLimit();
}

void TFrameHandlers::ReceiveStatus(const std::string& packet) {
  Guarded([&] {
    if (const std::optional<TModuleStatus> status = DecodeStatusFrame(packet)) view_.StatusReceived(*status);
  });
}

void TFrameHandlers::ReceiveCenterStatus(const std::string& packet) {
  Guarded([&] {
    if (const auto connected = DecodeChestStatusFrame(packet)) view_.ChestStatusReceived(*connected);
  });
}

void TFrameHandlers::ReceiveIdent(const std::string& packet) {
  Guarded([&] {
    if (const std::optional<std::string_view> text = IdentificationText(packet)) {
      identification_ = *text;
      view_.Identified(*text);
    }
  });
}

void TFrameHandlers::ReceivePulse(const std::string& packet) {
  Guarded([&] {
    if (const std::optional<int> value = PulseValue(packet)) view_.PulseReceived(*value);
  });
}

void TFrameHandlers::ReceiveResp(const std::string& packet) {
  Guarded([&] {
    if (const std::optional<int> value = RespirationValue(packet)) view_.RespirationReceived(*value);
  });
}
