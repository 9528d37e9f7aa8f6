#pragma once
// The handlers of every frame the module sends: the sample and chest frames
// that build the recording and sweep the chart, and the status,
// identification and vital-value frames that fill labels and panels.
//
// The window owns one TFrameHandlers and points each framer's OnPacket at the
// matching method; it shows what the handlers decide through the small
// TAcquisitionView it implements. Everything runs on the main thread, inside
// a delivery of received bytes.
//
// No handler lets an exception out: reception must never end silently. The
// one step that can fail in a working window is the stop at the run limit
// (its offer to save writes files); whatever it or any other step throws is
// handed to TAcquisitionView::ReportError and the handler returns normally.
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "ChartCanvas.h"
#include "ChartLayout.h"
#include "LocaleFormat.h"
#include "SampleStore.h"
#include "SetupChoices.h"
#include "StatusFrames.h"

// The labels and panels the frames write (besides status bar panels).
enum class ViewText {
  RespLabel,    // "Resp. Wave: ..."
  ChestLabel,   // C1
  RALabel,
  LALabel,
  RLLabel,
  LLLabel,
  Chest2Label,  // C2 .. C6
  Chest3Label,
  Chest4Label,
  Chest5Label,
  Chest6Label,
  IdentLabel,
  PulsePanel,
  RespPanel,
};

// What the handlers need of the window.
class TAcquisitionView {
 public:
  virtual ~TAcquisitionView() = default;
  // CheckBox12C checked: twelve-channel mode. Read for every sample and chest frame.
  virtual bool TwelveChannelMode() const = 0;
  // Checked state of CH_I, CH_II, CH_III, CH_VR, CH_VL, CH_VF, CH_C1, CH_RE.
  virtual std::array<bool, kChannelBoxCount> ChannelSelection() const = 0;
  // Status bar panel `index` (see StatusPanel in StatusFrames.h). The view
  // must copy the text: the handlers reuse its buffer.
  virtual void SetStatusPanel(int index, std::string_view text) = 0;
  // Caption of a label or panel; copied as above. Only IdentLabel can hold
  // bytes above 0x7F (the module's identification text, single-byte
  // characters: show it as Latin-1).
  virtual void SetText(ViewText which, std::string_view text) = 0;
  // Shows IdentBox ("Module Identification").
  virtual void ShowIdentBox() = 0;
  // The stop branch of ReadButtonClick, run when a recording reaches the run
  // limit: state Idle, captions, panel 5, the offer to save. It runs inside
  // the delivery; it may throw (a failed save), the handlers report it.
  virtual void StopRecording() = 0;
  // Tells the user about an error (the window's modal message box).
  virtual void ReportError(const std::string& text) = 0;
};

// Local time of day as a fraction of a day (0.5 = noon).
using DayClock = std::function<double()>;

class TFrameHandlers {
 public:
  static constexpr int kRunLimit = SampleStore::kRunLimit;  // records per recording

  // All references must outlive the handlers. `formatTime` writes the chart's
  // time labels, `clock` stamps each record.
  TFrameHandlers(SampleStore& store, ChartLayout& layout, ChartCanvas& canvas, TAcquisitionView& view,
                 TimeFormatter formatTime = LocaleTimeFormatter(), DayClock clock = NowAsDayFraction);

  // Sample frame (0xF8, ComDataPacket1). While Receiving: stores a record,
  // shows "Status: Receiving... <count> packets", and in eight-channel mode
  // plots it and stops the recording at the run limit. Twelve-channel records
  // are plotted when their chest frame arrives. A sample frame that finds the
  // recording full (count at the run limit) is not stored and stops the
  // recording if that has not happened yet.
  void Receive(const std::string& packet);
  // Chest frame (0xFE, CenterPacket), twelve-channel mode only: completes the
  // newest record with C2..C6, plots it and stops the recording at the run
  // limit. Ignored in eight-channel mode.
  void ReceiveCenter(const std::string& packet);
  // Status frame (0xFC): the six connection labels and status panels 1 to 4.
  void ReceiveStatus(const std::string& packet);
  // Chest status frame (0xFF): Chest2Label..Chest6Label.
  void ReceiveCenterStatus(const std::string& packet);
  // Identification frame (0xFD .. 0x00): IdentLabel, then shows IdentBox.
  void ReceiveIdent(const std::string& packet);
  // Pulse frame (0xF9): PulsePanel. Respiration frame (0xFA): RespPanel.
  void ReceivePulse(const std::string& packet);
  void ReceiveResp(const std::string& packet);

 private:
  bool Storing();
  void StoreSample8(std::string_view packet);
  void StoreSample12(std::string_view packet);
  void ShowReceivingStatus();
  void StopAtRunLimit();
  void Report(const char* what) noexcept;
  template <typename Step>
  void Guarded(Step&& step) noexcept;

  SampleStore& store_;
  ChartLayout& layout_;
  ChartCanvas& canvas_;
  TAcquisitionView& view_;
  TimeFormatter formatTime_;
  DayClock clock_;
  std::string statusText_;  // reused for every sample: no allocation per frame
  bool limitStopDone_ = false;  // the run-limit stop of the current recording has run
};
