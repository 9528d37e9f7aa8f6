#include "simulator/ModuleSimulator.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "serial/VirtualPortDirectory.h"
#include "simulator/CommandParser.h"
#include "simulator/PseudoTerminal.h"
#include "simulator/RecordPlayer.h"
#include "simulator/SyntheticEcg.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// While nobody holds the port open the terminal cannot be waited on (it
// reports the hang-up at once), so the thread looks again this often.
constexpr auto kListenerPoll = 10ms;
// Pause between the pieces of a chunked write, so that the reader sees them
// as separate reads.
constexpr auto kChunkGap = 500us;
// Bytes held back while the reader does not keep up; later frames are dropped
// (as a real module's would be lost on the line), never queued without end.
constexpr std::size_t kMaxBacklog = std::size_t{64} * 1024;
// How far an unpaced stream runs ahead of the reader.
constexpr std::size_t kUnpacedBacklog = 4096;
// A schedule further behind than this (the process was stopped or starved)
// starts afresh instead of pouring out everything it missed.
constexpr auto kMaxCatchUp = 2s;

Clock::duration SecondsToDuration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// What a run of bytes in the output stands for, accounted once written.
struct OutputMark {
  std::uint64_t end = 0;  // offset in the stream just past the bytes
  int frames = 0;
  bool sample = false;
  bool status = false;
  bool ident = false;
  std::uint64_t setupGeneration = 0;
  SampleBytes values;
};
}  // namespace

double SimulatorPace::RateFor(const ModuleConfig& config) const {
  double rate = samplesPerSecond > 0 ? samplesPerSecond : config.NominalRate() * std::max(rateMultiplier, 0.0);
  if (rate <= 0) rate = config.NominalRate();
  if (capAtLineRate) rate = std::min(rate, kLineBytesPerSecond / config.BytesPerSample());
  return rate;
}

struct ModuleSimulator::Impl {
  explicit Impl(SimulatorOptions opts)
      : options(std::move(opts)),
        ecg(options.heartRate, options.respirationRate),
        faults(options.faults),
        leadFaults(options.moduleFaults) {
    if (!options.replay.empty()) player = std::make_unique<RecordPlayer>(options.replay);
    if (options.directory.empty()) options.directory = VirtualPortDirectory();
    pace = options.pace;
    terminal = std::make_unique<PseudoTerminal>();
    if (options.registerLink) {
      link = std::make_unique<VirtualPortLink>(options.directory, options.name, terminal->DevicePath());
    }
    state.minByte.fill(255);
    devicePath = terminal->DevicePath();
    portPath = link ? link->Path() : devicePath;
    requested.heartRate = ecg.HeartRate();
    requested.respirationRate = ecg.RespirationRate();
  }

  // ---- shared with the callers (under mutex) ----
  SimulatorOptions options;
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  SimulatorState state;
  std::vector<ModuleCommand> commands;
  std::vector<RegisterWriteEntry> registerLog;
  struct Requests {
    bool pending = false;
    std::optional<SimulatorPace> pace;
    std::optional<FaultOptions> faults;
    int heartRate = 72;
    int respirationRate = 15;
    std::uint8_t limbFlags = kAllLimbElectrodes;
    std::uint8_t chestFlags = kAllChestElectrodes;
    std::size_t burst = 0;
    std::string inject;
    std::uint64_t hangUps = 0;  // asked for; compared with the thread's count
    std::uint64_t replugs = 0;
  } requested;
  std::uint64_t hangUpsDone = 0;
  std::uint64_t replugsDone = 0;
  std::string replugError;
  std::string devicePath;
  std::string portPath;

  template <typename Change>
  void Request(Change change) {
    {
      std::lock_guard lock(mutex);
      change(requested);
      requested.pending = true;
    }
    wake.Raise();
  }

  // ---- the thread's own (or the caller's while no thread runs) ----
  std::mutex control;  // Start, Stop, HangUp, Replug one at a time
  std::thread thread;
  std::atomic<bool> stopping{false};
  WakeSignal wake;
  std::unique_ptr<PseudoTerminal> terminal;
  std::unique_ptr<VirtualPortLink> link;  // destroyed first: the link goes before the terminal
  SyntheticEcg ecg;
  std::unique_ptr<RecordPlayer> player;  // plays instead of `ecg` when set
  FaultInjector faults;
  LeadFaultFilter leadFaults;
  CommandParser parser;
  SimulatorPace pace;
  std::uint8_t limbFlags = kAllLimbElectrodes;
  std::uint8_t chestFlags = kAllChestElectrodes;
  std::optional<ModuleConfig> config;
  std::uint64_t setupGeneration = 0;
  bool connected = false;

  // Sample schedule: sample k after `scheduleBase` is due at base + k * period.
  Clock::time_point scheduleBase;
  std::uint64_t scheduled = 0;
  double rate = 0;  // samples per second now; infinity when unpaced
  std::size_t burstLeft = 0;
  std::uint8_t sequence = 0;
  std::uint8_t statusSequence = 0;
  double signalTime = 0;
  // Samples still to go of the calibration signal: 0 mV, the 1 mV rectangle,
  // 0 mV again; the last `calibrationAfter` of them are the trailing 0 mV.
  std::uint64_t calibrationLeft = 0;
  std::uint64_t calibrationHigh = 0;
  std::uint64_t calibrationAfter = 0;
  Clock::time_point searchUntil{};
  Clock::time_point nextStatus{};
  Clock::time_point lastInput{};
  Clock::time_point nextChunk{};

  std::string pending;  // bytes not yet written
  std::uint64_t queuedTotal = 0;
  std::uint64_t writtenTotal = 0;
  std::deque<OutputMark> marks;

  void Run();
  void ApplyRequests(Clock::time_point now);
  void HangUpNow();
  void ReplugNow();
  void UpdateConnection(Clock::time_point now);
  void ReadInput(Clock::time_point now);
  void Handle(std::vector<ModuleCommand>& received, Clock::time_point now);
  void Rebase(Clock::time_point now);
  Clock::time_point NextSampleDue() const;
  bool Streaming() const { return config.has_value() && terminal && terminal->IsOpen(); }
  void ProduceSamples(Clock::time_point now);
  void ProduceSample();
  void SendStatus(bool whole);
  std::uint8_t PulseValue() const;
  void Queue(const std::string& frame, OutputMark mark);
  void WriteOutput(Clock::time_point now);
  void DropOutput();
  void Notify() { changed.notify_all(); }
};

// ---------------------------------------------------------------- the thread

void ModuleSimulator::Impl::Run() {
  const Clock::time_point start = Clock::now();
  nextStatus = start;
  Rebase(start);
  for (;;) {
    // Cleared before the stop flag is looked at: a wake-up raised after this
    // point ends the wait below at once.
    wake.Clear();
    if (stopping.load()) break;
    Clock::time_point now = Clock::now();
    UpdateConnection(now);
    ApplyRequests(now);
    if (connected) ReadInput(now);
    if (parser.Pending() && now - lastInput >= options.commandTimeout) {
      std::vector<ModuleCommand> flushed;
      parser.Flush(flushed);
      Handle(flushed, now);
    }
    if (now >= nextStatus) {
      if (connected) SendStatus(true);
      nextStatus += 1s;
      if (nextStatus <= now) nextStatus = now + 1s;
    }
    ProduceSamples(now);
    if (connected) WriteOutput(now);

    // Sleep until the next thing to do.
    now = Clock::now();
    Clock::time_point deadline = nextStatus;
    if (Streaming()) {
      if (std::isinf(rate) && burstLeft == 0) {
        if (connected && pending.size() < kUnpacedBacklog) deadline = now;
      } else {
        deadline = std::min(deadline, NextSampleDue());
      }
    }
    if (parser.Pending()) deadline = std::min(deadline, lastInput + options.commandTimeout);
    const bool chunkWaiting = !pending.empty() && nextChunk > now;
    if (chunkWaiting) deadline = std::min(deadline, nextChunk);
    if (!connected) deadline = std::min(deadline, now + kListenerPoll);
    const bool wantWrite = connected && !pending.empty() && !chunkWaiting;
    WaitForEvents(connected ? terminal.get() : nullptr, wantWrite, wake, deadline);
  }
}

void ModuleSimulator::Impl::ApplyRequests(Clock::time_point now) {
  Requests taken;
  std::uint64_t hangUps = 0, replugs = 0;
  {
    std::lock_guard lock(mutex);
    if (!requested.pending) return;
    taken = requested;
    requested.pending = false;
    requested.pace.reset();
    requested.faults.reset();
    requested.burst = 0;
    requested.inject.clear();
    hangUps = requested.hangUps - hangUpsDone;
    replugs = requested.replugs - replugsDone;
  }
  if (taken.pace && !(*taken.pace == pace)) {
    pace = *taken.pace;
    Rebase(now);
  }
  if (taken.faults) faults.SetOptions(*taken.faults);
  ecg.SetHeartRate(taken.heartRate);
  ecg.SetRespirationRate(taken.respirationRate);
  limbFlags = taken.limbFlags;
  chestFlags = taken.chestFlags;
  if (taken.burst > 0) {
    burstLeft += taken.burst;
    Rebase(now);
  }
  if (!taken.inject.empty() && connected) Queue(taken.inject, OutputMark{});
  if (hangUps > 0) HangUpNow();
  std::string error;
  if (replugs > 0) {
    try {
      ReplugNow();
    } catch (const ESimulator& e) {
      error = e.what();
    }
  }
  std::lock_guard lock(mutex);
  hangUpsDone += hangUps;
  replugsDone += replugs;
  if (replugs > 0) replugError = error;
  Notify();
}

void ModuleSimulator::Impl::HangUpNow() {
  if (link) link->Remove();
  if (terminal) terminal->Close();
  DropOutput();
  parser = CommandParser();
  std::lock_guard lock(mutex);
  state.hungUp = true;
  Notify();
}

void ModuleSimulator::Impl::ReplugNow() {
  auto fresh = std::make_unique<PseudoTerminal>();
  if (link) link->Retarget(fresh->DevicePath());
  if (terminal) terminal->Close();
  terminal = std::move(fresh);
  DropOutput();
  parser = CommandParser();
  std::lock_guard lock(mutex);
  devicePath = terminal->DevicePath();
  if (!link) portPath = devicePath;
  state.hungUp = false;
  Notify();
}

void ModuleSimulator::Impl::UpdateConnection(Clock::time_point now) {
  const bool present = terminal && terminal->IsOpen() && terminal->PeerConnected();
  if (present == connected) return;
  connected = present;
  if (!connected) {
    // Whatever was on its way is lost with the closed port, and a command
    // broken off by the close is not completed by the next opener's bytes.
    DropOutput();
    terminal->DiscardUnreadOutput();
    std::vector<ModuleCommand> flushed;
    parser.Flush(flushed);
    Handle(flushed, now);
  } else {
    nextStatus = now;  // the opener learns the module's state at once
  }
  {
    std::lock_guard lock(mutex);
    state.listenerConnected = connected;
    Notify();
  }
  if (options.OnConnection) options.OnConnection(connected);
}

void ModuleSimulator::Impl::ReadInput(Clock::time_point now) {
  std::string input;
  terminal->Read(input);  // a closed port is noticed on the next turn; what did arrive counts
  if (input.empty()) return;
  lastInput = now;
  std::vector<ModuleCommand> received;
  parser.Feed(input, received);
  Handle(received, now);
}

void ModuleSimulator::Impl::Handle(std::vector<ModuleCommand>& received, Clock::time_point now) {
  for (ModuleCommand& command : received) {
    switch (command.kind) {
      case CommandKind::Setup:
        if (player) {
          player->PlayAt(command.setup.NominalRate());
          now = Clock::now();  // the schedule starts after the resampling
        }
        config = command.setup;
        ++setupGeneration;
        sequence = 0;
        Rebase(now);
        SendStatus(false);
        break;
      case CommandKind::ElectrodeSearch:
        searchUntil = now + options.searchDuration;
        SendStatus(false);
        break;
      case CommandKind::Calibrate: {
        const int nominal = config.value_or(ModuleConfig{}).NominalRate();
        auto samples = [nominal](std::chrono::milliseconds span) {
          return static_cast<std::uint64_t>(std::llround(std::chrono::duration<double>(span).count() * nominal));
        };
        calibrationHigh = samples(options.calibrationDuration);
        calibrationAfter = samples(options.calibrationBaseline);
        calibrationLeft = calibrationAfter + calibrationHigh + calibrationAfter;
        break;
      }
      case CommandKind::Identify:
        if (connected && !options.moduleFaults.noIdent) {
          OutputMark mark;
          mark.frames = 1;
          mark.ident = true;
          Queue(EncodeIdentFrame(options.identification), mark);
        }
        break;
      case CommandKind::RegisterWrite:
      case CommandKind::Rejected: break;
    }
    {
      std::lock_guard lock(mutex);
      ++state.commandsSeen;
      if (command.kind == CommandKind::Rejected) ++state.rejectedCommands;
      if (command.kind == CommandKind::RegisterWrite) {
        state.registers[command.address] = command.value;
        registerLog.push_back({command.address, command.value});
      }
      if (command.kind == CommandKind::Setup) {
        state.config = command.setup;
        ++state.setupsAccepted;
        state.samplesSinceSetup = 0;
        state.nextSequence = 0;
        state.minByte.fill(255);
        state.maxByte.fill(0);
      }
      commands.push_back(command);
      Notify();
    }
    if (options.OnCommand) options.OnCommand(command);
  }
  received.clear();
}

// ------------------------------------------------------------------ samples

void ModuleSimulator::Impl::Rebase(Clock::time_point now) {
  scheduleBase = now;
  scheduled = 0;
  const ModuleConfig current = config.value_or(ModuleConfig{});
  rate = burstLeft > 0 ? SimulatorPace::kLineBytesPerSecond / current.BytesPerSample() : pace.RateFor(current);
}

Clock::time_point ModuleSimulator::Impl::NextSampleDue() const {
  return scheduleBase + SecondsToDuration(static_cast<double>(scheduled) / rate);
}

void ModuleSimulator::Impl::ProduceSamples(Clock::time_point now) {
  if (!Streaming()) return;
  for (;;) {
    const bool unpaced = std::isinf(rate);
    if (unpaced) {
      if (!connected || pending.size() >= kUnpacedBacklog) return;
    } else if (NextSampleDue() > now) {
      return;
    } else if (NextSampleDue() < now - kMaxCatchUp) {
      Rebase(now);
    }
    ProduceSample();
    ++scheduled;
    if (burstLeft > 0 && --burstLeft == 0) Rebase(Clock::now());
  }
}

void ModuleSimulator::Impl::ProduceSample() {
  LeadVoltages leads = ecg.At(signalTime);
  if (player) {
    const double respiration = leads.respiration;
    leads = player->At(signalTime);
    leads.respiration = respiration;
  }
  if (calibrationLeft > 0) {
    const bool high = calibrationLeft > calibrationAfter && calibrationLeft <= calibrationAfter + calibrationHigh;
    leads = SyntheticEcg::Calibration(leads, high ? 1.0 : 0.0);
    --calibrationLeft;
  }
  leads = leadFaults.Next(leads);
  signalTime += 1.0 / config->NominalRate();
  OutputMark mark;
  mark.sample = true;
  mark.frames = config->TwelveChannel() ? 2 : 1;
  mark.setupGeneration = setupGeneration;
  mark.values = SyntheticEcg::ToBytes(leads, config->amplification);
  const std::uint8_t number = sequence;
  sequence = static_cast<std::uint8_t>((sequence + 1) % kSequenceModulus);
  if (connected && pending.size() < kMaxBacklog) {
    Queue(EncodeSample(*config, number, mark.values), mark);
  } else {
    std::lock_guard lock(mutex);
    ++state.samplesDiscarded;
  }
  std::lock_guard lock(mutex);
  state.nextSequence = sequence;
}

// ------------------------------------------------------------------- output

void ModuleSimulator::Impl::SendStatus(bool whole) {
  if (!connected) return;
  const ModuleConfig current = config.value_or(ModuleConfig{});
  const bool searching = Clock::now() < searchUntil;
  const ModuleFaults& off = options.moduleFaults;
  std::uint8_t flags = limbFlags & static_cast<std::uint8_t>(~(cfRespiration | off.limbOff));
  if (current.RespirationTransmitted()) flags |= cfRespiration;
  OutputMark status;
  status.frames = 1;
  status.status = true;
  Queue(EncodeStatusFrame(statusSequence, flags, current.SettingsByte(), ModeOf(current, searching)), status);
  if (whole) {
    OutputMark other;
    other.frames = 1;
    if (current.TwelveChannel()) {
      Queue(EncodeChestStatusFrame(statusSequence, chestFlags & static_cast<std::uint8_t>(~off.chestOff)), other);
    }
    Queue(EncodePulseFrame(statusSequence, PulseValue()), other);
    Queue(EncodeRespirationFrame(statusSequence, static_cast<std::uint8_t>(ecg.RespirationRate())), other);
  }
  statusSequence = static_cast<std::uint8_t>((statusSequence + 1) % kSequenceModulus);
}

std::uint8_t ModuleSimulator::Impl::PulseValue() const {
  const std::optional<int> played = player ? player->HeartRate(signalTime) : std::nullopt;
  return static_cast<std::uint8_t>(std::clamp(played.value_or(ecg.HeartRate()), 0, 255));
}

void ModuleSimulator::Impl::Queue(const std::string& frame, OutputMark mark) {
  if (pending.size() >= kMaxBacklog) return;
  // A twelve-channel sample is two frames, each of which may meet garbage.
  if (mark.sample && mark.frames == 2) {
    const std::size_t split = 9;
    pending += faults.Apply(frame.substr(0, split));
    pending += faults.Apply(frame.substr(split));
  } else if (mark.frames > 0) {
    pending += faults.Apply(frame);
  } else {
    pending += frame;  // injected bytes go out as they are
  }
  queuedTotal = writtenTotal + pending.size();
  mark.end = queuedTotal;
  if (mark.frames > 0) marks.push_back(mark);
}

void ModuleSimulator::Impl::WriteOutput(Clock::time_point now) {
  std::size_t total = 0;
  while (!pending.empty()) {
    if (faults.Options().randomChunks && now < nextChunk) break;
    const std::size_t piece = faults.NextChunk(pending.size());
    std::size_t written = 0;
    const auto io = terminal->Write(pending.data(), piece, written);
    pending.erase(0, written);
    total += written;
    if (io != PseudoTerminal::Io::Done) break;
    if (faults.Options().randomChunks) {
      nextChunk = now + kChunkGap;
      break;
    }
  }
  if (total == 0) return;
  writtenTotal += total;
  std::lock_guard lock(mutex);
  while (!marks.empty() && marks.front().end <= writtenTotal) {
    const OutputMark& mark = marks.front();
    state.framesSent += static_cast<std::uint64_t>(mark.frames);
    if (mark.status) ++state.statusFramesSent;
    if (mark.ident) ++state.identFramesSent;
    if (mark.sample) {
      ++state.samplesSent;
      if (mark.setupGeneration == setupGeneration) {
        ++state.samplesSinceSetup;
        for (std::size_t c = 0; c < 8; ++c) {
          state.minByte[c] = std::min(state.minByte[c], mark.values.channels[c]);
          state.maxByte[c] = std::max(state.maxByte[c], mark.values.channels[c]);
        }
        for (std::size_t c = 0; c < 5; ++c) {
          state.minByte[8 + c] = std::min(state.minByte[8 + c], mark.values.chest[c]);
          state.maxByte[8 + c] = std::max(state.maxByte[8 + c], mark.values.chest[c]);
        }
      }
    }
    marks.pop_front();
  }
  Notify();
}

void ModuleSimulator::Impl::DropOutput() {
  std::uint64_t lostSamples = 0;
  for (const OutputMark& mark : marks) lostSamples += mark.sample ? 1 : 0;
  marks.clear();
  pending.clear();
  queuedTotal = writtenTotal;
  if (lostSamples == 0) return;
  std::lock_guard lock(mutex);
  state.samplesDiscarded += lostSamples;
  Notify();
}

// ---------------------------------------------------------------- the class

ModuleSimulator::ModuleSimulator(SimulatorOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ModuleSimulator::~ModuleSimulator() { Stop(); }

void ModuleSimulator::Start() {
  std::lock_guard control(impl_->control);
  if (impl_->thread.joinable()) return;
  impl_->stopping = false;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->state.running = true;
  }
  impl_->thread = std::thread([this] { impl_->Run(); });
}

void ModuleSimulator::Stop() {
  std::lock_guard control(impl_->control);
  if (!impl_->thread.joinable()) return;
  impl_->stopping = true;
  impl_->wake.Raise();
  impl_->thread.join();
  std::lock_guard lock(impl_->mutex);
  impl_->state.running = false;
  impl_->Notify();
}

std::string ModuleSimulator::SignalSource() const {
  // The description is fixed from the construction on.
  return impl_->player ? "record " + impl_->player->Description() : "synthetic ECG";
}

bool ModuleSimulator::Running() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state.running;
}

std::string ModuleSimulator::PortPath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->portPath;
}

std::string ModuleSimulator::DevicePath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devicePath;
}

void ModuleSimulator::SetHeartRate(int beatsPerMinute) {
  impl_->Request([&](Impl::Requests& r) { r.heartRate = std::clamp(beatsPerMinute, 20, 250); });
}

void ModuleSimulator::SetRespirationRate(int breathsPerMinute) {
  impl_->Request([&](Impl::Requests& r) { r.respirationRate = std::clamp(breathsPerMinute, 1, 60); });
}

void ModuleSimulator::SetPace(const SimulatorPace& pace) {
  impl_->Request([&](Impl::Requests& r) { r.pace = pace; });
}

void ModuleSimulator::SetFaults(const FaultOptions& faults) {
  impl_->Request([&](Impl::Requests& r) { r.faults = faults; });
}

void ModuleSimulator::SetConnectionFlags(std::uint8_t limbFlags, std::uint8_t chestFlags) {
  impl_->Request([&](Impl::Requests& r) {
    r.limbFlags = limbFlags;
    r.chestFlags = chestFlags;
  });
}

void ModuleSimulator::Burst(std::size_t samples) {
  impl_->Request([&](Impl::Requests& r) { r.burst += samples; });
}

void ModuleSimulator::Inject(const std::string& bytes) {
  impl_->Request([&](Impl::Requests& r) { r.inject += bytes; });
}

void ModuleSimulator::HangUp() {
  std::lock_guard control(impl_->control);
  std::uint64_t target;
  {
    std::lock_guard lock(impl_->mutex);
    target = ++impl_->requested.hangUps;
    impl_->requested.pending = true;
  }
  if (!impl_->thread.joinable()) {
    impl_->ApplyRequests(Clock::now());
    return;
  }
  impl_->wake.Raise();
  std::unique_lock lock(impl_->mutex);
  impl_->changed.wait(lock, [&] { return impl_->hangUpsDone >= target; });
}

void ModuleSimulator::Replug() {
  std::lock_guard control(impl_->control);
  std::uint64_t target;
  {
    std::lock_guard lock(impl_->mutex);
    target = ++impl_->requested.replugs;
    impl_->requested.pending = true;
  }
  if (!impl_->thread.joinable()) {
    impl_->ApplyRequests(Clock::now());
  } else {
    impl_->wake.Raise();
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait(lock, [&] { return impl_->replugsDone >= target; });
  }
  std::lock_guard lock(impl_->mutex);
  if (!impl_->replugError.empty()) throw ESimulator(impl_->replugError);
}

SimulatorState ModuleSimulator::State() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state;
}

std::optional<ModuleConfig> ModuleSimulator::Configuration() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state.config;
}

std::vector<ModuleCommand> ModuleSimulator::Commands() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->commands;
}

std::map<int, std::uint8_t> ModuleSimulator::Registers() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state.registers;
}

std::vector<RegisterWriteEntry> ModuleSimulator::RegisterLog() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->registerLog;
}

std::uint64_t ModuleSimulator::SamplesSent() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state.samplesSent;
}

std::uint8_t ModuleSimulator::SequenceNumber() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state.nextSequence;
}

bool ModuleSimulator::WaitFor(const std::function<bool(const SimulatorState&)>& condition,
                              std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return condition(impl_->state); });
}
