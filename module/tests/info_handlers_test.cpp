// Status, chest status, identification, pulse and respiration frames as the
// window shows them, whether or not a recording runs.
#include <gtest/gtest.h>

#include "handlers_support.h"
#include "module/StatusFrames.h"

namespace {

using module_test::Bytes;
using module_test::HandlerRig;

class InfoFrames : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) rig.StartRecording();
  }
  std::string Text(ViewText which) { return rig.view.texts[which]; }
  std::string Panel(int index) { return rig.view.panels[index]; }

  HandlerRig rig;
};

TEST_P(InfoFrames, StatusFrameFillsLabelsAndPanels) {
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01}));
  EXPECT_EQ(Text(ViewText::RespLabel), "Resp. Wave: Transmitted");
  for (ViewText label :
       {ViewText::ChestLabel, ViewText::RALabel, ViewText::LALabel, ViewText::RLLabel, ViewText::LLLabel}) {
    EXPECT_EQ(Text(label), "Connected");
  }
  EXPECT_EQ(Panel(spTransmission), "Transmission: 100 / sec");
  EXPECT_EQ(Panel(spAmplification), "Amplification: Stage 2");
  EXPECT_EQ(Panel(spFilter), "Filter: 50 Hz");
  EXPECT_EQ(Panel(spMode), "Mode: Normal + Pace");

  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x00, 0x00, 0x3F, 0x0A}));
  EXPECT_EQ(Text(ViewText::RespLabel), "Resp. Wave: NOT transmitted");
  for (ViewText label :
       {ViewText::ChestLabel, ViewText::RALabel, ViewText::LALabel, ViewText::RLLabel, ViewText::LLLabel}) {
    EXPECT_EQ(Text(label), "NOT connected");
  }
  EXPECT_EQ(Panel(spTransmission), "Transmission: 300 / sec");
  EXPECT_EQ(Panel(spAmplification), "Amplification: Stage 4");
  EXPECT_EQ(Panel(spFilter), "Filter: 50 Hz + EMG");
  EXPECT_EQ(Panel(spMode), "Mode: Error");
}

TEST_P(InfoFrames, UnlistedModeCodeKeepsPanelFourButUpdatesTheRest) {
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x05}));
  ASSERT_EQ(Panel(spMode), "Mode: Searching");
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x00, 0x00, 0x3F, 0x03}));
  EXPECT_EQ(Panel(spMode), "Mode: Searching");
  EXPECT_EQ(Panel(spTransmission), "Transmission: 300 / sec");
  EXPECT_EQ(Text(ViewText::LLLabel), "NOT connected");
}

TEST_P(InfoFrames, FilterIndexThreeShowsUnknownAndHandlingGoesOn) {
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x00, 0x00, 0x60, 0x00}));
  EXPECT_EQ(Panel(spFilter), "Filter: unknown (3)");
  EXPECT_EQ(Panel(spMode), "Mode: Normal");
  EXPECT_TRUE(rig.view.errors.empty());
}

TEST_P(InfoFrames, ChestStatusFrameFillsTheFiveChestLabels) {
  rig.handlers.ReceiveCenterStatus(Bytes({0xFF, 0x00, 0x15, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Text(ViewText::Chest2Label), "Connected");
  EXPECT_EQ(Text(ViewText::Chest3Label), "NOT connected");
  EXPECT_EQ(Text(ViewText::Chest4Label), "Connected");
  EXPECT_EQ(Text(ViewText::Chest5Label), "NOT connected");
  EXPECT_EQ(Text(ViewText::Chest6Label), "Connected");
}

TEST_P(InfoFrames, IdentificationFrameSetsTheLabelAndShowsTheBox) {
  rig.handlers.ReceiveIdent(Bytes({0xFD, 0x00}));
  EXPECT_EQ(Text(ViewText::IdentLabel), "Identification: ");
  EXPECT_EQ(rig.view.identBoxShown, 1);
  rig.handlers.ReceiveIdent(Bytes({0xFD, 0x41, 0x42, 0x00}));
  EXPECT_EQ(Text(ViewText::IdentLabel), "Identification: AB");
  EXPECT_EQ(rig.view.identBoxShown, 2);
}

TEST_P(InfoFrames, VitalValuesGoToTheirPanels) {
  rig.handlers.ReceivePulse(Bytes({0xF9, 0x00, 0x48}));
  rig.handlers.ReceiveResp(Bytes({0xFA, 0x00, 0x00}));
  EXPECT_EQ(Text(ViewText::PulsePanel), "Pulse: 72");
  EXPECT_EQ(Text(ViewText::RespPanel), "Resp.: 0");
}

TEST_P(InfoFrames, NeverTouchTheRecording) {
  const int count = rig.store.Count();
  const int cursor = rig.layout.CursorX;
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01}));
  rig.handlers.ReceiveCenterStatus(Bytes({0xFF, 0x00, 0x15, 0, 0, 0, 0, 0, 0}));
  rig.handlers.ReceiveIdent(Bytes({0xFD, 0x41, 0x00}));
  rig.handlers.ReceivePulse(Bytes({0xF9, 0x00, 0x48}));
  rig.handlers.ReceiveResp(Bytes({0xFA, 0x00, 0x10}));
  EXPECT_EQ(rig.store.Count(), count);
  EXPECT_EQ(rig.layout.CursorX, cursor);
  EXPECT_EQ(rig.view.panels.count(spStatus), 0u);
}

TEST_P(InfoFrames, ShortPacketsShowNothingAndRaiseNothing) {
  EXPECT_NO_THROW(rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00})));
  EXPECT_NO_THROW(rig.handlers.ReceiveCenterStatus(Bytes({0xFF})));
  EXPECT_NO_THROW(rig.handlers.ReceiveIdent(Bytes({0xFD})));
  EXPECT_NO_THROW(rig.handlers.ReceivePulse(""));
  EXPECT_NO_THROW(rig.handlers.ReceiveResp(Bytes({0xFA})));
  EXPECT_TRUE(rig.view.texts.empty());
  EXPECT_TRUE(rig.view.panels.empty());
  EXPECT_EQ(rig.view.identBoxShown, 0);
}

INSTANTIATE_TEST_SUITE_P(, InfoFrames, testing::Bool(),
                         [](const auto& row) { return row.param ? "WhileReceiving" : "WhileIdle"; });

}  // namespace
