#pragma once
// The main window, TForm1: owns every object of the run (the acquisition
// session with the port, its seven framers and the recording; the chart; the
// clock) and binds the controls to their handlers. The handlers are thin: the
// set-up, the recording's start and stop, the service commands and the port
// loss live in module/AcquisitionSession, the drawing in chart/ (ChartSweep),
// the file formats and the print-out in recording/, the save, load, print
// and export flows in RecordingFlows. The session reports values; the
// window words them (SessionTexts) and shows its controls from its state
// (ControlVisibility).
//
// Everything here runs on the main thread. The port's event thread reaches it
// only through the blocking hand-over of QtMainThreadDispatcher, so a
// delivery of received bytes runs like any other handler, never beside one.
//
// An exception escaping a handler is shown in a message box (caption: the
// application title) and the program goes on; no exception leaves a delivery
// of received bytes, so reception never ends silently.
//
// A port that goes away (adapter pulled out) is closed and reported. A
// recording that runs then is not ended by it: Stop ends and saves it without
// a port, and a set-up with the port back lets it go on.
#include <QWidget>
#include <array>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "chart/ChartLayout.h"
#include "module/AcquisitionSession.h"
#include "recording/Dialogs.h"
#include "recording/Sidecar.h"
#include "store/LocaleFormat.h"
#include "ui/ControlVisibility.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QCloseEvent;
class QLineEdit;
class QPushButton;
class QSettings;
class QTimer;
class ChartSweep;
class RecordingMeasures;
class ImageCanvas;
class TDamageCanvas;
class QtMainThreadDispatcher;
class TChartView;
class TClickEdit;
class TRadioGroup;
class TReviewBar;
class TStatusBar;
struct TRecordingContext;

inline constexpr const char* kApplicationTitle = "12-Kanal Test-Software";
inline constexpr const char* kWindowCaption = "12-Kanal EKG  Test-Software V1.3 by Varnok GmbH";

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // `screenSize`, the screen's free area, chooses the screen class; by
  // default the primary screen's. `dialogs` must outlive the window.
  explicit TForm1(TDialogs& dialogs, std::optional<QSize> screenSize = std::nullopt, QWidget* parent = nullptr);
  // A screen `screenWidth` pixels wide and tall enough for any window.
  TForm1(TDialogs& dialogs, int screenWidth, QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // ---- Handlers, with the names of the controls they serve ----
  void FormCreate();
  void SetupButtonClick();
  void SetupCancelButtonClick();
  void SetupOKButtonClick();
  void ReadButtonClick();
  void ElecButtonClick();
  void CalButtonClick();
  void IdentButtonClick();
  void RegWriteButtonClick();
  void AddressChange();
  void StatusButtonClick();
  void StatusHideButtonClick();
  void IdentHideButtonClick();
  void RegisterButtonClick();
  void RegisterCloseButtonClick();
  void ModeBoxClick();
  void CheckBox12CClick();
  void Timer1Timer();
  void SaveButtonClick();
  void LoadButtonClick();
  void PrintButtonClick();
  void ExportButtonClick();
  void ServiceModeKey();
  void TestButtonClick();
  // A numbered marker at the next record of the running recording (also
  // the key M).
  void MarkerButtonClick();

  // Closing the window: a recording running or not saved is not lost
  // unasked (save, discard or stay); true when the window may close.
  bool MayClose();

  // Remembers the last confirmed port and set-up in `settings` and puts
  // what it holds into the set-up panel now (the program's settings; tests
  // pass a scratch file or nothing, so they start from the design's
  // defaults).
  void UseSettings(std::unique_ptr<QSettings> settings);

  // ---- Review of the stored recording ----
  // After a load and after a Stop that stored records: the bar in the top
  // row, the paging keys and the wheel on the chart, from the last view of
  // the recording in the given mode. Ended by Read, a new load and a
  // set-up's OK that changes the set-up, which take the chart back.
  void BeginReview(bool twelveChannel);
  void EndReview();
  double ScreenPixelsPerMm() const;
  // The live sweep's paper speed in mm/s, 0 for one sample a pixel (the
  // design's); kept in the settings.
  static constexpr std::array<int, 3> kLiveSpeeds{0, 25, 50};
  void SetLiveSpeed(int mmPerSecond);
  int LiveSpeed() const { return liveSpeed_; }
  void ApplyLiveSpeed();
  TReviewBar& Review() { return *ReviewBar; }

  // ---- What tests and tools look at ----
  AcquisitionSession& Session() { return *session_; }
  SampleStore& Store() { return session_->Store(); }
  ChartLayout& Layout() { return layout_; }
  ImageCanvas& Canvas() { return *canvas_; }
  TChartView& ChartView() { return *Grafik; }
  TComPort& Port() { return session_->Port(); }
  TComDataPacket& SampleFramer() { return session_->Framers().ComDataPacket1; }
  TComDataPacket& ChestFramer() { return session_->Framers().CenterPacket; }
  TModuleFramers& Framers() { return session_->Framers(); }
  ScreenClass Screen() const { return layout_.Screen; }
  std::string StatusPanelText(int index) const;
  const std::string& CurrentDataFile() const { return currentDataFile_; }
  // Runs `handler` as a control's event runs it: errors reported, the
  // controls shown as the state now says, the chart repainted where it
  // changed. Public so tests can drive handlers exactly as
  // the controls do.
  template <typename Handler>
  void Guarded(Handler&& handler) noexcept;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class SessionView;

  void CreateControls();
  void CreateSetupBox();
  void CreateInfoBoxes();
  void ConnectHandlers();
  TSetupRequest SetupRequest(const std::string& port) const;
  // The set-up panel's choices from `request`; `locked`: only the port can
  // be changed (a recording runs: one recording, one set-up).
  void ShowSetupChoices(const TSetupRequest& request);
  void LockSetupChoices(bool locked);
  void RememberSetup(const TSetupRequest& request);
  void RecordingStopping(bool stored);
  void OfferToSave(std::string_view preface);
  void RecordingStopped();
  void PortLost();
  void ShowControls();
  void ShowPortHint();
  void ShowLineQuality();
  void ReportError(const std::string& text) noexcept;
  void FlushChart();
  void SetPanel(int index, const std::string& text);
  std::array<bool, 8> ChannelSelection() const;
  // The calibration: measured after Calibrate, or kept for the module and
  // the confirmed stage; shown in the Status box.
  int ConfirmedStage() const;
  void CalibrationMeasured();
  void FindKeptCalibration();
  void ShowHeartRate();
  std::array<bool, 8> RegisterBits() const;
  TRecordingContext RecordingContext();

  TDialogs& dialogs_;
  QSize screenSize_;

  // The hand-over must outlive the port that uses it.
  std::unique_ptr<QtMainThreadDispatcher> dispatcher_;
  // The chart: its geometry and sweep state, its image, the image as live
  // drawing reaches it (reporting what each step touched), and the sweep that
  // plots each record the session reports ready.
  ChartLayout layout_;
  std::unique_ptr<ImageCanvas> canvas_;
  std::unique_ptr<TDamageCanvas> liveCanvas_;
  TimeFormatter formatTime_ = LocaleTimeFormatter();
  std::unique_ptr<ChartSweep> sweep_;
  int liveSpeed_ = 0;
  std::unique_ptr<SessionView> sessionView_;
  std::string currentDataFile_;
  // The last set-up confirmed by an OK that opened its port.
  std::optional<TSetupRequest> confirmed_;
  std::string requestedPort_;  // the port of the last OK, for the reasons of a failed open
  std::unique_ptr<QSettings> settings_;
  // What the running (or last) recording measured: markers, the calibration
  // after Calibrate, the heart rate.
  std::unique_ptr<RecordingMeasures> measures_;
  // The calibration in force for the confirmed stage; nothing: in steps.
  std::optional<SidecarCalibration> calibration_;
  // The window's state, from which ShowControls shows and hides the top row
  // and the boxes (ui/ControlVisibility.h).
  bool offerOpen_ = false;      // a stop's offer to save is being made
  bool unsaved_ = false;        // the last offer ended without a save
  bool recordsShown_ = false;   // a stopped or loaded recording is on the chart
  bool storeFromLoad_ = false;  // the store holds a loaded file, not the acquisition's recording
  bool serviceMode_ = false;    // Ctrl+Shift+S pressed in this run
  bool setupBoxOpen_ = false;
  bool statusBoxOpen_ = false;
  bool identBoxOpen_ = false;
  bool registerBoxOpen_ = false;
  // The port (ComPort1), its seven framers (CenterPacket ... ComDataPacket1),
  // the store and the frame handlers. Last of the non-visual objects: it
  // closes the port first, while everything a delivery touches exists.
  std::unique_ptr<AcquisitionSession> session_;
  QTimer* Timer1 = nullptr;

  // Top row.
  QPushButton* SetupButton = nullptr;
  QPushButton* ReadButton = nullptr;
  QPushButton* SaveButton = nullptr;
  QPushButton* LoadButton = nullptr;
  QPushButton* PrintButton = nullptr;
  QPushButton* ExportButton = nullptr;
  QLabel* PulsePanel = nullptr;
  QLabel* RespPanel = nullptr;
  QPushButton* StatusButton = nullptr;
  QPushButton* IdentButton = nullptr;
  QPushButton* ElecButton = nullptr;
  QPushButton* CalButton = nullptr;
  QPushButton* RegisterButton = nullptr;
  QPushButton* TestButton = nullptr;
  QPushButton* MarkerButton = nullptr;
  QLabel* HeartPanel = nullptr;

  TChartView* Grafik = nullptr;
  TStatusBar* StatusBar1 = nullptr;
  // Below the status bar while a recording is reviewed.
  TReviewBar* ReviewBar = nullptr;

  // Set-up panel.
  QGroupBox* SetupBox = nullptr;
  QComboBox* ComSetupBox = nullptr;
  TRadioGroup* TransBox = nullptr;
  TRadioGroup* FilterBox = nullptr;
  TRadioGroup* ModeBox = nullptr;
  TRadioGroup* AmpBox = nullptr;
  TRadioGroup* PacerBox = nullptr;
  TRadioGroup* SimulationBox = nullptr;
  QGroupBox* EMGBox = nullptr;
  QCheckBox* EMGON = nullptr;
  QGroupBox* ChannelBox = nullptr;
  std::array<QCheckBox*, 8> channelBoxes_{};  // CH_I .. CH_RE
  QCheckBox* CheckBox12C = nullptr;
  QLabel* Label12C = nullptr;
  QPushButton* SetupOKButton = nullptr;
  QPushButton* SetupCancelButton = nullptr;

  // Status box.
  QGroupBox* StatusBox = nullptr;
  QLabel* RespLabel = nullptr;
  QLabel* ChestLabel = nullptr;
  QLabel* RALabel = nullptr;
  QLabel* LALabel = nullptr;
  QLabel* RLLabel = nullptr;
  QLabel* LLLabel = nullptr;
  std::array<QLabel*, 5> chestLabels_{};  // Chest2Label .. Chest6Label
  QPushButton* StatusHideButton = nullptr;
  QLabel* LineLabel = nullptr;         // the line figures
  QLabel* CalibrationLabel = nullptr;  // what Calibrate found, or the kept figure

  // Module identification box.
  QGroupBox* IdentBox = nullptr;
  QLabel* IdentLabel = nullptr;
  QPushButton* IdentHideButton = nullptr;

  // Register editor.
  QGroupBox* RegisterBox = nullptr;
  TClickEdit* Address = nullptr;
  std::array<QCheckBox*, 8> bitBoxes_{};  // Bit7 .. Bit0, left to right
  QPushButton* RegWriteButton = nullptr;
  QPushButton* RegisterCloseButton = nullptr;
};

template <typename Handler>
void TForm1::Guarded(Handler&& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& error) {
    ReportError(error.what());
  } catch (...) {
    ReportError("Unknown error");
  }
  ShowControls();
  FlushChart();
}
