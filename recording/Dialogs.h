#pragma once
// Everything that asks the user something or tells the user something goes
// through this interface: message boxes, the yes/no confirmation, the file
// dialogs and the print dialog. The window passes its Qt implementation in;
// tests pass a scripted one. Writers and loaders never open a dialog
// themselves (a modal dialog re-enters the event loop, so where it happens
// must be visible at the call site).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chart/ChartCanvas.h"

struct FileDialogOptions {
  std::string filter;      // "ECG Data Files|*.dat" style: description|pattern pairs
  std::string defaultExt;  // without the dot, may be empty
  bool overwritePrompt = false;
  bool fileMustExist = false;
  bool pathMustExist = false;
};

// A name chosen in a save dialog, with the filter entry (0-based, in the
// order of FileDialogOptions::filter) that was in force when it was chosen.
struct FileChoice {
  std::string path;
  std::size_t filterIndex = 0;
};

// One printed document, as the print dialog hands it out once confirmed.
class PrintJob {
 public:
  virtual ~PrintJob() = default;
  virtual void SetLandscape() = 0;
  virtual void BeginDoc() = 0;
  virtual int PageWidth() const = 0;  // device pixels, valid after BeginDoc
  virtual int PageHeight() const = 0;
  virtual ChartCanvas& Page() = 0;  // valid between BeginDoc and EndDoc
  virtual void EndDoc() = 0;        // sends the page to the printer
  // Drops a begun document without sending anything (after a failure while
  // the page was being drawn). Never throws.
  virtual void Abort() noexcept = 0;
};

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // Modal message box with one OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // Modal Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
  // Modal question with the given buttons, left to right: the index of the
  // one pressed, or nothing when the box was closed without an answer.
  virtual std::optional<std::size_t> Choose(const std::string& text, const std::string& caption,
                                            const std::vector<std::string>& buttons) = 0;
  // Choose for a text laid out in columns (a table padded with spaces): shown
  // in a fixed-pitch face, lines not wrapped, scrolled when it is larger than
  // the screen, so that the buttons stay in reach. By default the question
  // box.
  virtual std::optional<std::size_t> ChooseOnTable(const std::string& table, const std::string& caption,
                                                   const std::vector<std::string>& buttons) {
    return Choose(table, caption, buttons);
  }
  // Modal question for a whole number from `minimum` to `maximum`,
  // `initial` proposed: the number given, or nothing when cancelled.
  virtual std::optional<long long> AskNumber(const std::string& text, const std::string& caption, long long minimum,
                                             long long maximum, long long initial) = 0;
  // File dialogs: the chosen path, or nothing when cancelled.
  virtual std::optional<std::string> ExecuteSaveDialog(const FileDialogOptions& options) = 0;
  virtual std::optional<std::string> ExecuteOpenDialog(const FileDialogOptions& options) = 0;
  // A save dialog whose caller needs to know which filter entry was chosen
  // (one file, several formats).
  virtual std::optional<FileChoice> ExecuteSaveDialogWithFilter(const FileDialogOptions& options) = 0;
  // Print dialog: a job to print on, or null when cancelled.
  virtual std::unique_ptr<PrintJob> ExecutePrintDialog() = 0;
};
