#pragma once
// The handlers of every frame the module sends: the sample and chest frames
// that build the recording, and the status, identification and vital-value
// frames that fill labels and panels. They draw nothing: each record they
// complete is reported (RecordReady) for the owner's chart to plot.
//
// The acquisition session owns one TFrameHandlers and points each framer's
// OnPacket at the matching method; the handlers tell what they decide through
// the session's own view (TSessionView), as values. Everything runs on the
// main thread, inside a delivery of received bytes.
//
// The mode and the channels a frame is decoded with are the ones of the last
// confirmed set-up (SetDecoding), never what the set-up panel shows meanwhile:
// the module sends what it was set up with.
//
// No handler lets an exception out: reception must never end silently. The
// one step that can fail in a working window is the stop at the run limit
// (its offer to save writes files); whatever it or any other step throws is
// handed to TSessionView::ReportError and the handler returns normally.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "module/SessionView.h"
#include "module/SetupChoices.h"
#include "module/StatusFrames.h"
#include "serial/Ring.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

// Local time of day as a fraction of a day (0.5 = noon).
using DayClock = std::function<double()>;

class TFrameHandlers {
 public:
  static constexpr int kRunLimit = SampleStore::kRunLimit;  // records per recording
  // Ends the recording once it holds its last record (the run limit or a
  // smaller record limit): runs inside the delivery; may throw.
  using LimitStop = std::function<void()>;
  // Twelve-channel frames waiting for their partner, per kind. One read can
  // hand over up to the port's 120000-byte input queue, 7500 sample and chest
  // frame pairs; a kind that still fills up has lost its partner frames, and
  // its oldest is given up (a record then keeps chest leads 0 and is plotted).
  static constexpr std::size_t kPairingCapacity = 8192;

  // Both references must outlive the handlers. `stop` ends a recording at
  // its limit, `clock` stamps each record.
  TFrameHandlers(SampleStore& store, TSessionView& view, LimitStop stop, DayClock clock = NowAsDayFraction);

  // The set-up the module streams with: twelve-channel mode, or eight
  // channels with `channels` (CH_I .. CH_RE) selected. Until the first call:
  // the set-up panel's defaults.
  void SetDecoding(bool twelveChannel, const std::array<bool, kChannelBoxCount>& channels);
  bool TwelveChannelMode() const { return twelveChannel_; }
  const std::array<bool, kChannelBoxCount>& ChannelSelection() const { return channels_; }
  // Told with every record count (RecordCount): bytes of the line were lost
  // during this recording.
  void SetDataLost(bool lost) { dataLost_ = lost; }
  // The records a recording ends with: `limit` (1..kRunLimit, kRunLimit by
  // default); the last is stored, completed and reported ready, then `stop`
  // runs, once per recording, and no later frame is stored.
  void SetRecordLimit(int limit);
  int RecordLimit() const { return limit_; }

  // The marker byte (RecordMarker) of the next record stored; 0 for none.
  // It goes with that one record only.
  void SetNextMarker(std::uint8_t number) { nextMarker_ = number; }
  // The text of the last identification frame; empty before the first.
  const std::string& Identification() const { return identification_; }

  // False while the newest stored record still waits for its chest frame
  // (twelve-channel mode); an owner ending a recording between deliveries
  // may leave such a record out.
  bool NewestRecordComplete() const;

  // Sample frame (0xF8, ComDataPacket1). While Receiving: stores a record,
  // tells the count, and in eight-channel mode reports it ready and stops
  // the recording at the limit. A
  // twelve-channel record is ready once its own chest frame has completed it
  // (at once when that frame was handled first, see below). A sample frame that finds the
  // recording full (count at the run limit) is not stored and stops the
  // recording if that has not happened yet.
  void Receive(const std::string& packet);
  // Chest frame (0xFE, CenterPacket), twelve-channel mode only: completes the
  // oldest record still waiting for its chest leads with C2..C6, reports it
  // ready and
  // stops the recording when that record is the run limit's. With no record
  // waiting, its bytes wait for the next sample frame. Ignored in
  // eight-channel mode.
  //
  // Pairing: a port hands each read to the chest framer before the sample
  // framer, so the chest frames of one read are handled before its sample
  // frames, whatever their order on the line. The module sends each sample's
  // sample frame, then its chest frame, so the two kinds are paired first in,
  // first out. Both handlers follow that pairing also while no recording runs
  // (storing nothing), so a recording started between a sample frame and its
  // chest frame does not give its first record the chest leads of a sample it
  // never stored.
  void ReceiveCenter(const std::string& packet);
  // Status frame (0xFC): the connections, settings in use and mode.
  void ReceiveStatus(const std::string& packet);
  // Chest status frame (0xFF): the connections of C2..C6.
  void ReceiveCenterStatus(const std::string& packet);
  // Identification frame (0xFD .. 0x00): the module's text.
  void ReceiveIdent(const std::string& packet);
  // Pulse frame (0xF9), respiration frame (0xFA): the value.
  void ReceivePulse(const std::string& packet);
  void ReceiveResp(const std::string& packet);

 private:
  using ChestLeads = std::array<std::uint8_t, 5>;
  // A sample frame awaiting its chest frame that was not stored (no recording
  // ran, or it had ended): its chest frame is paired and then dropped.
  static constexpr int kNotStored = 0;

  bool Storing();
  SampleRecord& NewRecord(int slot);
  void StoreSample8(std::string_view packet);
  void ReceiveSample12(std::string_view packet);
  void ReceiveChest12(std::string_view packet);
  void FollowRecording(bool recording);
  void ForgetPairing();
  void AwaitChest(int slot);
  void GiveUpOldestAwaiting();
  void CompleteRecord(int slot, const ChestLeads& chest);
  void TellCount();
  void StopAtLimit();
  void Report(const char* what) noexcept;
  template <typename Step>
  void Guarded(Step&& step) noexcept;

  SampleStore& store_;
  TSessionView& view_;
  LimitStop stop_;
  DayClock clock_;
  bool twelveChannel_ = TwelveChannelDefault;
  std::array<bool, kChannelBoxCount> channels_ = ChannelBoxDefaults;
  bool dataLost_ = false;
  int limit_ = kRunLimit;
  bool limitStopDone_ = false;  // the limit's stop of the current recording has run
  std::uint8_t nextMarker_ = 0;
  std::string identification_;

  // Twelve-channel pairing, in stream order: the slots of sample frames whose
  // chest frame has not been handled yet (kNotStored for frames not stored),
  // and the chest leads of chest frames handled before their sample frame.
  TRing<int> awaitingChest_{kPairingCapacity};
  TRing<ChestLeads> waitingChests_{kPairingCapacity};
  bool sampleSinceChest_ = false;  // a sample frame was handled after the last chest frame
  int newestStoredSlot_ = 0;       // slot of the last record stored while pairing; 0: none
};
