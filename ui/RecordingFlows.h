#pragma once
// The window's recording flows: the offer to save after a stop, the Save,
// Load, Print and Export buttons. Each asks and tells through TDialogs, uses
// the file formats of recording/ and returns what came of it; the window
// decides from that which buttons show. The window owns everything they
// touch and hands it in through TRecordingContext; the flows keep no state.
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
#include <string_view>

#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"
#include "chart/ChartReview.h"
#include "recording/Dialogs.h"
#include "recording/Sidecar.h"
#include "store/LocaleFormat.h"

class SampleStore;

// Caption of the tool's own message boxes: the application title.
inline constexpr const char* kRecordingMessageCaption = "12-Kanal Test-Software";

struct TRecordingContext {
  SampleStore& store;
  ChartLayout& layout;
  ChartCanvas& chart;  // the chart image Grafik (an ImageCanvas)
  TDialogs& dialogs;
  std::string& currentDataFile;  // CurrentDataFile of the window
  // Time of day of a record, for the log lines and the chart's time labels.
  TimeFormatter formatTime = LocaleTimeFormatter();
  // "<short date> <long time>" of this moment: the log's creation line and
  // the print header.
  std::function<std::string()> nowText = [] { return NowDateTimeText(); };
  // Status bar panel 5 (the acquisition status): the load counts every
  // record there, then shows "Status: Idle".
  std::function<void(const std::string&)> showStatus = [](const std::string&) {};
  // The sidecar of the recording in the store (station/SessionSidecar.h:
  // the session's set-up, port, start and figures). Without it the save
  // writes what the store itself tells: the set-up's indices and the count.
  std::function<RecordingSidecar()> sidecar = nullptr;
};

// How an offer to save ended. Save stays offered unless the recording is on
// the disk: a No, a cancelled dialog and a failed save all keep it.
enum class SaveOutcome { Saved, Declined, Cancelled, Failed };

// The offer to save a recording (after Stop, at the run limit, and from the
// Save button). `preface`, when given, is a line put before the question
// (why the recording stopped).
SaveOutcome FileSave(TRecordingContext& context, std::string_view preface = {});
SaveOutcome SaveButtonClick(TRecordingContext& context);
// The save dialog and the write without the question first (the user has
// just said to save, closing the window); never throws.
SaveOutcome SaveUnasked(TRecordingContext& context);

// What the Load button brought onto the chart.
struct LoadOutcome {
  bool chosen = false;         // a file was chosen and opened
  int records = 0;             // records loaded (the store's count)
  bool twelveChannel = false;  // drawn in twelve-channel mode
  ReviewSpan span;             // the part of a larger file that was loaded
};
// Reads a data file into the store and draws it as acquisition would have,
// in the mode and with the channels its records show. A file of more
// records than the store holds asks first whether its first or its last
// SampleStore::kLastSlot are loaded.
LoadOutcome LoadButtonClick(TRecordingContext& context);
// Writes the recording as EDF+, CSV or a PDF report (recording/PdfReport.h):
// a save dialog offering the three; the format follows the name's extension, else the
// chosen filter; the date is the data file's modification date (today when
// there is none). Never throws: failures are shown in a message box.
void ExportButtonClick(TRecordingContext& context);
// Prints the chart image on one landscape page with a header line.
void PrintButtonClick(TRecordingContext& context);
