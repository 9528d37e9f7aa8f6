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
#include <deque>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "module/SessionView.h"
#include "module/SetupChoices.h"
#include "module/StatusFrames.h"
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

  // Queues a marker byte (RecordMarker) for the next record stored that has
  // none: markers set faster than records come go to successive records,
  // one each. 0 takes the queued ones back.
  void SetNextMarker(std::uint8_t number) {
    if (number == 0) {
      nextMarkers_.clear();
    } else {
      nextMarkers_.push_back(number);
    }
  }
  // The text of the last identification frame; empty before the first.
  const std::string& Identification() const { return identification_; }

  // False while the newest stored record still waits for its chest frame
  // (twelve-channel mode).
  bool NewestRecordComplete() const;

  // Sample and chest frames come in stream order (TModuleFramers hands them
  // over so), each kind's refused frames among them.
  //
  // Sample frame (0xF8, ComDataPacket1). While Receiving: stores a record,
  // tells the count, and in eight-channel mode reports it ready and stops
  // the recording at the limit. A twelve-channel record is ready once the
  // chest frame right after its sample frame has completed it. A sample
  // frame that finds the recording full (count at the run limit) is not
  // stored and stops the recording if that has not happened yet.
  void Receive(const std::string& packet);
  // Chest frame (0xFE, CenterPacket), twelve-channel mode only: completes the
  // record of the sample frame right before it in the stream, reports it
  // ready and stops the recording when that record is the limit's. A chest
  // frame with no sample frame right before it lost its own and is dropped.
  // Ignored in eight-channel mode.
  //
  // A sample frame whose chest frame does not follow (another sample frame,
  // a refused frame or a break in the stream comes first) gives a record
  // marked kChestMissing, reported ready without chest leads; only the
  // limit's record is left out instead (the next sample frame takes its
  // place), so that a recording never ends on such a record. Both handlers
  // follow the pairing also while no recording runs (storing nothing), so a
  // recording started between a sample frame and its chest frame does not
  // give its first record the chest leads of a sample it never stored.
  void ReceiveCenter(const std::string& packet);
  // A sample or chest frame refused as broken: the record awaiting its chest
  // frame will not get it, and the next record stored is marked
  // kDataLostBefore.
  void SampleFrameRefused();
  void ChestFrameRefused();
  // Bytes of the stream were lost (an input-queue gap, framers emptied by a
  // set-up or a lost port): as for a refused frame.
  void StreamBroken();
  // Read: no record awaits a chest frame, no mark is pending.
  void BeginRecording();
  // The newest record, still awaiting its chest frame, is left out of the
  // recording (its end); true when there was one.
  bool DropIncompleteNewest();
  // Records marked kChestMissing, and records left out because their chest
  // frame had not come at the end of a recording, since the handlers began.
  std::uint64_t ChestMissingRecords() const { return chestMissingRecords_; }
  std::uint64_t IncompleteRecordsDropped() const { return incompleteRecordsDropped_; }
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
  void Await(int slot);
  void GiveUpAwaiting();
  void MarkDataLost();
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
  std::deque<std::uint8_t> nextMarkers_;
  std::string identification_;

  // Twelve-channel pairing: the newest sample frame awaits its chest frame
  // (awaiting_), in slot `awaitingSlot_` or kNotStored.
  bool awaiting_ = false;
  int awaitingSlot_ = kNotStored;
  std::uint8_t nextFlags_ = 0;  // RecordFlags of the next record stored
  std::uint64_t chestMissingRecords_ = 0;
  std::uint64_t incompleteRecordsDropped_ = 0;
};
