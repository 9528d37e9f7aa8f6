// The window as it comes up: sizes per screen class, the controls with their
// names, captions, places, hints and initial visibility, the status bar and
// its clock, and the boxes' show/hide buttons.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>

#include "chart/ImageCanvas.h"
#include "ui/ChartView.h"
#include "ui/RadioGroup.h"
#include "ui/StatusBar.h"
#include "ui/WindowGeometry.h"
#include "window_support.h"

namespace {

struct ScreenCase {
  int screenWidth;
  ScreenClass screen;
  int width, height;
  int statusTop, statusHeight, statusFont;
  std::array<int, 7> panels;
  QRect chart;
};

void PrintTo(const ScreenCase& c, std::ostream* os) { *os << "screen " << c.screenWidth; }

class WindowSizePerScreen : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(WindowSizePerScreen, WindowStatusBarAndChartFollowTheScreenClass) {
  const ScreenCase& c = GetParam();
  PrivateRuntimeDir runtime;
  FakeDialogs dialogs;
  TForm1 form(dialogs, c.screenWidth);
  EXPECT_EQ(form.Screen(), c.screen);
  // The class's window height less the strip it leaves for the title bar
  // and borders: the window ends with its status bar.
  EXPECT_EQ(form.size(), QSize(c.width, c.statusTop + c.statusHeight));
  EXPECT_EQ(WindowGeometryFor(c.screen).Height, c.height);
  auto* bar = form.findChild<TStatusBar*>("StatusBar1");
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->geometry(), QRect(0, c.statusTop, c.width, c.statusHeight));
  EXPECT_EQ(bar->font().pointSize(), c.statusFont);
  EXPECT_EQ(bar->font().family(), "Arial");
  for (int i = 0; i < 7; ++i) EXPECT_EQ(bar->PanelWidth(i), c.panels[static_cast<std::size_t>(i)]) << "panel " << i;
  auto* chart = form.findChild<TChartView*>("Grafik");
  ASSERT_TRUE(chart);
  EXPECT_EQ(chart->geometry(), c.chart);
  EXPECT_TRUE(dialogs.shown.empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    ScreenClasses, WindowSizePerScreen,
    ::testing::Values(
        ScreenCase{1280, ScreenClass::Wide, 1280, 1000, 940, 30, 7, {135, 185, 185, 155, 145, 355, 75},
                   QRect(12, 40, 1260, 920)},
        // The acquisition status gets the room of its longest text.
        ScreenCase{1000, ScreenClass::Narrow, 800, 600, 560, 20, 6, {111, 111, 110, 75, 110, 177, 100},
                   QRect(8, 40, 780, 520)},
        ScreenCase{1100, ScreenClass::Medium, 1024, 768, 708, 30, 7, {100, 150, 150, 120, 110, 320, 40},
                   QRect(12, 40, 1000, 675)},
        // The Wide window does not fit on a screen narrower than itself.
        ScreenCase{1201, ScreenClass::Medium, 1024, 768, 708, 30, 7, {100, 150, 150, 120, 110, 320, 40},
                   QRect(12, 40, 1000, 675)},
        ScreenCase{640, ScreenClass::Narrow, 800, 600, 560, 20, 6, {111, 111, 110, 75, 110, 177, 100},
                   QRect(8, 40, 780, 520)},
        // The chart ends where the status bar begins.
        ScreenCase{1920, ScreenClass::ExtraWide, 1920, 1030, 970, 30, 8, {200, 280, 280, 230, 220, 530, 110},
                   QRect(12, 40, 1900, 930)}));
// clang-format on

TEST(WindowGeometryTable, NarrowKeepsTheDesignedClockPanelWidth) {
  EXPECT_EQ(WindowGeometryFor(ScreenClass::Narrow).PanelWidths[6], 100);
  EXPECT_EQ(WindowGeometryFor(ScreenClass::Medium).StatusTop, 708);
}

class StartedWindow : public WindowTest {};

struct TopRowControl {
  const char* name;
  int x;
  const char* caption;
  bool shownAtStart;
  int fontSize;
};

TEST_F(StartedWindow, TopRowHasEveryControlInPlaceWithItsCaption) {
  const TopRowControl row[] = {
      {"SetupButton", 8, "Setup", true, 11},      {"ReadButton", 72, "Read", false, 11},
      {"SaveButton", 136, "Save", false, 11},     {"LoadButton", 200, "Load", true, 11},
      {"PrintButton", 264, "Print", false, 11},   {"PulsePanel", 328, "Pulse:", false, 11},
      {"RespPanel", 392, "Resp.:", false, 11},    {"StatusButton", 456, "Status", false, 8},
      {"IdentButton", 520, "Identify", false, 8}, {"ElecButton", 584, "Electrodes", false, 8},
      {"CalButton", 648, "Calibrate", false, 8},  {"RegisterButton", 712, "Register", false, 8},
      {"TestButton", 776, "Test", false, 8},
  };
  for (const TopRowControl& c : row) {
    SCOPED_TRACE(c.name);
    QWidget* w = Find(c.name);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->geometry(), QRect(c.x, 0, 57, 25));
    EXPECT_EQ(Caption(c.name), c.caption);
    EXPECT_EQ(w->isVisible(), c.shownAtStart);
    EXPECT_EQ(w->font().pointSize(), c.fontSize);
  }
}

TEST_F(StartedWindow, ButtonsCarryTheirHints) {
  EXPECT_EQ(Find("StatusButton")->toolTip(), "Click here to get information about connected Electrodes");
  EXPECT_EQ(Find("IdentButton")->toolTip(), "Click to get Module Information");
  EXPECT_EQ(Find("ElecButton")->toolTip(), "Click here to search for connected Electrodes");
  EXPECT_EQ(Find("CalButton")->toolTip(), "Click for a 1mV Rectangle Signal");
  EXPECT_EQ(Find("ComSetupBox")->toolTip(), "Choose Serial Port (only available COM-Ports are shown)");
}

TEST_F(StartedWindow, ShowsOnlySetupLoadTheBlankChartAndTheStatusBar) {
  EXPECT_EQ(form->windowTitle(), "12-Kanal EKG  Test-Software V1.3 by Varnok GmbH");
  for (const char* box : {"SetupBox", "StatusBox", "IdentBox", "RegisterBox"}) EXPECT_FALSE(Shown(box)) << box;
  EXPECT_FALSE(Find("SetupBox")->isEnabled());
  EXPECT_TRUE(Shown("Grafik"));
  EXPECT_TRUE(Shown("StatusBar1"));
  const char* texts[] = {"Port: ", "Transmission: ", "Amplification:", "Filter:", "Mode:", "Status: ", "Time:"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Panel(i), texts[i]) << "panel " << i;
  // The chart is light grey all over, with no bands yet.
  ImageCanvas& chart = form->Canvas();
  for (auto [x, y] : {std::pair{0, 0}, {630, 460}, {1259, 919}, {30, 111}}) {
    EXPECT_EQ(chart.PixelAt(x, y), (TColor{240, 240, 240})) << x << "," << y;
  }
  EXPECT_FALSE(form->Port().Connected());
}

TEST_F(StartedWindow, ChartAppearsOnTheWindowOnceRepainted) {
  auto* chart = Find<TChartView>("Grafik");
  ASSERT_TRUE(WaitUntil([&] { return chart->PaintCount() > 0 && !chart->RepaintPending(); }));
  const QImage shot = chart->grab().toImage();
  EXPECT_EQ(shot.pixelColor(100, 100), QColor(240, 240, 240));
}

TEST_F(StartedWindow, ClockWritesTheLocalTimeIntoTheLastPanel) {
  ASSERT_TRUE(WaitUntil([&] { return Panel(6) != "Time:"; }, std::chrono::seconds(10)));
  EXPECT_TRUE(QRegularExpression("\\d{1,2}[:.]\\d{2}[:.]\\d{2}").match(QString::fromStdString(Panel(6))).hasMatch())
      << Panel(6);
  EXPECT_EQ(Find<QLabel>("StatusPanel6")->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

struct PlacedControl {
  const char* name;
  QRect geometry;
};

TEST_F(StartedWindow, BoxesLieOverTheChartWhereDesigned) {
  // clang-format off
  const PlacedControl boxes[] = {
      {"SetupBox", {48, 56, 225, 449}},
      {"StatusBox", {280, 56, 225, 386}},  // taller by the line figures and the calibration
      {"IdentBox", {560, 288, 345, 105}},
      {"RegisterBox", {512, 56, 273, 105}},
  };
  // clang-format on
  for (const PlacedControl& b : boxes) {
    SCOPED_TRACE(b.name);
    auto* box = Find<QGroupBox>(b.name);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->geometry(), b.geometry);
    EXPECT_EQ(box->font().pointSize(), 12);
  }
  EXPECT_EQ(Caption("SetupBox"), "Setup");
  EXPECT_EQ(Caption("StatusBox"), "Status");
  EXPECT_EQ(Caption("IdentBox"), "Module Identification");
  EXPECT_EQ(Caption("RegisterBox"), "Register Edit");
  // Later siblings paint over earlier ones: every box comes after the chart.
  const QObjectList& children = form->children();
  const auto chartAt = children.indexOf(Find("Grafik"));
  for (const PlacedControl& b : boxes) EXPECT_GT(children.indexOf(Find(b.name)), chartAt) << b.name;
}

TEST_F(StartedWindow, SetupPanelHoldsItsControlsWhereDesigned) {
  // clang-format off
  const PlacedControl controls[] = {
      {"TransBox", {8, 56, 97, 89}},       {"FilterBox", {120, 56, 97, 73}},   {"EMGBox", {120, 136, 97, 41}},
      {"ChannelBox", {8, 160, 97, 153}},   {"ModeBox", {120, 184, 97, 57}},    {"AmpBox", {120, 248, 97, 89}},
      {"SimulationBox", {16, 344, 97, 57}}, {"PacerBox", {120, 344, 97, 57}},  {"SetupOKButton", {16, 408, 89, 25}},
      {"SetupCancelButton", {120, 408, 89, 25}},
  };
  // clang-format on
  for (const PlacedControl& c : controls) EXPECT_EQ(Find(c.name)->geometry(), c.geometry) << c.name;
  EXPECT_EQ(Find("ComSetupBox")->geometry().topLeft(), QPoint(8, 24));
  EXPECT_EQ(Find("ComSetupBox")->width(), 129);
  EXPECT_EQ(Find("CheckBox12C")->geometry().topLeft(), QPoint(16, 320));
  EXPECT_EQ(Find("Label12C")->geometry().topLeft(), QPoint(32, 320));
  EXPECT_EQ(Caption("Label12C"), "12-Channel");
  const char* channels[] = {"CH_I", "CH_II", "CH_III", "CH_VR", "CH_VL", "CH_VF", "CH_C1", "CH_RE"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Find(channels[i])->y(), 16 + 16 * i) << channels[i];
  EXPECT_EQ(Find("TransBox")->font().pointSize(), 11);
}

struct RadioCase {
  const char* name;
  const char* caption;
  std::vector<std::string> items;
  int defaultIndex;
};

TEST_F(StartedWindow, RadioGroupsOfferTheirItemsWithTheirDefaults) {
  const RadioCase groups[] = {
      {"TransBox", "Transmission", {"50 / sec", "100 / sec", "150 / sec", "300 / sec"}, 1},
      {"FilterBox", "Filter", {"Off", "50 Hz", "60 Hz"}, 1},
      {"ModeBox", "Mode", {"Diagnostic", "Monitoring"}, 1},
      {"AmpBox", "Amplification", {"Stage 1", "Stage 2", "Stage 3", "Stage 4"}, 1},
      {"PacerBox", "Pacer Det.", {"Off", "On"}, 0},
      {"SimulationBox", "Simulation", {"Off", "On"}, 0},
  };
  for (const RadioCase& g : groups) {
    SCOPED_TRACE(g.name);
    auto* group = Find<TRadioGroup>(g.name);
    ASSERT_TRUE(group);
    EXPECT_EQ(Caption(g.name), g.caption);
    ASSERT_EQ(group->ItemCount(), static_cast<int>(g.items.size()));
    for (int i = 0; i < group->ItemCount(); ++i) EXPECT_EQ(group->Item(i), g.items[static_cast<std::size_t>(i)]);
    EXPECT_EQ(group->ItemIndex(), g.defaultIndex);
  }
}

TEST_F(StartedWindow, CheckBoxesStartWithTheirDefaults) {
  const std::pair<const char*, const char*> channels[] = {{"CH_I", "I"},    {"CH_II", "II"},   {"CH_III", "III"},
                                                          {"CH_VR", "aVR"}, {"CH_VL", "aVL"},  {"CH_VF", "aVF"},
                                                          {"CH_C1", "C1"},  {"CH_RE", "Resp."}};
  for (const auto& [name, caption] : channels) EXPECT_EQ(Caption(name), caption);
  for (const char* on : {"CH_I", "CH_II", "CH_III"}) EXPECT_TRUE(Find<QAbstractButton>(on)->isChecked()) << on;
  for (const char* off : {"CH_VR", "CH_VL", "CH_VF", "CH_C1", "CH_RE", "EMGON", "CheckBox12C"})
    EXPECT_FALSE(Find<QAbstractButton>(off)->isChecked()) << off;
  EXPECT_EQ(Caption("EMGBox"), "EMG Filter");
  EXPECT_EQ(Caption("EMGON"), "ON");
  EXPECT_EQ(Caption("ChannelBox"), "Channels");
  EXPECT_EQ(Find<QComboBox>("ComSetupBox")->currentText(), "Com-Port");
}

TEST_F(StartedWindow, TwelveChannelCheckBoxHidesAndShowsTheChannelsGroup) {
  Click("SetupButton");
  EXPECT_TRUE(Shown("ChannelBox"));
  SetChecked("CH_VR", true);
  Click("CheckBox12C");
  EXPECT_FALSE(Shown("ChannelBox"));
  Click("CheckBox12C");
  EXPECT_TRUE(Shown("ChannelBox"));
  EXPECT_TRUE(Find<QAbstractButton>("CH_VR")->isChecked());
}

TEST_F(StartedWindow, SetupShowsAndCancelHidesThePanelKeepingTheChoices) {
  Click("SetupButton");
  EXPECT_TRUE(Shown("SetupBox"));
  EXPECT_TRUE(Find("SetupBox")->isEnabled());
  ChooseRadio("TransBox", 3);
  Click("SetupCancelButton");
  EXPECT_FALSE(Shown("SetupBox"));
  EXPECT_FALSE(Find("SetupBox")->isEnabled());
  Click("SetupButton");
  EXPECT_EQ(Find<TRadioGroup>("TransBox")->ItemIndex(), 3);
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(StartedWindow, SetupListsTheVirtualPortAndKeepsTheTypedText) {
  auto* combo = Find<QComboBox>("ComSetupBox");
  combo->setEditText("typed");
  Click("SetupButton");
  EXPECT_NE(combo->findText(QString::fromStdString(PortName())), -1);
  EXPECT_EQ(combo->currentText(), "typed");
}

TEST_F(StartedWindow, StatusBoxShowsAndHides) {
  form->StatusButtonClick();
  EXPECT_TRUE(Shown("StatusBox"));
  Click("StatusHideButton");
  EXPECT_FALSE(Shown("StatusBox"));
}

TEST_F(StartedWindow, StatusBoxRowsStartWithTheirDesignCaptions) {
  const std::pair<const char*, const char*> labels[] = {{"RespLabel", "Resp. Wave:"},
                                                        {"RALabel", "RA"},
                                                        {"LALabel", "LA"},
                                                        {"RLLabel", "RL"},
                                                        {"LLLabel", "LL"},
                                                        {"ChestLabel", "Chest"},
                                                        {"Chest2Label", "Chest2"},
                                                        {"Chest6Label", "Chest6"},
                                                        {"IdentLabel", "Identification:"}};
  for (const auto& [name, caption] : labels) EXPECT_EQ(Caption(name), caption) << name;
}

TEST_F(StartedWindow, RegisterBoxShowsAndCloses) {
  form->RegisterButtonClick();
  EXPECT_TRUE(Shown("RegisterBox"));
  EXPECT_EQ(Find<QLineEdit>("Address")->text(), "address (0..25 dec.)");
  Click("RegisterCloseButton");
  EXPECT_FALSE(Shown("RegisterBox"));
}

TEST_F(StartedWindow, ClickingIntoTheAddressFieldEmptiesIt) {
  form->RegisterButtonClick();
  auto* address = Find<QLineEdit>("Address");
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, address->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(address, &press);
  EXPECT_EQ(address->text(), "");
}

TEST_F(StartedWindow, ReadWithoutAPortAsksForOneAndChangesNothing) {
  form->Guarded([&] { form->ReadButtonClick(); });
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "Please define Com-Port first");
  EXPECT_EQ(dialogs.shown[0].caption, "12-Kanal Test-Software");
  EXPECT_EQ(form->Store().Settings().state, AcquisitionState::Idle);
  EXPECT_TRUE(Shown("SetupButton"));
}

TEST_F(StartedWindow, AnErrorEscapingAHandlerIsShownAndTheWindowGoesOn) {
  // Identify on a closed port: the write is refused.
  form->Guarded([&] { form->IdentButtonClick(); });
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "12-Kanal Test-Software");
  EXPECT_NE(dialogs.shown[0].text.find("WriteFile function failed"), std::string::npos) << dialogs.shown[0].text;
  Click("SetupButton");
  EXPECT_TRUE(Shown("SetupBox"));
}

TEST_F(StartedWindow, ClosingTheWindowWithAnOpenPortEndsCleanly) {
  SetUpPort();
  ASSERT_TRUE(form->Port().Connected());
  form.reset();  // closes the port; must return
  SUCCEED();
}

}  // namespace
