// The frames without samples decoded into the values they carry.
#include "module/StatusFrames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

// ---- Status frame ------------------------------------------------------------

struct FlagCase {
  const char* name;
  int flags;
  std::array<bool, 5> connected;  // RA, LA, RL, LL, C1
  bool respiration;
};

class StatusFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(StatusFlags, EachBitConnectsItsElectrode) {
  const auto status = DecodeStatusFrame(Bytes({0xFC, 0, GetParam().flags, 0, 0, 0}));
  ASSERT_TRUE(status);
  EXPECT_EQ(status->connected, GetParam().connected);
  EXPECT_EQ(status->respirationTransmitted, GetParam().respiration);
}

INSTANTIATE_TEST_SUITE_P(, StatusFlags,
                         testing::Values(FlagCase{"RA", 0x08, {true, false, false, false, false}, false},
                                         FlagCase{"LA", 0x04, {false, true, false, false, false}, false},
                                         FlagCase{"RL", 0x02, {false, false, true, false, false}, false},
                                         FlagCase{"LL", 0x01, {false, false, false, true, false}, false},
                                         FlagCase{"C1", 0x10, {false, false, false, false, true}, false},
                                         FlagCase{"RespirationWave", 0x40, {}, true},
                                         FlagCase{"UnusedBits", 0xA0, {}, false},
                                         FlagCase{"AllConnected", 0x5F, {true, true, true, true, true}, true}),
                         [](const auto& row) { return std::string(row.param.name); });

struct SettingsCase {
  const char* name;
  int byte5;
  TSettingsInUse settings;
};

class SettingsInUse : public testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsInUse, ByteFiveHoldsTheIndicesAndTheEmgBit) {
  const auto status = DecodeStatusFrame(Bytes({0xFC, 0, 0, 0, GetParam().byte5, 0}));
  ASSERT_TRUE(status);
  EXPECT_EQ(status->settings, GetParam().settings);
}

INSTANTIATE_TEST_SUITE_P(, SettingsInUse,
                         testing::Values(SettingsCase{"HundredStageTwoFiftyHertz", 0x25, {1, 1, 1, false}},
                                         SettingsCase{"ThreeHundredStageFourWithEmg", 0x3F, {3, 3, 1, true}},
                                         SettingsCase{"SixtyHertz", 0x40, {0, 0, 2, false}},
                                         SettingsCase{"FilterIndexWithoutAnItem", 0x70, {0, 0, 3, true}},
                                         SettingsCase{"BitSevenUnused", 0x80, {0, 0, 0, false}}),
                         [](const auto& row) { return std::string(row.param.name); });

class ModeCodes : public testing::TestWithParam<int> {};

TEST_P(ModeCodes, LowNibbleIsTheCodeAndOnlyDefinedCodesHaveAMode) {
  const int code = GetParam();
  // The high nibble carries nothing and must not disturb the code.
  const auto status = DecodeStatusFrame(Bytes({0xFC, 0, 0, 0, 0, 0xF0 | code}));
  ASSERT_TRUE(status);
  EXPECT_EQ(status->modeCode, code);
  const bool defined = code == 0 || code == 1 || code == 4 || code == 5 || code == 8 || code == 10;
  ASSERT_EQ(status->mode.has_value(), defined);
  if (defined) {
    EXPECT_EQ(static_cast<int>(*status->mode), code);
  }
}

INSTANTIATE_TEST_SUITE_P(, ModeCodes, testing::Range(0, 16));

// ---- The other frames --------------------------------------------------------

TEST(ChestStatusFrame, BitsZeroToFourAreC2ToC6AndTheRestIsIgnored) {
  EXPECT_EQ(DecodeChestStatusFrame(Bytes({0xFF, 0, 0x15, 0, 0, 0, 0, 0, 0})),
            (std::array<bool, 5>{true, false, true, false, true}));
  EXPECT_EQ(DecodeChestStatusFrame(Bytes({0xFF, 0xFF, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})),
            (std::array<bool, 5>{}));
}

TEST(IdentificationFrame, TextLiesBetweenStartAndStopByteAsItCame) {
  EXPECT_EQ(IdentificationText(Bytes({0xFD, 0x00})), "");
  EXPECT_EQ(IdentificationText(Bytes({0xFD, 0xE4, 0xFD, 0x00})), "\xE4\xFD");
}

TEST(VitalValueFrames, TheValueIsTheThirdByte) {
  EXPECT_EQ(PulseValue(Bytes({0xF9, 0x33, 0xFF})), 255);
  EXPECT_EQ(RespirationValue(Bytes({0xFA, 0x12, 0x07})), 7);
}

TEST(ShortPackets, DecodeToNothingInsteadOfReadingPastTheEnd) {
  EXPECT_FALSE(DecodeStatusFrame(Bytes({0xFC, 0, 0x5F, 0, 0x25})));
  EXPECT_FALSE(DecodeChestStatusFrame(Bytes({0xFF, 0})));
  EXPECT_FALSE(IdentificationText(Bytes({0xFD})));
  EXPECT_FALSE(PulseValue(Bytes({0xF9, 0})));
  EXPECT_FALSE(RespirationValue(""));
}

}  // namespace
