#include "module/SetupCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<int> ByteValues(const std::string& bytes) {
  std::vector<int> values;
  for (char c : bytes) values.push_back(static_cast<unsigned char>(c));
  return values;
}

AcquisitionSettings DefaultSettings() {
  AcquisitionSettings settings;
  settings.transmission = static_cast<std::uint8_t>(TransBoxChoice.Default);
  settings.amplification = static_cast<std::uint8_t>(AmpBoxChoice.Default);
  settings.filter = static_cast<std::uint8_t>(FilterBoxChoice.Default);
  settings.mode = static_cast<std::uint8_t>(ModeBoxChoice.Default);
  settings.pacer = static_cast<std::uint8_t>(PacerBoxChoice.Default);
  settings.simulation = static_cast<std::uint8_t>(SimulationBoxChoice.Default);
  return settings;
}

TEST(SetupCommand, DefaultEightChannelSetupSendsTheDefaultCommand) {
  const std::string command =
      BuildSetupCommand(DefaultSettings(), EmgDefault, ChannelMask(ChannelBoxDefaults), kEightChannelChestMask);
  EXPECT_EQ(ByteValues(command), (std::vector<int>{0x53, 0x31, 0x41, 0x31, 0x35, 0x31, 0x46, 0x31, 0x50, 0x30, 0x45,
                                                   0x30, 0x43, 0x07, 0x44, 0x00, 0x4D, 0x30}));
  EXPECT_EQ(SampleFrameSize8(SelectedChannelCount(ChannelBoxDefaults)), 5);
}

TEST(SetupCommand, TwelveChannelSetupSendsFixedMasksWhateverTheChannelBoxesSay) {
  const std::string command = BuildSetupCommand(DefaultSettings(), false, kTwelveChannelMask, kTwelveChannelChestMask);
  EXPECT_EQ(ByteValues(command), (std::vector<int>{0x53, 0x31, 0x41, 0x31, 0x35, 0x31, 0x46, 0x31, 0x50, 0x30, 0x45,
                                                   0x30, 0x43, 0x7F, 0x44, 0x1F, 0x4D, 0x30}));
}

TEST(SetupCommand, EveryChoiceAtItsOtherEndIsEncoded) {
  AcquisitionSettings settings;
  settings.transmission = 3;  // "300 / sec" is sent as "7"
  settings.amplification = 3;
  settings.filter = 0;
  settings.mode = 0;
  settings.pacer = 1;
  settings.simulation = 1;
  const std::array<bool, 8> all{true, true, true, true, true, true, true, true};
  const std::string command = BuildSetupCommand(settings, true, ChannelMask(all), kEightChannelChestMask);
  EXPECT_EQ(ByteValues(command), (std::vector<int>{0x53, 0x37, 0x41, 0x33, 0x35, 0x30, 0x46, 0x30, 0x50, 0x31, 0x45,
                                                   0x31, 0x43, 0xFF, 0x44, 0x00, 0x4D, 0x31}));
  EXPECT_EQ(SampleFrameSize8(SelectedChannelCount(all)), 10);
}

TEST(SetupCommand, EightChannelCommandKeepsItsZeroChestMaskByte) {
  const std::string command = BuildSetupCommand(DefaultSettings(), false, 0x00, kEightChannelChestMask);
  ASSERT_EQ(command.size(), kSetupCommandSize);
  EXPECT_EQ(command[13], '\0');
  EXPECT_EQ(command[15], '\0');
  EXPECT_EQ(command[16], 'M');
}

TEST(SetupCommand, TransmissionItemsMapToTheirRateCodes) {
  const std::array<char, 4> codes{'0', '1', '2', '7'};
  for (std::uint8_t index = 0; index < codes.size(); ++index) {
    AcquisitionSettings settings = DefaultSettings();
    settings.transmission = index;
    EXPECT_EQ(BuildSetupCommand(settings, false, 0, 0)[1], codes[index]) << "index " << int(index);
  }
}

struct BadIndexCase {
  const char* name;
  std::uint8_t AcquisitionSettings::*field;
  std::uint8_t value;
};

class SetupCommandRefusal : public testing::TestWithParam<BadIndexCase> {};

TEST_P(SetupCommandRefusal, IndexWithoutAnItemIsRefusedRatherThanSent) {
  AcquisitionSettings settings = DefaultSettings();
  settings.*(GetParam().field) = GetParam().value;
  EXPECT_THROW(BuildSetupCommand(settings, false, 0x07, 0x00), std::out_of_range);
}

INSTANTIATE_TEST_SUITE_P(, SetupCommandRefusal,
                         testing::Values(BadIndexCase{"Transmission", &AcquisitionSettings::transmission, 4},
                                         BadIndexCase{"Amplification", &AcquisitionSettings::amplification, 4},
                                         BadIndexCase{"Filter", &AcquisitionSettings::filter, 3},
                                         BadIndexCase{"Mode", &AcquisitionSettings::mode, 2},
                                         BadIndexCase{"Pacer", &AcquisitionSettings::pacer, 2},
                                         BadIndexCase{"Simulation", &AcquisitionSettings::simulation, 255}),
                         [](const auto& row) { return std::string(row.param.name); });

struct MaskCase {
  std::array<bool, 8> checked;
  std::uint8_t mask;
  int frameSize;
};

class ChannelMaskTable : public testing::TestWithParam<MaskCase> {};

TEST_P(ChannelMaskTable, CheckedBoxesGiveMaskBitsAndFrameSize) {
  EXPECT_EQ(ChannelMask(GetParam().checked), GetParam().mask);
  EXPECT_EQ(SampleFrameSize8(SelectedChannelCount(GetParam().checked)), GetParam().frameSize);
}

INSTANTIATE_TEST_SUITE_P(, ChannelMaskTable,
                         testing::Values(MaskCase{{false, false, false, false, false, false, false, false}, 0x00, 2},
                                         MaskCase{{true, false, false, false, false, false, false, false}, 0x01, 3},
                                         MaskCase{{false, true, false, false, false, false, false, true}, 0x82, 4},
                                         MaskCase{{false, false, false, true, true, true, false, false}, 0x38, 5},
                                         MaskCase{{false, false, false, false, false, false, true, false}, 0x40, 3},
                                         MaskCase{{true, true, true, true, true, true, true, true}, 0xFF, 10}));

TEST(ServiceCommands, AreTheirLettersOnly) {
  EXPECT_EQ(ByteValues(std::string(kElectrodeSearchCommand)), (std::vector<int>{0x71, 0x30}));
  EXPECT_EQ(ByteValues(std::string(kCalibrationCommand)), (std::vector<int>{0x4B}));
  EXPECT_EQ(ByteValues(std::string(kIdentifyCommand)), (std::vector<int>{0x49}));
}

constexpr std::array<bool, 8> kNoBits{};

TEST(RegisterWrite, HighestAddressWithOutermostBitsSends724981) {
  const std::array<bool, 8> bits{true, false, false, false, false, false, false, true};  // Bit7 .. Bit0
  const auto command = BuildRegisterWrite("25", bits);
  ASSERT_TRUE(command);
  EXPECT_EQ(ByteValues(*command), (std::vector<int>{0x72, 0x49, 0x81}));
}

TEST(RegisterWrite, AddressZeroWithNoBitsSends723000) {
  const auto command = BuildRegisterWrite("0", kNoBits);
  ASSERT_TRUE(command);
  EXPECT_EQ(ByteValues(*command), (std::vector<int>{0x72, 0x30, 0x00}));
}

TEST(RegisterWrite, AddressesAboveNineGoPastTheDigits) {
  EXPECT_EQ(ByteValues(*BuildRegisterWrite("10", kNoBits))[1], 0x3A);
}

TEST(RegisterWrite, BitBoxesReadMostSignificantFirst) {
  EXPECT_EQ(RegisterValue({false, true, false, false, false, false, true, false}), 0x42);
  EXPECT_EQ(RegisterValue({true, true, true, true, true, true, true, true}), 0xFF);
}

class RegisterAddressRefusal : public testing::TestWithParam<std::string> {};

TEST_P(RegisterAddressRefusal, IsInvalidAndSendsNothing) {
  EXPECT_FALSE(ParseRegisterAddress(GetParam()));
  EXPECT_FALSE(BuildRegisterWrite(GetParam(), kNoBits));
}

INSTANTIATE_TEST_SUITE_P(, RegisterAddressRefusal,
                         testing::Values("26", "-1", "", "   ", std::string(kAddressPrompt), "1x", "+5", "-0", "5.0",
                                         "0x1A", "1 2", "99999999999999999999999", std::string(kInvalidAddressText),
                                         std::string("1\0", 2)));

struct AddressCase {
  std::string text;
  int address;
};

class RegisterAddressAccepted : public testing::TestWithParam<AddressCase> {};

TEST_P(RegisterAddressAccepted, ParsesAsWholeDecimalNumber) {
  EXPECT_EQ(ParseRegisterAddress(GetParam().text), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(, RegisterAddressAccepted,
                         testing::Values(AddressCase{"0", 0}, AddressCase{"9", 9}, AddressCase{"25", 25},
                                         AddressCase{"007", 7}, AddressCase{" 5", 5}, AddressCase{"5 ", 5},
                                         AddressCase{"\t12\t", 12}));

}  // namespace
