#include "module/AcquisitionSession.h"

#include <cmath>
#include <exception>
#include <utility>

#include "module/SetupCommand.h"

namespace {

constexpr int kHandOverIntervalMs = 10;
// The rate check: how long the measure must run, and how far off it may be.
constexpr double kRateCheckAfterSeconds = 2.0;
constexpr double kRateTolerance = 0.02;
// A recording's line quiet for longer than this is a silent spell.
constexpr auto kSilence = std::chrono::seconds(1);

}  // namespace

AcquisitionSession::AcquisitionSession(TMainThreadDispatcher& dispatcher, TSessionView& view, DayClock dayClock)
    : dispatcher_(dispatcher),
      view_(view),
      handlers_(
          store_, view_, [this] { StopAtLimit(); }, std::move(dayClock)),
      port_(&dispatcher),
      framers_(handlers_) {
  // The module's line: 115200 baud, 8E1, no flow control; DTR and RTS are
  // left to the set-up, which raises both itself. A large input queue lets
  // bytes wait while the main thread is busy (a dialog, a save).
  port_.SetBaudRate(br115200);
  port_.Parity().SetBits(prEven);
  port_.SetStopBits(sbOneStopBit);
  port_.SetDataBits(dbEight);
  port_.FlowControl().SetFlowControl(fcNone);
  port_.FlowControl().SetControlDTR(dtrDisable);
  port_.FlowControl().SetControlRTS(rtsDisable);
  port_.Buffer().SetInputSize(120000);
  // The chart is repainted 25 times a second: a hand-over per sample buys
  // nothing anyone sees. A quarter-full queue, a line error or a hang-up
  // still hands over at once.
  port_.SetHandOverInterval(kHandOverIntervalMs);
  // The line is drained as often as it is handed over: one wake-up for both.
  port_.SetDrainInterval(kHandOverIntervalMs);

  framers_.Bind(port_);
  // After the framers: it sees each chunk once they have cut it.
  countingLink_.OnRxBuf = [this](TCustomComPort&, const char*, int count) {
    quality_.bytesReceived += static_cast<std::uint64_t>(count);
    AfterChunk(static_cast<std::size_t>(count));
  };
  port_.RegisterLink(countingLink_);
  port_.OnError = [this](TCustomComPort&, TComErrors errors) { OnLineError(errors); };
  // At the point of each gap in the input (the framers drop what they held
  // there themselves).
  port_.OnRxOverflow = [this](TCustomComPort&) { OnInputLost(); };
  port_.OnBreak = [this](TCustomComPort&) { ++quality_.breaks; };
  // Handled after the delivery that reported it, with the opening it
  // belongs to.
  port_.OnLineLost = [this](TCustomComPort&) {
    dispatcher_.Post([this, alive = std::weak_ptr<bool>(alive_), lostOpen = openNumber_] {
      if (alive.expired()) return;
      OnPortLost(lostOpen);
    });
  };
  rateSince_ = clock_();
}

AcquisitionSession::~AcquisitionSession() {
  alive_.reset();
  // Closing serves the hand-overs still waiting, which may call into the
  // handlers: do it while everything they touch still exists.
  try {
    port_.Close();
  } catch (...) {
  }
  try {
    port_.UnregisterLink(countingLink_);
  } catch (...) {
  }
}

// ---- Set-up -----------------------------------------------------------------

TSetupResult AcquisitionSession::ApplySetup(const TSetupRequest& request) {
  TSetupResult result;
  port_.Close();
  ++openNumber_;
  // After the Close: the deliveries it served may have ended the recording.
  result.recording = Recording();
  port_.SetPort(request.port);
  try {
    port_.Open();
    port_.SetDTR(true);
    port_.SetRTS(true);
  } catch (const EComPort& error) {
    result.error = error.what();
    view_.PortNotAvailable(result.error);
    return result;
  }
  result.opened = true;
  result.portBack = portLost_;
  portLost_ = false;
  port_.WriteString(Configure(request));
  return result;
}

std::string AcquisitionSession::Configure(const TSetupRequest& request) {
  confirmed_ = request;
  AcquisitionSettings& settings = store_.Settings();
  const AcquisitionState state = settings.state;
  settings = request.indices;
  settings.state = state;
  // Bytes of the set-up before (a half frame of another length, perhaps)
  // must not begin the first frame of this one.
  framers_.Clear();
  handlers_.StreamBroken();
  // What the module will stream from now on is what frames are decoded with,
  // whatever the set-up panel shows later on.
  handlers_.SetDecoding(request.twelveChannel, request.channels);
  return request.twelveChannel ? SetSwitches12C(request) : SetSwitches(request);
}

std::string AcquisitionSession::SetSwitches(const TSetupRequest& request) {
  framers_.SetEightChannelSizes(SelectedChannelCount(request.channels));
  view_.SweepRestart(false, request.channels);
  return SetupCommandFor(request);
}

std::string AcquisitionSession::SetSwitches12C(const TSetupRequest& request) {
  framers_.SetTwelveChannelSizes();
  view_.SweepRestart(true, request.channels);
  return SetupCommandFor(request);
}

std::string AcquisitionSession::SetupCommandFor(const TSetupRequest& request) const {
  if (request.twelveChannel)
    return BuildSetupCommand(request.indices, request.emg, kTwelveChannelMask, kTwelveChannelChestMask);
  return BuildSetupCommand(request.indices, request.emg, ChannelMask(request.channels), kEightChannelChestMask);
}

bool AcquisitionSession::TryReconnect() {
  if (!portLost_ || port_.Connected()) return false;
  ++openNumber_;
  port_.SetPort(confirmed_.port);
  try {
    port_.Open();
    port_.SetDTR(true);
    port_.SetRTS(true);
    port_.WriteString(SetupCommandFor(confirmed_));
  } catch (const EComPort&) {
    // Not back yet (gone, busy, or going again at once): the next try.
    try {
      port_.Close();
    } catch (const EComPort&) {
    }
    return false;
  }
  portLost_ = false;
  // The silence is measured again from the moment the line is back.
  lastBytes_ = clock_();
  silent_ = false;
  // What comes now is not right after what came before the loss.
  framers_.Clear();
  handlers_.StreamBroken();
  view_.Reconnected(Recording());
  return true;
}

// ---- Recording ----------------------------------------------------------------

void AcquisitionSession::StartRecording() {
  // No frame begun before can end in this recording (a half frame of
  // another set-up's length would be spliced into its first record).
  framers_.Clear();
  handlers_.BeginRecording();
  store_.BeginRecording();
  store_.Settings().state = AcquisitionState::Receiving;
  dataLost_ = false;
  handlers_.SetDataLost(false);
  startedAt_ = std::chrono::system_clock::now();
  atStart_ = LineQuality();
  rate_ = RateMeasure{};
  rate_.framesAtFrom = SampleFramesCut();
  lastBytes_ = clock_();
  silent_ = false;
  // A load may have laid the bands out for its own recording.
  view_.SweepRestart(handlers_.TwelveChannelMode(), handlers_.ChannelSelection());
}

void AcquisitionSession::StopRecording() {
  // A twelve-channel record still awaiting its chest frame will not get it
  // in this recording: it would end on a record without chest leads.
  if (Recording() && handlers_.DropIncompleteNewest()) view_.RecordCount(store_.Count(), dataLost_);
  store_.Settings().state = AcquisitionState::Idle;
  view_.RecordingStopped(store_.Count() > 0);
}

void AcquisitionSession::StopAtCompleteRecord() {
  if (!Recording()) return;
  StopRecording();
}

// The handlers' stop once a recording holds its last record, inside the
// delivery that completed it.
void AcquisitionSession::StopAtLimit() {
  StopRecording();
  if (store_.Count() >= SampleStore::kRunLimit) view_.RunLimitReached();
}

// ---- Service commands -----------------------------------------------------------

void AcquisitionSession::SendElectrodeSearch() { port_.WriteString(std::string(kElectrodeSearchCommand)); }
void AcquisitionSession::SendCalibration() { port_.WriteString(std::string(kCalibrationCommand)); }
void AcquisitionSession::SendIdentify() { port_.WriteString(std::string(kIdentifyCommand)); }

bool AcquisitionSession::SendRegisterWrite(std::string_view addressText, const std::array<bool, 8>& bit7ToBit0) {
  const std::optional<std::string> command = BuildRegisterWrite(addressText, bit7ToBit0);
  if (!command) return false;
  port_.WriteString(*command);
  return true;
}

void AcquisitionSession::Feed(std::string_view chunk) {
  quality_.bytesReceived += chunk.size();
  framers_.Feed(chunk);
  AfterChunk(chunk.size());
}

// ---- Line trouble -----------------------------------------------------------------

// The port's line went away (adapter pulled, cable end closed): reception has
// ended, so the owner tells the user instead of showing a chart that no
// longer moves. A recording is not ended by it: its records stay, Stop still
// ends and saves it, and a set-up with the port back lets it go on.
void AcquisitionSession::OnPortLost(unsigned openNumber) {
  // Closed meanwhile, or already reopened by a later set-up.
  if (openNumber != openNumber_ || !port_.Connected()) return;
  try {
    port_.Close();
  } catch (const EComPort&) {
    // The device is gone; what Close could not release goes with the next
    // set-up's Close or the session.
  }
  // A frame cut off by the loss can never be completed; kept, it would take
  // the first bytes from the port's next opening as its own.
  framers_.Clear();
  if (Recording()) {
    // The record awaiting its chest frame cannot be completed: what follows
    // a reconnection is no longer right after it.
    handlers_.DropIncompleteNewest();
    handlers_.StreamBroken();
  }
  portLost_ = true;
  // The time without a port says nothing about the module's rate.
  PauseRate();
  view_.PortLost(Recording(), store_.Count());
}

void AcquisitionSession::OnLineError(TComErrors errors) {
  if (errors.Contains(erParity)) ++quality_.parityErrors;
  if (errors.Contains(erFraming)) ++quality_.framingErrors;
  if (errors.Contains(erOverrun)) ++quality_.overrunErrors;
  // erRxOverflow comes with every gap of the input queue as well; the gaps
  // themselves are counted where they are, through OnRxOverflow.
}

// Bytes beyond the input queue were dropped: the recording goes on, but the
// user must know that it has a gap.
void AcquisitionSession::OnInputLost() {
  ++quality_.inputOverflows;
  ++quality_.inputGaps;
  handlers_.StreamBroken();
  if (!Recording() || dataLost_) return;
  dataLost_ = true;
  handlers_.SetDataLost(true);
  view_.RecordCount(store_.Count(), true);
}

// ---- Figures ------------------------------------------------------------------------

void AcquisitionSession::Tick() {
  const auto now = clock_();
  CheckLine(now);
  const double seconds = std::chrono::duration<double>(now - rateSince_).count();
  const std::uint64_t frames = framers_.Counts().packets[TModuleFramers::kSampleKind];
  if (seconds > 0) quality_.recordsPerSecond = static_cast<double>(frames - sampleFramesSince_) / seconds;
  rateSince_ = now;
  sampleFramesSince_ = frames;
}

TLineQuality AcquisitionSession::LineQuality() const {
  TLineQuality quality = quality_;
  const TModuleFramers::TCounts& counts = framers_.Counts();
  quality.frames = counts.packets;
  quality.framesRejected = counts.rejected;
  quality.chestMissingRecords = handlers_.ChestMissingRecords();
  quality.incompleteRecordsDropped = handlers_.IncompleteRecordsDropped();
  std::uint64_t pending = 0;
  for (const TComDataPacket* framer : framers_.InBindingOrder()) {
    if (framer->InPacket()) pending += framer->PendingBytes().size();
    quality.framerOverflows += framer->Overflows();
  }
  // Every byte either went into a frame, a frame refused, or a frame still
  // arriving, or belonged to none.
  const std::uint64_t used = counts.packetBytes + counts.rejectedBytes + pending;
  quality.bytesOutsideFrames = quality.bytesReceived > used ? quality.bytesReceived - used : 0;
  return quality;
}

std::uint64_t TLineQuality::RejectedFrames() const {
  std::uint64_t sum = 0;
  for (const std::uint64_t n : framesRejected) sum += n;
  return sum;
}

TLineQuality AcquisitionSession::RecordingLineQuality() const {
  TLineQuality q = LineQuality();
  const TLineQuality& s = atStart_;
  auto less = [](std::uint64_t& now, std::uint64_t then) { now = now > then ? now - then : 0; };
  for (std::size_t kind = 0; kind < q.frames.size(); ++kind) {
    less(q.frames[kind], s.frames[kind]);
    less(q.framesRejected[kind], s.framesRejected[kind]);
  }
  less(q.bytesReceived, s.bytesReceived);
  less(q.bytesOutsideFrames, s.bytesOutsideFrames);
  less(q.framerOverflows, s.framerOverflows);
  less(q.inputOverflows, s.inputOverflows);
  less(q.inputGaps, s.inputGaps);
  less(q.silentSpells, s.silentSpells);
  less(q.incompleteRecordsDropped, s.incompleteRecordsDropped);
  less(q.chestMissingRecords, s.chestMissingRecords);
  less(q.parityErrors, s.parityErrors);
  less(q.framingErrors, s.framingErrors);
  less(q.overrunErrors, s.overrunErrors);
  less(q.breaks, s.breaks);
  return q;
}

// ---- The rate check and the silence ------------------------------------------------

// What the module sent: a sample frame refused was sent all the same.
std::uint64_t AcquisitionSession::SampleFramesCut() const {
  const TModuleFramers::TCounts& counts = framers_.Counts();
  return counts.packets[TModuleFramers::kSampleKind] + counts.rejected[TModuleFramers::kSampleKind];
}

void AcquisitionSession::AfterChunk(std::size_t bytes) {
  if (!Recording()) return;
  const auto now = clock_();
  if (bytes > 0) {
    if (!silent_ && now - lastBytes_ > kSilence) ++quality_.silentSpells;
    silent_ = false;
    lastBytes_ = now;
  }
  // The first delivery with sample frames starts the measure: how long its
  // frames took to come is not known.
  if (!rate_.from) {
    if (SampleFramesCut() == rate_.framesAtFrom) return;
    rate_.from = now;
    rate_.framesAtFrom = SampleFramesCut();
  }
  CheckLine(now);
}

void AcquisitionSession::CheckLine(std::chrono::steady_clock::time_point now) {
  if (!Recording()) return;
  // Without a port the line cannot speak: the loss is told as such, not as
  // a silent module.
  if (!portLost_ && !silent_ && now - lastBytes_ > kSilence) {
    ++quality_.silentSpells;
    silent_ = true;
  }
  if (!rate_.from) return;
  rate_.framesNow = SampleFramesCut();
  rate_.now = now;
  if (rate_.told || !RateIsOff()) return;
  rate_.told = true;
  view_.RateOff(MeasuredRate(), ExpectedRate());
}

void AcquisitionSession::PauseRate() {
  if (!rate_.from) return;
  rate_.frames += rate_.framesNow - rate_.framesAtFrom;
  rate_.seconds += std::chrono::duration<double>(rate_.now - *rate_.from).count();
  rate_.from.reset();
  rate_.framesAtFrom = SampleFramesCut();
}

double AcquisitionSession::MeasuredRate() const {
  std::uint64_t frames = rate_.frames;
  double seconds = rate_.seconds;
  if (rate_.from) {
    frames += rate_.framesNow - rate_.framesAtFrom;
    seconds += std::chrono::duration<double>(rate_.now - *rate_.from).count();
  }
  return seconds > 0 ? static_cast<double>(frames) / seconds : 0;
}

bool AcquisitionSession::RateIsOff() const {
  double seconds = rate_.seconds;
  if (rate_.from) seconds += std::chrono::duration<double>(rate_.now - *rate_.from).count();
  const int expected = ExpectedRate();
  if (seconds < kRateCheckAfterSeconds || expected <= 0) return false;
  return std::abs(MeasuredRate() - expected) > kRateTolerance * expected;
}
