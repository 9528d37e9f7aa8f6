#include "ui/MainWindow.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTime>
#include <QTimer>

#include "chart/ChartFrame.h"
#include "ui/ChartView.h"
#include "ui/ClickEdit.h"
#include "ui/DamageCanvas.h"
#include "module/FrameHandlers.h"
#include "chart/ImageCanvas.h"
#include "serial/PortEnumeration.h"
#include "ui/QtDialogs.h"
#include "ui/QtMainThreadDispatcher.h"
#include "ui/RadioGroup.h"
#include "ui/ReviewBar.h"
#include "recording/RecordingActions.h"
#include "module/SetupChoices.h"
#include "module/SetupCommand.h"
#include "ui/StatusBar.h"
#include "module/StatusFrames.h"
#include "ui/WindowGeometry.h"

namespace {

constexpr const char* kComPortPlaceholder = "Com-Port";
constexpr const char* kPortNotAvailable = "Com-Port not available !!!";
constexpr const char* kPortNotDefined = "Com-Port not defined !!!";
constexpr const char* kDefineComPortFirst = "Please define Com-Port first";

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QFont Font(const char* family, int points) {
  QFont font(QString::fromLatin1(family));
  font.setPointSize(points);
  return font;
}

// The designed face is missing on most desktops; a face of Arial's widths
// stands in for it (a wider one would cut the radio items' texts), else the
// toolkit's sans-serif face.
QFont DesignFont(int points) {
  static const bool substituted = [] {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    return true;
  }();
  (void)substituted;
  QFont font = Font("MS Sans Serif", points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

// `font` narrowed where needed so that `widest` fits into `width` pixels at
// the designed size (a stand-in face may be wider than the designed one).
QFont FittingFont(QFont font, const QString& widest, int width) {
  const int needed = QFontMetrics(font).horizontalAdvance(widest);
  if (needed > width) font.setStretch(std::max(50, 100 * width / needed));
  return font;
}

int PrimaryScreenWidth() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().width() : 1280;
}

template <typename W>
W* Make(QWidget* parent, const char* name, QRect geometry) {
  auto* widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(geometry);
  return widget;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* button = Make<QPushButton>(parent, name, geometry);
  button->setText(QString::fromLatin1(caption));
  button->setFocusPolicy(Qt::TabFocus);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* label = Make<QLabel>(parent, name, geometry);
  label->setText(QString::fromLatin1(caption));
  return label;
}

TRadioGroup* MakeRadioGroup(QWidget* parent, const char* name, const RadioGroupChoice& choice, QRect geometry) {
  auto* group = new TRadioGroup(Q(choice.Caption), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(geometry);
  std::vector<std::string> items;
  for (std::string_view item : choice.Items) items.emplace_back(item);
  group->SetItems(items);
  group->SetItemIndex(choice.Default);
  return group;
}

}  // namespace

// ---------------------------------------------------------------------------
// The window as the frame handlers and the recording functions see it.

class TForm1::AcquisitionView : public TAcquisitionView {
 public:
  explicit AcquisitionView(TForm1& form) : form_(form) {}

  bool TwelveChannelMode() const override { return form_.CheckBox12C->isChecked(); }
  std::array<bool, kChannelBoxCount> ChannelSelection() const override { return form_.ChannelSelection(); }
  // Panel 5 changes with every sample: shown at the chart's pace.
  void SetStatusPanel(int index, std::string_view text) override { form_.StatusBar1->SetPanelTextSoon(index, text); }
  void SetText(ViewText which, std::string_view text) override {
    QLabel* label = Label(which);
    // The identification text is the module's single-byte text.
    label->setText(which == ViewText::IdentLabel ? QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()))
                                                 : Q(text));
  }
  void ShowIdentBox() override { form_.IdentBox->show(); }
  void StopRecording() override { form_.StopRecording(); }
  void ReportError(const std::string& text) override { form_.ReportError(text); }

 private:
  QLabel* Label(ViewText which) const {
    switch (which) {
      case ViewText::RespLabel: return form_.RespLabel;
      case ViewText::ChestLabel: return form_.ChestLabel;
      case ViewText::RALabel: return form_.RALabel;
      case ViewText::LALabel: return form_.LALabel;
      case ViewText::RLLabel: return form_.RLLabel;
      case ViewText::LLLabel: return form_.LLLabel;
      case ViewText::Chest2Label: return form_.chestLabels_[0];
      case ViewText::Chest3Label: return form_.chestLabels_[1];
      case ViewText::Chest4Label: return form_.chestLabels_[2];
      case ViewText::Chest5Label: return form_.chestLabels_[3];
      case ViewText::Chest6Label: return form_.chestLabels_[4];
      case ViewText::IdentLabel: return form_.IdentLabel;
      case ViewText::PulsePanel: return form_.PulsePanel;
      case ViewText::RespPanel: return form_.RespPanel;
    }
    return form_.IdentLabel;
  }

  TForm1& form_;
};

class TForm1::RecordingView : public TRecordingView {
 public:
  explicit RecordingView(TForm1& form) : form_(form) {}
  void SetSaveButtonVisible(bool visible) override { form_.SaveButton->setVisible(visible); }
  void SetPrintButtonVisible(bool visible) override { form_.PrintButton->setVisible(visible); }
  // The loader counts every record in panel 5.
  void SetStatusPanel(int index, const std::string& text) override { form_.StatusBar1->SetPanelTextSoon(index, text); }

 private:
  TForm1& form_;
};

// ---------------------------------------------------------------------------

TForm1::TForm1(TDialogs& dialogs, std::optional<int> screenWidth, QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs),
      screenWidth_(screenWidth.value_or(PrimaryScreenWidth())),
      dispatcher_(std::make_unique<QtMainThreadDispatcher>()),
      ComPort1(dispatcher_.get()) {
  // The chart's geometry decides the image's size, which the frame handlers
  // draw on from the start; FormCreate applies the rest of the layout.
  SelectScreenLayout(layout_, screenWidth_);
  canvas_ = std::make_unique<ImageCanvas>(layout_.ChartWidth, layout_.ChartHeight);
  liveCanvas_ = std::make_unique<TDamageCanvas>(*canvas_, [this](const TRect& touched) {
    Grafik->Invalidate(QRect(touched.Left, touched.Top, touched.Right - touched.Left, touched.Bottom - touched.Top));
  });
  acquisitionView_ = std::make_unique<AcquisitionView>(*this);
  recordingView_ = std::make_unique<RecordingView>(*this);
  handlers_ = std::make_unique<TFrameHandlers>(store_, layout_, *liveCanvas_, *acquisitionView_, formatTime_);
  dispatcher_->SetErrorHandler([this](const std::string& text) { ReportError(text); });

  // The module's line: 115200 baud, 8E1, no flow control; DTR and RTS are
  // left to the set-up, which raises both itself. A large input queue lets
  // bytes wait while the main thread is busy (a dialog, a save).
  ComPort1.SetBaudRate(br115200);
  ComPort1.Parity().SetBits(prEven);
  ComPort1.SetStopBits(sbOneStopBit);
  ComPort1.SetDataBits(dbEight);
  ComPort1.FlowControl().SetFlowControl(fcNone);
  ComPort1.FlowControl().SetControlDTR(dtrDisable);
  ComPort1.FlowControl().SetControlRTS(rtsDisable);
  ComPort1.Buffer().SetInputSize(120000);

  // The framers as the window description creates them: sizes, handlers,
  // IncludeStrings; bound to the port in the order of their declarations.
  framers_ = std::make_unique<TModuleFramers>(*handlers_);
  // An exception leaving a packet handler would end the port's event thread
  // without a word to the user; whatever escapes is shown instead and
  // reception goes on.
  for (TComDataPacket* framer : framers_->InBindingOrder()) {
    framer->OnPacket = [this, inner = std::move(framer->OnPacket)](TComDataPacket& sender, const std::string& packet) {
      try {
        inner(sender, packet);
      } catch (const std::exception& error) {
        ReportError(error.what());
      } catch (...) {
        ReportError("Unknown error");
      }
    };
  }
  framers_->Bind(ComPort1);

  CreateControls();
  ReviewBar = new TReviewBar(*this, layout_.Screen, store_, *canvas_, *Grafik, formatTime_,
                             [this](const std::string& text) { ReportError(text); });
  ConnectHandlers();
  Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  // Closing serves the hand-overs still waiting, which may call into the
  // handlers: do it while everything they touch still exists.
  try {
    ComPort1.Close();
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// The window description: controls, captions, positions, fonts, hints.

void TForm1::CreateControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kWindowCaption));
  setFont(DesignFont(8));

  const QFont topFont = DesignFont(11);
  auto topButton = [&](const char* name, const char* caption, int x, bool bigFont) {
    QPushButton* button = MakeButton(this, name, caption, QRect(x, 0, 57, 25));
    if (bigFont) button->setFont(topFont);
    return button;
  };
  SetupButton = topButton("SetupButton", "Setup", 8, true);
  ReadButton = topButton("ReadButton", "Read", 72, true);
  SaveButton = topButton("SaveButton", "Save", 136, true);
  LoadButton = topButton("LoadButton", "Load", 200, true);
  PrintButton = topButton("PrintButton", "Print", 264, true);
  PulsePanel = MakeLabel(this, "PulsePanel", "Pulse:", QRect(328, 0, 57, 25));
  RespPanel = MakeLabel(this, "RespPanel", "Resp.:", QRect(392, 0, 57, 25));
  for (QLabel* panel : {PulsePanel, RespPanel}) {
    panel->setFont(FittingFont(topFont, QStringLiteral("Resp.: 255"), panel->width() - 4));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setAlignment(Qt::AlignCenter);
  }
  PulsePanel->setStyleSheet(QStringLiteral("color: #008000"));
  RespPanel->setStyleSheet(QStringLiteral("color: #0000FF"));
  StatusButton = topButton("StatusButton", "Status", 456, false);
  IdentButton = topButton("IdentButton", "Identify", 520, false);
  ElecButton = topButton("ElecButton", "Electrodes", 584, false);
  CalButton = topButton("CalButton", "Calibrate", 648, false);
  RegisterButton = topButton("RegisterButton", "Register", 712, false);
  StatusButton->setToolTip(QStringLiteral("Click here to get information about connected Electrodes"));
  IdentButton->setToolTip(QStringLiteral("Click to get Module Information"));
  ElecButton->setToolTip(QStringLiteral("Click here to search for connected Electrodes"));
  CalButton->setToolTip(QStringLiteral("Click for a 1mV Rectangle Signal"));
  for (QWidget* hidden : std::initializer_list<QWidget*>{ReadButton, SaveButton, LoadButton, PrintButton, PulsePanel,
                                                         RespPanel, StatusButton, IdentButton, ElecButton, CalButton,
                                                         RegisterButton}) {
    hidden->hide();
  }

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

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
}

void TForm1::CreateSetupBox() {
  const QFont captionFont = DesignFont(12);
  const QFont contentFont = DesignFont(11);

  SetupBox = Make<QGroupBox>(this, "SetupBox", QRect(48, 56, 225, 449));
  SetupBox->setTitle(QStringLiteral("Setup"));
  SetupBox->setFont(captionFont);

  ComSetupBox = Make<QComboBox>(SetupBox, "ComSetupBox", QRect(8, 24, 129, 24));
  ComSetupBox->setEditable(true);
  ComSetupBox->setInsertPolicy(QComboBox::NoInsert);
  ComSetupBox->setEditText(QString::fromLatin1(kComPortPlaceholder));
  ComSetupBox->setToolTip(QStringLiteral("Choose Serial Port (only available COM-Ports are shown)"));

  TransBox = MakeRadioGroup(SetupBox, "TransBox", TransBoxChoice, QRect(8, 56, 97, 89));
  FilterBox = MakeRadioGroup(SetupBox, "FilterBox", FilterBoxChoice, QRect(120, 56, 97, 73));
  ModeBox = MakeRadioGroup(SetupBox, "ModeBox", ModeBoxChoice, QRect(120, 184, 97, 57));
  AmpBox = MakeRadioGroup(SetupBox, "AmpBox", AmpBoxChoice, QRect(120, 248, 97, 89));
  SimulationBox = MakeRadioGroup(SetupBox, "SimulationBox", SimulationBoxChoice, QRect(16, 344, 97, 57));
  PacerBox = MakeRadioGroup(SetupBox, "PacerBox", PacerBoxChoice, QRect(120, 344, 97, 57));

  EMGBox = Make<QGroupBox>(SetupBox, "EMGBox", QRect(120, 136, 97, 41));
  EMGBox->setTitle(Q(EmgBoxCaption));
  EMGON = Make<QCheckBox>(EMGBox, "EMGON", QRect(8, 18, 81, 19));
  EMGON->setText(Q(EmgCheckCaption));
  EMGON->setChecked(EmgDefault);

  ChannelBox = Make<QGroupBox>(SetupBox, "ChannelBox", QRect(8, 160, 97, 153));
  ChannelBox->setTitle(Q(ChannelBoxCaption));
  static const char* const channelNames[] = {"CH_I", "CH_II", "CH_III", "CH_VR", "CH_VL", "CH_VF", "CH_C1", "CH_RE"};
  for (std::size_t i = 0; i < channelBoxes_.size(); ++i) {
    QCheckBox* box = Make<QCheckBox>(ChannelBox, channelNames[i], QRect(8, 16 + 16 * static_cast<int>(i), 81, 17));
    box->setText(Q(ChannelBoxItems[i]));
    box->setChecked(ChannelBoxDefaults[i]);
    channelBoxes_[i] = box;
  }

  CheckBox12C = Make<QCheckBox>(SetupBox, "CheckBox12C", QRect(16, 320, 16, 17));
  CheckBox12C->setChecked(TwelveChannelDefault);
  Label12C = MakeLabel(SetupBox, "Label12C", "", QRect(32, 320, 81, 17));
  Label12C->setText(Q(TwelveChannelCaption));

  SetupOKButton = MakeButton(SetupBox, "SetupOKButton", "OK", QRect(16, 408, 89, 25));
  SetupCancelButton = MakeButton(SetupBox, "SetupCancelButton", "Cancel", QRect(120, 408, 89, 25));

  for (QWidget* child : SetupBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setFont(contentFont);
  Label12C->resize(std::max(Label12C->width(), Label12C->sizeHint().width()), Label12C->height());
  SetupBox->setEnabled(false);
  SetupBox->hide();
}

void TForm1::CreateInfoBoxes() {
  const QFont captionFont = DesignFont(12);
  const QFont contentFont = DesignFont(11);

  StatusBox = Make<QGroupBox>(this, "StatusBox", QRect(280, 56, 225, 257));
  StatusBox->setTitle(QStringLiteral("Status"));
  StatusBox->setFont(captionFont);
  RespLabel = MakeLabel(StatusBox, "RespLabel", "Resp. Wave:", QRect(8, 22, 209, 17));
  struct Row {
    const char* rowName;
    const char* rowCaption;
    const char* labelName;
    const char* labelCaption;
  };
  static const Row rows[] = {
      {"RALabelCaption", "RA:", "RALabel", "RA"},         {"LALabelCaption", "LA:", "LALabel", "LA"},
      {"RLLabelCaption", "RL:", "RLLabel", "RL"},         {"LLLabelCaption", "LL:", "LLLabel", "LL"},
      {"ChestLabelCaption", "C1:", "ChestLabel", "Chest"}, {"Chest2LabelCaption", "C2", "Chest2Label", "Chest2"},
      {"Chest3LabelCaption", "C3", "Chest3Label", "Chest3"}, {"Chest4LabelCaption", "C4", "Chest4Label", "Chest4"},
      {"Chest5LabelCaption", "C5", "Chest5Label", "Chest5"}, {"Chest6LabelCaption", "C6", "Chest6Label", "Chest6"},
  };
  std::array<QLabel*, std::size(rows)> stateLabels{};
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const int y = 42 + 17 * static_cast<int>(i);
    MakeLabel(StatusBox, rows[i].rowName, rows[i].rowCaption, QRect(16, y, 40, 17));
    stateLabels[i] = MakeLabel(StatusBox, rows[i].labelName, rows[i].labelCaption, QRect(64, y, 150, 17));
  }
  RALabel = stateLabels[0];
  LALabel = stateLabels[1];
  RLLabel = stateLabels[2];
  LLLabel = stateLabels[3];
  ChestLabel = stateLabels[4];
  for (std::size_t i = 0; i < chestLabels_.size(); ++i) chestLabels_[i] = stateLabels[5 + i];
  StatusHideButton = MakeButton(StatusBox, "StatusHideButton", "Hide", QRect(75, 222, 75, 25));
  for (QWidget* child : StatusBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setFont(contentFont);
  StatusBox->hide();

  IdentBox = Make<QGroupBox>(this, "IdentBox", QRect(560, 288, 345, 105));
  IdentBox->setTitle(QStringLiteral("Module Identification"));
  IdentBox->setFont(captionFont);
  IdentLabel = MakeLabel(IdentBox, "IdentLabel", "Identification:", QRect(8, 24, 329, 40));
  IdentLabel->setWordWrap(true);
  IdentLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  IdentLabel->setTextFormat(Qt::PlainText);
  IdentHideButton = MakeButton(IdentBox, "IdentHideButton", "OK", QRect(135, 70, 75, 25));
  for (QWidget* child : IdentBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setFont(contentFont);
  IdentBox->hide();

  RegisterBox = Make<QGroupBox>(this, "RegisterBox", QRect(280, 320, 273, 105));
  RegisterBox->setTitle(QStringLiteral("Register Edit"));
  RegisterBox->setFont(captionFont);
  Address = new TClickEdit(RegisterBox);
  Address->setObjectName(QStringLiteral("Address"));
  Address->setGeometry(8, 22, 161, 23);
  Address->setText(Q(kAddressPrompt));
  MakeLabel(RegisterBox, "ValueLabel", "Value (MSB..LSB)", QRect(8, 50, 161, 17));
  static const char* const bitNames[] = {"Bit7", "Bit6", "Bit5", "Bit4", "Bit3", "Bit2", "Bit1", "Bit0"};
  for (std::size_t i = 0; i < bitBoxes_.size(); ++i) {
    bitBoxes_[i] = Make<QCheckBox>(RegisterBox, bitNames[i], QRect(8 + 20 * static_cast<int>(i), 72, 18, 18));
  }
  RegWriteButton = MakeButton(RegisterBox, "RegWriteButton", "Write", QRect(184, 22, 81, 25));
  RegisterCloseButton = MakeButton(RegisterBox, "RegisterCloseButton", "Close", QRect(184, 70, 81, 25));
  for (QWidget* child : RegisterBox->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setFont(contentFont);
  RegisterBox->hide();

  // The boxes lie over the chart image.
  for (QWidget* box : std::initializer_list<QWidget*>{SetupBox, StatusBox, IdentBox, RegisterBox}) box->raise();
}

// Every control event in one place.
void TForm1::ConnectHandlers() {
  auto bind = [this](QAbstractButton* button, void (TForm1::*handler)()) {
    connect(button, &QAbstractButton::clicked, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  bind(SetupButton, &TForm1::SetupButtonClick);
  bind(ReadButton, &TForm1::ReadButtonClick);
  bind(SaveButton, &TForm1::SaveButtonClick);
  bind(LoadButton, &TForm1::LoadButtonClick);
  bind(PrintButton, &TForm1::PrintButtonClick);
  bind(StatusButton, &TForm1::StatusButtonClick);
  bind(IdentButton, &TForm1::IdentButtonClick);
  bind(ElecButton, &TForm1::ElecButtonClick);
  bind(CalButton, &TForm1::CalButtonClick);
  bind(RegisterButton, &TForm1::RegisterButtonClick);
  bind(SetupOKButton, &TForm1::SetupOKButtonClick);
  bind(SetupCancelButton, &TForm1::SetupCancelButtonClick);
  bind(CheckBox12C, &TForm1::CheckBox12CClick);
  bind(StatusHideButton, &TForm1::StatusHideButtonClick);
  bind(IdentHideButton, &TForm1::IdentHideButtonClick);
  bind(RegWriteButton, &TForm1::RegWriteButtonClick);
  bind(RegisterCloseButton, &TForm1::RegisterCloseButtonClick);
  for (TRadioGroup* group : {ModeBox, PacerBox, SimulationBox}) {
    connect(group, &TRadioGroup::Click, this, [this] { Guarded([this] { ModeBoxClick(); }); });
  }
  connect(Address, &TClickEdit::Click, this, [this] { Guarded([this] { AddressChange(); }); });
  connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
  // Handled after the delivery that reported it, with the opening it
  // belongs to.
  ComPort1.OnLineLost = [this](TCustomComPort&) {
    QTimer::singleShot(0, this, [this, lostOpen = openNumber_] { Guarded([this, lostOpen] { OnPortLost(lostOpen); }); });
  };
}

// ---------------------------------------------------------------------------
// Start-up, set-up panel, clock.

void TForm1::FormCreate() {
  // Steps 1 and 2: the chart's fixed layout (chosen in the constructor) and
  // the window around it.
  Grafik->setGeometry(layout_.ChartLeft, layout_.ChartTop, layout_.ChartWidth, layout_.ChartHeight);
  const WindowGeometry g = WindowGeometryFor(layout_.Screen);
  setFixedSize(g.Width, g.Height);
  StatusBar1->setFont(Font("Arial", g.StatusFontSize));
  StatusBar1->setGeometry(0, g.StatusTop, g.StatusWidth, g.StatusHeight);
  for (int i = 0; i < TStatusBar::kPanelCount; ++i) StatusBar1->SetPanelWidth(i, g.PanelWidths[static_cast<std::size_t>(i)]);

  // Step 3: the blank chart.
  PrepareChart(layout_, *canvas_);
  canvas_->TakeDirtyRect();
  Grafik->InvalidateAll();

  // Step 4, one start byte per framer and the identification framer's stop
  // byte, was done as TModuleFramers was built, just before this.

  Timer1->start();
}

void TForm1::SetupButtonClick() {
  EndReview();
  std::vector<std::string> ports;
  ListSerialPorts(ports);
  const QString typed = ComSetupBox->currentText();
  ComSetupBox->clear();
  for (const std::string& port : ports) ComSetupBox->addItem(QString::fromLocal8Bit(port));
  ComSetupBox->setEditText(typed);
  // Port names can be long paths: the open list shows them whole.
  int widest = 0;
  for (int i = 0; i < ComSetupBox->count(); ++i)
    widest = std::max(widest, ComSetupBox->fontMetrics().horizontalAdvance(ComSetupBox->itemText(i)));
  ComSetupBox->view()->setMinimumWidth(widest + 24);
  SetupBox->setEnabled(true);
  SetupBox->show();
}

void TForm1::SetupCancelButtonClick() {
  SetupBox->setEnabled(false);
  SetupBox->hide();
}

void TForm1::Timer1Timer() { SetPanel(spTime, LongTimeText(QTime::currentTime())); }

// ---------------------------------------------------------------------------
// Set-up OK.

void TForm1::SetupOKButtonClick() {
  EndReview();
  const QString typed = ComSetupBox->currentText();
  if (ComSetupBox->findText(typed, Qt::MatchFixedString) < 0) {
    ComSetupBox->setEditText(QString::fromLatin1(kComPortPlaceholder));
  } else {
    const std::string name = typed.toLocal8Bit().toStdString();
    ComPort1.Close();
    ++openNumber_;
    // After the Close: the deliveries it served may have ended the recording.
    const bool recording = store_.Settings().state == AcquisitionState::Receiving;
    ComPort1.SetPort(name);
    SetPanel(spPort, "Port: " + name);
    ReadButton->show();
    // A load during a recording would put a file's records where the
    // recording's are still arriving.
    if (!recording) LoadButton->show();
    bool opened = false;
    try {
      ComPort1.Open();
      ComPort1.SetDTR(true);
      ComPort1.SetRTS(true);
      opened = true;
    } catch (const EComPort&) {
      dialogs_.ShowMessage(kPortNotAvailable, kApplicationTitle);
      SetPanel(spPort, "Port:");
      LoadButton->hide();
      RegisterButton->hide();
      // An OK pressed during a recording keeps the recording and its records:
      // Stop stays to end and save it, Setup to try the port again.
      if (!recording) ReadButton->hide();
      SetupButton->show();
    }
    if (opened) {
      AcquisitionSettings& settings = store_.Settings();
      settings.transmission = static_cast<std::uint8_t>(TransBox->ItemIndex());
      settings.amplification = static_cast<std::uint8_t>(AmpBox->ItemIndex());
      settings.filter = static_cast<std::uint8_t>(FilterBox->ItemIndex());
      settings.mode = static_cast<std::uint8_t>(ModeBox->ItemIndex());
      settings.pacer = static_cast<std::uint8_t>(PacerBox->ItemIndex());
      settings.simulation = static_cast<std::uint8_t>(SimulationBox->ItemIndex());
      // Back to the recording's own controls if a lost port brought Setup back.
      if (recording) SetupButton->hide();
      if (CheckBox12C->isChecked()) {
        SetSwitches12C();
      } else {
        SetSwitches();
      }
    }
  }
  SetupBox->setEnabled(false);
  SetupBox->hide();
  if (!ComPort1.Connected()) dialogs_.ShowMessage(kPortNotDefined, kApplicationTitle);
}

void TForm1::SetSwitches() {
  const std::array<bool, 8> selection = ChannelSelection();
  framers_->SetEightChannelSizes(SelectedChannelCount(selection));
  LayoutBands(layout_, selection);
  DrawBasic(layout_, *liveCanvas_);
  ComPort1.WriteString(
      BuildSetupCommand(store_.Settings(), EMGON->isChecked(), ChannelMask(selection), kEightChannelChestMask));
}

void TForm1::SetSwitches12C() {
  framers_->SetTwelveChannelSizes();
  LayoutBands12C(layout_);
  DrawBasic12C(layout_, *liveCanvas_);
  ComPort1.WriteString(
      BuildSetupCommand(store_.Settings(), EMGON->isChecked(), kTwelveChannelMask, kTwelveChannelChestMask));
}

// ---------------------------------------------------------------------------
// Streaming control and service commands.

void TForm1::ReadButtonClick() {
  // Stop needs no port: a recording whose port was lost or failed to open
  // again must still end and be offered for saving.
  if (store_.Settings().state != AcquisitionState::Idle) {
    StopRecording();
    return;
  }
  if (!ComPort1.Connected()) {
    dialogs_.ShowMessage(kDefineComPortFirst, kApplicationTitle);
    return;
  }
  EndReview();
  ReadButton->setText(QStringLiteral("Stop"));
  store_.BeginRecording();
  store_.Settings().state = AcquisitionState::Receiving;
  SetPanel(spStatus, "Status: Receiving... ");
  for (QWidget* w : std::initializer_list<QWidget*>{SaveButton, LoadButton, SetupButton, PrintButton}) w->hide();
  for (QWidget* w : std::initializer_list<QWidget*>{PulsePanel, RespPanel, StatusButton, CalButton, IdentButton}) w->show();
  if (CheckBox12C->isChecked()) {
    DrawBasic12C(layout_, *liveCanvas_);
  } else {
    DrawBasic(layout_, *liveCanvas_);
  }
}

// The stop branch of Read/Stop; also the run limit's stop, inside a delivery.
void TForm1::StopRecording() {
  store_.Settings().state = AcquisitionState::Idle;
  ReadButton->setText(QStringLiteral("Read"));
  SetPanel(spStatus, "Status: Idle");
  auto hideRecordingControls = [this] {
    for (QWidget* w : std::initializer_list<QWidget*>{PulsePanel, RespPanel, StatusButton, ElecButton, CalButton,
                                                       IdentButton, RegisterButton}) {
      w->hide();
    }
  };
  const bool stored = store_.Count() > 0;
  if (stored) {
    for (QWidget* w : std::initializer_list<QWidget*>{PrintButton, LoadButton, SetupButton}) w->show();
  }
  // Stopped after the port was lost or failed to open.
  if (!ComPort1.Connected()) OfferSetupWithoutPort();
  if (stored) {
    try {
      TRecordingContext context = RecordingContext();
      ::FileSave(context);
    } catch (...) {
      hideRecordingControls();
      throw;
    }
  }
  hideRecordingControls();
  if (stored) BeginReview(CheckBox12C->isChecked());
}

void TForm1::ElecButtonClick() { ComPort1.WriteString(std::string(kElectrodeSearchCommand)); }
void TForm1::CalButtonClick() { ComPort1.WriteString(std::string(kCalibrationCommand)); }
void TForm1::IdentButtonClick() { ComPort1.WriteString(std::string(kIdentifyCommand)); }

void TForm1::RegWriteButtonClick() {
  const std::optional<std::string> command = BuildRegisterWrite(Address->text().toStdString(), RegisterBits());
  if (!command) {
    Address->setText(Q(kInvalidAddressText));
    return;
  }
  ComPort1.WriteString(*command);
}

void TForm1::AddressChange() { Address->clear(); }

void TForm1::StatusButtonClick() { StatusBox->show(); }
void TForm1::StatusHideButtonClick() { StatusBox->hide(); }
void TForm1::IdentHideButtonClick() { IdentBox->hide(); }
void TForm1::RegisterButtonClick() { RegisterBox->show(); }
void TForm1::RegisterCloseButtonClick() { RegisterBox->hide(); }

// Mode, pacer detection and simulation take effect at the next set-up OK.
void TForm1::ModeBoxClick() {}

void TForm1::CheckBox12CClick() { ChannelBox->setVisible(!CheckBox12C->isChecked()); }

// ---------------------------------------------------------------------------
// Recording files and print-out.

TRecordingContext TForm1::RecordingContext() {
  return TRecordingContext{store_, layout_, *canvas_, dialogs_, *recordingView_, currentDataFile_, formatTime_};
}

void TForm1::SaveButtonClick() {
  TRecordingContext context = RecordingContext();
  ::SaveButtonClick(context);
}

void TForm1::LoadButtonClick() {
  TRecordingContext context = RecordingContext();
  ::LoadButtonClick(context);
  store_.Count() > 0 ? BeginReview(false) : EndReview();
}

void TForm1::PrintButtonClick() {
  TRecordingContext context = RecordingContext();
  ::PrintButtonClick(context);
}

// ---------------------------------------------------------------------------

// The port's line went away (adapter pulled, cable end closed): reception has
// ended, so the user is told instead of watching a chart that no longer moves.
// A recording is not ended by it: its records stay, Stop still ends and saves
// it, and a set-up with the port back lets it go on.
void TForm1::OnPortLost(unsigned openNumber) {
  // Closed meanwhile, or already reopened by a later set-up.
  if (openNumber != openNumber_ || !ComPort1.Connected()) return;
  try {
    ComPort1.Close();
  } catch (const EComPort&) {
    // The device is gone; what Close could not release goes with the next
    // set-up's Close or the window.
  }
  // A frame cut off by the loss can never be completed; kept, it would take
  // the first bytes from the port's next opening as its own.
  for (TComDataPacket* framer : framers_->InBindingOrder()) framer->ClearBuffer();
  SetPanel(spPort, "Port:");
  if (store_.Settings().state == AcquisitionState::Idle) {
    OfferSetupWithoutPort();
  } else {
    SetupButton->show();
  }
  dialogs_.ShowMessage(kPortNotAvailable, kApplicationTitle);
}

// No port while idle: Read would only ask for one, so the set-up is the way on.
void TForm1::OfferSetupWithoutPort() {
  ReadButton->hide();
  SetupButton->show();
}

// ---------------------------------------------------------------------------
// Review of the stored recording.

void TForm1::BeginReview(bool twelveChannel) { ReviewBar->Begin(layout_, twelveChannel); }

void TForm1::EndReview() { ReviewBar->End(); }

// ---------------------------------------------------------------------------

void TForm1::ReportError(const std::string& text) noexcept {
  try {
    dialogs_.ShowMessage(text, kApplicationTitle);
  } catch (...) {
    // Nothing is left to tell the user with.
  }
}

void TForm1::FlushChart() {
  const TRect dirty = canvas_->TakeDirtyRect();
  if (dirty.Right <= dirty.Left || dirty.Bottom <= dirty.Top) return;
  Grafik->Invalidate(QRect(dirty.Left, dirty.Top, dirty.Right - dirty.Left, dirty.Bottom - dirty.Top));
}

void TForm1::SetPanel(int index, const std::string& text) {
  StatusBar1->SetPanelText(index, text);
  // A long port name does not fit its panel; the hint shows it whole.
  if (index == spPort) StatusBar1->Panel(index)->setToolTip(QString::fromLocal8Bit(text));
}

std::string TForm1::StatusPanelText(int index) const { return StatusBar1->PanelText(index); }

std::array<bool, 8> TForm1::ChannelSelection() const {
  std::array<bool, 8> selection{};
  for (std::size_t i = 0; i < selection.size(); ++i) selection[i] = channelBoxes_[i]->isChecked();
  return selection;
}

std::array<bool, 8> TForm1::RegisterBits() const {
  std::array<bool, 8> bits{};
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = bitBoxes_[i]->isChecked();
  return bits;
}
