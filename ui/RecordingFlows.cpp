#include "ui/RecordingFlows.h"

#include <algorithm>
#include <cctype>

#include "chart/ChartFrame.h"
#include "chart/ChartSweep.h"
#include "recording/FileIO.h"
#include "recording/PdfReport.h"
#include "recording/PrintOut.h"
#include "recording/RecordingExport.h"
#include "recording/RecordingFiles.h"
#include "recording/RecordingLoader.h"
#include "recording/RecordingShape.h"
#include "station/RecordingSave.h"
#include "station/SessionSidecar.h"
#include "store/SampleStore.h"
#include "ui/SessionTexts.h"

namespace {

FileDialogOptions SaveDialogOptions() {
  FileDialogOptions options;
  options.filter = "ECG Log File|*.log";
  options.defaultExt = "log";
  // Existing names are refused below with the tool's own message.
  options.overwritePrompt = false;
  return options;
}

FileDialogOptions OpenDialogOptions() {
  FileDialogOptions options;
  options.filter = "ECG Data Files|*.dat";
  options.fileMustExist = true;
  options.pathMustExist = true;
  return options;
}

void ShowQuietly(TDialogs& dialogs, const std::string& text) noexcept {
  try {
    dialogs.ShowMessage(text, kRecordingMessageCaption);
  } catch (...) {
    // Nothing more can be told; reception must go on.
  }
}

// Asks for names until the files are written (Saved) or the dialog is
// cancelled. Write failures are thrown.
SaveOutcome ChooseNameAndWrite(TRecordingContext& context) {
  while (true) {
    const std::optional<std::string> logName = context.dialogs.ExecuteSaveDialog(SaveDialogOptions());
    if (!logName) return SaveOutcome::Cancelled;
    if (logName->empty()) continue;

    const TSaveNames names = SaveNamesFor(*logName);
    context.currentDataFile = names.dataPath;
    // The window never replaces a file (the sidecar's neither); a name whose
    // data name or sidecar is itself would make two files one.
    if (PathExists(names.logPath) || PathExists(names.dataPath) || SidecarNameTaken(names.sidecarPath) ||
        names.dataPath == names.logPath || names.sidecarPath == names.logPath) {
      context.dialogs.ShowMessage("Invalid Filename or File already existing", " Error creating File");
      continue;
    }
    const TSavedRecording saved =
        RecordingSave(context.store, context.sidecar ? context.sidecar() : StoreSidecar(context.store), *logName,
                      context.nowText(), context.formatTime, ExistingFiles::Refuse);
    // The records are on the disk; only what the sidecar would add is not.
    if (saved.sidecarError)
      ShowQuietly(context.dialogs, "The recording was saved, its description file was not: " + *saved.sidecarError);
    return SaveOutcome::Saved;
  }
}

bool EndsWithIgnoringCase(const std::string& text, std::string_view tail) {
  if (tail.size() > text.size()) return false;
  return std::equal(tail.begin(), tail.end(), text.end() - static_cast<std::ptrdiff_t>(tail.size()),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// Plots the loaded records as acquisition would have, sweep by sweep, in
// the mode and with the channels the records show.
void DrawRecording(TRecordingContext& context, const RecordingShape& shape) {
  ChartSweep sweep(context.layout, context.chart, context.formatTime);
  sweep.Restart(shape.mode == RecordingMode::TwelveChannel, EightChannelBoxes(shape));
  for (int slot = 1; slot <= context.store.Count(); ++slot) sweep.Plot(context.store, slot);
}

}  // namespace

SaveOutcome FileSave(TRecordingContext& context, std::string_view preface) {
  try {
    std::string question = "Do you want to save te actual Data?";
    if (!preface.empty()) question = std::string(preface) + "\n" + question;
    if (!context.dialogs.Confirm(question, "Confirm")) return SaveOutcome::Declined;
    return ChooseNameAndWrite(context);
  } catch (const std::exception& error) {
    // The recording is still in the store: Save stays offered so the user
    // can try another name or folder.
    ShowQuietly(context.dialogs, error.what());
    return SaveOutcome::Failed;
  }
}

SaveOutcome SaveButtonClick(TRecordingContext& context) { return FileSave(context); }

SaveOutcome SaveUnasked(TRecordingContext& context) {
  try {
    return ChooseNameAndWrite(context);
  } catch (const std::exception& error) {
    ShowQuietly(context.dialogs, error.what());
    return SaveOutcome::Failed;
  }
}

LoadOutcome LoadButtonClick(TRecordingContext& context) {
  LoadOutcome outcome;
  const std::optional<std::string> name = context.dialogs.ExecuteOpenDialog(OpenDialogOptions());
  if (!name || name->empty()) return outcome;

  SampleStore& store = context.store;
  // A long recording (ecg-record --stream) holds more than the store: the
  // user says which part to look at, before anything changes.
  long long skip = 0;
  const std::optional<long long> inFile = DataFileRecordCount(*name);
  const bool partOfFile = inFile && *inFile > SampleStore::kLastSlot;
  if (partOfFile) {
    const std::string most = std::to_string(SampleStore::kLastSlot);
    const std::optional<std::size_t> part =
        context.dialogs.Choose("The file holds " + std::to_string(*inFile) + " records; " + most +
                                   " of them can be loaded at a time. Which shall be loaded?",
                               kRecordingMessageCaption, {"First " + most, "Last " + most, "From record...", "Cancel"});
    if (!part || *part == 3) return outcome;
    const long long lastFirst = *inFile - SampleStore::kLastSlot + 1;
    if (*part == 1) skip = lastFirst - 1;
    if (*part == 2) {
      const std::optional<long long> first = context.dialogs.AskNumber(
          "Load " + most + " records from record (1 to " + std::to_string(lastFirst) + "):", kRecordingMessageCaption,
          1, lastFirst, 1);
      if (!first) return outcome;
      skip = std::clamp(*first, 1LL, lastFirst) - 1;
    }
    outcome.span = ReviewSpan{skip, *inFile};
  }
  const TLoadResult result = LoadRecordingFile(
      *name, store, [&](int count) { context.showStatus(LoadingStatusText(count)); }, skip);
  outcome.chosen = true;
  outcome.records = store.Count();
  context.currentDataFile = *name;
  // Drawn once all is read: the mode and the bands follow from the whole
  // recording, not from the last set-up. Whatever was on the chart goes.
  if (store.Count() > 0) {
    const RecordingShape shape = DetectRecordingShape(store);
    outcome.twelveChannel = shape.mode == RecordingMode::TwelveChannel;
    DrawRecording(context, shape);
  } else {
    DrawBasic(context.layout, context.chart);
    if (!result.headerValid) context.dialogs.ShowMessage("Invalid File Type", " Error reading File");
  }
  context.showStatus(std::string(kIdleStatusText));

  if (result.moreThanStoreHolds && !partOfFile) {
    context.dialogs.ShowMessage("The file holds more than " + std::to_string(SampleStore::kLastSlot) +
                                    " records. Only the first " + std::to_string(SampleStore::kLastSlot) +
                                    " records were loaded.",
                                kRecordingMessageCaption);
  }
  if (result.readError) {
    context.dialogs.ShowMessage(
        *result.readError + ". Only the first " + std::to_string(store.Count()) + " records were loaded.",
        kRecordingMessageCaption);
  }
  return outcome;
}

void ExportButtonClick(TRecordingContext& context) {
  try {
    if (context.store.Count() <= 0) {
      context.dialogs.ShowMessage("There are no records to export.", kRecordingMessageCaption);
      return;
    }
    FileDialogOptions options;
    options.filter = "EDF+|*.edf|CSV|*.csv|PDF report|*.pdf";
    options.defaultExt = "edf";
    options.overwritePrompt = true;
    const std::optional<FileChoice> choice = context.dialogs.ExecuteSaveDialogWithFilter(options);
    if (!choice || choice->path.empty()) return;
    // The name's extension decides; else the chosen filter.
    enum class Format { Edf, Csv, Pdf } format = Format::Edf;
    if (choice->filterIndex == 1) format = Format::Csv;
    if (choice->filterIndex == 2) format = Format::Pdf;
    if (EndsWithIgnoringCase(choice->path, ".edf")) format = Format::Edf;
    if (EndsWithIgnoringCase(choice->path, ".csv")) format = Format::Csv;
    if (EndsWithIgnoringCase(choice->path, ".pdf")) format = Format::Pdf;
    ExportOptions exportOptions = ExportOptionsForStore(context.store, context.currentDataFile);
    // A recording not saved yet (or saved before its sidecar could be): what
    // the acquisition knows of it.
    if (!exportOptions.sidecar && context.sidecar) exportOptions.sidecar = context.sidecar();
    switch (format) {
      case Format::Csv: ExportCsv(context.store, choice->path, exportOptions); break;
      case Format::Edf: ExportEdf(context.store, choice->path, exportOptions); break;
      case Format::Pdf: {
        const StoreRecords records(context.store);
        WritePdfReport(records, SurveyRecording(records), choice->path, PdfReportOptions{exportOptions, {}, {}});
        break;
      }
    }
  } catch (const std::exception& error) {
    ShowQuietly(context.dialogs, error.what());
  }
}

void PrintButtonClick(TRecordingContext& context) {
  std::unique_ptr<PrintJob> job = context.dialogs.ExecutePrintDialog();
  if (!job) return;
  PrintChartPage(*job, context.chart, context.currentDataFile, context.nowText);
}
