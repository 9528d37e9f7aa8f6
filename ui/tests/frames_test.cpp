// Frames the module sends, written into the pseudo-terminal, and what the
// window shows for them; the service commands the module receives.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "window_support.h"

namespace {

class ModuleFrames : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_EQ(SetUpPort().size(), 18u);
  }
};

TEST_F(ModuleFrames, StatusFrameWithEverythingConnected) {
  Click("ReadButton");  // shows the Status button
  Click("StatusButton");
  ModuleSends(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01}));
  ASSERT_TRUE(WaitUntil([&] { return Panel(4) == "Mode: Normal + Pace"; }));
  EXPECT_EQ(Caption("RespLabel"), "Resp. Wave: Transmitted");
  for (const char* label : {"ChestLabel", "RALabel", "LALabel", "RLLabel", "LLLabel"})
    EXPECT_EQ(Caption(label), "Connected") << label;
  EXPECT_EQ(Panel(1), "Transmission: 100 / sec");
  EXPECT_EQ(Panel(2), "Amplification: Stage 2");
  EXPECT_EQ(Panel(3), "Filter: 50 Hz");
}

TEST_F(ModuleFrames, StatusFrameWithNothingConnectedUpdatesTheHiddenBox) {
  ModuleSends(Bytes({0xFC, 0x00, 0x00, 0x00, 0x3F, 0x0A}));
  ASSERT_TRUE(WaitUntil([&] { return Panel(4) == "Mode: Error"; }));
  EXPECT_FALSE(Shown("StatusBox"));
  EXPECT_EQ(Caption("RespLabel"), "Resp. Wave: NOT transmitted");
  for (const char* label : {"ChestLabel", "RALabel", "LALabel", "RLLabel", "LLLabel"})
    EXPECT_EQ(Caption(label), "NOT connected") << label;
  EXPECT_EQ(Panel(1), "Transmission: 300 / sec");
  EXPECT_EQ(Panel(2), "Amplification: Stage 4");
  EXPECT_EQ(Panel(3), "Filter: 50 Hz + EMG");
}

TEST_F(ModuleFrames, StatusFrameWithAnUnknownModeKeepsPanelFour) {
  ModuleSends(Bytes({0xFC, 0x00, 0x00, 0x00, 0x3F, 0x0A}));
  ASSERT_TRUE(WaitUntil([&] { return Panel(4) == "Mode: Error"; }));
  ModuleSends(Bytes({0xFC, 0x00, 0x00, 0x00, 0x00, 0x03}));
  ASSERT_TRUE(WaitUntil([&] { return Panel(1) == "Transmission: 50 / sec"; }));
  EXPECT_EQ(Panel(4), "Mode: Error");
}

TEST_F(ModuleFrames, StatusFrameWithFilterIndexThreeShowsSomethingAndReceptionGoesOn) {
  ModuleSends(Bytes({0xFC, 0x00, 0x00, 0x00, 0x60, 0x00}));
  ASSERT_TRUE(WaitUntil([&] { return Panel(4) == "Mode: Normal"; }));
  EXPECT_NE(Panel(3).find("Filter:"), std::string::npos);
  EXPECT_TRUE(dialogs.shown.empty());
  ModuleSends(Bytes({0xF9, 0x00, 0x48}));
  EXPECT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 72"; }));
}

TEST_F(ModuleFrames, ChestStatusFrame) {
  ModuleSends(Bytes({0xFF, 0x00, 0x15, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(WaitUntil([&] { return Caption("Chest2Label") == "Connected"; }));
  EXPECT_EQ(Caption("Chest3Label"), "NOT connected");
  EXPECT_EQ(Caption("Chest4Label"), "Connected");
  EXPECT_EQ(Caption("Chest5Label"), "NOT connected");
  EXPECT_EQ(Caption("Chest6Label"), "Connected");
}

TEST_F(ModuleFrames, IdentificationFrameShowsTheBoxUntilItsOK) {
  ModuleSends(Bytes({0xFD, 'E', 'C', 'G', ' ', '1', '.', '0', 0x00}));
  ASSERT_TRUE(WaitUntil([&] { return Shown("IdentBox"); }));
  EXPECT_EQ(Caption("IdentLabel"), "Identification: ECG 1.0");
  Click("IdentHideButton");
  EXPECT_FALSE(Shown("IdentBox"));
  ModuleSends(Bytes({0xFD, 0x00}));
  ASSERT_TRUE(WaitUntil([&] { return Shown("IdentBox"); }));
  EXPECT_EQ(Caption("IdentLabel"), "Identification: ");
}

TEST_F(ModuleFrames, IdentificationTextIsShownAsSingleByteCharacters) {
  ModuleSends(Bytes({0xFD, 'M', 0xE9, 'n', 0x00}));  // 0xF8..0xFF start frames: never in a text
  ASSERT_TRUE(WaitUntil([&] { return Shown("IdentBox"); }));
  EXPECT_EQ(Find<QLabel>("IdentLabel")->text(), QString::fromUtf8("Identification: M\u00E9n"));
}

TEST_F(ModuleFrames, PulseAndRespirationFrames) {
  ModuleSends(Bytes({0xF9, 0x00, 0x48, 0xFA, 0x00, 0x00}));
  ASSERT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 72" && Caption("RespPanel") == "Resp.: 0"; }));
  EXPECT_FALSE(Shown("PulsePanel"));  // updated while hidden, outside a recording
}

TEST_F(ModuleFrames, ServiceButtonsSendTheirCommands) {
  Click("ReadButton");
  Click("IdentButton");
  EXPECT_EQ(Hex(ModuleReceives(1)), "49");
  Click("CalButton");
  EXPECT_EQ(Hex(ModuleReceives(1)), "4B");
  form->Guarded([&] { form->ElecButtonClick(); });  // never shown, still complete
  EXPECT_EQ(Hex(ModuleReceives(2)), "71 30");
  EXPECT_EQ(form->Store().Settings().state, AcquisitionState::Receiving);
  EXPECT_TRUE(dialogs.shown.empty());
}

struct RegisterCase {
  const char* address;
  std::array<bool, 8> bits;  // Bit7 .. Bit0
  const char* sent;          // hex, or "" when refused
};

class RegisterEditor : public ModuleFrames, public ::testing::WithParamInterface<RegisterCase> {};

TEST_P(RegisterEditor, WritesTheRegisterOrRefusesTheAddress) {
  const RegisterCase& c = GetParam();
  form->RegisterButtonClick();  // the Register button is never shown
  auto* address = Find<QLineEdit>("Address");
  address->setText(QString::fromLatin1(c.address));
  const char* bits[] = {"Bit7", "Bit6", "Bit5", "Bit4", "Bit3", "Bit2", "Bit1", "Bit0"};
  for (int i = 0; i < 8; ++i) SetChecked(bits[i], c.bits[static_cast<std::size_t>(i)]);
  Click("RegWriteButton");
  if (*c.sent) {
    EXPECT_EQ(Hex(ModuleReceives(3)), c.sent);
    EXPECT_EQ(address->text().toStdString(), c.address);
  } else {
    EXPECT_TRUE(ModuleReceives(1, std::chrono::milliseconds(100)).empty());
    EXPECT_EQ(address->text(), "Invalid Address!");
  }
  EXPECT_TRUE(dialogs.shown.empty());
}

constexpr std::array<bool, 8> kNoBits{};
constexpr std::array<bool, 8> kMsbAndLsb{true, false, false, false, false, false, false, true};

INSTANTIATE_TEST_SUITE_P(Addresses, RegisterEditor,
                         ::testing::Values(RegisterCase{"25", kMsbAndLsb, "72 49 81"},
                                           RegisterCase{"0", kNoBits, "72 30 00"}, RegisterCase{"26", kMsbAndLsb, ""},
                                           RegisterCase{"-1", kNoBits, ""}, RegisterCase{"", kNoBits, ""},
                                           RegisterCase{"address (0..25 dec.)", kNoBits, ""},
                                           RegisterCase{"1x", kNoBits, ""}));

}  // namespace
