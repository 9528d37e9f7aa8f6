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
  if (!twelveChannel_ || newestStoredSlot_ == kNotStored || newestStoredSlot_ != store_.Count()) return true;
  return awaitingChest_.Empty() || awaitingChest_.Back() != newestStoredSlot_;
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
  RecordMarker(record) = nextMarker_;
  nextMarker_ = 0;
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
  sampleSinceChest_ = true;
  if (!recording) {
    AwaitChest(kNotStored);
    return;
  }
  if (store_.Count() >= limit_) {
    // The recording is full. In a clean stream its last record was completed
    // by a chest frame of this read already; one whose chest frame was lost
    // is plotted without chest leads so the chart shows every record.
    while (!awaitingChest_.Empty()) GiveUpOldestAwaiting();
    AwaitChest(kNotStored);
    newestStoredSlot_ = 0;
    StopAtLimit();
    return;
  }

  const int slot = store_.Append();
  newestStoredSlot_ = slot;
  TellCount();
  SampleRecord& record = NewRecord(slot);
  for (std::size_t channel = chI; channel <= chC1; ++channel)
    record.channels[channel] = ByteOrZero(packet, 3 + channel);

  if (!waitingChests_.Empty()) {
    // Its chest frame came in the same read and was handled first.
    CompleteRecord(slot, waitingChests_.PopFront());
  } else {
    AwaitChest(slot);
  }
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

void TFrameHandlers::ReceiveChest12(std::string_view packet) {
  FollowRecording(Storing() && !limitStopDone_);

  // Resynchronisation after lost frames, from what a clean stream allows.
  // The chest frames of a read are handled before its sample frames, and a
  // chest frame ends after its own sample frame on the line; so when a read
  // has been handled completely, no chest frame is left waiting, and at most
  // one sample frame (the newest, its chest frame not yet whole) awaits its
  // chest frame. A chest frame after a sample frame starts a new read:
  //  - chest frames still waiting then lost their sample frames: dropped;
  //  - more than one sample frame awaiting a chest frame (possible only
  //    before the first chest frame of a read) means the older ones lost
  //    their chest frames: those records keep chest leads 0 and are plotted
  //    as they are, so the chart shows every record once and in order.
  // Until then a lost frame shifts the pairing by one: records get the chest
  // leads of the sample after (lost chest frame) or before (lost sample
  // frame) their own. The surplus shows, and is put right, with the first
  // later read that ends between a sample frame and its chest frame (lost
  // chest frame) or anywhere else (lost sample frame). Byte 2 is not used:
  // what the module puts there is not known to match between the two frames
  // of a sample.
  if (sampleSinceChest_) waitingChests_.Clear();
  sampleSinceChest_ = false;
  while (awaitingChest_.Size() > 1) GiveUpOldestAwaiting();

  ChestLeads chest{};
  for (std::size_t lead = 0; lead < chest.size(); ++lead) chest[lead] = ByteOrZero(packet, 3 + lead);
  if (awaitingChest_.Empty()) {
    if (waitingChests_.Full()) waitingChests_.PopFront();
    waitingChests_.PushBack(chest);
    return;
  }
  const int slot = awaitingChest_.PopFront();
  if (slot != kNotStored) CompleteRecord(slot, chest);
}

void TFrameHandlers::FollowRecording(bool recording) {
  // Records awaiting their chest frame belong to the recording that stored
  // them. Once it has ended, or the store has been reset under it (Read
  // starts at count 0, a load sets its own count), their chest frames must
  // not write into whatever those slots hold now; they still pair, though,
  // as frames not stored.
  if (newestStoredSlot_ == kNotStored) return;
  if (recording && store_.Count() == newestStoredSlot_) return;
  for (std::size_t i = 0; i < awaitingChest_.Size(); ++i) awaitingChest_.At(i) = kNotStored;
  newestStoredSlot_ = kNotStored;
}

void TFrameHandlers::ForgetPairing() {
  awaitingChest_.Clear();
  waitingChests_.Clear();
  sampleSinceChest_ = false;
  newestStoredSlot_ = kNotStored;
}

void TFrameHandlers::AwaitChest(int slot) {
  if (awaitingChest_.Full()) GiveUpOldestAwaiting();
  awaitingChest_.PushBack(slot);
}

void TFrameHandlers::GiveUpOldestAwaiting() {
  const int slot = awaitingChest_.PopFront();
  if (slot == kNotStored) return;
  view_.RecordReady(slot);  // chest leads stay 0
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
