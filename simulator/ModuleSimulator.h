#pragma once
// The ECG module's stand-in on a pseudo-terminal.
//
// The constructor opens a pseudo-terminal pair and, unless told otherwise,
// registers its terminal side as a virtual port: a symbolic link
// <directory>/<name> (default VirtualPortDirectory()/ECG-SIM0), which the
// tool's port list offers. Start() runs the module on its own thread: it
// reads and answers the tool's commands and, once set up, streams frames at
// the set-up's rate. Stop() (or the destructor) ends the thread; the
// destructor also removes the link.
//
// In a test:
//     SimulatorOptions options;
//     options.directory = scratchDir;            // keep parallel tests apart
//     options.name = "ECG-TEST";
//     ModuleSimulator sim(options);
//     sim.Start();
//     ... the tool opens sim.PortPath() and sends its set-up ...
//     sim.WaitFor([](const SimulatorState& s) { return s.samplesSinceSetup >= 100; }, 10s);
//
// Threads: every public member may be called from any thread; observers
// return copies taken under a lock. The OnCommand and OnConnection handlers
// run on the simulator's thread and must not call Stop(), HangUp() or
// Replug(), which wait for that thread. Errors: the constructor and Replug()
// raise ESimulator (see SimulatorError.h); nothing else raises.
//
// Sample frames are numbered 0, 1, ... 247, 0, ... from each set-up on (see
// kSequenceModulus); a twelve-channel chest frame carries the number of its
// sample frame. Before its first set-up the module sends only the status,
// pulse and respiration frames, once a second.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simulator/FaultInjector.h"
#include "simulator/ModuleCommand.h"
#include "simulator/ModuleFaults.h"
#include "simulator/ModuleFrames.h"
#include "simulator/SimulatorError.h"

// How fast samples go out. By default at the set-up's rate.
struct SimulatorPace {
  static constexpr double kUnpaced = std::numeric_limits<double>::infinity();
  // 115200 baud with 8 data bits, parity and a stop bit: 11 bits a byte.
  static constexpr double kLineBytesPerSecond = 115200.0 / 11.0;

  double rateMultiplier = 1.0;  // scales the set-up's rate
  double samplesPerSecond = 0;  // > 0: this rate whatever the set-up says; kUnpaced: as fast as the reader takes them
  bool capAtLineRate = true;    // never more samples than the real line could carry

  // Samples per second for `config` (infinity when unpaced and uncapped).
  double RateFor(const ModuleConfig& config) const;
  bool operator==(const SimulatorPace&) const = default;
};

struct SimulatorOptions {
  std::string name = "ECG-SIM0";
  std::string directory;     // empty: VirtualPortDirectory()
  bool registerLink = true;  // false: no link; the tool opens DevicePath()
  int heartRate = 72;        // beats per minute, also sent as the pulse value
  // A WFDB record's header (.hea) to play instead of the synthetic ECG (see
  // RecordPlayer.h); the pulse value then comes from its beat annotations
  // when it has any. The constructor raises ESimulator when it cannot be read.
  std::string replay;
  int respirationRate = 15;  // breaths per minute, also sent as the respiration value
  SimulatorPace pace;
  FaultOptions faults;        // the line's faults
  ModuleFaults moduleFaults;  // the module's own: its leads, electrodes and answers
  std::string identification = "ECG-SIM 1.0 12-channel simulator";
  std::chrono::milliseconds searchDuration{2000};       // mode "searching" after "q0"
  std::chrono::milliseconds calibrationDuration{2000};  // 1 mV rectangle after "K", in signal time
  std::chrono::milliseconds calibrationBaseline{500};   // 0 mV before and after the rectangle
  // A command left incomplete this long is given up as rejected.
  std::chrono::milliseconds commandTimeout{250};

  std::function<void(const ModuleCommand&)> OnCommand;  // each command received, rejected ones too
  std::function<void(bool connected)> OnConnection;     // the tool opened or closed the port
};

struct RegisterWriteEntry {
  int address = 0;
  std::uint8_t value = 0;
  bool operator==(const RegisterWriteEntry&) const = default;
};

// What the simulator has done so far. Sample counts count samples whose last
// byte has been written to the line.
struct SimulatorState {
  bool running = false;
  bool hungUp = false;
  bool listenerConnected = false;      // someone holds the port open
  std::optional<ModuleConfig> config;  // the last accepted set-up
  std::uint64_t samplesSent = 0;
  std::uint64_t samplesSinceSetup = 0;
  std::uint64_t samplesDiscarded = 0;  // due while no one had the port open, or no one read it
  std::uint64_t framesSent = 0;        // every frame; a twelve-channel sample counts two
  std::uint64_t statusFramesSent = 0;  // FC frames
  std::uint64_t identFramesSent = 0;
  std::uint8_t nextSequence = 0;  // byte 2 of the next sample frame
  std::size_t commandsSeen = 0;   // rejected ones included
  std::size_t rejectedCommands = 0;
  std::size_t setupsAccepted = 0;
  std::map<int, std::uint8_t> registers;  // address -> last value written
  // Smallest and largest byte sent per channel since the last set-up (I..Resp, C2..C6).
  std::array<std::uint8_t, 13> minByte{};
  std::array<std::uint8_t, 13> maxByte{};
};

class ModuleSimulator {
 public:
  explicit ModuleSimulator(SimulatorOptions options = {});
  ~ModuleSimulator();
  ModuleSimulator(const ModuleSimulator&) = delete;
  ModuleSimulator& operator=(const ModuleSimulator&) = delete;

  void Start();  // no effect when running
  void Stop();   // waits for the thread; no effect when stopped
  bool Running() const;

  // The path the tool opens: the link, or DevicePath() without one.
  std::string PortPath() const;
  // The pseudo-terminal itself, e.g. /dev/pts/7.
  std::string DevicePath() const;
  // What the leads carry, for a log: the synthetic ECG or the record played.
  std::string SignalSource() const;

  void SetHeartRate(int beatsPerMinute);
  void SetRespirationRate(int breathsPerMinute);
  void SetPace(const SimulatorPace& pace);
  void SetFaults(const FaultOptions& faults);
  // Status frame byte 3 (the respiration flag is added by the simulator) and
  // chest status byte 3; all connected by default.
  void SetConnectionFlags(std::uint8_t limbFlags, std::uint8_t chestFlags);
  // The next `samples` samples go out back to back at the line's full rate;
  // the normal pace resumes afterwards without catching up.
  void Burst(std::size_t samples);
  // Puts bytes on the line between two frames, as they are (lost, like
  // everything sent, while nobody has the port open).
  void Inject(const std::string& bytes);
  // As if the USB adapter were pulled out: the terminal side sees a hang-up,
  // the link disappears, nothing more is sent. Returns once done.
  void HangUp();
  // As if it were plugged in again: a new pseudo-terminal under the same
  // link name. The module keeps its configuration.
  void Replug();

  SimulatorState State() const;
  std::optional<ModuleConfig> Configuration() const;
  std::vector<ModuleCommand> Commands() const;
  std::map<int, std::uint8_t> Registers() const;
  std::vector<RegisterWriteEntry> RegisterLog() const;
  std::uint64_t SamplesSent() const;
  std::uint8_t SequenceNumber() const;

  // Waits until `condition` holds for the state (checked at every change)
  // or `timeout` ran out; returns whether it holds.
  bool WaitFor(const std::function<bool(const SimulatorState&)>& condition, std::chrono::milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
