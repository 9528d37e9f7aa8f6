#pragma once
// TDialogs over Qt: QMessageBox, QFileDialog, QPrintDialog + QPrinter. Every
// dialog is modal and keeps the event loop running while it is open.
#include <QString>
#include <QWidget>

#include "recording/Dialogs.h"

class QtDialogs : public TDialogs {
 public:
  // `parent` centres the dialogs over the window; may be null.
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  std::optional<std::string> ExecuteSaveDialog(const FileDialogOptions& options) override;
  std::optional<std::string> ExecuteOpenDialog(const FileDialogOptions& options) override;
  std::unique_ptr<PrintJob> ExecutePrintDialog() override;

 private:
  QWidget* parent_;
};

class QPrinter;

// A print job drawing on `printer` (the print dialog's, or a PDF file's in
// tests): landscape on request, one page per document.
std::unique_ptr<PrintJob> PrintJobOn(std::unique_ptr<QPrinter> printer);

// "ECG Log File|*.log|All|*.*" -> "ECG Log File (*.log);;All (*.*)". A
// trailing description without a pattern is kept as it is.
QString QtFileFilter(const std::string& filter);
// The printable text of a byte string as the tool shows it: single-byte
// characters, read as Latin-1 unless the bytes are valid UTF-8.
QString DisplayText(const std::string& text);
