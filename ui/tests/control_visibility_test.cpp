// Which controls the window shows, from its state alone: the rows of the
// window's state table and the rules that keep a recording safe to end and
// to save.
#include <gtest/gtest.h>

#include <string>

#include "ui/ControlVisibility.h"

namespace {

// The top row in the window's order: Setup Read Save Load Print Pulse Resp
// Status Ident Cal Elec Register Test; '+' shown.
std::string TopRow(const TControlsShown& shown) {
  std::string row;
  for (bool visible : {shown.setup, shown.read, shown.save, shown.load, shown.print, shown.pulse, shown.resp,
                       shown.status, shown.ident, shown.cal, shown.elec, shown.reg, shown.test}) {
    row += visible ? '+' : '-';
  }
  return row;
}

// Where the window stands, as the user met it last.
enum class At { Start, PortOpened, OpenFailed, Recording, StoppedWithRecords, StoppedEmpty };

TWindowState In(At at, bool portOpen) {
  TWindowState state;
  state.recording = at == At::Recording;
  state.portOpen = portOpen;
  state.recordsShown = at == At::StoppedWithRecords;
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
  // Marker and HR stand where Save, Load and Print do: never together.
  EXPECT_EQ(shown.marker, GetParam().state.recording);
  EXPECT_EQ(shown.heart, GetParam().state.recording);
  EXPECT_FALSE(shown.marker && (shown.save || shown.load || shown.print));
}

TWindowState With(TWindowState state, void (*change)(TWindowState&)) {
  change(state);
  return state;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(, TopRowTable, testing::Values(
    //                                                                                  SRSLPPRSICERT
    Row{"AfterStart",                   In(At::Start, false),                          "+--+---------"},
    Row{"PortOpened",                   In(At::PortOpened, true),                      "++-+---------"},
    Row{"OpenFailed",                   In(At::OpenFailed, false),                     "+--+---------"},
    Row{"Recording",                    In(At::Recording, true),                       "-+---+++++---"},
    Row{"RecordingWithoutItsPort",      In(At::Recording, false),                      "++---+++++---"},
    Row{"StoppedWithRecords",           In(At::StoppedWithRecords, true),              "++-++--------"},
    Row{"StoppedWithRecordsNoPort",     In(At::StoppedWithRecords, false),             "+--++--------"},
    Row{"StoppedEmpty",                 In(At::StoppedEmpty, true),                    "++-+---------"},
    Row{"StoppedEmptyNoPort",           In(At::StoppedEmpty, false),                   "+--+---------"},
    Row{"WhileTheOfferIsOpen",          With(In(At::StoppedWithRecords, true),
                                             [](TWindowState& s) { s.offerOpen = true; }),    "++-+++++++---"},
    Row{"AfterANo",                     With(In(At::StoppedWithRecords, true),
                                             [](TWindowState& s) { s.unsaved = true; }),      "+++++--------"},
    Row{"UnsavedThenASetUpFailed",      With(In(At::OpenFailed, false),
                                             [](TWindowState& s) { s.unsaved = s.recordsShown = true; }),
                                                                                       "+-+++--------"},
    Row{"LoadedAfterASetUp",            With(In(At::PortOpened, true),
                                             [](TWindowState& s) { s.recordsShown = true; }), "++-++--------"},
    Row{"SetupPanelOpen",               With(In(At::PortOpened, true),
                                             [](TWindowState& s) { s.setupBoxOpen = true; }), "+--+---------"},
    Row{"SetupPanelOverALostRecording", With(In(At::Recording, false),
                                             [](TWindowState& s) { s.setupBoxOpen = true; }), "+----+++++---"},
    Row{"ServiceModeWhileRecording",    With(In(At::Recording, true),
                                             [](TWindowState& s) { s.serviceMode = true; }),  "-+---+++++++-"},
    Row{"ServiceModeWithoutThePort",    With(In(At::Recording, false),
                                             [](TWindowState& s) { s.serviceMode = true; }),  "++---+++++---"},
    Row{"ServiceModeWhenStopped",       With(In(At::StoppedEmpty, true),
                                             [](TWindowState& s) { s.serviceMode = true; }),  "++-+--------+"},
    Row{"ServiceModeStoppedNoPort",     With(In(At::StoppedEmpty, false),
                                             [](TWindowState& s) { s.serviceMode = true; }),  "+--+---------"},
    Row{"ServiceModeWhileTheOfferIsOpen", With(In(At::StoppedWithRecords, true),
                                             [](TWindowState& s) { s.serviceMode = s.offerOpen = true; }),
                                                                                       "++-+++++++++-"},
    Row{"ServiceModeSetupPanelOpen",    With(In(At::StoppedEmpty, true),
                                             [](TWindowState& s) { s.serviceMode = s.setupBoxOpen = true; }),
                                                                                       "+--+---------"},
    Row{"ServiceModeWithARecordingShown", With(In(At::StoppedWithRecords, true),
                                             [](TWindowState& s) { s.serviceMode = true; }),
                                                                                       "++-++-------+"}),
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
