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
  std::optional<std::size_t> Choose(const std::string& text, const std::string& caption,
                                    const std::vector<std::string>& buttons) override;
  // A dialog of its own (object name "TableDialog"): the table in a
  // read-only text field, the buttons under it.
  std::optional<std::size_t> ChooseOnTable(const std::string& table, const std::string& caption,
                                           const std::vector<std::string>& buttons) override;
  // QInputDialog's number field (whole numbers up to 2^31 - 1).
  std::optional<long long> AskNumber(const std::string& text, const std::string& caption, long long minimum,
                                     long long maximum, long long initial) override;
  std::optional<std::string> ExecuteSaveDialog(const FileDialogOptions& options) override;
  std::optional<std::string> ExecuteOpenDialog(const FileDialogOptions& options) override;
  std::optional<FileChoice> ExecuteSaveDialogWithFilter(const FileDialogOptions& options) override;
  std::unique_ptr<PrintJob> ExecutePrintDialog() override;

  // Where the next file dialog opens: the user's home folder, then the
  // folder of the last file chosen in this run. Kept in memory only.
  QString StartFolder() const;

 private:
  std::optional<FileChoice> RunFileDialog(const FileDialogOptions& options, bool save);

  QWidget* parent_;
  QString lastFolder_;
};

class QPrinter;

// A print job drawing on `printer` (the print dialog's, or a PDF file's in
// tests): landscape on request, one page per document.
std::unique_ptr<PrintJob> PrintJobOn(std::unique_ptr<QPrinter> printer);

// "ECG Log File|*.log|All|*.*" -> "ECG Log File (*.log);;All (*.*)". A
// trailing description without a pattern is kept as it is.
QString QtFileFilter(const std::string& filter);
// The extension a Qt filter entry stands for: "CSV (*.csv)" -> "csv"; empty
// when its first pattern names none ("All (*)").
QString FilterSuffix(const QString& qtFilterEntry);
// A print job writing its page to a PDF file through the same QPrinter path
// as a real printer.
std::unique_ptr<PrintJob> PdfPrintJob(const std::string& pdfPath);
// The printable text of a byte string as the tool shows it: single-byte
// characters, read as Latin-1 unless the bytes are valid UTF-8.
QString DisplayText(const std::string& text);
