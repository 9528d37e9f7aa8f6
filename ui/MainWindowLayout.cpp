#include "ui/MainWindowLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "chart/ImageCanvas.h"
#include "module/SetupChoices.h"
#include "module/SetupCommand.h"
#include "ui/ChartView.h"
#include "ui/ClickEdit.h"
#include "ui/DesignFace.h"
#include "ui/MainWindow.h"
#include "ui/RadioGroup.h"
#include "ui/SessionTexts.h"
#include "ui/StatusBar.h"

namespace {

using enum ControlKind;

constexpr int kTopRowPoints = 11;      // the first five buttons and the two value panels
constexpr int kBaseFontPoints = 8;     // the window's, kept by the other top-row buttons
constexpr int kBoxTitlePoints = 12;    // the boxes' captions
constexpr int kBoxContentPoints = 11;  // what lies in the boxes

constexpr QRect TopRow(int x) { return {x, 0, 57, 25}; }
// The Status box's rows: a caption and the electrode's state beside it.
constexpr QRect StateCaption(int row) { return {16, 42 + 17 * row, 40, 17}; }
constexpr QRect StateLabel(int row) { return {64, 42 + 17 * row, 150, 17}; }
constexpr QRect ChannelCheck(int row) { return {8, 16 + 16 * row, 81, 17}; }
// The register's bits, MSB on the left.
constexpr QRect BitCheck(int column) { return {8 + 20 * column, 72, 18, 18}; }

constexpr ControlPlace kTopRow[] = {
    {Button, "SetupButton", "Setup", nullptr, TopRow(8), kTopRowPoints},
    {Button, "ReadButton", "Read", nullptr, TopRow(72), kTopRowPoints},
    {Button, "SaveButton", "Save", nullptr, TopRow(136), kTopRowPoints},
    {Button, "LoadButton", "Load", nullptr, TopRow(200), kTopRowPoints},
    {Button, "PrintButton", "Print", nullptr, TopRow(264), kTopRowPoints},
    // Shown with Print, where the pulse panel stands while recording (the
    // two are never shown together).
    {Button, "ExportButton", "Export", nullptr, TopRow(328), kTopRowPoints},
    {Panel, "PulsePanel", "Pulse:", nullptr, TopRow(328), kTopRowPoints},
    {Panel, "RespPanel", "Resp.:", nullptr, TopRow(392), kTopRowPoints},
    {Button, "StatusButton", "Status", nullptr, TopRow(456), 0},
    {Button, "IdentButton", "Identify", nullptr, TopRow(520), 0},
    {Button, "ElecButton", "Electrodes", nullptr, TopRow(584), 0},
    {Button, "CalButton", "Calibrate", nullptr, TopRow(648), 0},
    {Button, "RegisterButton", "Register", nullptr, TopRow(712), 0},
    {Button, "TestButton", "Test", nullptr, TopRow(776), 0},
    // While a recording runs, where Save, Load and Print stand when none
    // does (neither is shown with them): the marker, and the tool's heart
    // rate beside the module's Pulse.
    {Button, "MarkerButton", "Marker", nullptr, TopRow(136), kTopRowPoints},
    {Panel, "HeartPanel", "HR:", nullptr, {200, 0, 121, 25}, 0},
};

constexpr ControlPlace kSetupBox[] = {
    {Box, "SetupBox", "Setup", nullptr, {48, 56, 225, 449}, kBoxTitlePoints},
    {PortList, "ComSetupBox", "Com-Port", "SetupBox", {8, 24, 129, 24}, kBoxContentPoints},
    {Choice, "TransBox", TransBoxChoice.Caption, "SetupBox", {8, 56, 97, 89}, kBoxContentPoints},
    {Choice, "FilterBox", FilterBoxChoice.Caption, "SetupBox", {120, 56, 97, 73}, kBoxContentPoints},
    {Choice, "ModeBox", ModeBoxChoice.Caption, "SetupBox", {120, 184, 97, 57}, kBoxContentPoints},
    {Choice, "AmpBox", AmpBoxChoice.Caption, "SetupBox", {120, 248, 97, 89}, kBoxContentPoints},
    {Choice, "SimulationBox", SimulationBoxChoice.Caption, "SetupBox", {16, 344, 97, 57}, kBoxContentPoints},
    {Choice, "PacerBox", PacerBoxChoice.Caption, "SetupBox", {120, 344, 97, 57}, kBoxContentPoints},
    {Box, "EMGBox", EmgBoxCaption, "SetupBox", {120, 136, 97, 41}, kBoxContentPoints},
    {CheckBox, "EMGON", EmgCheckCaption, "EMGBox", {8, 18, 81, 19}, 0},
    {Box, "ChannelBox", ChannelBoxCaption, "SetupBox", {8, 160, 97, 153}, kBoxContentPoints},
    {CheckBox, "CH_I", ChannelBoxItems[0], "ChannelBox", ChannelCheck(0), 0},
    {CheckBox, "CH_II", ChannelBoxItems[1], "ChannelBox", ChannelCheck(1), 0},
    {CheckBox, "CH_III", ChannelBoxItems[2], "ChannelBox", ChannelCheck(2), 0},
    {CheckBox, "CH_VR", ChannelBoxItems[3], "ChannelBox", ChannelCheck(3), 0},
    {CheckBox, "CH_VL", ChannelBoxItems[4], "ChannelBox", ChannelCheck(4), 0},
    {CheckBox, "CH_VF", ChannelBoxItems[5], "ChannelBox", ChannelCheck(5), 0},
    {CheckBox, "CH_C1", ChannelBoxItems[6], "ChannelBox", ChannelCheck(6), 0},
    {CheckBox, "CH_RE", ChannelBoxItems[7], "ChannelBox", ChannelCheck(7), 0},
    {CheckBox, "CheckBox12C", "", "SetupBox", {16, 320, 16, 17}, kBoxContentPoints},
    {Label, "Label12C", TwelveChannelCaption, "SetupBox", {32, 320, 81, 17}, kBoxContentPoints},
    {Button, "SetupOKButton", "OK", "SetupBox", {16, 408, 89, 25}, kBoxContentPoints},
    {Button, "SetupCancelButton", "Cancel", "SetupBox", {120, 408, 89, 25}, kBoxContentPoints},
};

constexpr ControlPlace kInfoBoxes[] = {
    // Taller than designed by the line figures and the calibration below
    // its Hide button.
    {Box, "StatusBox", "Status", nullptr, {280, 56, 225, 386}, kBoxTitlePoints},
    {Label, "RespLabel", "Resp. Wave:", "StatusBox", {8, 22, 209, 17}, kBoxContentPoints},
    {Label, "RALabelCaption", "RA:", "StatusBox", StateCaption(0), kBoxContentPoints},
    {Label, "RALabel", "RA", "StatusBox", StateLabel(0), kBoxContentPoints},
    {Label, "LALabelCaption", "LA:", "StatusBox", StateCaption(1), kBoxContentPoints},
    {Label, "LALabel", "LA", "StatusBox", StateLabel(1), kBoxContentPoints},
    {Label, "RLLabelCaption", "RL:", "StatusBox", StateCaption(2), kBoxContentPoints},
    {Label, "RLLabel", "RL", "StatusBox", StateLabel(2), kBoxContentPoints},
    {Label, "LLLabelCaption", "LL:", "StatusBox", StateCaption(3), kBoxContentPoints},
    {Label, "LLLabel", "LL", "StatusBox", StateLabel(3), kBoxContentPoints},
    {Label, "ChestLabelCaption", "C1:", "StatusBox", StateCaption(4), kBoxContentPoints},
    {Label, "ChestLabel", "Chest", "StatusBox", StateLabel(4), kBoxContentPoints},
    {Label, "Chest2LabelCaption", "C2", "StatusBox", StateCaption(5), kBoxContentPoints},
    {Label, "Chest2Label", "Chest2", "StatusBox", StateLabel(5), kBoxContentPoints},
    {Label, "Chest3LabelCaption", "C3", "StatusBox", StateCaption(6), kBoxContentPoints},
    {Label, "Chest3Label", "Chest3", "StatusBox", StateLabel(6), kBoxContentPoints},
    {Label, "Chest4LabelCaption", "C4", "StatusBox", StateCaption(7), kBoxContentPoints},
    {Label, "Chest4Label", "Chest4", "StatusBox", StateLabel(7), kBoxContentPoints},
    {Label, "Chest5LabelCaption", "C5", "StatusBox", StateCaption(8), kBoxContentPoints},
    {Label, "Chest5Label", "Chest5", "StatusBox", StateLabel(8), kBoxContentPoints},
    {Label, "Chest6LabelCaption", "C6", "StatusBox", StateCaption(9), kBoxContentPoints},
    {Label, "Chest6Label", "Chest6", "StatusBox", StateLabel(9), kBoxContentPoints},
    {Button, "StatusHideButton", "Hide", "StatusBox", {75, 222, 75, 25}, kBoxContentPoints},
    {Label, "LineLabel", "", "StatusBox", {8, 252, 209, 72}, kBoxContentPoints},
    {Label, "CalibrationLabel", "", "StatusBox", {8, 326, 209, 54}, kBoxContentPoints},

    {Box, "IdentBox", "Module Identification", nullptr, {560, 288, 345, 105}, kBoxTitlePoints},
    {Label, "IdentLabel", "Identification:", "IdentBox", {8, 24, 329, 40}, kBoxContentPoints},
    {Button, "IdentHideButton", "OK", "IdentBox", {135, 70, 75, 25}, kBoxContentPoints},

    // Right of the Status box, which the line figures made taller than the
    // design's: both are open together in service mode.
    {Box, "RegisterBox", "Register Edit", nullptr, {512, 56, 273, 105}, kBoxTitlePoints},
    {ClickEdit, "Address", kAddressPrompt, "RegisterBox", {8, 22, 161, 23}, kBoxContentPoints},
    {Label, "ValueLabel", "Value (MSB..LSB)", "RegisterBox", {8, 50, 161, 17}, kBoxContentPoints},
    {CheckBox, "Bit7", "", "RegisterBox", BitCheck(0), kBoxContentPoints},
    {CheckBox, "Bit6", "", "RegisterBox", BitCheck(1), kBoxContentPoints},
    {CheckBox, "Bit5", "", "RegisterBox", BitCheck(2), kBoxContentPoints},
    {CheckBox, "Bit4", "", "RegisterBox", BitCheck(3), kBoxContentPoints},
    {CheckBox, "Bit3", "", "RegisterBox", BitCheck(4), kBoxContentPoints},
    {CheckBox, "Bit2", "", "RegisterBox", BitCheck(5), kBoxContentPoints},
    {CheckBox, "Bit1", "", "RegisterBox", BitCheck(6), kBoxContentPoints},
    {CheckBox, "Bit0", "", "RegisterBox", BitCheck(7), kBoxContentPoints},
    {Button, "RegWriteButton", "Write", "RegisterBox", {184, 22, 81, 25}, kBoxContentPoints},
    {Button, "RegisterCloseButton", "Close", "RegisterBox", {184, 70, 81, 25}, kBoxContentPoints},
};

struct ClassPlace {
  ScreenClass screen;
  const char* name;
  QRect geometry;
};

constexpr ClassPlace kClassPlaces[] = {
    // The designed place, x 560 to 905, runs off the 800-pixel window;
    // right-aligned, and below the Register box that then shares its columns.
    {ScreenClass::Narrow, "IdentBox", {447, 444, 345, 105}},
    // Runs off the 800-pixel window at 776; Register's place is free
    // whenever Test shows (no recording runs).
    {ScreenClass::Narrow, "TestButton", TopRow(712)},
};

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The control named `name` that CreateControl made; its absence is a fault
// of the tables, found at the first start.
template <typename W>
W* Placed(const QWidget& window, const char* name) {
  W* control = window.findChild<W*>(QString::fromLatin1(name));
  if (!control) throw std::logic_error(std::string("the window's tables have no control ") + name);
  return control;
}

void FillFromChoice(TRadioGroup* group, const RadioGroupChoice& choice) {
  std::vector<std::string> items;
  for (std::string_view item : choice.Items) items.emplace_back(item);
  group->SetItems(items);
  group->SetItemIndex(choice.Default);
}

}  // namespace

std::span<const ControlPlace> TopRowPlaces() { return kTopRow; }
std::span<const ControlPlace> SetupBoxPlaces() { return kSetupBox; }
std::span<const ControlPlace> InfoBoxPlaces() { return kInfoBoxes; }

QRect PlaceIn(ScreenClass screen, const ControlPlace& place) {
  for (const ClassPlace& own : kClassPlaces) {
    if (own.screen == screen && std::string_view(own.name) == place.name) return own.geometry;
  }
  return place.geometry;
}

QWidget* CreateControl(QWidget& window, ScreenClass screen, const ControlPlace& place) {
  QWidget* parent = place.parent ? window.findChild<QWidget*>(QString::fromLatin1(place.parent)) : &window;
  if (!parent) throw std::logic_error(std::string("no box ") + place.parent + " for " + place.name);
  const QString caption = Text(place.caption);
  QWidget* control = nullptr;
  switch (place.kind) {
    case Button: {
      auto* button = new QPushButton(caption, parent);
      button->setFocusPolicy(Qt::TabFocus);
      control = button;
      break;
    }
    case Label: control = new QLabel(caption, parent); break;
    case Panel: {
      auto* panel = new QLabel(caption, parent);
      panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
      panel->setAlignment(Qt::AlignCenter);
      control = panel;
      break;
    }
    case CheckBox: control = new QCheckBox(caption, parent); break;
    case Box: control = new QGroupBox(caption, parent); break;
    case PortList: {
      auto* list = new QComboBox(parent);
      list->setEditable(true);
      list->setInsertPolicy(QComboBox::NoInsert);
      list->setEditText(caption);
      control = list;
      break;
    }
    case Choice: control = new TRadioGroup(caption, parent); break;
    case ClickEdit: control = new TClickEdit(caption, parent); break;
  }
  if (!control) throw std::logic_error(std::string("no kind of control for ") + place.name);
  control->setObjectName(QString::fromLatin1(place.name));
  control->setGeometry(PlaceIn(screen, place));
  if (place.points > 0) control->setFont(DesignFont(place.points));
  return control;
}

QSize PrimaryScreenSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry().size() : QSize(1280, 1024);
}

// ---------------------------------------------------------------------------
// TForm1's controls, built from the tables above.

void TForm1::CreateControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kWindowCaption));
  setFont(DesignFont(kBaseFontPoints));

  for (const ControlPlace& place : TopRowPlaces()) CreateControl(*this, Screen(), place);
  SetupButton = Placed<QPushButton>(*this, "SetupButton");
  ReadButton = Placed<QPushButton>(*this, "ReadButton");
  SaveButton = Placed<QPushButton>(*this, "SaveButton");
  LoadButton = Placed<QPushButton>(*this, "LoadButton");
  PrintButton = Placed<QPushButton>(*this, "PrintButton");
  ExportButton = Placed<QPushButton>(*this, "ExportButton");
  PulsePanel = Placed<QLabel>(*this, "PulsePanel");
  RespPanel = Placed<QLabel>(*this, "RespPanel");
  StatusButton = Placed<QPushButton>(*this, "StatusButton");
  IdentButton = Placed<QPushButton>(*this, "IdentButton");
  ElecButton = Placed<QPushButton>(*this, "ElecButton");
  CalButton = Placed<QPushButton>(*this, "CalButton");
  RegisterButton = Placed<QPushButton>(*this, "RegisterButton");
  TestButton = Placed<QPushButton>(*this, "TestButton");
  MarkerButton = Placed<QPushButton>(*this, "MarkerButton");
  HeartPanel = Placed<QLabel>(*this, "HeartPanel");
  MarkerButton->setToolTip(QStringLiteral("Mark the newest record (key M)"));
  HeartPanel->setToolTip(QStringLiteral("Heart rate counted by this program (the module's Pulse in brackets)"));
  ExportButton->setToolTip(QStringLiteral("Export the recording as EDF+ or CSV"));
  StatusButton->setToolTip(QStringLiteral("Click here to get information about connected Electrodes"));
  IdentButton->setToolTip(QStringLiteral("Click to get Module Information"));
  ElecButton->setToolTip(QStringLiteral("Click here to search for connected Electrodes"));
  CalButton->setToolTip(QStringLiteral("Click for a 1mV Rectangle Signal"));
  TestButton->setToolTip(QStringLiteral("Run the acceptance test on the module (the port is closed after it)"));
  for (QLabel* panel : {PulsePanel, RespPanel})
    panel->setFont(FittingFont(panel->font(), QStringLiteral("Resp.: 255"), panel->width() - 4));
  PulsePanel->setStyleSheet(QStringLiteral("color: #008000"));
  RespPanel->setStyleSheet(QStringLiteral("color: #0000FF"));
  for (QWidget* hidden :
       std::initializer_list<QWidget*>{ReadButton, SaveButton, LoadButton, PrintButton, ExportButton, PulsePanel,
                                       RespPanel, StatusButton, IdentButton, ElecButton, CalButton, RegisterButton}) {
    hidden->hide();
  }
  TestButton->hide();
  MarkerButton->hide();
  HeartPanel->hide();

  Grafik = new TChartView(canvas_->Image(), this);
  Grafik->setObjectName(QStringLiteral("Grafik"));

  StatusBar1 = new TStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->SetBorderWidth(3);
  const char* panelTexts[] = {"Port: ", "Transmission: ", "Amplification:", "Filter:", "Mode:", "Status: ", "Time:"};
  for (int i = 0; i < TStatusBar::kPanelCount; ++i) StatusBar1->SetPanelText(i, panelTexts[i]);
  StatusBar1->SetPanelAlignment(spTime, Qt::AlignCenter);

  CreateSetupBox();
  CreateInfoBoxes();

  // Every caption whole in the face at hand; the status bar's panels take
  // their font from the bar later and are left to it.
  const std::pair<QWidget*, QString> laterTexts[] = {
      {ReadButton, QStringLiteral("Stop")},
      {RespLabel, Text(kRespNotTransmittedText)},
      {ChestLabel, Text(kNotConnectedText)},
  };
  for (QWidget* control : findChildren<QWidget*>()) {
    if (StatusBar1->isAncestorOf(control)) continue;
    QString widest;
    if (auto* button = qobject_cast<QAbstractButton*>(control)) widest = button->text();
    if (auto* label = qobject_cast<QLabel*>(control); label && !label->wordWrap()) widest = label->text();
    if (auto* box = qobject_cast<QGroupBox*>(control)) widest = box->title();
    for (const auto& [later, text] : laterTexts) {
      if (later == control && QFontMetrics(control->font()).horizontalAdvance(text) >
                                  QFontMetrics(control->font()).horizontalAdvance(widest))
        widest = text;
    }
    FitCaption(control, widest);
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
}

void TForm1::CreateSetupBox() {
  const std::pair<std::string_view, const RadioGroupChoice*> choices[] = {
      {"TransBox", &TransBoxChoice}, {"FilterBox", &FilterBoxChoice},         {"ModeBox", &ModeBoxChoice},
      {"AmpBox", &AmpBoxChoice},     {"SimulationBox", &SimulationBoxChoice}, {"PacerBox", &PacerBoxChoice},
  };
  for (const ControlPlace& place : SetupBoxPlaces()) {
    QWidget* control = CreateControl(*this, Screen(), place);
    // The items right away: the Tab key visits them with their group.
    for (const auto& [name, choice] : choices) {
      if (name == place.name) FillFromChoice(static_cast<TRadioGroup*>(control), *choice);
    }
  }
  SetupBox = Placed<QGroupBox>(*this, "SetupBox");
  ComSetupBox = Placed<QComboBox>(*this, "ComSetupBox");
  TransBox = Placed<TRadioGroup>(*this, "TransBox");
  FilterBox = Placed<TRadioGroup>(*this, "FilterBox");
  ModeBox = Placed<TRadioGroup>(*this, "ModeBox");
  AmpBox = Placed<TRadioGroup>(*this, "AmpBox");
  SimulationBox = Placed<TRadioGroup>(*this, "SimulationBox");
  PacerBox = Placed<TRadioGroup>(*this, "PacerBox");
  EMGBox = Placed<QGroupBox>(*this, "EMGBox");
  EMGON = Placed<QCheckBox>(*this, "EMGON");
  ChannelBox = Placed<QGroupBox>(*this, "ChannelBox");
  static const char* const channelNames[] = {"CH_I", "CH_II", "CH_III", "CH_VR", "CH_VL", "CH_VF", "CH_C1", "CH_RE"};
  for (std::size_t i = 0; i < channelBoxes_.size(); ++i) channelBoxes_[i] = Placed<QCheckBox>(*this, channelNames[i]);
  CheckBox12C = Placed<QCheckBox>(*this, "CheckBox12C");
  Label12C = Placed<QLabel>(*this, "Label12C");
  SetupOKButton = Placed<QPushButton>(*this, "SetupOKButton");
  SetupCancelButton = Placed<QPushButton>(*this, "SetupCancelButton");

  ComSetupBox->setToolTip(QStringLiteral("Choose Serial Port (only available COM-Ports are shown)"));
  EMGON->setChecked(EmgDefault);
  for (std::size_t i = 0; i < channelBoxes_.size(); ++i) channelBoxes_[i]->setChecked(ChannelBoxDefaults[i]);
  CheckBox12C->setChecked(TwelveChannelDefault);
  Label12C->resize(std::max(Label12C->width(), Label12C->sizeHint().width()), Label12C->height());
  SetupBox->setEnabled(false);
  SetupBox->hide();
}

void TForm1::CreateInfoBoxes() {
  for (const ControlPlace& place : InfoBoxPlaces()) CreateControl(*this, Screen(), place);
  StatusBox = Placed<QGroupBox>(*this, "StatusBox");
  RespLabel = Placed<QLabel>(*this, "RespLabel");
  RALabel = Placed<QLabel>(*this, "RALabel");
  LALabel = Placed<QLabel>(*this, "LALabel");
  RLLabel = Placed<QLabel>(*this, "RLLabel");
  LLLabel = Placed<QLabel>(*this, "LLLabel");
  ChestLabel = Placed<QLabel>(*this, "ChestLabel");
  static const char* const chestNames[] = {"Chest2Label", "Chest3Label", "Chest4Label", "Chest5Label", "Chest6Label"};
  for (std::size_t i = 0; i < chestLabels_.size(); ++i) chestLabels_[i] = Placed<QLabel>(*this, chestNames[i]);
  StatusHideButton = Placed<QPushButton>(*this, "StatusHideButton");
  LineLabel = Placed<QLabel>(*this, "LineLabel");
  LineLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  CalibrationLabel = Placed<QLabel>(*this, "CalibrationLabel");
  CalibrationLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  CalibrationLabel->setWordWrap(true);
  CalibrationLabel->setText(Text(kUncalibratedText));

  IdentBox = Placed<QGroupBox>(*this, "IdentBox");
  IdentLabel = Placed<QLabel>(*this, "IdentLabel");
  IdentLabel->setWordWrap(true);
  IdentLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  IdentLabel->setTextFormat(Qt::PlainText);
  IdentHideButton = Placed<QPushButton>(*this, "IdentHideButton");

  RegisterBox = Placed<QGroupBox>(*this, "RegisterBox");
  Address = Placed<TClickEdit>(*this, "Address");
  static const char* const bitNames[] = {"Bit7", "Bit6", "Bit5", "Bit4", "Bit3", "Bit2", "Bit1", "Bit0"};
  for (std::size_t i = 0; i < bitBoxes_.size(); ++i) bitBoxes_[i] = Placed<QCheckBox>(*this, bitNames[i]);
  RegWriteButton = Placed<QPushButton>(*this, "RegWriteButton");
  RegisterCloseButton = Placed<QPushButton>(*this, "RegisterCloseButton");

  // The boxes lie over the chart image as panels of their own: opaque in the
  // window's face colour, so no grid line or trace runs through their texts.
  // The image behind is left as it is and shows again when a box hides.
  for (QWidget* box : std::initializer_list<QWidget*>{SetupBox, StatusBox, IdentBox, RegisterBox}) {
    box->setBackgroundRole(QPalette::Window);
    box->setAutoFillBackground(true);
    box->raise();
    box->hide();
  }
}
