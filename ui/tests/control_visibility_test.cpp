// Which controls the window shows, from its state alone: the rows of the
// window's state table and the rules that keep a recording safe to end and
// to save.
#include <gtest/gtest.h>

#include <string>

#include "ui/ControlVisibility.h"

namespace {

// The top row in the window's order: Setup Read Save Load Print Pulse Resp
// Status Ident Cal Elec Register; '+' shown.
std::string TopRow(const TControlsShown& shown) {
  std::string row;
  for (bool visible : {shown.setup, shown.read, shown.save, shown.load, shown.print, shown.pulse, shown.resp,
                       shown.status, shown.ident, shown.cal, shown.elec, shown.reg}) {
    row += visible ? '+' : '-';
  }
  return row;
}

TWindowState In(TSituation situation, bool portOpen) {
  TWindowState state;
  state.situation = situation;
  state.recording = situation == TSituation::Recording;
  state.portOpen = portOpen;
  state.recordsShown = situation == TSituation::StoppedWithRecords;
  return state;
}

struct Row {
  const char* name;
  TWindowState state;
  const char* topRow;
};

class TopRowTable : public testing::TestWithParam<Row> {};

TEST_P(TopRowTable, ShowsTheControlsOfTheSituation) {
  const TControlsShown shown = ControlsShown(GetParam().state);
  EXPECT_EQ(TopRow(shown), GetParam().topRow);
  EXPECT_EQ(shown.exportButton, shown.print) << "Export is shown exactly where Print is";
  EXPECT_EQ(shown.readSaysStop, GetParam().state.recording);
}

TWindowState With(TWindowState state, void (*change)(TWindowState&)) {
  change(state);
  return state;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(, TopRowTable, testing::Values(
    //                                                                                          SRSLPPRSICER
    Row{"AfterStart",                   In(TSituation::Start, false),                          "+-----------"},
    Row{"PortOpened",                   In(TSituation::PortOpened, true),                      "++-+--------"},
    Row{"OpenFailed",                   In(TSituation::OpenFailed, false),                     "+-----------"},
    Row{"Recording",                    In(TSituation::Recording, true),                       "-+---+++++--"},
    Row{"RecordingWithoutItsPort",      In(TSituation::Recording, false),                      "++---+++++--"},
    Row{"StoppedWithRecords",           In(TSituation::StoppedWithRecords, true),              "++-++-------"},
    Row{"StoppedWithRecordsNoPort",     In(TSituation::StoppedWithRecords, false),             "+--++-------"},
    Row{"StoppedEmpty",                 In(TSituation::StoppedEmpty, true),                    "++----------"},
    Row{"StoppedEmptyNoPort",           In(TSituation::StoppedEmpty, false),                   "+-----------"},
    Row{"WhileTheOfferIsOpen",          With(In(TSituation::StoppedWithRecords, true),
                                             [](TWindowState& s) { s.offerOpen = true; }),    "++-+++++++--"},
    Row{"AfterANo",                     With(In(TSituation::StoppedWithRecords, true),
                                             [](TWindowState& s) { s.unsaved = true; }),      "+++++-------"},
    Row{"UnsavedThenASetUpFailed",      With(In(TSituation::OpenFailed, false),
                                             [](TWindowState& s) { s.unsaved = s.recordsShown = true; }),
                                                                                               "+-+-+-------"},
    Row{"LoadedAfterASetUp",            With(In(TSituation::PortOpened, true),
                                             [](TWindowState& s) { s.recordsShown = true; }), "++-++-------"},
    Row{"ServiceModeWhileRecording",    With(In(TSituation::Recording, true),
                                             [](TWindowState& s) { s.serviceMode = true; }),  "-+---+++++++"},
    Row{"ServiceModeWithoutThePort",    With(In(TSituation::Recording, false),
                                             [](TWindowState& s) { s.serviceMode = true; }),  "++---++++++-"},
    Row{"ServiceModeWhenStopped",       With(In(TSituation::StoppedEmpty, true),
                                             [](TWindowState& s) { s.serviceMode = true; }),  "++----------"}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

TEST(Boxes, ShowAsOpenedAndTheChannelsHideInTwelveChannelMode) {
  TWindowState state;
  TControlsShown shown = ControlsShown(state);
  EXPECT_FALSE(shown.setupBox || shown.statusBox || shown.identBox || shown.registerBox);
  EXPECT_TRUE(shown.channelBox);
  state.setupBoxOpen = state.identBoxOpen = true;
  state.twelveChannelChecked = true;
  shown = ControlsShown(state);
  EXPECT_TRUE(shown.setupBox);
  EXPECT_TRUE(shown.identBox);
  EXPECT_FALSE(shown.statusBox || shown.registerBox);
  EXPECT_FALSE(shown.channelBox);
}

}  // namespace
