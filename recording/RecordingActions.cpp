#include "recording/RecordingActions.h"

#include "recording/FileIO.h"
#include "recording/PrintOut.h"
#include "recording/RecordingFiles.h"
#include "recording/RecordingLoader.h"
#include "store/SampleStore.h"

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

// The file-type marker's byte in the header slot (offset 8).
std::uint8_t& MarkerByte(SampleStore& store) { return store.At(0).channels[0]; }

// Asks for names until the files are written (true) or the dialog is
// cancelled (false). Write failures are thrown.
bool ChooseNameAndWrite(TRecordingContext& context) {
  while (true) {
    const std::optional<std::string> logName = context.dialogs.ExecuteSaveDialog(SaveDialogOptions());
    if (!logName) return false;
    if (logName->empty()) continue;

    const std::string dataName = DataNameForLogName(*logName);
    context.currentDataFile = dataName;
    // A name whose data name is itself would make the two files one.
    if (PathExists(*logName) || PathExists(dataName) || dataName == *logName) {
      context.dialogs.ShowMessage("Invalid Filename or File already existing", " Error creating File");
      continue;
    }

    std::uint8_t& marker = MarkerByte(context.store);
    const std::uint8_t previousMarker = marker;
    marker = kDataFileMarker;
    try {
      WriteRecordingFiles(context.store, *logName, dataName, context.nowText(), context.formatTime);
    } catch (...) {
      marker = previousMarker;  // a failed save leaves the store as it was
      throw;
    }
    return true;
  }
}

}  // namespace

void FileSave(TRecordingContext& context, std::string_view preface) {
  try {
    std::string question = "Do you want to save te actual Data?";
    if (!preface.empty()) question = std::string(preface) + "\n" + question;
    if (!context.dialogs.Confirm(question, "Confirm")) {
      context.view.SetSaveButtonVisible(true);
      return;
    }
    // Hidden only once the recording is on the disk: a cancelled dialog
    // must not take the last way to save it away (the next Read overwrites
    // the store).
    const bool saved = ChooseNameAndWrite(context);
    context.view.SetSaveButtonVisible(!saved);
  } catch (const std::exception& error) {
    // The recording is still in the store: keep Save offered so the user can
    // try another name or folder.
    context.view.SetSaveButtonVisible(true);
    try {
      context.dialogs.ShowMessage(error.what(), kRecordingMessageCaption);
    } catch (...) {
      // Nothing more can be told; reception must go on.
    }
  }
}

void SaveButtonClick(TRecordingContext& context) { FileSave(context); }

void LoadButtonClick(TRecordingContext& context) {
  const std::optional<std::string> name = context.dialogs.ExecuteOpenDialog(OpenDialogOptions());
  if (!name || name->empty()) return;
  LoadRecordingFile(context, *name);
}

void PrintButtonClick(TRecordingContext& context) {
  std::unique_ptr<PrintJob> job = context.dialogs.ExecutePrintDialog();
  if (!job) return;
  PrintChartPage(*job, context.chart, context.currentDataFile, context.nowText);
}
