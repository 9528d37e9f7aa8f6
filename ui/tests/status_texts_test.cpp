// The window's texts of the frames that carry no samples, from the bytes on
// the line through the values the acquisition reports to the words shown.
#include <gtest/gtest.h>

#include <string>

#include "module/StatusFrames.h"
#include "ui/SessionTexts.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

// What the window shows for a status frame.
std::optional<StatusFrameTexts> DecodeStatusFrameTexts(std::string_view packet) {
  const std::optional<TModuleStatus> status = DecodeStatusFrame(packet);
  if (!status) return std::nullopt;
  return StatusTexts(*status);
}

std::optional<std::array<std::string_view, 5>> DecodeChestStatusFrameTexts(std::string_view packet) {
  const auto connected = DecodeChestStatusFrame(packet);
  if (!connected) return std::nullopt;
  std::array<std::string_view, 5> texts;
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = ConnectionText((*connected)[i]);
  return texts;
}

std::optional<std::string> IdentificationLabel(std::string_view packet) {
  const std::optional<std::string_view> text = IdentificationText(packet);
  if (!text) return std::nullopt;
  return IdentificationLabelText(*text);
}

std::optional<std::string> PulseText(std::string_view packet) {
  const std::optional<int> value = PulseValue(packet);
  if (!value) return std::nullopt;
  return PulsePanelText(*value);
}

std::optional<std::string> RespText(std::string_view packet) {
  const std::optional<int> value = RespirationValue(packet);
  if (!value) return std::nullopt;
  return RespPanelText(*value);
}

TEST(StatusFrame, AllConnectedAtHundredPerSecond) {
  const auto texts = DecodeStatusFrameTexts(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01}));
  ASSERT_TRUE(texts);
  EXPECT_EQ(texts->RespLabel, "Resp. Wave: Transmitted");
  EXPECT_EQ(texts->ChestLabel, "Connected");
  EXPECT_EQ(texts->RALabel, "Connected");
  EXPECT_EQ(texts->LALabel, "Connected");
  EXPECT_EQ(texts->RLLabel, "Connected");
  EXPECT_EQ(texts->LLLabel, "Connected");
  EXPECT_EQ(texts->TransmissionPanel, "Transmission: 100 / sec");
  EXPECT_EQ(texts->AmplificationPanel, "Amplification: Stage 2");
  EXPECT_EQ(texts->FilterPanel, "Filter: 50 Hz");
  EXPECT_EQ(texts->ModePanel, "Mode: Normal + Pace");
}

TEST(StatusFrame, NothingConnectedWithEmgAndError) {
  const auto texts = DecodeStatusFrameTexts(Bytes({0xFC, 0xAA, 0x00, 0xAA, 0x3F, 0x0A}));
  ASSERT_TRUE(texts);
  EXPECT_EQ(texts->RespLabel, "Resp. Wave: NOT transmitted");
  for (std::string_view label : {texts->ChestLabel, texts->RALabel, texts->LALabel, texts->RLLabel, texts->LLLabel}) {
    EXPECT_EQ(label, "NOT connected");
  }
  EXPECT_EQ(texts->TransmissionPanel, "Transmission: 300 / sec");
  EXPECT_EQ(texts->AmplificationPanel, "Amplification: Stage 4");
  EXPECT_EQ(texts->FilterPanel, "Filter: 50 Hz + EMG");
  EXPECT_EQ(texts->ModePanel, "Mode: Error");
}

struct FlagCase {
  int flags;
  std::string_view StatusFrameTexts::*label;
  const char* name;
};

class ConnectionFlag : public testing::TestWithParam<FlagCase> {};

TEST_P(ConnectionFlag, SingleBitConnectsOnlyItsElectrode) {
  const auto texts = DecodeStatusFrameTexts(Bytes({0xFC, 0, GetParam().flags, 0, 0, 0}));
  ASSERT_TRUE(texts);
  for (auto label : {&StatusFrameTexts::ChestLabel, &StatusFrameTexts::RALabel, &StatusFrameTexts::LALabel,
                     &StatusFrameTexts::RLLabel, &StatusFrameTexts::LLLabel}) {
    EXPECT_EQ((*texts).*label, label == GetParam().label ? "Connected" : "NOT connected");
  }
  EXPECT_EQ(texts->RespLabel, "Resp. Wave: NOT transmitted");
}

INSTANTIATE_TEST_SUITE_P(, ConnectionFlag,
                         testing::Values(FlagCase{0x10, &StatusFrameTexts::ChestLabel, "C1"},
                                         FlagCase{0x08, &StatusFrameTexts::RALabel, "RA"},
                                         FlagCase{0x04, &StatusFrameTexts::LALabel, "LA"},
                                         FlagCase{0x02, &StatusFrameTexts::RLLabel, "RL"},
                                         FlagCase{0x01, &StatusFrameTexts::LLLabel, "LL"},
                                         FlagCase{0xA0, nullptr, "UnusedBits"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(StatusFrame, SettingsByteIndexesTheSetupItems) {
  const char* transmissions[] = {"50 / sec", "100 / sec", "150 / sec", "300 / sec"};
  const char* stages[] = {"Stage 1", "Stage 2", "Stage 3", "Stage 4"};
  for (int t = 0; t < 4; ++t) {
    for (int a = 0; a < 4; ++a) {
      const auto texts = DecodeStatusFrameTexts(Bytes({0xFC, 0, 0, 0, t | (a << 2), 0}));
      ASSERT_TRUE(texts);
      EXPECT_EQ(texts->TransmissionPanel, std::string("Transmission: ") + transmissions[t]);
      EXPECT_EQ(texts->AmplificationPanel, std::string("Amplification: ") + stages[a]);
      EXPECT_EQ(texts->FilterPanel, "Filter: Off");
    }
  }
  EXPECT_EQ(DecodeStatusFrameTexts(Bytes({0xFC, 0, 0, 0, 0x40, 0}))->FilterPanel, "Filter: 60 Hz");
  EXPECT_EQ(DecodeStatusFrameTexts(Bytes({0xFC, 0, 0, 0, 0x90, 0}))->FilterPanel, "Filter: Off + EMG");  // bit 7 unused
}

TEST(StatusFrame, FilterIndexWithoutAnItemIsShownAsUnknown) {
  EXPECT_EQ(DecodeStatusFrameTexts(Bytes({0xFC, 0, 0, 0, 0x60, 0}))->FilterPanel, "Filter: unknown (3)");
  EXPECT_EQ(DecodeStatusFrameTexts(Bytes({0xFC, 0, 0, 0, 0x70, 0}))->FilterPanel, "Filter: unknown (3) + EMG");
}

struct ModeCase {
  int code;
  const char* text;  // nullptr: panel 4 keeps its text
};

class ModeCodeTable : public testing::TestWithParam<ModeCase> {};

TEST_P(ModeCodeTable, LowNibbleChoosesPanelText) {
  // The high nibble carries nothing and must not disturb the code.
  const auto texts = DecodeStatusFrameTexts(Bytes({0xFC, 0, 0, 0, 0, 0xF0 | GetParam().code}));
  ASSERT_TRUE(texts);
  if (GetParam().text) {
    EXPECT_EQ(texts->ModePanel, GetParam().text);
  } else {
    EXPECT_FALSE(texts->ModePanel);
  }
}

INSTANTIATE_TEST_SUITE_P(, ModeCodeTable,
                         testing::Values(ModeCase{0, "Mode: Normal"}, ModeCase{1, "Mode: Normal + Pace"},
                                         ModeCase{2, nullptr}, ModeCase{3, nullptr}, ModeCase{4, "Mode: Initializing"},
                                         ModeCase{5, "Mode: Searching"}, ModeCase{6, nullptr}, ModeCase{7, nullptr},
                                         ModeCase{8, "Mode: Simulation"}, ModeCase{9, nullptr},
                                         ModeCase{10, "Mode: Error"}, ModeCase{11, nullptr}, ModeCase{12, nullptr},
                                         ModeCase{13, nullptr}, ModeCase{14, nullptr}, ModeCase{15, nullptr}));

TEST(ChestStatusFrame, AlternateBitsConnectC2C4C6) {
  const auto texts = DecodeChestStatusFrameTexts(Bytes({0xFF, 0, 0x15, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(texts);
  EXPECT_EQ((*texts)[0], "Connected");
  EXPECT_EQ((*texts)[1], "NOT connected");
  EXPECT_EQ((*texts)[2], "Connected");
  EXPECT_EQ((*texts)[3], "NOT connected");
  EXPECT_EQ((*texts)[4], "Connected");
}

TEST(ChestStatusFrame, UnusedHighBitsConnectNothing) {
  const auto texts = DecodeChestStatusFrameTexts(Bytes({0xFF, 0xFF, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  ASSERT_TRUE(texts);
  for (std::string_view text : *texts) EXPECT_EQ(text, "NOT connected");
}

TEST(IdentificationFrame, EmptyTextStillGivesTheLabel) {
  EXPECT_EQ(IdentificationLabel(Bytes({0xFD, 0x00})), "Identification: ");
}

TEST(IdentificationFrame, TextLiesBetweenStartAndStopByte) {
  EXPECT_EQ(IdentificationLabel(Bytes({0xFD, 0x41, 0x42, 0x00})), "Identification: AB");
  EXPECT_EQ(IdentificationLabel(Bytes({0xFD, 0xE4, 0xFD, 0x00})), "Identification: \xE4\xFD");
}

TEST(VitalValueFrames, ShowTheThirdByteInPlainDecimal) {
  EXPECT_EQ(PulseText(Bytes({0xF9, 0x00, 0x48})), "Pulse: 72");
  EXPECT_EQ(PulseText(Bytes({0xF9, 0x33, 0xFF})), "Pulse: 255");
  EXPECT_EQ(RespText(Bytes({0xFA, 0x12, 0x00})), "Resp.: 0");
  EXPECT_EQ(RespText(Bytes({0xFA, 0x12, 0x07})), "Resp.: 7");
}

TEST(ShortPackets, DecodeToNothingInsteadOfReadingPastTheEnd) {
  EXPECT_FALSE(DecodeStatusFrameTexts(Bytes({0xFC, 0, 0x5F, 0, 0x25})));
  EXPECT_FALSE(DecodeChestStatusFrameTexts(Bytes({0xFF, 0})));
  EXPECT_FALSE(IdentificationLabel(Bytes({0xFD})));
  EXPECT_FALSE(PulseText(Bytes({0xF9, 0})));
  EXPECT_FALSE(RespText(""));
}

// ---- The status bar's texts of the recording and the port -------------------

struct CountCase {
  int count;
  bool dataLost;
  const char* text;
  bool rateOff = false;
};

class ReceivingStatus : public testing::TestWithParam<CountCase> {};

TEST_P(ReceivingStatus, CountsStoredPacketsWithoutSingular) {
  std::string text = "left over from an earlier record";
  AssignReceivingStatus(text, GetParam().count, GetParam().dataLost, GetParam().rateOff);
  EXPECT_EQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(, ReceivingStatus,
                         testing::Values(CountCase{1, false, "Status: Receiving... 1 packets"},
                                         CountCase{2, false, "Status: Receiving... 2 packets"},
                                         CountCase{80000, false, "Status: Receiving... 80000 packets"},
                                         CountCase{1, true, "Status: Receiving... 1 packets (data lost)"},
                                         CountCase{7, true, "Status: Receiving... 7 packets (data lost) (rate off)",
                                                   true}));

// Every kind of trouble counted apart: a noisy line never reads as no errors.
TEST(LineFigures, ShowEachKindOfTroubleApartAndTheRateAgainstTheSetOne) {
  TLineQuality q;
  q.bytesOutsideFrames = 12;
  q.framesRejected[TModuleFramers::kSampleKind] = 2;
  q.framesRejected[TModuleFramers::kChestKind] = 1;
  q.inputGaps = 4;
  q.silentSpells = 1;
  q.framingErrors = 5;
  q.breaks = 1;
  EXPECT_EQ(LineFiguresText(q, 149.96, 300, true),
            "Outside frames: 12 B\nRejected: 3  Gaps: 4\nSilences: 1  Errors: 6\nRate: 150.0/s (set 300) OFF");
  EXPECT_EQ(LineFiguresText(TLineQuality{}, 0, 100, false),
            "Outside frames: 0 B\nRejected: 0  Gaps: 0\nSilences: 0  Errors: 0\nRate: 0.0/s (set 100)");
}

TEST(StatusBarTexts, PortAndLossReadAsTheWindowShowsThem) {
  EXPECT_EQ(PortPanelText("/dev/ttyUSB0"), "Port: /dev/ttyUSB0");
  EXPECT_EQ(PortLostStatusText(2), "Status: Port lost - reconnecting... 2 packets");
}

}  // namespace
