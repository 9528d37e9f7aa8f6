// The set-up panel's OK against a pseudo-terminal standing in for the
// module: the commands as the module receives them, the messages, and what
// the window shows afterwards.
#include <QComboBox>

#include "serial/TComDataPacket.h"
#include "ui/RadioGroup.h"
#include "window_support.h"

namespace {

class SetupOK : public WindowTest {};

struct CommandCase {
  const char* name;
  std::function<void(SetupOK&)> choose;
  std::vector<unsigned char> command;
  int sampleSize;
  int chestSize;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

}  // namespace

// The three examples: defaults, twelve channels, and every choice changed.
class SetupCommandOnTheWireTest : public SetupOK, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(SetupCommandOnTheWireTest, ModuleReceivesTheCommandByteForByte) {
  const CommandCase& c = GetParam();
  Click("SetupButton");
  c.choose(*this);
  Find<QComboBox>("ComSetupBox")->setEditText(QString::fromStdString(PortName()));
  Click("SetupOKButton");
  EXPECT_EQ(Hex(ModuleReceives(c.command.size())), Hex(c.command));
  EXPECT_EQ(form->SampleFramer().Size(), c.sampleSize);
  EXPECT_EQ(form->ChestFramer().Size(), c.chestSize);
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_FALSE(Shown("SetupBox"));
  EXPECT_EQ(Panel(0), "Port: " + PortName());
  // Nothing more is sent.
  EXPECT_TRUE(ModuleReceives(1, std::chrono::milliseconds(100)).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SetupCommandOnTheWireTest,
    ::testing::Values(
        CommandCase{"Defaults", [](SetupOK&) {},
                    Bytes({0x53, 0x31, 0x41, 0x31, 0x35, 0x31, 0x46, 0x31, 0x50, 0x30, 0x45, 0x30, 0x43, 0x07, 0x44,
                           0x00, 0x4D, 0x30}),
                    5, 9},
        CommandCase{"TwelveChannels", [](SetupOK& fixture) { fixture.SetChecked("CheckBox12C", true); },
                    Bytes({0x53, 0x31, 0x41, 0x31, 0x35, 0x31, 0x46, 0x31, 0x50, 0x30, 0x45, 0x30, 0x43, 0x7F, 0x44,
                           0x1F, 0x4D, 0x30}),
                    9, 7},
        CommandCase{"EverythingChanged",
                    [](SetupOK& fixture) {
                      fixture.ChooseRadio("TransBox", 3);
                      fixture.ChooseRadio("AmpBox", 3);
                      fixture.ChooseRadio("FilterBox", 0);
                      fixture.ChooseRadio("ModeBox", 0);
                      fixture.ChooseRadio("PacerBox", 1);
                      fixture.ChooseRadio("SimulationBox", 1);
                      fixture.SetChecked("EMGON", true);
                      for (const char* ch : {"CH_VR", "CH_VL", "CH_VF", "CH_C1", "CH_RE"}) fixture.SetChecked(ch, true);
                    },
                    Bytes({0x53, 0x37, 0x41, 0x33, 0x35, 0x30, 0x46, 0x30, 0x50, 0x31, 0x45, 0x31, 0x43, 0xFF, 0x44,
                           0x00, 0x4D, 0x31}),
                    10, 9}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(SetupOK, OpenedPortShowsReadAndLoadAndCopiesTheSettings) {
  Click("SetupButton");
  ChooseRadio("TransBox", 2);
  ChooseRadio("SimulationBox", 1);
  SetUpPort();
  EXPECT_TRUE(form->Port().Connected());
  // Visibility after OK with the port opened.
  EXPECT_TRUE(Shown("SetupButton"));
  EXPECT_TRUE(Shown("ReadButton"));
  EXPECT_EQ(Caption("ReadButton"), "Read");
  EXPECT_TRUE(Shown("LoadButton"));
  for (const char* hidden : {"SaveButton", "PrintButton", "PulsePanel", "RespPanel", "StatusButton", "IdentButton",
                             "CalButton", "ElecButton", "RegisterButton", "SetupBox"}) {
    EXPECT_FALSE(Shown(hidden)) << hidden;
  }
  EXPECT_EQ(form->Store().Settings().transmission, 2);
  EXPECT_EQ(form->Store().Settings().simulation, 1);
  EXPECT_EQ(form->Store().Settings().amplification, 1);
}

TEST_F(SetupOK, PortNameIsComparedWithoutCaseAndUsedAsTyped) {
  // The upper-case spelling is accepted from the list; no such device exists,
  // so the open then fails.
  const std::string typed = QString::fromStdString(PortName()).toUpper().toStdString();
  ASSERT_NE(typed, PortName());
  Click("SetupButton");
  Find<QComboBox>("ComSetupBox")->setEditText(QString::fromStdString(typed));
  std::string panelDuringMessage;
  dialogs.whileOpen = [&](const FakeDialogs::Shown&) {
    if (panelDuringMessage.empty()) panelDuringMessage = Panel(0);
  };
  Click("SetupOKButton");
  EXPECT_EQ(form->Port().Port(), typed);
  EXPECT_EQ(panelDuringMessage, "Port: " + typed);
  EXPECT_EQ(DesignedMessages(dialogs),
            (std::vector<std::string>{"Com-Port not available !!!", "Com-Port not defined !!!"}));
}

TEST_F(SetupOK, FailedOpenTellsTheUserWhyAndHidesRead) {
  Click("SetupButton");
  Find<QComboBox>("ComSetupBox")->setEditText(QString::fromStdString(PortName()));
  port.reset();  // the port is gone between listing and opening
  Click("SetupOKButton");
  EXPECT_EQ(DesignedMessages(dialogs),
            (std::vector<std::string>{"Com-Port not available !!!", "Com-Port not defined !!!"}));
  for (const auto& shown : dialogs.shown) EXPECT_EQ(shown.caption, "12-Kanal Test-Software");
  EXPECT_EQ(Panel(0), "Port:");
  EXPECT_FALSE(form->Port().Connected());
  // Visibility after OK with a failed open.
  EXPECT_TRUE(Shown("SetupButton"));
  EXPECT_NE(dialogs.Messages().front().find("does not exist"), std::string::npos) << "and why";
  for (const char* hidden :
       {"ReadButton", "RegisterButton", "SaveButton", "PrintButton", "SetupBox", "PulsePanel", "StatusButton"}) {
    EXPECT_FALSE(Shown(hidden)) << hidden;
  }
  EXPECT_TRUE(Shown("LoadButton")) << "a recording can be loaded without a port";
  // Framer sizes and settings stay as they were.
  EXPECT_EQ(form->SampleFramer().Size(), 6);
}

TEST_F(SetupOK, UnlistedNameWithoutAnOpenPortIsRefused) {
  Click("SetupButton");
  Find<QComboBox>("ComSetupBox")->setEditText("COM7");
  Click("SetupOKButton");
  EXPECT_EQ(Find<QComboBox>("ComSetupBox")->currentText(), "Com-Port");
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{"Com-Port not defined !!!"});
  EXPECT_FALSE(Shown("SetupBox"));
  EXPECT_FALSE(Shown("ReadButton"));
  EXPECT_EQ(Panel(0), "Port: ");
}

TEST_F(SetupOK, UnlistedNameLeavesAnOpenPortAloneWithoutAMessage) {
  SetUpPort();
  ChooseRadio("TransBox", 0);
  Click("SetupButton");
  Find<QComboBox>("ComSetupBox")->setEditText("COM7");
  Click("SetupOKButton");
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_TRUE(form->Port().Connected());
  EXPECT_EQ(Find<QComboBox>("ComSetupBox")->currentText(), "Com-Port");
  EXPECT_EQ(form->Store().Settings().transmission, 1);
  EXPECT_TRUE(ModuleReceives(1, std::chrono::milliseconds(100)).empty());
  // The open port still receives.
  ModuleSends(Bytes({0xF9, 0x00, 0x48}));
  EXPECT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 72"; }));
}

TEST_F(SetupOK, CancelSendsNothingAndTheNextOKSendsTheChangedChoices) {
  SetUpPort();
  Click("SetupButton");
  ChooseRadio("TransBox", 0);
  Click("SetupCancelButton");
  EXPECT_TRUE(ModuleReceives(1, std::chrono::milliseconds(100)).empty());
  EXPECT_EQ(form->Store().Settings().transmission, 1);
  const std::vector<unsigned char> command = SetUpPort();
  ASSERT_EQ(command.size(), 18u);
  EXPECT_EQ(command[1], '0');
}

TEST_F(SetupOK, EveryOKReopensThePortAndSendsTheCommandAgain) {
  EXPECT_EQ(SetUpPort().size(), 18u);
  EXPECT_EQ(SetUpPort().size(), 18u);
  EXPECT_TRUE(form->Port().Connected());
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(SetupOK, NoChannelCheckedKeepsTheBandsAndSendsAnEmptyMask) {
  SetUpPort();
  const auto bands = form->Layout().BandTable;
  Click("SetupButton");
  for (const char* ch : {"CH_I", "CH_II", "CH_III"}) SetChecked(ch, false);
  const std::vector<unsigned char> command = SetUpPort();
  ASSERT_EQ(command.size(), 18u);
  EXPECT_EQ(command[13], 0x00);
  EXPECT_EQ(form->SampleFramer().Size(), 2);
  EXPECT_EQ(form->Layout().BandTable, bands);
}
