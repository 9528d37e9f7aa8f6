#pragma once
// What the acquisition tells its owner, as values: one interface for the
// session and its frame handlers alike. The window words the values for its
// labels and panels (ui/SessionTexts.h) and draws the records; ecg-record
// keeps them for its summary. Nothing here is a text meant for a screen.
//
// Every call is on the main thread, most of them inside a delivery of
// received bytes. A view may open a modal dialog only where a call says so
// (RunLimitReached); what a call throws is reported through ReportError
// (inside a delivery) or passed on to the caller of the session.
#include <array>
#include <string>
#include <string_view>

#include "module/SetupChoices.h"
#include "module/StatusFrames.h"

class TSessionView {
 public:
  virtual ~TSessionView() = default;

  // ---- What the module reports, whether or not a recording runs ----------
  virtual void StatusReceived(const TModuleStatus& status) { (void)status; }
  // C2..C6 (kChestStatusElectrodes): connected.
  virtual void ChestStatusReceived(const std::array<bool, 5>& connected) { (void)connected; }
  // The identification text as the module sent it (single-byte characters,
  // Latin-1, no control character and no byte 0xF8..0xFF: a frame holding
  // one is refused; may be empty). The buffer is the packet's: copy what is
  // kept.
  virtual void Identified(std::string_view text) { (void)text; }
  virtual void PulseReceived(int value) { (void)value; }        // 0..255
  virtual void RespirationReceived(int value) { (void)value; }  // 0..255

  // ---- The recording --------------------------------------------------------
  // A new sweep: a set-up (its mode and, in eight-channel mode, the channels
  // it confirmed) and Read start one, the bands laid out again and the empty
  // frame drawn.
  virtual void SweepRestart(bool twelveChannel, const std::array<bool, kChannelBoxCount>& channels) {
    (void)twelveChannel;
    (void)channels;
  }
  // The recording holds `count` records; `dataLost`: bytes of the line were
  // lost during it (the input queue overflowed). Told once per stored
  // record, up to 300 times a second (a window may show the latest at its
  // own pace), and again when data is first lost.
  virtual void RecordCount(int count, bool dataLost) {
    (void)count;
    (void)dataLost;
  }
  // Record `slot` is complete (a twelve-channel record once its chest frame
  // has come or been given up): the next column of the sweep. In the order
  // the records were stored, after their count, before any stop they cause.
  virtual void RecordReady(int slot) { (void)slot; }
  // The recording has ended (Stop, the run limit, the record limit): the
  // state is Idle; `stored`: it holds records.
  virtual void RecordingStopped(bool stored) { (void)stored; }
  // ... at the run limit (80000 records), right after RecordingStopped and
  // inside the delivery that stored the last record: the place for the
  // offer to save, whose dialog the delivery waits for.
  virtual void RunLimitReached() {}
  // The measured rate (records per second) is more than 2 % off the
  // confirmed set-up's `expected` one: told once per recording, when the
  // measure first leaves the band after its first two seconds.
  virtual void RateOff(double measured, int expected) {
    (void)measured;
    (void)expected;
  }

  // ---- The port ---------------------------------------------------------------
  // A set-up's port could not be opened (`error`: the port library's message).
  virtual void PortNotAvailable(const std::string& error) { (void)error; }
  // The port's line went away: the port has been closed and its framers
  // cleared; `recording`: a recording runs on (Stop ends it, a set-up with
  // the port back lets it go on) and holds `count` records.
  virtual void PortLost(bool recording, int count) {
    (void)recording;
    (void)count;
  }

  // The lost port is back (AcquisitionSession::TryReconnect): opened again
  // and the confirmed set-up sent again; `recording`: the recording that ran
  // goes on (its next record is marked kDataLostBefore).
  virtual void Reconnected(bool recording) { (void)recording; }

  // An error inside reception (a handler, the offer to save at the run limit).
  virtual void ReportError(const std::string& text) = 0;
};
