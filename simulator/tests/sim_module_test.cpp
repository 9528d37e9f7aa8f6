// The simulator over its pseudo-terminal, with the test playing the tool.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "analysis/Resample.h"
#include "analysis/Wfdb.h"
#include "sim_stream_support.h"
#include "simulator/ModuleSimulator.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Generous: the machine may be loaded and the build sanitized.
constexpr auto kDeadline = 20s;

const std::string kDefaultSetup = Bytes("53 31 41 31 35 31 46 31 50 30 45 30 43 07 44 00 4D 30");

ModuleConfig EightChannel(std::uint8_t mask, int transmission = 1) {
  ModuleConfig config;
  config.transmission = transmission;
  config.channelMask = mask;
  return config;
}

ModuleConfig TwelveChannel(int transmission = 1) {
  ModuleConfig config;
  config.transmission = transmission;
  config.channelMask = 0x7F;
  config.chestMask = 0x1F;
  return config;
}

// Sequence numbers of consecutive samples follow each other, wrapping below
// the frame-start bytes.
::testing::AssertionResult Consecutive(const std::vector<Frame>& frames) {
  for (std::size_t k = 1; k < frames.size(); ++k) {
    const int expected = (frames[k - 1].Byte(1) + 1) % kSequenceModulus;
    if (frames[k].Byte(1) != expected) {
      return ::testing::AssertionFailure()
             << "frame " << k << " numbered " << int(frames[k].Byte(1)) << ", expected " << expected;
    }
  }
  return ::testing::AssertionSuccess();
}

class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorOptions Options() {
    SimulatorOptions options;
    options.directory = scratch_.Path();
    options.name = "ECG-TEST";
    return options;
  }

  ModuleSimulator& Launch(SimulatorOptions options) {
    sim_ = std::make_unique<ModuleSimulator>(std::move(options));
    sim_->Start();
    port_ = std::make_unique<PortEnd>(sim_->PortPath());
    return *sim_;
  }
  ModuleSimulator& Launch() { return Launch(Options()); }

  // Sends the set-up and reads until `samples` sample frames arrived. Once per
  // simulator: the module sends no samples before its first set-up, so every
  // sample frame read belongs to this one.
  std::vector<Frame> Stream(const ModuleConfig& config, std::size_t samples) {
    splitter_.SetSampleFrameLength(config.SampleFrameLength());
    port_->Write(EncodeSetupCommand(config));
    EXPECT_TRUE(sim_->WaitFor([&](const SimulatorState& s) { return s.config == config; }, kDeadline));
    EXPECT_TRUE(ReadUntil(
        *port_, splitter_, [&](FrameSplitter& s) { return SampleFrames(s.Frames()).size() >= samples; }, kDeadline));
    return splitter_.Frames();
  }

  ScratchDir scratch_;
  std::unique_ptr<ModuleSimulator> sim_;
  std::unique_ptr<PortEnd> port_;
  FrameSplitter splitter_;
};

TEST_F(SimulatorTest, RegistersItsPortAsALinkAndRemovesItAtTheEnd) {
  const std::string link = scratch_.Path() + "/ECG-TEST";
  {
    ModuleSimulator sim(Options());
    EXPECT_EQ(sim.PortPath(), link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), sim.DevicePath());
    EXPECT_TRUE(fs::exists(sim.DevicePath()));
    sim.Start();
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SimulatorTest, CreatesTheDirectoryOfVirtualPorts) {
  SimulatorOptions options = Options();
  options.directory = scratch_.Path() + "/not/yet/there";
  ModuleSimulator sim(options);
  EXPECT_TRUE(fs::is_symlink(options.directory + "/ECG-TEST"));
}

TEST_F(SimulatorTest, WithoutALinkTheToolOpensTheDeviceItself) {
  SimulatorOptions options = Options();
  options.registerLink = false;
  ModuleSimulator sim(options);
  EXPECT_EQ(sim.PortPath(), sim.DevicePath());
  EXPECT_TRUE(fs::is_empty(scratch_.Path()));
}

TEST_F(SimulatorTest, ANameTakenByARunningSimulatorIsRefused) {
  ModuleSimulator first(Options());
  EXPECT_THROW(ModuleSimulator second(Options()), ESimulator);
  EXPECT_EQ(fs::read_symlink(first.PortPath()).string(), first.DevicePath());
}

TEST_F(SimulatorTest, ALinkLeftByADeadSimulatorIsReplaced) {
  fs::create_symlink("/dev/pts/does-not-exist", scratch_.Path() + "/ECG-TEST");
  ModuleSimulator sim(Options());
  EXPECT_EQ(fs::read_symlink(sim.PortPath()).string(), sim.DevicePath());
}

TEST_F(SimulatorTest, SomethingElseUnderTheNameIsLeftAlone) {
  fs::create_directory(scratch_.Path() + "/ECG-TEST");
  EXPECT_THROW(ModuleSimulator sim(Options()), ESimulator);
  EXPECT_TRUE(fs::is_directory(scratch_.Path() + "/ECG-TEST"));
}

TEST_F(SimulatorTest, SendsOnlyStatusFramesBeforeASetup) {
  ModuleSimulator& sim = Launch();
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [](FrameSplitter& s) { return s.Count(0xFC) >= 2; }, kDeadline));
  EXPECT_EQ(splitter_.Count(0xF8), 0u);
  EXPECT_GE(splitter_.Count(0xF9), 1u);
  EXPECT_GE(splitter_.Count(0xFA), 1u);
  EXPECT_EQ(splitter_.Strays(), 0u);
  EXPECT_FALSE(sim.Configuration().has_value());
}

class EightChannelMasks : public SimulatorTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(EightChannelMasks, FramesCarryTheMaskedChannelsWithRunningNumbers) {
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = 1000;  // no need to wait for 300 samples at 100 per second
  Launch(options);
  const ModuleConfig config = EightChannel(GetParam());
  const auto samples = SampleFrames(Stream(config, 300));
  ASSERT_GE(samples.size(), 300u);
  for (const Frame& frame : samples) {
    ASSERT_EQ(frame.bytes.size(), 2u + static_cast<std::size_t>(std::popcount(GetParam())));
  }
  EXPECT_EQ(samples.front().Byte(1), 0);  // numbering restarts with the set-up
  EXPECT_TRUE(Consecutive(samples));      // 300 samples pass the wrap at 248
  EXPECT_EQ(splitter_.Strays(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Masks, EightChannelMasks, ::testing::Values(0x07, 0x00, 0x82, 0xFF));

TEST_F(SimulatorTest, AllEightChannelsComeInTheFixedOrder) {
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = 1000;
  Launch(options);
  const auto samples = SampleFrames(Stream(EightChannel(0xFF), 500));
  int respLow = 255, respHigh = 0;
  for (const Frame& f : samples) {
    // Bytes 3..10: I, II, III, aVR, aVL, aVF, C1, Resp; the limb leads agree.
    auto mv = [&](std::size_t byte) { return f.Byte(byte) - 128.0; };
    ASSERT_LE(std::abs(mv(3) - (mv(2) + mv(4))), 1.0);
    ASSERT_LE(std::abs(mv(5) + (mv(2) + mv(3)) / 2), 1.5);
    ASSERT_LE(std::abs(mv(6) - (mv(2) - mv(3) / 2)), 1.5);
    ASSERT_LE(std::abs(mv(7) - (mv(3) - mv(2) / 2)), 1.5);
    respLow = std::min(respLow, int(f.Byte(9)));
    respHigh = std::max(respHigh, int(f.Byte(9)));
  }
  EXPECT_GT(respHigh - respLow, 10);  // the slow respiration wave is moving
}

TEST_F(SimulatorTest, TwelveChannelSendsASampleAndAChestFramePerSample) {
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = 1000;
  ModuleSimulator& sim = Launch(options);
  const auto frames = Stream(TwelveChannel(), 300);
  std::vector<Frame> samples, chests;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    if (frames[k].kind == 0xF8) {
      ASSERT_EQ(frames[k].bytes.size(), 9u);
      ASSERT_LT(k + 1, frames.size());
      ASSERT_EQ(frames[k + 1].kind, 0xFE) << "a chest frame follows each sample frame";
      ASSERT_EQ(frames[k + 1].bytes.size(), 7u);
      ASSERT_EQ(frames[k + 1].Byte(1), frames[k].Byte(1));
      auto mv = [&](std::size_t byte) { return frames[k].Byte(byte) - 128.0; };
      ASSERT_LE(std::abs(mv(3) - (mv(2) + mv(4))), 1.0);
      samples.push_back(frames[k]);
    }
  }
  EXPECT_TRUE(Consecutive(samples));
  EXPECT_GE(splitter_.Count(0xFF), 1u) << "chest status once a second";
  EXPECT_GE(sim.State().framesSent, 2 * samples.size());
}

TEST_F(SimulatorTest, SamplesSentMatchWhatArrives) {
  ModuleSimulator& sim = Launch();
  Stream(EightChannel(0x07), 50);
  port_->Close();  // nothing more is read; what was counted has arrived or is in the terminal
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return !s.listenerConnected; }, kDeadline));
  const SimulatorState state = sim.State();
  EXPECT_GE(state.samplesSent, SampleFrames(splitter_.Frames()).size());
  EXPECT_EQ(state.samplesSinceSetup, state.samplesSent);
  EXPECT_GE(state.minByte[0], 40);
  EXPECT_LE(state.maxByte[1], 215);
  EXPECT_LT(state.minByte[1], state.maxByte[1]);
}

struct StatusCase {
  const char* name;
  ModuleConfig config;
  std::uint8_t flags;
  std::uint8_t settings;
  std::uint8_t mode;
};

class StatusFrames : public SimulatorTest, public ::testing::WithParamInterface<StatusCase> {};

// Status frames sent before the set-up carry the power-on settings (those of
// "Defaults"); the other cases differ from them in the settings byte.
TEST_P(StatusFrames, ReportTheSetupInUse) {
  Launch();
  const StatusCase& c = GetParam();
  port_->Write(EncodeSetupCommand(c.config));
  splitter_.SetSampleFrameLength(c.config.SampleFrameLength());
  bool seen = false;
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_,
      [&](FrameSplitter& s) {
        for (const Frame& f : s.Frames()) seen |= f.kind == 0xFC && f.Byte(4) == c.settings;
        return seen;
      },
      kDeadline));
  for (const Frame& f : splitter_.Frames()) {
    if (f.kind != 0xFC || f.Byte(4) != c.settings) continue;
    EXPECT_EQ(f.Byte(2), c.flags);
    EXPECT_EQ(f.Byte(3), 0);
    EXPECT_EQ(f.Byte(5), c.mode);
  }
}

INSTANTIATE_TEST_SUITE_P(
    SetUps, StatusFrames,
    ::testing::Values(StatusCase{"Defaults", EightChannel(0x07), 0x1F, 0x25, 0},
                      StatusCase{"RespirationSelected", EightChannel(0x81, 0), 0x5F, 0x24, 0},
                      StatusCase{"FastestStage4EmgPacer", ModuleConfig{3, 3, 1, 0, true, true, 0x07, 0, false}, 0x1F,
                                 0x3F, 1},
                      StatusCase{"Simulation", ModuleConfig{0, 0, 2, 1, false, false, 0x07, 0, true}, 0x1F, 0x40, 8},
                      StatusCase{"TwelveChannel", TwelveChannel(2), 0x1F, 0x26, 0}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SimulatorTest, VitalValuesAndChestStatusComeOnceASecond) {
  SimulatorOptions options = Options();
  options.heartRate = 90;
  options.respirationRate = 12;
  ModuleSimulator& sim = Launch(options);
  sim.SetConnectionFlags(0x0F, 0x15);  // C1 and chest leads C3, C5 off
  port_->Write(EncodeSetupCommand(TwelveChannel()));
  splitter_.SetSampleFrameLength(9);
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [](FrameSplitter& s) { return s.Count(0xFF) >= 2; }, kDeadline));
  const Frame* pulse = nullptr;
  const Frame* resp = nullptr;
  const Frame* chest = nullptr;
  const Frame* status = nullptr;
  for (const Frame& f : splitter_.Frames()) {
    if (f.kind == 0xF9) pulse = &f;
    if (f.kind == 0xFA) resp = &f;
    if (f.kind == 0xFF) chest = &f;
    if (f.kind == 0xFC) status = &f;
  }
  ASSERT_TRUE(pulse && resp && chest && status);
  EXPECT_EQ(pulse->Byte(2), 90);
  EXPECT_EQ(resp->Byte(2), 12);
  EXPECT_EQ(HexBytes(chest->bytes.substr(2)), "15 00 00 00 00 00 00");
  EXPECT_EQ(status->Byte(2), 0x0F);
}

TEST_F(SimulatorTest, ElectrodeSearchIsReportedForAWhile) {
  Launch();
  port_->Write("q0");
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_,
      [](FrameSplitter& s) {
        for (const Frame& f : s.Frames()) {
          if (f.kind == 0xFC && f.Byte(5) == 5) return true;
        }
        return false;
      },
      kDeadline));
}

TEST_F(SimulatorTest, IdentificationRequestIsAnswered) {
  ModuleSimulator& sim = Launch();
  port_->Write("I");
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [](FrameSplitter& s) { return s.Count(0xFD) >= 1; }, kDeadline));
  for (const Frame& f : splitter_.Frames()) {
    if (f.kind == 0xFD) {
      EXPECT_EQ(f.bytes,
                "\xFD"
                "ECG-SIM 1.0 12-channel simulator" +
                    std::string(1, '\0'));
    }
  }
  EXPECT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.identFramesSent == 1; }, kDeadline));
}

TEST_F(SimulatorTest, RegisterWritesAreKept) {
  ModuleSimulator& sim = Launch();
  port_->Write(Bytes("72 30 00 72 49 81"));
  port_->Write(Bytes("72 49 7E"));
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.commandsSeen >= 3; }, kDeadline));
  EXPECT_EQ(sim.Registers(), (std::map<int, std::uint8_t>{{0, 0x00}, {25, 0x7E}}));
  EXPECT_EQ(sim.RegisterLog(), (std::vector<RegisterWriteEntry>{{0, 0x00}, {25, 0x81}, {25, 0x7E}}));
}

TEST_F(SimulatorTest, MalformedSetupStartsNoStreamAndTheNextOneDoes) {
  ModuleSimulator& sim = Launch();
  port_->Write(kDefaultSetup.substr(0, 12) + "X" + kDefaultSetup.substr(13));
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.rejectedCommands >= 1; }, kDeadline));
  // A full status round after the rejection: no sample frame among it.
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [](FrameSplitter& s) { return s.Count(0xFA) >= 2; }, kDeadline));
  EXPECT_EQ(splitter_.Count(0xF8), 0u);
  EXPECT_FALSE(sim.Configuration().has_value());

  const auto samples = SampleFrames(Stream(EightChannel(0x07), 20));
  EXPECT_GE(samples.size(), 20u);
  EXPECT_EQ(sim.State().setupsAccepted, 1u);
}

TEST_F(SimulatorTest, IncompleteCommandIsGivenUpAfterAPause) {
  SimulatorOptions options = Options();
  ModuleSimulator& sim = Launch(options);
  port_->Write(kDefaultSetup.substr(0, 7));
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.rejectedCommands == 1; }, kDeadline));
  EXPECT_EQ(sim.Commands().back().bytes, kDefaultSetup.substr(0, 7));
}

class Pacing : public SimulatorTest, public ::testing::WithParamInterface<int> {};

TEST_P(Pacing, SampleRateIsNearTheSetupsRate) {
  ModuleSimulator& sim = Launch();
  const ModuleConfig config = EightChannel(0x07, GetParam());
  Stream(config, 5);
  // Measure over about 1.5 s of arrivals (tolerance 30 %).
  const auto from = std::chrono::steady_clock::now();
  const std::size_t before = SampleFrames(splitter_.Frames()).size();
  while (std::chrono::steady_clock::now() - from < 1500ms) splitter_.Add(port_->ReadSome(100ms));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  const double rate = static_cast<double>(SampleFrames(splitter_.Frames()).size() - before) / seconds;
  EXPECT_NEAR(rate, config.NominalRate(), 0.3 * config.NominalRate());
  EXPECT_EQ(sim.State().samplesDiscarded, 0u);
}

INSTANTIATE_TEST_SUITE_P(TransmissionRates, Pacing, ::testing::Values(0, 1, 3));

TEST_F(SimulatorTest, RateMultiplierSpeedsTheStreamUp) {
  SimulatorOptions options = Options();
  options.pace.rateMultiplier = 4;
  Launch(options);
  Stream(EightChannel(0x07, 1), 5);
  const auto from = std::chrono::steady_clock::now();
  const std::size_t before = SampleFrames(splitter_.Frames()).size();
  while (std::chrono::steady_clock::now() - from < 1500ms) splitter_.Add(port_->ReadSome(100ms));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  const double rate = static_cast<double>(SampleFrames(splitter_.Frames()).size() - before) / seconds;
  EXPECT_NEAR(rate, 400, 0.3 * 400);
}

TEST_F(SimulatorTest, UnpacedStreamFollowsTheReaderWithoutLoss) {
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = SimulatorPace::kUnpaced;
  options.pace.capAtLineRate = false;
  ModuleSimulator& sim = Launch(options);
  const auto samples = SampleFrames(Stream(TwelveChannel(), 5000));
  EXPECT_TRUE(Consecutive(samples));
  EXPECT_EQ(sim.State().samplesDiscarded, 0u);
}

TEST_F(SimulatorTest, BurstSendsSamplesBackToBack) {
  ModuleSimulator& sim = Launch();
  Stream(EightChannel(0x07, 0), 1);  // 50 per second
  sim.Burst(1000);                   // 20 s worth at that rate
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [](FrameSplitter& s) { return SampleFrames(s.Frames()).size() >= 1000; }, 10s));
  EXPECT_TRUE(Consecutive(SampleFrames(splitter_.Frames())));
}

TEST_F(SimulatorTest, CalibrationSendsAOneMillivoltRectangle) {
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = 1000;
  ModuleSimulator& sim = Launch(options);
  Stream(EightChannel(0x7F), 5);
  port_->Write("K");
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.commandsSeen >= 2; }, kDeadline));
  // 2 s of signal at 100 samples per second: 200 samples at 1 mV on every lead.
  const std::uint8_t oneMillivolt = 128 + 40;
  std::size_t run = 0, longest = 0;
  ReadUntil(
      *port_, splitter_,
      [&](FrameSplitter& s) {
        run = 0;
        longest = 0;
        for (const Frame& f : SampleFrames(s.Frames())) {
          bool flat = true;
          for (std::size_t b = 2; b < 9; ++b) flat &= f.Byte(b) == oneMillivolt;
          run = flat ? run + 1 : 0;
          longest = std::max(longest, run);
        }
        return longest >= 200 && run == 0;
      },
      kDeadline);
  EXPECT_EQ(longest, 200u);
}

// Twelve-channel samples as lead bytes I..C6: each sample frame with the
// chest frame that follows it.
std::vector<std::array<std::uint8_t, 12>> TwelveLeads(const std::vector<Frame>& frames) {
  std::vector<std::array<std::uint8_t, 12>> samples;
  for (std::size_t k = 0; k + 1 < frames.size(); ++k) {
    if (frames[k].kind != 0xF8 || frames[k + 1].kind != 0xFE) continue;
    std::array<std::uint8_t, 12> leads{};
    for (std::size_t lead = 0; lead < 7; ++lead) leads[lead] = frames[k].Byte(2 + lead);
    for (std::size_t lead = 0; lead < 5; ++lead) leads[7 + lead] = frames[k + 1].Byte(2 + lead);
    samples.push_back(leads);
  }
  return samples;
}

// The longest run of one value in a lead: the calibration rectangle's top,
// or a dead lead's whole stream.
struct Plateau {
  std::size_t start = 0;
  std::size_t length = 0;
  int value = 0;
};

Plateau LongestPlateau(const std::vector<std::array<std::uint8_t, 12>>& samples, std::size_t lead) {
  Plateau longest;
  for (std::size_t start = 0, k = 1; k <= samples.size(); ++k) {
    if (k < samples.size() && samples[k][lead] == samples[start][lead]) continue;
    if (k - start > longest.length) longest = {start, k - start, samples[start][lead]};
    start = k;
  }
  return longest;
}

struct CalibrationCase {
  const char* name;
  int stage;  // amplification index 0..3
  ModuleFaults faults;
  SimLead lead;      // the lead looked at: the faulty one
  int height;        // its rectangle's height in steps; 0: no rectangle, flat at 0 mV
  std::size_t late;  // its rising edge's samples after the other leads'
};

void PrintTo(const CalibrationCase& c, std::ostream* os) { *os << c.name; }

class Calibration : public SimulatorTest, public ::testing::WithParamInterface<CalibrationCase> {};

// The rectangle is 20 steps per mV per stage above byte 128 (0 mV), 2 s long
// with 0.5 s at 0 mV either side, rising in the same sample on every lead
// but a skewed one; a gain error or a dead lead shows on its lead only.
TEST_P(Calibration, RectangleHasTheStagesHeightOnEveryLeadButAFaultyOne) {
  const CalibrationCase& c = GetParam();
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = 1000;
  options.moduleFaults = c.faults;
  ModuleSimulator& sim = Launch(options);
  ModuleConfig config = TwelveChannel();
  config.amplification = c.stage;
  Stream(config, 5);
  port_->Write("K");
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.commandsSeen >= 2; }, kDeadline));
  const SimLead healthy = c.lead == slI ? slII : slI;
  std::vector<std::array<std::uint8_t, 12>> samples;
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_,
      [&](FrameSplitter& s) {
        samples = TwelveLeads(s.Frames());
        const Plateau top = LongestPlateau(samples, healthy);
        return top.length >= 200 && samples.size() > top.start + 300;  // 50 samples at 0 mV after it
      },
      kDeadline));
  const std::size_t edge = LongestPlateau(samples, healthy).start;
  const int steps = 20 * (c.stage + 1);
  for (std::size_t lead = 0; lead < 12; ++lead) {
    SCOPED_TRACE(LeadName(static_cast<SimLead>(lead)));
    const bool faulty = lead == static_cast<std::size_t>(c.lead);
    const Plateau top = LongestPlateau(samples, lead);
    if (faulty && c.height == 0) {
      EXPECT_EQ(top.value, 128);
      EXPECT_EQ(top.length, samples.size()) << "flat from the first sample on";
      continue;
    }
    EXPECT_EQ(top.value, 128 + (faulty ? c.height : steps));
    EXPECT_EQ(top.length, 200u);
    EXPECT_EQ(top.start, edge + (faulty ? c.late : 0));
    for (std::size_t k = 1; k <= 50; ++k) {
      ASSERT_EQ(samples[top.start - k][lead], 128) << "0 mV before, " << k;
      ASSERT_EQ(samples[top.start + 199 + k][lead], 128) << "0 mV after, " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    StagesAndFaults, Calibration,
    ::testing::Values(CalibrationCase{"Stage1", 0, {}, slII, 20, 0}, CalibrationCase{"Stage2", 1, {}, slII, 40, 0},
                      CalibrationCase{"Stage3", 2, {}, slII, 60, 0}, CalibrationCase{"Stage4", 3, {}, slII, 80, 0},
                      CalibrationCase{"GainErrorOnII", 1, {.gain = {{slII, 1.1}}}, slII, 44, 0},
                      CalibrationCase{"GainErrorOnAChestLead", 3, {.gain = {{slC4, 0.5}}}, slC4, 40, 0},
                      CalibrationCase{"DeadAVL", 1, {.dead = {slAVL}}, slAVL, 0, 0},
                      CalibrationCase{"SkewedC1", 1, {.skew = {{slC1, 3}}}, slC1, 40, 3},
                      CalibrationCase{"SkewedI", 2, {.skew = {{slI, 1}}}, slI, 60, 1}),
    [](const auto& row) { return std::string(row.param.name); });

struct ElectrodeOffCase {
  const char* name;
  ModuleFaults faults;
  std::uint8_t status;       // status frame byte 3
  std::uint8_t chestStatus;  // chest status frame byte 3
};

void PrintTo(const ElectrodeOffCase& c, std::ostream* os) { *os << c.name; }

class ElectrodesOff : public SimulatorTest, public ::testing::WithParamInterface<ElectrodeOffCase> {};

TEST_P(ElectrodesOff, AreReportedOffInTheStatusFramesAfterASearch) {
  SimulatorOptions options = Options();
  options.moduleFaults = GetParam().faults;
  Launch(options);
  Stream(TwelveChannel(), 1);
  port_->Write("q0");
  bool searched = false;
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_,
      [&](FrameSplitter& s) {
        for (const Frame& f : s.Frames()) searched |= f.kind == 0xFC && f.Byte(5) == 5;
        return searched && s.Count(0xFF) >= 1;
      },
      kDeadline));
  for (const Frame& f : splitter_.Frames()) {
    if (f.kind == 0xFC) {
      EXPECT_EQ(f.Byte(2), GetParam().status);
    } else if (f.kind == 0xFF) {
      EXPECT_EQ(f.Byte(2), GetParam().chestStatus);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Electrodes, ElectrodesOff,
                         ::testing::Values(ElectrodeOffCase{"RA", {.limbOff = cfRA}, 0x17, 0x1F},
                                           ElectrodeOffCase{"LLAndC1", {.limbOff = cfLL | cfC1}, 0x0E, 0x1F},
                                           ElectrodeOffCase{
                                               "RLAndC3", {.limbOff = cfRL, .chestOff = 0x02}, 0x1D, 0x1D}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SimulatorTest, WithoutIdentificationTheRequestGoesUnanswered) {
  SimulatorOptions options = Options();
  options.moduleFaults.noIdent = true;
  ModuleSimulator& sim = Launch(options);
  port_->Write("I");
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.commandsSeen >= 1; }, kDeadline));
  // An answer would be queued at once, so it would be on the line before the
  // next status frame.
  const std::uint64_t status = sim.State().statusFramesSent;
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [&](FrameSplitter&) { return sim.State().statusFramesSent > status; }, kDeadline));
  splitter_.Add(port_->ReadSome(100ms));
  EXPECT_EQ(splitter_.Count(0xFD), 0u);
  EXPECT_EQ(sim.State().identFramesSent, 0u);
  EXPECT_EQ(sim.Commands().back().kind, CommandKind::Identify);
}

struct ReplayCase {
  const char* name;
  int transmission;   // 0..3: 50, 100, 150, 300 per second
  int amplification;  // 0..3: 20, 40, 60, 80 steps per mV
};

void PrintTo(const ReplayCase& c, std::ostream* os) { *os << c.name; }

class Replay : public SimulatorTest, public ::testing::WithParamInterface<ReplayCase> {};

// Lead II carries the record's first signal (MLII), resampled to the set
// rate and scaled to the set stage; the pulse value comes from the beats.
TEST_P(Replay, PlaysTheRecordAtTheSetRateAndStage) {
  const ReplayCase& c = GetParam();
  SimulatorOptions options = Options();
  options.replay = Record100Header();
  options.heartRate = 30;
  options.pace.samplesPerSecond = SimulatorPace::kUnpaced;
  options.pace.capAtLineRate = false;
  Launch(options);
  ModuleConfig config = TwelveChannel(c.transmission);
  config.amplification = c.amplification;
  const auto samples = TwelveLeads(Stream(config, 1000));
  ASSERT_GE(samples.size(), 1000u);

  const WfdbRecord record = ReadWfdbRecord(Record100Header());
  const WfdbSignal& mlii = record.signals[0];
  const std::vector<int> resampled = ResampleSteps(mlii.samples, 360, config.NominalRate());
  const double stepsPerMillivolt = 20.0 * (c.amplification + 1);
  for (std::size_t n = 0; n < 1000; ++n) {
    const double millivolts = (resampled[n] - mlii.baseline) / mlii.gain;
    // Within rounding: a value half way between two steps may go either way.
    const double expected = std::clamp(128 + stepsPerMillivolt * millivolts, 0.0, 255.0);
    ASSERT_NEAR(samples[n][slII], expected, 0.5 + 1e-6) << "sample " << n;
  }
  ASSERT_GE(splitter_.Count(0xF9), 1u);
  for (const Frame& f : splitter_.Frames()) {
    if (f.kind == 0xF9) {
      EXPECT_GT(f.Byte(2), 60) << "not the synthetic rate";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, Replay,
                         ::testing::Values(ReplayCase{"At300Stage2", 3, 1}, ReplayCase{"At50Stage4", 0, 3}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SimulatorTest, AnUnreadableRecordIsRefusedAtTheStart) {
  SimulatorOptions options = Options();
  options.replay = scratch_.Path() + "/none.hea";
  try {
    ModuleSimulator sim(options);
    ADD_FAILURE() << "started";
  } catch (const ESimulator& error) {
    EXPECT_NE(std::string(error.what()).find(options.replay), std::string::npos) << error.what();
  }
  EXPECT_TRUE(fs::is_empty(scratch_.Path())) << "no port left behind";
}

TEST_F(SimulatorTest, HangUpIsSeenByTheReaderAndRemovesTheLink) {
  ModuleSimulator& sim = Launch();
  Stream(EightChannel(0x07), 5);
  sim.HangUp();
  EXPECT_TRUE(port_->WaitForHangUp(kDeadline));
  EXPECT_TRUE(sim.State().hungUp);
  EXPECT_FALSE(fs::exists(fs::symlink_status(sim.PortPath())));
}

TEST_F(SimulatorTest, ReplugOffersANewPortUnderTheSameName) {
  ModuleSimulator& sim = Launch();
  Stream(EightChannel(0x07), 5);
  sim.HangUp();
  port_.reset();
  sim.Replug();
  EXPECT_FALSE(sim.State().hungUp);
  EXPECT_EQ(fs::read_symlink(sim.PortPath()).string(), sim.DevicePath());
  port_ = std::make_unique<PortEnd>(sim.PortPath());
  // The module kept its set-up: samples flow without a new one.
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [](FrameSplitter& s) { return s.Count(0xF8) >= 10; }, kDeadline));
}

TEST_F(SimulatorTest, ClosingAndReopeningThePortKeepsTheModuleRunning) {
  ModuleSimulator& sim = Launch();
  Stream(EightChannel(0x07), 5);
  port_->Close();
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return !s.listenerConnected; }, kDeadline));
  port_ = std::make_unique<PortEnd>(sim.PortPath());
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.listenerConnected; }, kDeadline));
  FrameSplitter fresh(5);
  ASSERT_TRUE(ReadUntil(
      *port_, fresh, [](FrameSplitter& s) { return s.Count(0xF8) >= 10; }, kDeadline));
  EXPECT_TRUE(Consecutive(SampleFrames(fresh.Frames())));
  EXPECT_EQ(fresh.Strays(), 0u) << "no stale half frame from before the close";
}

TEST_F(SimulatorTest, BytesLeftUnreadAtACloseAreNotDeliveredAfterReopening) {
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = 1000;
  ModuleSimulator& sim = Launch(options);
  port_->Write(kDefaultSetup);
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.samplesSent >= 100; }, kDeadline));
  port_->Close();  // closed with everything unread
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return !s.listenerConnected; }, kDeadline));
  const int next = sim.SequenceNumber();
  port_ = std::make_unique<PortEnd>(sim.PortPath());
  FrameSplitter fresh(5);
  ASSERT_TRUE(ReadUntil(
      *port_, fresh, [](FrameSplitter& s) { return s.Count(0xF8) >= 10; }, kDeadline));
  EXPECT_EQ(fresh.Strays(), 0u);
  const int first = SampleFrames(fresh.Frames()).front().Byte(1);
  EXPECT_LT((first - next + kSequenceModulus) % kSequenceModulus, 100) << "first " << first << ", next " << next;
}

TEST_F(SimulatorTest, InjectedBytesArriveAsTheyAre) {
  ModuleSimulator& sim = Launch();
  // Bytes for nobody are not written: wait until the module sees the reader.
  ASSERT_TRUE(sim.WaitFor([](const SimulatorState& s) { return s.listenerConnected; }, kDeadline));
  sim.Inject(Bytes("FD 41 42 00"));
  ASSERT_TRUE(ReadUntil(
      *port_, splitter_, [](FrameSplitter& s) { return s.Count(0xFD) >= 1; }, kDeadline));
  for (const Frame& f : splitter_.Frames()) {
    if (f.kind == 0xFD) {
      EXPECT_EQ(HexBytes(f.bytes), "FD 41 42 00");
    }
  }
}

TEST_F(SimulatorTest, LineFaultsReachTheReader) {
  SimulatorOptions options = Options();
  options.pace.samplesPerSecond = 1000;
  options.faults = FaultOptions{0.5, 0.0, true, 11};
  ModuleSimulator& sim = Launch(options);
  port_->Write(kDefaultSetup);
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (sim.State().samplesSent < 400 && std::chrono::steady_clock::now() < deadline) {
    received += port_->ReadSome(100ms);
  }
  sim.Stop();
  for (std::string more = port_->ReadSome(200ms); !more.empty(); more = port_->ReadSome(200ms)) received += more;
  const SimulatorState state = sim.State();
  ASSERT_GE(state.samplesSent, 400u);
  // Garbage goes before about half the frames (4.5 bytes on average), so
  // clearly more bytes arrive than the frames themselves hold.
  const std::uint64_t frameBytes = 5 * state.samplesSent + 12 * state.statusFramesSent;
  EXPECT_GT(received.size(), frameBytes + 300);
}

TEST_F(SimulatorTest, StopAndStartResumeTheStream) {
  ModuleSimulator& sim = Launch();
  Stream(EightChannel(0x07), 5);
  sim.Stop();
  EXPECT_FALSE(sim.Running());
  const std::uint64_t sent = sim.SamplesSent();
  sim.Start();
  ASSERT_TRUE(sim.WaitFor([&](const SimulatorState& s) { return s.samplesSent > sent + 10; }, kDeadline));
}
}  // namespace
