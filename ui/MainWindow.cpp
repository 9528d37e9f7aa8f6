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
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QStyleOption>
#include <QTime>
#include <QTimer>

#include "chart/ChartFrame.h"
#include "chart/ImageCanvas.h"
#include "module/AcquisitionSession.h"
#include "module/QtMainThreadDispatcher.h"
#include "module/SetupChoices.h"
#include "module/SetupCommand.h"
#include "module/StatusFrames.h"
#include "recording/RecordingActions.h"
#include "recording/RecordingShape.h"
#include "serial/PortEnumeration.h"
#include "ui/ChartView.h"
#include "ui/ClickEdit.h"
#include "ui/DamageCanvas.h"
#include "ui/DesignFace.h"
#include "ui/MainWindowLayout.h"
#include "ui/QtDialogs.h"
#include "ui/RadioGroup.h"
#include "ui/ReviewBar.h"
#include "ui/StatusBar.h"
#include "ui/WindowGeometry.h"

namespace {

constexpr const char* kComPortPlaceholder = "Com-Port";
constexpr const char* kPortNotAvailable = "Com-Port not available !!!";
constexpr const char* kPortNotDefined = "Com-Port not defined !!!";
constexpr const char* kDefineComPortFirst = "Please define Com-Port first";
constexpr std::string_view kRunLimitReached = "The limit of 80000 records per recording was reached.";

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

// ---------------------------------------------------------------------------
// The window as the acquisition session and the recording functions see it.

class TForm1::SessionView : public TSessionView {
 public:
  explicit SessionView(TForm1& form) : form_(form) {}

  void SetStatusPanel(int index, std::string_view text) override { form_.SetPanel(index, std::string(text)); }
  // Panel 5 changes with every sample: shown at the chart's pace.
  void SetFrequentStatusPanel(int index, std::string_view text) override {
    form_.StatusBar1->SetPanelTextSoon(index, text);
  }
  void SetText(ViewText which, std::string_view text) override {
    QLabel* label = Label(which);
    // The identification text is the module's single-byte text.
    label->setText(which == ViewText::IdentLabel ? QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()))
                                                 : Q(text));
  }
  void ShowIdentBox() override { form_.IdentBox->show(); }
  void RecordingStopping(bool stored) override { form_.RecordingStopping(stored); }
  void RecordingStopped() override { form_.RecordingStopped(); }
  void PortLost(bool recording) override { form_.PortLost(recording); }
  void PortNotAvailable(const std::string&) override {
    form_.dialogs_.ShowMessage(kPortNotAvailable, kApplicationTitle);
  }
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
  void SetPrintButtonVisible(bool visible) override {
    form_.PrintButton->setVisible(visible);
    form_.ExportButton->setVisible(visible);
  }
  // The loader counts every record in panel 5.
  void SetStatusPanel(int index, const std::string& text) override { form_.StatusBar1->SetPanelTextSoon(index, text); }

 private:
  TForm1& form_;
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
  // The chart's geometry decides the image's size, which the frame handlers
  // draw on from the start; FormCreate applies the rest of the layout.
  // The chart takes the window's class.
  const ChartLayout layout = ScreenLayout(ScreenClassFor(screenSize_.width(), screenSize_.height()));
  canvas_ = std::make_unique<ImageCanvas>(layout.ChartWidth, layout.ChartHeight);
  liveCanvas_ = std::make_unique<TDamageCanvas>(*canvas_, [this](const TRect& touched) {
    Grafik->Invalidate(QRect(touched.Left, touched.Top, touched.Right - touched.Left, touched.Bottom - touched.Top));
  });
  sessionView_ = std::make_unique<SessionView>(*this);
  recordingView_ = std::make_unique<RecordingView>(*this);
  dispatcher_->SetErrorHandler([this](const std::string& text) { ReportError(text); });
  // The port, its seven framers (sizes, handlers and start bytes as the
  // window description creates them) and the recording.
  session_ = std::make_unique<AcquisitionSession>(*dispatcher_, layout, *liveCanvas_, *sessionView_, formatTime_);
  session_->SetSaveOffer([this](TStopReason reason) {
    TRecordingContext context = RecordingContext();
    ::FileSave(context, reason == TStopReason::RunLimit ? kRunLimitReached : std::string_view{});
  });

  CreateControls();
  ReviewBar = new TReviewBar(*this, session_->Layout().Screen, session_->Store(), *canvas_, *Grafik, formatTime_,
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
  auto* serviceKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), this);
  serviceKey->setContext(Qt::WindowShortcut);
  connect(serviceKey, &QShortcut::activated, this, [this] { Guarded([this] { ServiceModeKey(); }); });
}

// Ctrl+Shift+S: the electrode search and the register editor, hidden by
// default, are shown wherever Status, Identify and Calibrate are, until the
// program ends.
void TForm1::ServiceModeKey() {
  serviceMode_ = true;
  if (StatusButton->isVisibleTo(this)) {
    for (QWidget* w : std::initializer_list<QWidget*>{ElecButton, RegisterButton}) w->show();
  }
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
  const ChartLayout& layout = session_->Layout();
  Grafik->setGeometry(layout.ChartLeft, layout.ChartTop, layout.ChartWidth, layout.ChartHeight);
  const WindowGeometry g = WindowGeometryFor(layout.Screen);
  setFixedSize(g.Width, g.ClientHeight());
  StatusBar1->setFont(Font("Arial", g.StatusFontSize));
  StatusBar1->setGeometry(0, g.StatusTop, g.StatusWidth, g.StatusHeight);
  for (int i = 0; i < TStatusBar::kPanelCount; ++i)
    StatusBar1->SetPanelWidth(i, g.PanelWidths[static_cast<std::size_t>(i)]);

  // Step 3: the blank chart.
  PrepareChart(session_->Layout(), *canvas_);
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

void TForm1::Timer1Timer() {
  SetPanel(spTime, LongTimeText(QTime::currentTime()));
  session_->Tick();
  ShowLineQuality();
}

// How the line behaves, in the Status box: what a user needs to trust (or
// not) the traces.
void TForm1::ShowLineQuality() {
  const TLineQuality q = session_->LineQuality();
  const unsigned long long lineErrors = q.parityErrors + q.framingErrors + q.overrunErrors + q.breaks;
  LineLabel->setText(QStringLiteral("Outside frames: %1 B\nOverflows: %2 framer, %3 input\nLine errors: %4   %5/s")
                         .arg(q.bytesOutsideFrames)
                         .arg(q.framerOverflows)
                         .arg(q.inputOverflows)
                         .arg(lineErrors)
                         .arg(q.recordsPerSecond, 0, 'f', 1));
}

// ---------------------------------------------------------------------------
// Set-up OK.

void TForm1::SetupOKButtonClick() {
  EndReview();
  const QString typed = ComSetupBox->currentText();
  if (ComSetupBox->findText(typed, Qt::MatchFixedString) < 0) {
    ComSetupBox->setEditText(QString::fromLatin1(kComPortPlaceholder));
  } else {
    const TSetupResult result = session_->ApplySetup(SetupRequest(typed.toLocal8Bit().toStdString()));
    ReadButton->show();
    // A load during a recording would put a file's records where the
    // recording's are still arriving.
    if (!result.recording) LoadButton->show();
    if (!result.opened) {
      LoadButton->hide();
      RegisterButton->hide();
      // An OK pressed during a recording keeps the recording and its records:
      // Stop stays to end and save it, Setup to try the port again.
      if (!result.recording) ReadButton->hide();
      SetupButton->show();
    } else if (result.recording) {
      // Back to the recording's own controls if a lost port brought Setup back.
      SetupButton->hide();
    }
    if (result.opened) ShowPortHint();
  }
  SetupBox->setEnabled(false);
  SetupBox->hide();
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
    return;
  }
  if (!session_->Port().Connected()) {
    dialogs_.ShowMessage(kDefineComPortFirst, kApplicationTitle);
    return;
  }
  EndReview();
  ReadButton->setText(QStringLiteral("Stop"));
  for (QWidget* w : std::initializer_list<QWidget*>{SaveButton, LoadButton, SetupButton, PrintButton, ExportButton}) {
    w->hide();
  }
  for (QWidget* w : std::initializer_list<QWidget*>{PulsePanel, RespPanel, StatusButton, CalButton, IdentButton})
    w->show();
  if (serviceMode_) {
    for (QWidget* w : std::initializer_list<QWidget*>{ElecButton, RegisterButton}) w->show();
  }
  session_->StartRecording();
}

// The stop of Read/Stop and of the run limit, as the window shows it: before
// the offer to save ...
void TForm1::RecordingStopping(bool stored) {
  ReadButton->setText(QStringLiteral("Read"));
  if (stored) {
    for (QWidget* w : std::initializer_list<QWidget*>{PrintButton, ExportButton, LoadButton}) w->show();
  }
  // Also after a recording that stored nothing: a port that sends nothing
  // must not leave the user without a way to choose another.
  SetupButton->show();
  // Stopped after the port was lost or failed to open.
  if (!session_->Port().Connected()) OfferSetupWithoutPort();
}

// ... and after it.
void TForm1::RecordingStopped() {
  for (QWidget* w : std::initializer_list<QWidget*>{PulsePanel, RespPanel, StatusButton, ElecButton, CalButton,
                                                    IdentButton, RegisterButton}) {
    w->hide();
  }
  if (session_->Store().Count() > 0) BeginReview(session_->TwelveChannelMode());
}

void TForm1::ElecButtonClick() { session_->SendElectrodeSearch(); }
void TForm1::CalButtonClick() { session_->SendCalibration(); }
void TForm1::IdentButtonClick() { session_->SendIdentify(); }

void TForm1::RegWriteButtonClick() {
  if (!session_->SendRegisterWrite(Address->text().toStdString(), RegisterBits())) {
    Address->setText(Q(kInvalidAddressText));
  }
}

void TForm1::AddressChange() { Address->clear(); }

void TForm1::StatusButtonClick() {
  ShowLineQuality();
  StatusBox->show();
}
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
  return TRecordingContext{session_->Store(), session_->Layout(), *canvas_,   dialogs_,
                           *recordingView_,   currentDataFile_,   formatTime_};
}

void TForm1::SaveButtonClick() {
  TRecordingContext context = RecordingContext();
  ::SaveButtonClick(context);
}

void TForm1::LoadButtonClick() {
  TRecordingContext context = RecordingContext();
  ::LoadButtonClick(context);
  if (session_->Store().Count() > 0) {
    BeginReview(DetectRecordingShape(session_->Store()).mode == RecordingMode::TwelveChannel);
  } else {
    EndReview();
  }
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
void TForm1::PortLost(bool recording) {
  if (recording) {
    SetupButton->show();
  } else {
    OfferSetupWithoutPort();
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

void TForm1::BeginReview(bool twelveChannel) {
  ReviewBar->Begin(session_->Layout(), twelveChannel);
  StatusBar1->setVisible(!ReviewBar->isVisibleTo(this));
}

void TForm1::EndReview() {
  ReviewBar->End();
  StatusBar1->show();
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
