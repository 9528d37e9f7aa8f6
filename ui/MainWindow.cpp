#include "ui/MainWindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <QStyleOption>
#include <QTime>
#include <QTimer>

#include "chart/ChartFrame.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "module/AcquisitionSession.h"
#include "module/QtMainThreadDispatcher.h"
#include "module/SetupChoices.h"
#include "module/SetupCommand.h"
#include "serial/PortDiagnosis.h"
#include "serial/PortEnumeration.h"
#include "station/CalibrationMemory.h"
#include "station/RecordingAnalysis.h"
#include "station/RecordingMeasures.h"
#include "station/SessionSidecar.h"
#include "ui/AcceptanceRun.h"
#include "ui/ChartView.h"
#include "ui/ClickEdit.h"
#include "ui/DamageCanvas.h"
#include "ui/DesignFace.h"
#include "ui/MainWindowLayout.h"
#include "ui/QtDialogs.h"
#include "ui/RadioGroup.h"
#include "ui/RecordingFlows.h"
#include "ui/ReviewBar.h"
#include "ui/SessionTexts.h"
#include "ui/StatusBar.h"
#include "ui/WindowGeometry.h"

namespace {

constexpr const char* kComPortPlaceholder = "Com-Port";
constexpr const char* kPortNotAvailable = "Com-Port not available !!!";
constexpr const char* kPortNotDefined = "Com-Port not defined !!!";
constexpr const char* kDefineComPortFirst = "Please define Com-Port first";
constexpr std::string_view kRunLimitReached = "The limit of 80000 records per recording was reached.";

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The choices of two set-ups, the port aside: a review survives an OK that
// changes none of them.
bool SameChoices(const TSetupRequest& a, const TSetupRequest& b) {
  const AcquisitionSettings& x = a.indices;
  const AcquisitionSettings& y = b.indices;
  return x.transmission == y.transmission && x.amplification == y.amplification && x.filter == y.filter &&
         x.mode == y.mode && x.pacer == y.pacer && x.simulation == y.simulation && a.emg == b.emg &&
         a.twelveChannel == b.twelveChannel && (a.twelveChannel || a.channels == b.channels);
}

// The chart's 1 mV per lead from a calibration's leads (named as the chart
// names them).
MvScales MvScalesOf(const std::optional<SidecarCalibration>& calibration) {
  MvScales scales{};
  if (!calibration) return scales;
  for (const SidecarLeadCalibration& lead : calibration->leads) {
    for (std::size_t c = 0; c < scales.size(); ++c)
      if (ChannelLabel(static_cast<ChartChannel>(c)) == lead.lead) scales[c] = MvScale{lead.zero, lead.stepsPerMv};
  }
  return scales;
}

// What the system knows about a port that would not open, after the
// design's text, in the same box.
std::string PortNotAvailableText(const std::string& port, const std::string& error) {
  std::string reason = port.empty() ? std::string() : PortOpenFailureReason(port);
  if (reason.empty() && !error.empty()) reason = "The system says: " + error;
  return reason.empty() ? std::string(kPortNotAvailable) : std::string(kPortNotAvailable) + "\n\n" + reason;
}

}  // namespace

// ---------------------------------------------------------------------------
// The window as the acquisition session and the recording functions see it.

class TForm1::SessionView : public TSessionView {
 public:
  explicit SessionView(TForm1& form) : form_(form) { statusText_.reserve(64); }

  void StatusReceived(const TModuleStatus& status) override {
    const StatusFrameTexts texts = StatusTexts(status);
    form_.RespLabel->setText(Q(texts.RespLabel));
    form_.ChestLabel->setText(Q(texts.ChestLabel));
    form_.RALabel->setText(Q(texts.RALabel));
    form_.LALabel->setText(Q(texts.LALabel));
    form_.RLLabel->setText(Q(texts.RLLabel));
    form_.LLLabel->setText(Q(texts.LLLabel));
    // Frames may come hundreds of times a second: panels at the chart's pace.
    form_.StatusBar1->SetPanelTextSoon(spTransmission, texts.TransmissionPanel);
    form_.StatusBar1->SetPanelTextSoon(spAmplification, texts.AmplificationPanel);
    form_.StatusBar1->SetPanelTextSoon(spFilter, texts.FilterPanel);
    if (texts.ModePanel) form_.StatusBar1->SetPanelTextSoon(spMode, *texts.ModePanel);
  }
  void ChestStatusReceived(const std::array<bool, 5>& connected) override {
    for (std::size_t i = 0; i < connected.size(); ++i) form_.chestLabels_[i]->setText(Q(ConnectionText(connected[i])));
  }
  void Identified(std::string_view text) override {
    // The module's text is single-byte.
    const std::string label = IdentificationLabelText(text);
    form_.IdentLabel->setText(QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size())));
    form_.identBoxOpen_ = true;
    // Now the module is known: a calibration kept for it applies.
    if (!form_.calibration_) form_.FindKeptCalibration();
    form_.ShowControls();
  }
  void PulseReceived(int value) override {
    form_.PulsePanel->setText(Q(PulsePanelText(value)));
    if (form_.measures_ && form_.session_->Recording()) form_.measures_->PulseReceived(value);
  }
  void RespirationReceived(int value) override { form_.RespPanel->setText(Q(RespPanelText(value))); }

  void SweepRestart(bool twelveChannel, const std::array<bool, kChannelBoxCount>& channels) override {
    form_.ApplyLiveSpeed();
    form_.sweep_->Restart(twelveChannel, channels);
  }
  // Once per sample: the panel at the chart's pace, its text's buffer reused.
  void RecordCount(int count, bool dataLost) override {
    AssignReceivingStatus(statusText_, count, dataLost, form_.session_->RateIsOff());
    form_.StatusBar1->SetPanelTextSoon(spStatus, statusText_);
  }
  void RecordReady(int slot) override {
    form_.sweep_->Plot(form_.session_->Store(), slot);
    if (form_.measures_ && form_.measures_->Add(form_.session_->Store(), slot)) form_.CalibrationMeasured();
  }
  void RecordingStopped(bool stored) override {
    form_.SetPanel(spStatus, std::string(kIdleStatusText));
    form_.RecordingStopping(stored);
  }
  void RunLimitReached() override {
    form_.OfferToSave(kRunLimitReached);
    form_.RecordingStopped();
  }

  void PortNotAvailable(const std::string& error) override {
    form_.dialogs_.ShowMessage(PortNotAvailableText(form_.requestedPort_, error), kApplicationTitle);
    form_.SetPanel(spPort, std::string(kPortPanelClosed));
  }
  void PortLost(bool, int count) override {
    form_.SetPanel(spPort, std::string(kPortPanelClosed));
    form_.SetPanel(spStatus, PortLostStatusText(count));
    // Values that no longer arrive must not look live.
    form_.PulsePanel->setText(Q(kPulsePanelEmpty));
    form_.RespPanel->setText(Q(kRespPanelEmpty));
    form_.HeartPanel->setText(Q(kHeartPanelEmpty));
    form_.PortLost();
  }
  void RateOff(double, int) override {
    // Shown at once, not only with the next record (a module far too slow).
    AssignReceivingStatus(statusText_, form_.session_->Store().Count(), form_.session_->DataLostInRecording(), true);
    form_.StatusBar1->SetPanelTextSoon(spStatus, statusText_);
    form_.ShowLineQuality();
  }
  void Reconnected(bool recording) override {
    form_.SetPanel(spPort, PortPanelText(form_.session_->Port().Port()));
    if (recording) {
      AssignReceivingStatus(statusText_, form_.session_->Store().Count(), form_.session_->DataLostInRecording(),
                            form_.session_->RateIsOff());
      form_.SetPanel(spStatus, statusText_);
    } else {
      form_.SetPanel(spStatus, std::string(kIdleStatusText));
    }
    form_.ShowPortHint();
    form_.ShowControls();
  }
  void ReportError(const std::string& text) override { form_.ReportError(text); }

 private:
  TForm1& form_;
  std::string statusText_;
};

// ---------------------------------------------------------------------------

namespace {

ChartLayout ScreenLayout(ScreenClass screen) {
  ChartLayout layout;
  SelectScreenLayout(layout, screen);
  return layout;
}

}  // namespace

TForm1::TForm1(TDialogs& dialogs, int screenWidth, QWidget* parent)
    : TForm1(dialogs, QSize(screenWidth, QWIDGETSIZE_MAX), parent) {}

TForm1::TForm1(TDialogs& dialogs, std::optional<QSize> screenSize, QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs),
      screenSize_(screenSize.value_or(PrimaryScreenSize())),
      dispatcher_(std::make_unique<QtMainThreadDispatcher>()) {
  // The chart's geometry decides the image's size, which the sweep draws on
  // from the start; FormCreate applies the rest of the layout. The chart
  // takes the window's class.
  layout_ = ScreenLayout(ScreenClassFor(screenSize_.width(), screenSize_.height()));
  canvas_ = std::make_unique<ImageCanvas>(layout_.ChartWidth, layout_.ChartHeight);
  liveCanvas_ = std::make_unique<TDamageCanvas>(*canvas_, [this](const TRect& touched) {
    Grafik->Invalidate(QRect(touched.Left, touched.Top, touched.Right - touched.Left, touched.Bottom - touched.Top));
  });
  sweep_ = std::make_unique<ChartSweep>(layout_, *liveCanvas_, formatTime_);
  sessionView_ = std::make_unique<SessionView>(*this);
  dispatcher_->SetErrorHandler([this](const std::string& text) { ReportError(text); });
  // The port, its seven framers (sizes, handlers and start bytes as they
  // are created before the first set-up) and the recording.
  session_ = std::make_unique<AcquisitionSession>(*dispatcher_, *sessionView_);

  CreateControls();
  ReviewBar = new TReviewBar(*this, layout_.Screen, session_->Store(), *canvas_, *Grafik, formatTime_,
                             [this](const std::string& text) { ReportError(text); });
  ConnectHandlers();
  Guarded([this] { FormCreate(); });
}

// The session closes the port while everything its deliveries touch exists.
TForm1::~TForm1() = default;

// The controls themselves, their places and fonts: MainWindowLayout.cpp.

// Every control event in one place.
void TForm1::ConnectHandlers() {
  auto bind = [this](QAbstractButton* button, void (TForm1::*handler)()) {
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  bind(SetupButton, &TForm1::SetupButtonClick);
  bind(ReadButton, &TForm1::ReadButtonClick);
  bind(SaveButton, &TForm1::SaveButtonClick);
  bind(LoadButton, &TForm1::LoadButtonClick);
  bind(PrintButton, &TForm1::PrintButtonClick);
  bind(ExportButton, &TForm1::ExportButtonClick);
  bind(StatusButton, &TForm1::StatusButtonClick);
  bind(IdentButton, &TForm1::IdentButtonClick);
  bind(ElecButton, &TForm1::ElecButtonClick);
  bind(CalButton, &TForm1::CalButtonClick);
  bind(RegisterButton, &TForm1::RegisterButtonClick);
  bind(TestButton, &TForm1::TestButtonClick);
  bind(MarkerButton, &TForm1::MarkerButtonClick);
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
  // The service mode is found in the window's context menu (a right click
  // anywhere that has no menu of its own) as well as by its key.
  auto* serviceMode = new QAction(QStringLiteral("Service mode (Electrodes, Register)"), this);
  serviceMode->setObjectName(QStringLiteral("ServiceModeAction"));
  serviceMode->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  serviceMode->setShortcutContext(Qt::WindowShortcut);
  addAction(serviceMode);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(serviceMode, &QAction::triggered, this, [this] { Guarded([this] { ServiceModeKey(); }); });
  // The live sweep's speed in the same menu: the designed one sample a
  // pixel, or a paper speed at the screen's millimetre.
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  addAction(separator);
  auto* speeds = new QActionGroup(this);
  for (const int speed : kLiveSpeeds) {
    auto* action = new QAction(speed == 0 ? QStringLiteral("Live sweep: one sample per pixel")
                                          : QStringLiteral("Live sweep: %1 mm/s").arg(speed),
                               speeds);
    action->setObjectName(QStringLiteral("LiveSpeed%1").arg(speed));
    action->setCheckable(true);
    action->setChecked(speed == 0);
    addAction(action);
    connect(action, &QAction::triggered, this, [this, speed] { Guarded([this, speed] { SetLiveSpeed(speed); }); });
  }
  // A marker from the keyboard, without looking away from the traces.
  auto* markerKey = new QShortcut(QKeySequence(Qt::Key_M), this);
  markerKey->setContext(Qt::WindowShortcut);
  connect(markerKey, &QShortcut::activated, this, [this] {
    if (MarkerButton->isVisible()) Guarded([this] { MarkerButtonClick(); });
  });
  // The set-up panel answers like a dialog.
  auto* confirm = new QShortcut(QKeySequence(Qt::Key_Return), SetupBox);
  auto* confirmEnter = new QShortcut(QKeySequence(Qt::Key_Enter), SetupBox);
  auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), SetupBox);
  for (QShortcut* key : {confirm, confirmEnter, cancel}) key->setContext(Qt::WidgetWithChildrenShortcut);
  for (QShortcut* key : {confirm, confirmEnter})
    connect(key, &QShortcut::activated, this, [this] { Guarded([this] { SetupOKButtonClick(); }); });
  connect(cancel, &QShortcut::activated, this, [this] { Guarded([this] { SetupCancelButtonClick(); }); });
}

// Ctrl+Shift+S: the electrode search and the register editor, hidden by
// default, are shown wherever Status, Identify and Calibrate are, until the
// program ends.
void TForm1::ServiceModeKey() {
  serviceMode_ = true;
  ShowControls();
  ShowPortHint();
}

// The port panel tells how to reach the service commands while a port is open.
void TForm1::ShowPortHint() {
  if (!session_->Port().Connected()) return;
  const QString name = QString::fromLocal8Bit(session_->Port().Port());
  StatusBar1->Panel(spPort)->setToolTip(
      QStringLiteral("Port: %1\n%2")
          .arg(name, serviceMode_ ? QStringLiteral("Service mode: Electrodes and Register shown")
                                  : QStringLiteral("Ctrl+Shift+S: service mode (Electrodes, Register)")));
}

// ---------------------------------------------------------------------------
// Start-up, set-up panel, clock.

void TForm1::FormCreate() {
  // Steps 1 and 2: the chart's fixed layout (chosen in the constructor) and
  // the window around it.
  const ChartLayout& layout = layout_;
  Grafik->setGeometry(layout.ChartLeft, layout.ChartTop, layout.ChartWidth, layout.ChartHeight);
  const WindowGeometry g = WindowGeometryFor(layout.Screen);
  setFixedSize(g.Width, g.ClientHeight());
  StatusBar1->setFont(Font("Arial", g.StatusFontSize));
  StatusBar1->setGeometry(0, g.StatusTop, g.StatusWidth, g.StatusHeight);
  for (int i = 0; i < TStatusBar::kPanelCount; ++i)
    StatusBar1->SetPanelWidth(i, g.PanelWidths[static_cast<std::size_t>(i)]);

  // Step 3: the blank chart.
  PrepareChart(layout_, *canvas_);
  canvas_->TakeDirtyRect();
  Grafik->InvalidateAll();

  // Step 4, one start byte per framer and the identification framer's stop
  // byte, was done as TModuleFramers was built, just before this.

  Timer1->start();
}

void TForm1::SetupButtonClick() {
  // The set-up panel answers Escape itself: the review's calipers go now.
  ReviewBar->ClearCalipers();
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
  // During a recording (its port lost) the panel can only give it a port
  // back: its choices are the recording's.
  const bool locked = session_->Recording() && confirmed_.has_value();
  if (locked) ShowSetupChoices(*confirmed_);
  LockSetupChoices(locked);
  setupBoxOpen_ = true;
  ShowControls();
  ComSetupBox->setFocus();
}

void TForm1::ShowSetupChoices(const TSetupRequest& request) {
  TransBox->SetItemIndex(request.indices.transmission);
  AmpBox->SetItemIndex(request.indices.amplification);
  FilterBox->SetItemIndex(request.indices.filter);
  ModeBox->SetItemIndex(request.indices.mode);
  PacerBox->SetItemIndex(request.indices.pacer);
  SimulationBox->SetItemIndex(request.indices.simulation);
  EMGON->setChecked(request.emg);
  CheckBox12C->setChecked(request.twelveChannel);
  for (std::size_t i = 0; i < channelBoxes_.size(); ++i) channelBoxes_[i]->setChecked(request.channels[i]);
}

void TForm1::LockSetupChoices(bool locked) {
  for (QWidget* choice : std::initializer_list<QWidget*>{TransBox, AmpBox, FilterBox, ModeBox, PacerBox, SimulationBox,
                                                         EMGBox, ChannelBox, CheckBox12C, Label12C})
    choice->setEnabled(!locked);
}

void TForm1::SetupCancelButtonClick() {
  setupBoxOpen_ = false;
  ShowControls();
}

void TForm1::Timer1Timer() {
  SetPanel(spTime, LongTimeText(QTime::currentTime()));
  // A lost port is tried again every second while the window is open: a
  // USB adapter plugged in again carries on where it stopped.
  if (session_->PortLostNow()) session_->TryReconnect();
  session_->Tick();
  ShowLineQuality();
  ShowHeartRate();
}

// The tool's own count beside the module's Pulse; more than 5 bpm apart,
// the panel says so in red.
void TForm1::ShowHeartRate() {
  if (!measures_ || !session_->Recording()) return;
  const std::optional<double> tool = measures_->RecentBpm();
  const std::optional<int> module = measures_->LastPulse();
  HeartPanel->setText(Q(HeartPanelText(tool, module)));
  const bool apart = HeartRatesDisagree(tool, module ? std::optional<double>(*module) : std::nullopt);
  HeartPanel->setStyleSheet(apart ? QStringLiteral("color: #C00000") : QString());
  HeartPanel->setToolTip(apart ? QStringLiteral("The heart rate counted here and the module's Pulse differ")
                               : QStringLiteral("Heart rate counted by this program (the module's Pulse in brackets)"));
}

// How the line behaves, in the Status box: what a user needs to trust (or
// not) the traces.
void TForm1::ShowLineQuality() {
  LineLabel->setText(Q(LineFiguresText(session_->LineQuality(), session_->MeasuredRate(), session_->ExpectedRate(),
                                       session_->RateIsOff())));
}

// ---------------------------------------------------------------------------
// Set-up OK.

void TForm1::SetupOKButtonClick() {
  if (!setupBoxOpen_) return;  // Return pressed after the panel closed
  const QString typed = ComSetupBox->currentText();
  if (ComSetupBox->findText(typed, Qt::MatchFixedString) < 0) {
    ComSetupBox->setEditText(QString::fromLatin1(kComPortPlaceholder));
  } else {
    const std::string port = typed.toLocal8Bit().toStdString();
    TSetupRequest request = SetupRequest(port);
    // One recording, one set-up: during a recording an OK only reopens a port.
    if (session_->Recording() && confirmed_) {
      request = *confirmed_;
      request.port = port;
    }
    const bool changed = !confirmed_ || !SameChoices(*confirmed_, request);
    if (changed) EndReview();
    SetPanel(spPort, PortPanelText(port));
    requestedPort_ = port;
    const TSetupResult result = session_->ApplySetup(request);
    // The panel said the port was lost; now it is back.
    if (result.portBack && !result.recording) SetPanel(spStatus, std::string(kIdleStatusText));
    if (result.opened) {
      const bool stageChanged = !confirmed_ || confirmed_->indices.amplification != request.indices.amplification;
      confirmed_ = request;
      RememberSetup(request);
      ShowPortHint();
      // A calibration scales only the stage it was measured at.
      if (stageChanged) {
        calibration_.reset();
        FindKeptCalibration();
      }
    }
    // The set-up drew an empty frame; a review it did not end is shown again.
    if (ReviewBar->Active()) ReviewBar->Refresh();
  }
  setupBoxOpen_ = false;
  ShowControls();
  if (!session_->Port().Connected()) dialogs_.ShowMessage(kPortNotDefined, kApplicationTitle);
}

TSetupRequest TForm1::SetupRequest(const std::string& port) const {
  TSetupRequest request;
  request.port = port;
  request.indices.transmission = static_cast<std::uint8_t>(TransBox->ItemIndex());
  request.indices.amplification = static_cast<std::uint8_t>(AmpBox->ItemIndex());
  request.indices.filter = static_cast<std::uint8_t>(FilterBox->ItemIndex());
  request.indices.mode = static_cast<std::uint8_t>(ModeBox->ItemIndex());
  request.indices.pacer = static_cast<std::uint8_t>(PacerBox->ItemIndex());
  request.indices.simulation = static_cast<std::uint8_t>(SimulationBox->ItemIndex());
  request.emg = EMGON->isChecked();
  request.twelveChannel = CheckBox12C->isChecked();
  request.channels = ChannelSelection();
  return request;
}

// ---------------------------------------------------------------------------
// Streaming control and service commands.

void TForm1::ReadButtonClick() {
  // Stop needs no port: a recording whose port was lost or failed to open
  // again must still end and be offered for saving.
  if (session_->Recording()) {
    session_->StopRecording();
    if (session_->Store().Count() > 0) OfferToSave({});
    RecordingStopped();
    return;
  }
  if (!session_->Port().Connected()) {
    dialogs_.ShowMessage(kDefineComPortFirst, kApplicationTitle);
    return;
  }
  EndReview();
  SetPanel(spStatus, std::string(kReceivingStatusStart));
  session_->StartRecording();
  storeFromLoad_ = false;
  measures_ = std::make_unique<RecordingMeasures>(session_->ExpectedRate(), session_->TwelveChannelMode(),
                                                  session_->ChannelSelection(), ConfirmedStage());
  HeartPanel->setText(Q(kHeartPanelEmpty));
  HeartPanel->setStyleSheet(QString());
  // The store starts again: what was unsaved or on the chart is gone.
  unsaved_ = false;
  recordsShown_ = false;
  ShowControls();
}

// The stop of Read/Stop and of the run limit, as the window shows it: before
// the offer to save the recording's controls stay ...
void TForm1::RecordingStopping(bool stored) {
  // A Calibrate just before the Stop is measured on what came.
  if (measures_ && measures_->End(session_->Store(), session_->Store().Count())) CalibrationMeasured();
  recordsShown_ = stored;
  offerOpen_ = stored;
  ShowControls();
}

// ... and after it they go; the recording can be paged through.
void TForm1::RecordingStopped() {
  offerOpen_ = false;
  if (session_->Store().Count() > 0) {
    BeginReview(session_->TwelveChannelMode());
    ReviewBar->SetSource(unsaved_ ? std::string() : currentDataFile_);
  }
  ShowControls();
}

void TForm1::ElecButtonClick() { session_->SendElectrodeSearch(); }
void TForm1::CalButtonClick() {
  session_->SendCalibration();
  // The rectangle comes in the records after the command.
  if (!measures_ || !session_->Recording()) return;
  const int next = session_->Store().Count() + 1;
  measures_->CalibrationSent(next);
  if (const std::optional<SidecarMarker> marker = measures_->AddMarker(next, RecordingMeasures::kCalibrationMarkerText))
    session_->AddMarker(static_cast<std::uint8_t>(marker->number));
  CalibrationLabel->setText(Q(kCalibrationMeasuringText));
}

int TForm1::ConfirmedStage() const { return session_->ConfirmedSetup().indices.amplification + 1; }

// What the rectangle gave, in the Status box (opened to say it); a found
// calibration scales this stage from now on and is kept for the module.
void TForm1::CalibrationMeasured() {
  const std::optional<CalibrationResult>& found = measures_->Calibration();
  if (!found) return;
  std::string text = CalibrationText(*found, measures_->Stage());
  if (const std::optional<SidecarCalibration> calibration = measures_->FoundCalibration()) {
    calibration_ = calibration;
    const std::string& identification = session_->Identification();
    if (settings_ && !identification.empty()) {
      RememberCalibration(*settings_, identification, *calibration);
    } else if (settings_) {
      text += " (not kept: Identify the module first)";
    }
  }
  CalibrationLabel->setText(Q(text));
  sweep_->SetMvScales(MvScalesOf(calibration_));  // from the next sweep on
  statusBoxOpen_ = true;
  ShowControls();
}

void TForm1::FindKeptCalibration() {
  if (settings_) calibration_ = RememberedCalibration(*settings_, session_->Identification(), ConfirmedStage());
  sweep_->SetMvScales(MvScalesOf(calibration_));
  if (!calibration_) {
    CalibrationLabel->setText(Q(kUncalibratedText));
    return;
  }
  double sum = 0;
  for (const SidecarLeadCalibration& lead : calibration_->leads) sum += lead.stepsPerMv;
  CalibrationLabel->setText(
      Q(KeptCalibrationText(ConfirmedStage(), sum / static_cast<double>(calibration_->leads.size()))));
}

void TForm1::MarkerButtonClick() {
  if (!measures_ || !session_->Recording()) return;
  // The marker goes to the next record stored.
  const std::optional<SidecarMarker> marker = measures_->AddMarker(session_->Store().Count() + 1, {});
  if (!marker) {
    dialogs_.ShowMessage("A recording holds at most 255 markers.", kApplicationTitle);
    return;
  }
  session_->AddMarker(static_cast<std::uint8_t>(marker->number));
}
void TForm1::IdentButtonClick() { session_->SendIdentify(); }

void TForm1::RegWriteButtonClick() {
  if (!session_->SendRegisterWrite(Address->text().toStdString(), RegisterBits())) {
    Address->setText(Q(kInvalidAddressText));
  }
}

void TForm1::AddressChange() { Address->clear(); }

// The acceptance run opens the port itself: the window lets go of it first
// and leaves it closed after.
void TForm1::TestButtonClick() {
  TAcceptanceContext context{dialogs_, this, session_->Port().Port()};
  context.releasePort = [this] {
    session_->Port().Close();
    SetPanel(spPort, std::string(kPortPanelClosed));
    SetPanel(spStatus, std::string(kPortClosedByTestText));
    ShowControls();
  };
  RunAcceptanceTest(context);
}

void TForm1::StatusButtonClick() {
  ShowLineQuality();
  statusBoxOpen_ = true;
  ShowControls();
}
void TForm1::StatusHideButtonClick() {
  statusBoxOpen_ = false;
  ShowControls();
}
void TForm1::IdentHideButtonClick() {
  identBoxOpen_ = false;
  ShowControls();
}
void TForm1::RegisterButtonClick() {
  registerBoxOpen_ = true;
  ShowControls();
}
void TForm1::RegisterCloseButtonClick() {
  registerBoxOpen_ = false;
  ShowControls();
}

// Mode, pacer detection and simulation take effect at the next set-up OK.
void TForm1::ModeBoxClick() {}

// The Channels group hides in twelve-channel mode.
void TForm1::CheckBox12CClick() { ShowControls(); }

// ---------------------------------------------------------------------------
// Recording files and print-out.

TRecordingContext TForm1::RecordingContext() {
  TRecordingContext context{session_->Store(), layout_, *canvas_, dialogs_, currentDataFile_, formatTime_};
  // The load counts every record in panel 5, shown at the chart's pace.
  context.showStatus = [this](const std::string& text) { StatusBar1->SetPanelTextSoon(spStatus, text); };
  // A loaded recording has its own sidecar, or none.
  if (storeFromLoad_) return context;
  // The acquisition's recording: the session's set-up, port,
  // identification and line figures, and what the recording measured
  // (markers, heart rate, the calibration of its stage).
  context.sidecar = [this] {
    RecordingSidecar sidecar = SessionSidecar(*session_);
    if (measures_) {
      const bool sameStage = calibration_ && calibration_->stage == measures_->Stage();
      measures_->FillSidecar(sidecar, sameStage ? calibration_ : std::nullopt);
    }
    return sidecar;
  };
  return context;
}

// The offer to save a stopped recording; `preface` says why it stopped.
// Save stays offered until the recording is on the disk.
void TForm1::OfferToSave(std::string_view preface) {
  TRecordingContext context = RecordingContext();
  unsaved_ = ::FileSave(context, preface) != SaveOutcome::Saved;
}

void TForm1::SaveButtonClick() {
  TRecordingContext context = RecordingContext();
  unsaved_ = ::SaveButtonClick(context) != SaveOutcome::Saved;
  if (!unsaved_ && ReviewBar->Active()) ReviewBar->SetSource(currentDataFile_);
  ShowControls();
}

void TForm1::LoadButtonClick() {
  TRecordingContext context = RecordingContext();
  const LoadOutcome loaded = ::LoadButtonClick(context);
  if (!loaded.chosen) return;
  measures_.reset();  // they were the replaced recording's
  storeFromLoad_ = true;
  if (loaded.records > 0) {
    recordsShown_ = true;
    BeginReview(loaded.twelveChannel);
    ReviewBar->SetSource(currentDataFile_, loaded.span);
  } else {
    EndReview();
  }
  ShowControls();
}

void TForm1::ExportButtonClick() {
  TRecordingContext context = RecordingContext();
  ::ExportButtonClick(context);
}

void TForm1::PrintButtonClick() {
  TRecordingContext context = RecordingContext();
  ::PrintButtonClick(context);
}

// ---------------------------------------------------------------------------

// The session has closed the lost port and cleared what it held; a recording
// goes on without it (Stop ends and saves it, a set-up lets it receive again).
// Without a port Read would only ask for one: Setup is the way on.
void TForm1::PortLost() {
  ShowControls();
  dialogs_.ShowMessage(kPortNotAvailable, kApplicationTitle);
}

// ---------------------------------------------------------------------------
// Which controls show.

void TForm1::ShowControls() {
  TWindowState state;
  state.recording = session_->Recording();
  state.portOpen = session_->Port().Connected();
  state.offerOpen = offerOpen_;
  state.unsaved = unsaved_;
  state.recordsShown = recordsShown_;
  state.serviceMode = serviceMode_;
  state.twelveChannelChecked = CheckBox12C->isChecked();
  state.setupBoxOpen = setupBoxOpen_;
  state.statusBoxOpen = statusBoxOpen_;
  state.identBoxOpen = identBoxOpen_;
  state.registerBoxOpen = registerBoxOpen_;
  const TControlsShown shown = ControlsShown(state);

  const std::pair<QWidget*, bool> controls[] = {
      {SetupButton, shown.setup},  {ReadButton, shown.read},         {SaveButton, shown.save},
      {LoadButton, shown.load},    {PrintButton, shown.print},       {ExportButton, shown.exportButton},
      {PulsePanel, shown.pulse},   {RespPanel, shown.resp},          {StatusButton, shown.status},
      {IdentButton, shown.ident},  {ElecButton, shown.elec},         {CalButton, shown.cal},
      {RegisterButton, shown.reg}, {SetupBox, shown.setupBox},       {StatusBox, shown.statusBox},
      {IdentBox, shown.identBox},  {RegisterBox, shown.registerBox}, {ChannelBox, shown.channelBox},
      {TestButton, shown.test},    {MarkerButton, shown.marker},     {HeartPanel, shown.heart},
  };
  // In service mode the review bar ends before Test's place.
  ReviewBar->EndBefore(serviceMode_ ? TestButton->x() : width());
  for (const auto& [control, visible] : controls) control->setVisible(visible);
  // The set-up panel takes no input while hidden, and while it is open
  // nothing under it does: it is answered like a dialog.
  SetupBox->setEnabled(shown.setupBox);
  for (QWidget* below : std::initializer_list<QWidget*>{
           ReadButton, SaveButton, LoadButton, PrintButton, ExportButton, StatusButton, IdentButton, ElecButton,
           CalButton, RegisterButton, Grafik, StatusBox, IdentBox, RegisterBox, ReviewBar})
    below->setEnabled(!shown.setupBox);
  ReadButton->setText(shown.readSaysStop ? QStringLiteral("Stop") : QStringLiteral("Read"));
}

// ---------------------------------------------------------------------------
// Review of the stored recording.

void TForm1::BeginReview(bool twelveChannel) {
  // The recording's rate and calibration, from its sidecar for a loaded
  // file, from the acquisition for its own recording.
  double rate = TransmissionRate(session_->Store().Settings().transmission);
  std::optional<SidecarCalibration> calibration;
  if (storeFromLoad_) {
    try {
      if (const std::optional<RecordingSidecar> sidecar = ReadSidecar(SidecarPathFor(currentDataFile_))) {
        if (sidecar->setup && sidecar->setup->rateHz) rate = *sidecar->setup->rateHz;
        calibration = sidecar->calibration;
      }
    } catch (const std::exception&) {
      // A sidecar that cannot be read adds nothing: the records read in steps.
    }
  } else {
    rate = session_->ExpectedRate();
    if (measures_ && calibration_ && calibration_->stage == measures_->Stage()) calibration = calibration_;
  }
  ReviewBar->Begin(layout_, twelveChannel, TReviewBar::Scale{rate, MvScalesOf(calibration), ScreenPixelsPerMm()});
}

void TForm1::EndReview() { ReviewBar->End(); }

// The paper scales' millimetre: the screen's own (from its reported size),
// unless the settings say what a ruler on this screen shows ("display/dpi").
double TForm1::ScreenPixelsPerMm() const {
  if (settings_) {
    bool ok = false;
    const double dpi = settings_->value(QStringLiteral("display/dpi")).toDouble(&ok);
    if (ok && dpi > 0) return PixelsPerMm(dpi);
  }
  const QScreen* shown = screen();
  return PixelsPerMm(shown ? shown->physicalDotsPerInchX() : kFallbackDotsPerInch);
}

// ---------------------------------------------------------------------------
// Closing, and the set-up remembered from the last run.

void TForm1::closeEvent(QCloseEvent* event) {
  bool mayClose = true;
  Guarded([&] { mayClose = MayClose(); });
  if (mayClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool TForm1::MayClose() {
  const bool running = session_->Recording();
  if (!running && !(unsaved_ && session_->Store().Count() > 0)) return true;
  const std::string question = running ? "A recording is running. Save it before closing?"
                                       : "The recording has not been saved. Save it before closing?";
  const std::optional<std::size_t> choice = dialogs_.Choose(question, kApplicationTitle, {"Save", "Discard", "Stay"});
  if (choice == 1u) return true;
  if (choice != 0u) return false;
  if (running) {
    // Stopped as Stop stops it; the save below replaces its offer.
    session_->StopAtCompleteRecord();
    offerOpen_ = false;
    unsaved_ = true;
  }
  if (session_->Store().Count() == 0) return true;
  TRecordingContext context = RecordingContext();
  unsaved_ = ::SaveUnasked(context) != SaveOutcome::Saved;
  if (!unsaved_) return true;
  RecordingStopped();  // a cancelled save leaves the stopped recording on show
  return false;
}

void TForm1::SetLiveSpeed(int mmPerSecond) {
  if (std::find(kLiveSpeeds.begin(), kLiveSpeeds.end(), mmPerSecond) == kLiveSpeeds.end()) mmPerSecond = 0;
  liveSpeed_ = mmPerSecond;
  if (auto* action = findChild<QAction*>(QStringLiteral("LiveSpeed%1").arg(mmPerSecond))) action->setChecked(true);
  if (settings_) settings_->setValue(QStringLiteral("display/liveSweep"), mmPerSecond);
  ApplyLiveSpeed();
}

// A paper speed needs the confirmed rate; a change takes effect with the
// next record, from where the sweep stands.
void TForm1::ApplyLiveSpeed() {
  const double rate = session_->ExpectedRate();
  sweep_->SetRecordsPerColumn(liveSpeed_ > 0 && rate > 0 ? rate / (liveSpeed_ * ScreenPixelsPerMm()) : 1);
}

void TForm1::UseSettings(std::unique_ptr<QSettings> settings) {
  settings_ = std::move(settings);
  if (settings_ && settings_->contains(QStringLiteral("display/liveSweep")))
    SetLiveSpeed(settings_->value(QStringLiteral("display/liveSweep")).toInt());
  if (!settings_ || !settings_->contains(QStringLiteral("setup/port"))) return;
  TSetupRequest request = SetupRequest({});
  auto index = [&](const char* key, std::uint8_t fallback) {
    bool ok = false;
    const int value = settings_->value(QLatin1String(key)).toInt(&ok);
    return ok && value >= 0 && value < 256 ? static_cast<std::uint8_t>(value) : fallback;
  };
  request.indices.transmission = index("setup/transmission", request.indices.transmission);
  request.indices.amplification = index("setup/amplification", request.indices.amplification);
  request.indices.filter = index("setup/filter", request.indices.filter);
  request.indices.mode = index("setup/mode", request.indices.mode);
  request.indices.pacer = index("setup/pacer", request.indices.pacer);
  request.indices.simulation = index("setup/simulation", request.indices.simulation);
  request.emg = settings_->value(QStringLiteral("setup/emg"), request.emg).toBool();
  request.twelveChannel = settings_->value(QStringLiteral("setup/twelveChannel"), request.twelveChannel).toBool();
  const QString channels = settings_->value(QStringLiteral("setup/channels")).toString();
  if (channels.size() == static_cast<qsizetype>(request.channels.size()))
    for (std::size_t i = 0; i < request.channels.size(); ++i)
      request.channels[i] = channels[static_cast<qsizetype>(i)] == QLatin1Char('1');
  ShowSetupChoices(request);
  // Out of range after a change of the choices: the design's default.
  for (TRadioGroup* group : {TransBox, AmpBox, FilterBox, ModeBox, PacerBox, SimulationBox})
    if (group->ItemIndex() < 0) group->SetItemIndex(0);
  ComSetupBox->setEditText(settings_->value(QStringLiteral("setup/port")).toString());
  ShowControls();
}

void TForm1::RememberSetup(const TSetupRequest& request) {
  if (!settings_) return;
  settings_->setValue(QStringLiteral("setup/port"), QString::fromLocal8Bit(request.port));
  settings_->setValue(QStringLiteral("setup/transmission"), request.indices.transmission);
  settings_->setValue(QStringLiteral("setup/amplification"), request.indices.amplification);
  settings_->setValue(QStringLiteral("setup/filter"), request.indices.filter);
  settings_->setValue(QStringLiteral("setup/mode"), request.indices.mode);
  settings_->setValue(QStringLiteral("setup/pacer"), request.indices.pacer);
  settings_->setValue(QStringLiteral("setup/simulation"), request.indices.simulation);
  settings_->setValue(QStringLiteral("setup/emg"), request.emg);
  settings_->setValue(QStringLiteral("setup/twelveChannel"), request.twelveChannel);
  QString channels;
  for (bool on : request.channels) channels += on ? QLatin1Char('1') : QLatin1Char('0');
  settings_->setValue(QStringLiteral("setup/channels"), channels);
  settings_->sync();
}

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
