#include <gtest/gtest.h>

#include <cmath>

#include "sim_stream_support.h"
#include "simulator/FaultInjector.h"
#include "simulator/ModuleFrames.h"
#include "simulator/ModuleSimulator.h"

namespace {
// Channel bytes 0x11..0x18 for I..Resp, chest 0x21..0x25, so each byte names its channel.
SampleBytes Numbered() {
  SampleBytes sample;
  for (std::size_t c = 0; c < 8; ++c) sample.channels[c] = static_cast<std::uint8_t>(0x11 + c);
  for (std::size_t c = 0; c < 5; ++c) sample.chest[c] = static_cast<std::uint8_t>(0x21 + c);
  return sample;
}

ModuleConfig WithMask(std::uint8_t mask) {
  ModuleConfig config;
  config.channelMask = mask;
  return config;
}

struct MaskCase {
  std::uint8_t mask;
  const char* frame;
};

class EightChannelFrames : public testing::TestWithParam<MaskCase> {};

TEST_P(EightChannelFrames, CarryExactlyTheMaskedChannelsInOrder) {
  const ModuleConfig config = WithMask(GetParam().mask);
  const std::string frame = EncodeSample(config, 0x2A, Numbered());
  EXPECT_EQ(HexBytes(frame), GetParam().frame);
  EXPECT_EQ(frame.size(), static_cast<std::size_t>(config.SampleFrameLength()));
  EXPECT_EQ(config.BytesPerSample(), config.SampleFrameLength());
}

INSTANTIATE_TEST_SUITE_P(Masks, EightChannelFrames,
                         testing::Values(MaskCase{0x07, "F8 2A 11 12 13"}, MaskCase{0x00, "F8 2A"},
                                         MaskCase{0x82, "F8 2A 12 18"}, MaskCase{0x21, "F8 2A 11 16"},
                                         MaskCase{0x48, "F8 2A 14 17"},
                                         MaskCase{0xFF, "F8 2A 11 12 13 14 15 16 17 18"}));

TEST(ModuleFrames, TwelveChannelSampleIsASampleFrameThenAChestFrame) {
  ModuleConfig config = WithMask(0x7F);
  config.chestMask = 0x1F;
  EXPECT_EQ(HexBytes(EncodeSample(config, 7, Numbered())), "F8 07 11 12 13 14 15 16 17 FE 07 21 22 23 24 25");
  EXPECT_EQ(config.BytesPerSample(), 16);
  // Twelve-channel frames keep their layout whatever the channel mask says.
  config.channelMask = 0x03;
  EXPECT_EQ(EncodeSample(config, 7, Numbered()).size(), 16u);
  EXPECT_FALSE(config.RespirationTransmitted());
}

struct StatusCase {
  const char* name;
  ModuleConfig config;
  bool searching;
  std::uint8_t settings;
  ModuleMode mode;
};

class StatusEncoding : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusEncoding, SettingsAndModeAreEncodedAsTheToolReadsThem) {
  const StatusCase& c = GetParam();
  EXPECT_EQ(c.config.SettingsByte(), c.settings);
  EXPECT_EQ(ModeOf(c.config, c.searching), c.mode);
  const std::string frame = EncodeStatusFrame(3, 0x5F, c.config.SettingsByte(), ModeOf(c.config, c.searching));
  ASSERT_EQ(frame.size(), 6u);
  EXPECT_EQ(static_cast<std::uint8_t>(frame[4]), c.settings);
  EXPECT_EQ(static_cast<std::uint8_t>(frame[5]), c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    SetUps, StatusEncoding,
    testing::Values(
        StatusCase{"Defaults", ModuleConfig{}, false, 0x25, mmNormal},
        // "300 / sec" goes out as "7" but is reported as index 3.
        StatusCase{"FastestStage4EmgOn", ModuleConfig{3, 3, 1, 0, false, true, 0x07, 0, false}, false, 0x3F, mmNormal},
        StatusCase{"Sixty HzPacer", ModuleConfig{0, 0, 2, 1, true, false, 0x07, 0, false}, false, 0x40, mmNormalPace},
        StatusCase{"SimulationOutranksPacer", ModuleConfig{2, 2, 0, 1, true, false, 0x07, 0, true}, false, 0x0A,
                   mmSimulation},
        StatusCase{"SearchingOutranksAll", ModuleConfig{1, 1, 1, 1, true, false, 0x07, 0, true}, true, 0x25,
                   mmSearching}),
    [](const auto& row) {
      std::string name = row.param.name;
      std::erase(name, ' ');
      return name;
    });

TEST(ModuleFrames, ShortFramesHaveTheirFixedLayouts) {
  EXPECT_EQ(HexBytes(EncodeStatusFrame(1, 0x5F, 0x25, mmNormalPace)), "FC 01 5F 00 25 01");
  EXPECT_EQ(HexBytes(EncodeChestStatusFrame(2, 0x1F)), "FF 02 1F 00 00 00 00 00 00");
  EXPECT_EQ(HexBytes(EncodePulseFrame(3, 72)), "F9 03 48");
  EXPECT_EQ(HexBytes(EncodeRespirationFrame(4, 15)), "FA 04 0F");
}

TEST(ModuleFrames, IdentificationEndsAtItsOnlyZero) {
  EXPECT_EQ(EncodeIdentFrame("ECG-SIM"),
            "\xFD"
            "ECG-SIM" +
                std::string(1, '\0'));
  EXPECT_EQ(HexBytes(EncodeIdentFrame("")), "FD 00");
  EXPECT_EQ(HexBytes(EncodeIdentFrame(std::string("A\0B", 3))), "FD 41 42 00");
}

TEST(ModuleFrames, RespirationFlagFollowsTheMask) {
  EXPECT_TRUE(WithMask(0x80).RespirationTransmitted());
  EXPECT_FALSE(WithMask(0x7F).RespirationTransmitted());
}

struct PaceCase {
  const char* name;
  SimulatorPace pace;
  ModuleConfig config;
  double rate;
};

class PaceTable : public testing::TestWithParam<PaceCase> {};

TEST_P(PaceTable, GivesTheSampleRate) {
  const double rate = GetParam().pace.RateFor(GetParam().config);
  if (std::isinf(GetParam().rate)) {
    EXPECT_TRUE(std::isinf(rate));
  } else {
    EXPECT_NEAR(rate, GetParam().rate, 0.01);
  }
}

ModuleConfig Twelve(int transmission) {
  ModuleConfig config{transmission, 1, 1, 1, false, false, 0x7F, 0x1F, false};
  return config;
}

constexpr double kTwelveChannelLineRate = 115200.0 / 11.0 / 16.0;  // about 654 samples per second
INSTANTIATE_TEST_SUITE_P(
    Paces, PaceTable,
    testing::Values(
        PaceCase{"SetupRate", SimulatorPace{}, ModuleConfig{}, 100},
        PaceCase{"Slowest", SimulatorPace{}, ModuleConfig{0, 1, 1, 1, false, false, 7, 0, false}, 50},
        PaceCase{"Fastest", SimulatorPace{}, Twelve(3), 300},
        PaceCase{"Multiplied", SimulatorPace{3.0, 0, true}, ModuleConfig{}, 300},
        PaceCase{"MultipliedPastTheLine", SimulatorPace{3.0, 0, true}, Twelve(3), kTwelveChannelLineRate},
        PaceCase{"MultipliedUncapped", SimulatorPace{3.0, 0, false}, Twelve(3), 900},
        PaceCase{"FixedRate", SimulatorPace{1.0, 500, true}, ModuleConfig{}, 500},
        PaceCase{"LineRate", SimulatorPace{1.0, SimulatorPace::kUnpaced, true}, Twelve(1), kTwelveChannelLineRate},
        PaceCase{"Unpaced", SimulatorPace{1.0, SimulatorPace::kUnpaced, false}, Twelve(1), SimulatorPace::kUnpaced}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(FaultInjector, WithoutFaultsFramesPassUnchanged) {
  FaultInjector injector;
  const std::string frame = Bytes("F8 01 80 81 82");
  EXPECT_EQ(injector.Apply(frame), frame);
  EXPECT_EQ(injector.NextChunk(100), 100u);
}

TEST(FaultInjector, SameSeedGivesTheSameFaults) {
  FaultOptions options{0.3, 0.05, true, 42};
  FaultInjector a(options), b(options);
  const std::string frame = Bytes("F8 01 80 81 82 83 84 85 86 87");
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(a.Apply(frame), b.Apply(frame));
    ASSERT_EQ(a.NextChunk(500), b.NextChunk(500));
  }
}

TEST(FaultInjector, GarbageComesBeforeTheFrameAndIncludesFrameStarts) {
  FaultInjector injector(FaultOptions{1.0, 0.0, false, 7});
  const std::string frame = Bytes("F8 01 80 81 82");
  bool sawFrameStart = false;
  for (int i = 0; i < 200; ++i) {
    const std::string out = injector.Apply(frame);
    ASSERT_GT(out.size(), frame.size());
    ASSERT_LE(out.size(), frame.size() + FaultOptions::kMaxGarbage);
    ASSERT_EQ(out.substr(out.size() - frame.size()), frame);
    for (std::size_t k = 0; k + frame.size() < out.size(); ++k) {
      sawFrameStart |= static_cast<std::uint8_t>(out[k]) >= 0xF8;
    }
  }
  EXPECT_TRUE(sawFrameStart);
  EXPECT_GT(injector.GarbageBytes(), 200u);
}

TEST(FaultInjector, DropsLoseAboutTheRequestedShare) {
  FaultInjector injector(FaultOptions{0.0, 0.1, false, 3});
  const std::string frame(100, 'x');
  std::size_t kept = 0;
  for (int i = 0; i < 1000; ++i) kept += injector.Apply(frame).size();
  EXPECT_NEAR(static_cast<double>(kept) / 100000, 0.9, 0.02);
  EXPECT_EQ(injector.DroppedBytes(), 100000 - kept);
}

TEST(FaultInjector, ChunksAreNeverEmptyNorLongerThanAllowed) {
  FaultInjector injector(FaultOptions{0.0, 0.0, true, 5});
  std::size_t largest = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::size_t chunk = injector.NextChunk(1000);
    ASSERT_GE(chunk, 1u);
    ASSERT_LE(chunk, FaultOptions::kMaxChunk);
    largest = std::max(largest, chunk);
  }
  EXPECT_GT(largest, 1u);
  EXPECT_EQ(injector.NextChunk(1), 1u);
}
}  // namespace
