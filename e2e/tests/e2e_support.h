#pragma once
// What the end-to-end runs share: a scripted TDialogs, waiting on the Qt
// event loop for a condition, a private virtual-port directory, a tap on the
// window's sample and chest framers, the simulator's stream recomputed from
// its signal model, readers for the saved files, and a fixture that holds a
// real window and a running module simulator.
#include <QAbstractButton>
#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recording/Dialogs.h"
#include "simulator/ModuleSimulator.h"
#include "store/SampleStore.h"
#include "testsupport/FakeDialogs.h"
#include "ui/MainWindow.h"

// Generous: the runs must pass on a loaded two-core machine under sanitizers.
inline constexpr std::chrono::seconds kDeadline{90};

// Spins the event loop until `condition` holds or `timeout` has passed;
// returns the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kDeadline);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "ecg-e2e");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  void Keep() { keep_ = true; }  // left behind for a look afterwards

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

// XDG_RUNTIME_DIR pointed at `dir` for the life of the object, so that the
// virtual ports of this run are the only ones the tool lists besides the
// machine's own.
class ScopedRuntimeDir {
 public:
  explicit ScopedRuntimeDir(const std::filesystem::path& dir);
  ~ScopedRuntimeDir();
  ScopedRuntimeDir(const ScopedRuntimeDir&) = delete;
  ScopedRuntimeDir& operator=(const ScopedRuntimeDir&) = delete;

 private:
  std::optional<std::string> previous_;
};

// Sits between the window's sample and chest framers and their handlers and
// notes every frame handed over: its sequence byte (byte 2, which the tool
// does not store) and what the handler made of it. With the tap in place
// before the module's first set-up, the n-th sample frame seen is the
// simulator's sample n.
class FrameTap {
 public:
  struct Delivery {
    std::uint8_t sequence = 0;
    // The simulator's sample number, unwrapped from the sequence: frames
    // waiting when Read was pressed are dropped, so deliveries may skip
    // some (fewer than the sequence's modulus).
    long long number = 0;
    bool receiving = false;  // the recording ran when the frame arrived
    int countBefore = 0;     // the store's count before and after the handler
    int countAfter = 0;
    bool Stored() const { return receiving && countAfter == countBefore + 1; }
  };

  explicit FrameTap(TForm1& form);

  const std::vector<Delivery>& Samples() const { return samples_; }
  const std::vector<Delivery>& Chests() const { return chests_; }
  // The sample number the next sample frame will carry if none is lost:
  // how many the simulator had sent when the last one was handled.
  std::size_t NextSampleNumber() const {
    return samples_.empty() ? 0 : static_cast<std::size_t>(samples_.back().number + 1);
  }
  // For slots 0..count of the latest recording: the index (= the
  // simulator's sample number) of the sample frame stored there, -1 for
  // none (slot 0 always).
  std::vector<long long> StoredFrames(int count) const;

 private:
  std::vector<Delivery> samples_;
  std::vector<Delivery> chests_;
};

// The simulator's samples 0 .. count-1 after its first set-up, recomputed
// from its signal model (it advances the signal by one sample period per
// sample, whatever the pace it streams at).
std::vector<SampleBytes> SentSamples(const ModuleConfig& config, std::size_t count, int heartRate = 72,
                                     int respirationRate = 15);
// The record bytes the tool should make of `sent` in eight-channel mode with
// `mask` (bit 0 I .. bit 7 Resp): selected channels as sent, the rest 0.
std::array<std::uint8_t, 8> SelectedChannels(const SampleBytes& sent, std::uint8_t mask);

// The saved files.
std::vector<SampleRecord> ReadDataFile(const std::filesystem::path& path);
// The log's lines without their CR LF; fails the test on a line that does
// not end with CR LF.
std::vector<std::string> ReadLogLines(const std::filesystem::path& path);
std::vector<std::string> SplitAtTabs(const std::string& line);
// Runs a command and returns what it wrote on stdout, or nullopt when it
// could not run or failed.
std::optional<std::string> CommandOutput(const std::string& command);
bool ProgramAvailable(const std::string& name);

// ---- Checks of a finished recording ----

// What the checks found, for the test's own assertions and its report.
struct StreamMatch {
  long long firstFrame = -1;  // the simulator's sample in slot 1
  long long lastFrame = -1;   // ... in the last slot
  int mismatches = 0;         // records whose bytes differ from what was sent
  int chestOwnSample = 0;     // twelve channels: chest bytes of the record's own sample
  int chestNextSample = 0;    //   ... of the sample after it
  int chestLaterSample = 0;   //   ... of a sample further on
  int chestMissing = 0;       //   ... none (left 0)
};

// Every sample frame the tap saw carries the next sequence number: nothing
// was lost or cut wrongly between the simulator and the handlers.
void ExpectUnbrokenSequence(const std::vector<FrameTap::Delivery>& frames, const char* kind);
// Slots 1..Count() of `store` against the simulator's samples: each slot made
// from one sample frame, the frames one after the other, the bytes as sent
// (eight channels: the selected ones, the rest 0; twelve channels: I..C1,
// Resp 0, and the chest bytes of the chest frame that completed the slot).
StreamMatch MatchStoreWithStream(const SampleStore& store, const FrameTap& tap, const ModuleConfig& config);
// The data file holds slot 0 with the marker 5 and slots 1..Count() byte for
// byte; the log has its five header lines and one line per slot.
void ExpectFilesHoldStore(const std::filesystem::path& log, const std::filesystem::path& dat, const SampleStore& store);

// A real window (Wide screen class), shown offscreen with scripted dialogs,
// and a module simulator (default options) running on a pseudo-terminal
// registered as the virtual port ECG-SIM0 in a private directory. Files of a
// run go to Scratch(), removed afterwards unless ECG_E2E_KEEP is set.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 public:
  template <typename T = QWidget>
  T* Find(const char* name) const {
    T* widget = form->findChild<T*>(QString::fromLatin1(name));
    if (!widget) ADD_FAILURE() << "no control named " << name;
    return widget;
  }
  bool Shown(const char* name) const;
  // Clicks a control as the user would; fails when the user could not
  // (hidden or disabled).
  void Click(const char* name);
  // Clicks a check box until it shows `checked`.
  void Check(const char* name, bool checked);
  std::string Caption(const char* name) const;

  struct Choices {
    std::uint8_t channelMask = 0x07;  // bit 0 I .. bit 7 Resp
    bool twelveChannels = false;
    std::vector<std::pair<const char*, const char*>> items;  // radio group, item text
  };
  // Setup, the simulator's port chosen from the drop-down list, the radio
  // items, the channel boxes or the 12-Channel box, OK; returns once the
  // simulator has accepted the set-up.
  void SetUpModule(const Choices& choices);
  // The simulator's count of samples sent just before and just after a
  // click, and the sample frames the tool had handled at the click.
  struct Around {
    std::uint64_t sentBefore = 0;
    std::uint64_t sentAfter = 0;
    std::size_t handled = 0;
  };
  Around ClickAndCount(const char* name);

  int Count() const { return form->Store().Count(); }
  std::string Panel(int index) const { return form->StatusPanelText(index); }
  const std::filesystem::path& Scratch() const { return scratch->Path(); }

 protected:
  std::unique_ptr<ScratchDir> scratch;
  std::unique_ptr<ScopedRuntimeDir> runtime;
  std::unique_ptr<ModuleSimulator> sim;
  FakeDialogs dialogs;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<FrameTap> tap;
};
