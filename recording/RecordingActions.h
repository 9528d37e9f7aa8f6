#pragma once
// The window's recording handlers: the offer to save after a stop, the Save,
// Load and Print buttons. The window owns everything they touch and hands it
// in through TRecordingContext; the handlers keep no state of their own.
//
// All of them run on the main thread. Which ones throw:
//  - FileSave / SaveButtonClick never throw: a failed save is reported in a
//    message box here (FileSave also runs inside reception at the run limit,
//    where an escaping exception would end the event thread).
//  - LoadButtonClick throws ERecordingFile when the chosen file cannot be
//    opened; nothing has changed then. Everything after the open is reported
//    here.
//  - ExportButtonClick never throws; a failed export is reported here.
//  - PrintButtonClick lets printing errors through (std::exception); the
//    window's error handler shows their text.
#include <functional>
#include <string>

#include "chart/ChartCanvas.h"
#include "recording/Dialogs.h"
#include "store/LocaleFormat.h"

class SampleStore;
struct ChartLayout;

// Caption of the tool's own message boxes: the application title.
inline constexpr const char* kRecordingMessageCaption = "12-Kanal Test-Software";

// What the handlers change on the window besides the store and the chart.
class TRecordingView {
 public:
  virtual ~TRecordingView() = default;
  virtual void SetSaveButtonVisible(bool visible) = 0;
  virtual void SetPrintButtonVisible(bool visible) = 0;
  // Status bar panel by index (5 is the acquisition status).
  virtual void SetStatusPanel(int index, const std::string& text) = 0;
};

struct TRecordingContext {
  SampleStore& store;
  ChartLayout& layout;
  ChartCanvas& chart;  // the chart image Grafik (an ImageCanvas)
  TDialogs& dialogs;
  TRecordingView& view;
  std::string& currentDataFile;  // CurrentDataFile of the window
  // Time of day of a record, for the log lines and the chart's time labels.
  TimeFormatter formatTime = LocaleTimeFormatter();
  // "<short date> <long time>" of this moment: the log's creation line and
  // the print header.
  std::function<std::string()> nowText = [] { return NowDateTimeText(); };
};

// The offer to save a recording (after Stop, and from the Save button).
// Save stays shown after a No and after a cancelled file dialog; it hides
// only after a completed save.
// `preface`, when given, is a line put before the question (why the
// recording stopped).
void FileSave(TRecordingContext& context, std::string_view preface = {});
void SaveButtonClick(TRecordingContext& context);
// Reads a data file into the store and draws it with the eight-channel chart.
void LoadButtonClick(TRecordingContext& context);
// Writes the recording as EDF+ or CSV: a save dialog offering "EDF+ (*.edf)"
// and "CSV (*.csv)"; the format follows the name's extension, else the
// chosen filter; the date is the data file's modification date (today when
// there is none). Never throws: failures are shown in a message box.
void ExportButtonClick(TRecordingContext& context);
// Prints the chart image on one landscape page with a header line.
void PrintButtonClick(TRecordingContext& context);
