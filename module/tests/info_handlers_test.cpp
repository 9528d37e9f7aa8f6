// Status, chest status, identification, pulse and respiration frames: the
// values they report, whether or not a recording runs.
#include <gtest/gtest.h>

#include "handlers_support.h"
#include "module/StatusFrames.h"

namespace {

using module_test::Bytes;
using module_test::HandlerRig;

constexpr std::array<bool, 5> kAll{true, true, true, true, true};
constexpr std::array<bool, 5> kNone{};

class InfoFrames : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) rig.StartRecording();
  }
  const TModuleStatus& Status() {
    EXPECT_TRUE(rig.view.status);
    return *rig.view.status;
  }

  HandlerRig rig;
};

TEST_P(InfoFrames, StatusFrameReportsConnectionsSettingsAndMode) {
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01}));
  EXPECT_TRUE(Status().respirationTransmitted);
  EXPECT_EQ(Status().connected, kAll);
  EXPECT_EQ(Status().settings, (TSettingsInUse{1, 1, 1, false}));
  EXPECT_EQ(Status().mode, OperatingMode::NormalPace);

  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x00, 0x00, 0x3F, 0x0A}));
  EXPECT_FALSE(Status().respirationTransmitted);
  EXPECT_EQ(Status().connected, kNone);
  EXPECT_EQ(Status().settings, (TSettingsInUse{3, 3, 1, true}));
  EXPECT_EQ(Status().mode, OperatingMode::Error);
  EXPECT_EQ(rig.view.statusFrames, 2);
}

TEST_P(InfoFrames, UnlistedModeCodeIsReportedWithoutAMode) {
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x00, 0x00, 0x3F, 0x03}));
  EXPECT_EQ(Status().modeCode, 3);
  EXPECT_FALSE(Status().mode);
  EXPECT_EQ(Status().settings.transmission, 3);
}

TEST_P(InfoFrames, FilterIndexThreeIsReportedAndHandlingGoesOn) {
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x00, 0x00, 0x60, 0x00}));
  EXPECT_EQ(Status().settings.filter, 3);
  EXPECT_EQ(Status().mode, OperatingMode::Normal);
  EXPECT_TRUE(rig.view.errors.empty());
}

TEST_P(InfoFrames, ChestStatusFrameReportsTheFiveChestElectrodes) {
  rig.handlers.ReceiveCenterStatus(Bytes({0xFF, 0x00, 0x15, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(rig.view.chestConnected, (std::array<bool, 5>{true, false, true, false, true}));
}

TEST_P(InfoFrames, IdentificationFrameReportsItsText) {
  rig.handlers.ReceiveIdent(Bytes({0xFD, 0x00}));
  rig.handlers.ReceiveIdent(Bytes({0xFD, 0x41, 0x42, 0x00}));
  EXPECT_EQ(rig.view.identifications, (std::vector<std::string>{"", "AB"}));
}

TEST_P(InfoFrames, VitalValuesAreReported) {
  rig.handlers.ReceivePulse(Bytes({0xF9, 0x00, 0x48}));
  rig.handlers.ReceiveResp(Bytes({0xFA, 0x00, 0x00}));
  EXPECT_EQ(rig.view.pulse, 72);
  EXPECT_EQ(rig.view.respiration, 0);
}

TEST_P(InfoFrames, NeverTouchTheRecording) {
  const int count = rig.store.Count();
  rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01}));
  rig.handlers.ReceiveCenterStatus(Bytes({0xFF, 0x00, 0x15, 0, 0, 0, 0, 0, 0}));
  rig.handlers.ReceiveIdent(Bytes({0xFD, 0x41, 0x00}));
  rig.handlers.ReceivePulse(Bytes({0xF9, 0x00, 0x48}));
  rig.handlers.ReceiveResp(Bytes({0xFA, 0x00, 0x10}));
  EXPECT_EQ(rig.store.Count(), count);
  EXPECT_EQ(rig.Plotted(), 0);
  EXPECT_EQ(rig.view.countsTold, 0);
}

TEST_P(InfoFrames, ShortPacketsReportNothingAndRaiseNothing) {
  EXPECT_NO_THROW(rig.handlers.ReceiveStatus(Bytes({0xFC, 0x00})));
  EXPECT_NO_THROW(rig.handlers.ReceiveCenterStatus(Bytes({0xFF})));
  EXPECT_NO_THROW(rig.handlers.ReceiveIdent(Bytes({0xFD})));
  EXPECT_NO_THROW(rig.handlers.ReceivePulse(""));
  EXPECT_NO_THROW(rig.handlers.ReceiveResp(Bytes({0xFA})));
  EXPECT_FALSE(rig.view.status);
  EXPECT_FALSE(rig.view.chestConnected);
  EXPECT_TRUE(rig.view.identifications.empty());
  EXPECT_FALSE(rig.view.pulse);
  EXPECT_FALSE(rig.view.respiration);
}

INSTANTIATE_TEST_SUITE_P(, InfoFrames, testing::Bool(),
                         [](const auto& row) { return row.param ? "WhileReceiving" : "WhileIdle"; });

}  // namespace
