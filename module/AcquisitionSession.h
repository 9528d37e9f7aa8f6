#pragma once
// The acquisition without a screen: the port with its seven framers, the
// store, the frame handlers and the line-quality figures, with the set-up,
// the recording's start and stop, the run limit, the service commands and the
// loss of the port. The window binds its controls to it; the command-line
// recorder drives it from its options. Neither repeats any of it.
//
// It tells what happens as values through one TSessionView (module/
// SessionView.h): the window words them and draws the records it reports
// ready, the recorder keeps them for its summary.
//
// Threads: main thread only. The port's event thread reaches the session
// through the hand-over given to the constructor, so every frame handler,
// every event of TSessionView and every figure update runs on the main
// thread, one at a time.
//
// Errors: ApplySetup reports a port that cannot be opened in its result (the
// port library's message); a write to the port that fails raises EComPort.
// Nothing thrown inside a delivery of received bytes leaves it: the handlers
// report through TSessionView::ReportError, so reception never ends silently.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "module/FrameHandlers.h"
#include "module/ModuleFramers.h"
#include "module/SetupChoices.h"
#include "serial/TComPort.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

// What the set-up panel holds when OK is pressed.
struct TSetupRequest {
  std::string port;  // a name from ListSerialPorts, opened as it is
  // The six radio-group indices (transmission .. simulation); state unused.
  AcquisitionSettings indices{static_cast<std::uint8_t>(TransBoxChoice.Default),
                              static_cast<std::uint8_t>(AmpBoxChoice.Default),
                              static_cast<std::uint8_t>(FilterBoxChoice.Default),
                              static_cast<std::uint8_t>(ModeBoxChoice.Default),
                              static_cast<std::uint8_t>(PacerBoxChoice.Default),
                              static_cast<std::uint8_t>(SimulationBoxChoice.Default),
                              AcquisitionState::Idle};
  bool emg = EmgDefault;
  bool twelveChannel = TwelveChannelDefault;
  std::array<bool, kChannelBoxCount> channels = ChannelBoxDefaults;  // eight-channel mode only
};

struct TSetupResult {
  bool opened = false;     // the port is open and the module was set up
  bool recording = false;  // a recording was running (and still is)
  bool portBack = false;   // opened after the previous port had been lost
  std::string error;       // why the port could not be opened
};

// How the line has behaved since the session began.
struct TLineQuality {
  // Frames handled per kind, in the framers' binding order: chest (0xFE),
  // pulse (0xF9), respiration (0xFA), status (0xFC), identification (0xFD),
  // chest status (0xFF), sample (0xF8).
  std::array<std::uint64_t, TModuleFramers::kFramerCount> frames{};
  // Frames cut but refused as broken (a sample or chest value byte of
  // 0xF8..0xFF, an identification text with a start byte or a control
  // character), per kind in the same order.
  std::array<std::uint64_t, TModuleFramers::kFramerCount> framesRejected{};
  double recordsPerSecond = 0;  // sample frames over the last second
  std::uint64_t bytesReceived = 0;
  std::uint64_t bytesOutsideFrames = 0;  // received bytes no framer cut into a frame, nor refused as one
  std::uint64_t framerOverflows = 0;     // a framer's pending bytes reached its limit
  std::uint64_t inputOverflows = 0;      // the input queue was full and bytes were lost
  std::uint64_t inputGaps = 0;           // the same gaps, under the name the integrity figures use
  std::uint64_t silentSpells = 0;        // the line was silent for more than 1 s during a recording
  // Twelve-channel records without chest frame left out at the end of a
  // recording, and records kept with kChestMissing.
  std::uint64_t incompleteRecordsDropped = 0;
  std::uint64_t chestMissingRecords = 0;
  std::uint64_t parityErrors = 0;
  std::uint64_t framingErrors = 0;
  std::uint64_t overrunErrors = 0;
  std::uint64_t breaks = 0;

  std::uint64_t SampleFrames() const { return frames[TModuleFramers::kSampleKind]; }
  std::uint64_t RejectedFrames() const;  // all kinds together
  // What the device itself reported: parity, framing and overrun errors and
  // breaks. Bytes outside frames, refused frames and input-queue gaps are
  // figures of their own: a noisy line shows there, not here.
  std::uint64_t LineErrors() const { return parityErrors + framingErrors + overrunErrors + breaks; }
  std::uint64_t ChestFrames() const { return frames[TModuleFramers::kChestKind]; }
};

class AcquisitionSession {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `dispatcher` and `view` must outlive the session; `dayClock` stamps each
  // record. The port is set up for the module's line (115200 baud 8E1, no
  // flow control, a 120000-byte input queue) and left closed.
  AcquisitionSession(TMainThreadDispatcher& dispatcher, TSessionView& view, DayClock dayClock = NowAsDayFraction);
  ~AcquisitionSession();
  AcquisitionSession(const AcquisitionSession&) = delete;
  AcquisitionSession& operator=(const AcquisitionSession&) = delete;

  // For the line-quality rate, the rate check and the silence (tests).
  void SetClock(Clock clock) { clock_ = std::move(clock); }

  // Set-up OK: closes the port, opens `request.port`, raises DTR and RTS,
  // keeps the indices, gives the framers their lengths, restarts the sweep
  // and writes the 18-byte set-up command. A port that
  // cannot be opened leaves the session closed; a recording running goes on
  // (Stop still ends it, a later set-up lets it receive again).
  TSetupResult ApplySetup(const TSetupRequest& request);
  // The set-up without the port: indices, framers emptied and given their
  // lengths, the sweep's restart, and the decoding. Returns the 18-byte command (fuzzing, benchmarks).
  std::string Configure(const TSetupRequest& request);

  // Read: a new recording from count 0 and a new sweep in the confirmed
  // set-up's mode (a load may have drawn another). The framers start empty:
  // the first record is a whole frame whose first byte was handed over after
  // Read.
  void StartRecording();
  // Stop: Idle, then RecordingStopped. A twelve-channel record whose chest
  // frame has not come yet is left out (and the count told again), so the
  // recording ends on a whole record.
  void StopRecording();
  // The same, kept for owners that end a recording between deliveries (a
  // timer, a signal, a lost port).
  void StopAtCompleteRecord();
  // Recordings end by themselves once they hold `records` (1..80000; the run
  // limit by default), exactly: the last record is stored and reported
  // ready, then the recording stops inside that delivery. RunLimitReached is
  // told only at the run limit itself.
  void SetRecordLimit(int records) { handlers_.SetRecordLimit(records); }
  bool Recording() const { return store_.Settings().state == AcquisitionState::Receiving; }
  // False while the newest stored record waits for its chest frame.
  bool NewestRecordComplete() const { return handlers_.NewestRecordComplete(); }

  // After the port was lost (PortLostNow): opens the confirmed set-up's port
  // again, raises DTR and RTS and sends the confirmed set-up again (the
  // module may have lost power with its adapter). A recording running goes
  // on, its next record marked kDataLostBefore; the sweep is not restarted.
  // True once the port is back (TSessionView::Reconnected told); false,
  // with nothing told and the port left closed, while it is not, or when
  // no port was lost. Owners call it about once a second.
  bool TryReconnect();

  // Service commands; EComPort when the write fails, EBADF on a closed port.
  void SendElectrodeSearch();
  void SendCalibration();
  void SendIdentify();
  // The register write from the editor's texts; false (nothing sent) for an
  // address that is not 0..25.
  bool SendRegisterWrite(std::string_view addressText, const std::array<bool, 8>& bit7ToBit0);

  // One chunk of received bytes as a delivery hands it to the framers, for
  // callers without a port (fuzzing, benchmarks).
  void Feed(std::string_view chunk);

  // Line-quality figures; the rate is measured between calls of Tick, which
  // the owner makes about once a second.
  void Tick();
  TLineQuality LineQuality() const;

  // The set-up last confirmed (ApplySetup that opened the port, or
  // Configure); the panel's defaults before the first.
  const TSetupRequest& ConfirmedSetup() const { return confirmed_; }
  // Records per second the confirmed set-up's transmission item asks for.
  int ExpectedRate() const { return TransmissionRate(confirmed_.indices.transmission); }
  // Sample frames per second the module sent during the current (or last)
  // recording: every sample frame cut, stored or rejected, over the time
  // from the end of the first delivery that carried one to the last
  // delivery or Tick. Taken between deliveries, the hand-over's own delay
  // cancels out; time without the port (lost until a reconnection) is left
  // out. 0 until it can be measured.
  double MeasuredRate() const;
  // After two seconds of that measure, more than 2 % off ExpectedRate. Not
  // latched: it follows the measure over the whole recording; the view is
  // told once (TSessionView::RateOff) when it first holds.
  bool RateIsOff() const;
  // The text of the last identification frame; empty before any.
  const std::string& Identification() const { return handlers_.Identification(); }
  // Wall-clock time of the last Read; nullopt before the first.
  std::optional<std::chrono::system_clock::time_point> RecordingStartedAt() const { return startedAt_; }
  // Queues the marker byte (RecordMarker, 1..255) of the next record stored
  // without one (markers faster than records go to successive records); 0
  // takes the queued ones back.
  void AddMarker(std::uint8_t number) { handlers_.SetNextMarker(number); }
  // The figures of the current (or last) recording alone: the counters of
  // LineQuality less what they were at its Read (the rate as it stands).
  TLineQuality RecordingLineQuality() const;

  bool PortLostNow() const { return portLost_; }
  bool DataLostInRecording() const { return dataLost_; }
  bool TwelveChannelMode() const { return handlers_.TwelveChannelMode(); }
  const std::array<bool, kChannelBoxCount>& ChannelSelection() const { return handlers_.ChannelSelection(); }

  TComPort& Port() { return port_; }
  SampleStore& Store() { return store_; }
  const SampleStore& Store() const { return store_; }
  TModuleFramers& Framers() { return framers_; }
  const TModuleFramers& Framers() const { return framers_; }
  // The handlers without framing (benchmarks).
  TFrameHandlers& Handlers() { return handlers_; }

 private:
  void StopAtLimit();

  // The two halves of a set-up: framer lengths and the sweep's restart; each
  // returns the command to send.
  std::string SetSwitches(const TSetupRequest& request);
  std::string SetSwitches12C(const TSetupRequest& request);
  // The 18-byte command of a set-up, without changing anything.
  std::string SetupCommandFor(const TSetupRequest& request) const;

  void OnPortLost(unsigned openNumber);
  // After every chunk (a delivery or Feed) and every Tick: the rate check
  // and the silence.
  void AfterChunk(std::size_t bytes);
  void CheckLine(std::chrono::steady_clock::time_point now);
  void PauseRate();
  std::uint64_t SampleFramesCut() const;
  void OnLineError(TComErrors errors);
  void OnInputLost();

  TMainThreadDispatcher& dispatcher_;
  TSessionView& view_;
  Clock clock_ = [] { return std::chrono::steady_clock::now(); };

  SampleStore store_;
  TFrameHandlers handlers_;

  // Counts the set-ups that (re)opened the port: a loss reported for an
  // earlier opening must not close the port a later set-up opened.
  unsigned openNumber_ = 0;
  bool portLost_ = false;
  bool dataLost_ = false;  // the input queue lost bytes during this recording
  // Queued calls check it, so none runs into a destroyed session.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  TSetupRequest confirmed_;
  std::optional<std::chrono::system_clock::time_point> startedAt_;
  TLineQuality atStart_;  // LineQuality() at the last Read

  // The rate measure of the recording: frames and seconds of earlier
  // stretches (before a port loss), and the current stretch since `rateFrom_`.
  struct RateMeasure {
    std::uint64_t frames = 0;
    double seconds = 0;
    std::optional<std::chrono::steady_clock::time_point> from;
    std::uint64_t framesAtFrom = 0;
    std::uint64_t framesNow = 0;
    std::chrono::steady_clock::time_point now{};
    bool told = false;
  };
  RateMeasure rate_;
  std::chrono::steady_clock::time_point lastBytes_{};  // the last chunk with bytes during a recording
  bool silent_ = false;                                // the current silence has been counted

  TLineQuality quality_;
  std::chrono::steady_clock::time_point rateSince_{};
  std::uint64_t sampleFramesSince_ = 0;

  // The framers and the counting link come after the port so they unbind
  // from it before it goes.
  TComPort port_;
  TModuleFramers framers_;
  TComLink countingLink_;
};
