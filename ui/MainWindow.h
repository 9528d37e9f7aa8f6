#pragma once
// The main window, TForm1: owns every object of the run (the port and its
// seven framers, the recording, the chart, the clock) and binds the controls
// to their handlers. The handlers are thin: the set-up command, the frame
// decoding and handling live in module/, the drawing in chart/, the files
// and the print-out in recording/.
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
#include "module/ModuleFramers.h"
#include "serial/TComPort.h"
#include "recording/Dialogs.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class ImageCanvas;
class TDamageCanvas;
class QtMainThreadDispatcher;
class TChartView;
class TClickEdit;
class TFrameHandlers;
class TRadioGroup;
class TReviewBar;
class TStatusBar;
struct TRecordingContext;

inline constexpr const char* kApplicationTitle = "12-Kanal Test-Software";
inline constexpr const char* kWindowCaption = "12-Kanal EKG  Test-Software V1.3 by Varnok GmbH";

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // `screenWidth` chooses the screen class; by default the primary screen's
  // width. `dialogs` must outlive the window.
  explicit TForm1(TDialogs& dialogs, std::optional<int> screenWidth = std::nullopt, QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // ---- Handlers, with the names of the controls they serve ----
  void FormCreate();
  void SetupButtonClick();
  void SetupCancelButtonClick();
  void SetupOKButtonClick();
  void SetSwitches();
  void SetSwitches12C();
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

  // ---- Review of the stored recording ----
  // After a load and after a Stop that stored records: the bar below the
  // status bar, the paging keys and the wheel on the chart, from the last
  // view of the recording in the given mode. Ended by Read, Setup and a
  // set-up's OK, which take the chart back.
  void BeginReview(bool twelveChannel);
  void EndReview();
  TReviewBar& Review() { return *ReviewBar; }

  // ---- What tests and tools look at ----
  SampleStore& Store() { return store_; }
  ChartLayout& Layout() { return layout_; }
  ImageCanvas& Canvas() { return *canvas_; }
  TChartView& ChartView() { return *Grafik; }
  TComPort& Port() { return ComPort1; }
  TComDataPacket& SampleFramer() { return framers_->ComDataPacket1; }
  TComDataPacket& ChestFramer() { return framers_->CenterPacket; }
  TModuleFramers& Framers() { return *framers_; }
  ScreenClass Screen() const { return layout_.Screen; }
  std::string StatusPanelText(int index) const;
  const std::string& CurrentDataFile() const { return currentDataFile_; }
  // Runs `handler` as a control's event runs it: errors reported, the chart
  // repainted where it changed. Public so tests can drive handlers exactly as
  // the controls do.
  template <typename Handler>
  void Guarded(Handler&& handler) noexcept;

 private:
  class AcquisitionView;
  class RecordingView;

  void CreateControls();
  void CreateSetupBox();
  void CreateInfoBoxes();
  void ConnectHandlers();
  void StopRecording();
  void ReportError(const std::string& text) noexcept;
  void FlushChart();
  void SetPanel(int index, const std::string& text);
  std::array<bool, 8> ChannelSelection() const;
  std::array<bool, 8> RegisterBits() const;
  TRecordingContext RecordingContext();
  void OnPortLost(unsigned openNumber);
  void OfferSetupWithoutPort();

  TDialogs& dialogs_;
  int screenWidth_;

  // The hand-over must outlive the port that uses it.
  std::unique_ptr<QtMainThreadDispatcher> dispatcher_;
  SampleStore store_;
  ChartLayout layout_;
  std::unique_ptr<ImageCanvas> canvas_;
  // The image as live drawing reaches it, reporting what each step touched.
  std::unique_ptr<TDamageCanvas> liveCanvas_;
  std::unique_ptr<AcquisitionView> acquisitionView_;
  std::unique_ptr<RecordingView> recordingView_;
  std::unique_ptr<TFrameHandlers> handlers_;
  std::string currentDataFile_;
  // Counts the set-ups that (re)opened the port: a loss reported for an
  // earlier opening must not close the port a later set-up opened.
  unsigned openNumber_ = 0;
  TimeFormatter formatTime_ = LocaleTimeFormatter();

  // Non-visual objects. The seven framers (CenterPacket ... ComDataPacket1)
  // come after the port so they unbind from it before it goes.
  TComPort ComPort1;
  std::unique_ptr<TModuleFramers> framers_;
  QTimer* Timer1 = nullptr;

  // Top row.
  QPushButton* SetupButton = nullptr;
  QPushButton* ReadButton = nullptr;
  QPushButton* SaveButton = nullptr;
  QPushButton* LoadButton = nullptr;
  QPushButton* PrintButton = nullptr;
  QLabel* PulsePanel = nullptr;
  QLabel* RespPanel = nullptr;
  QPushButton* StatusButton = nullptr;
  QPushButton* IdentButton = nullptr;
  QPushButton* ElecButton = nullptr;
  QPushButton* CalButton = nullptr;
  QPushButton* RegisterButton = nullptr;

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
  FlushChart();
}
