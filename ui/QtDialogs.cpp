#include "ui/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QStringDecoder>
#include <stdexcept>

#include "chart/PainterCanvas.h"

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    if (i + 1 < parts.size()) {
      QString patterns = parts[i + 1];
      patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
      entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    } else if (!parts[i].isEmpty()) {
      entries << parts[i];
    }
  }
  return entries.join(QStringLiteral(";;"));
}

QString DisplayText(const std::string& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!utf8.hasError()) return decoded;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void QtDialogs::ShowMessage(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::NoIcon, DisplayText(caption), DisplayText(text), QMessageBox::Ok, parent_);
  box.exec();
}

bool QtDialogs::Confirm(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, DisplayText(caption), DisplayText(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

namespace {

std::optional<std::string> RunFileDialog(QWidget* parent, const FileDialogOptions& options, bool save) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save || !options.fileMustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilter(QtFileFilter(options.filter));
  QString ext = QString::fromStdString(options.defaultExt);
  while (ext.startsWith(QLatin1Char('*')) || ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
  if (!ext.isEmpty()) dialog.setDefaultSuffix(ext);
  if (!options.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::string();
  return files.first().toLocal8Bit().toStdString();
}

// One document on the printer the user chose; the page is drawn through a
// PainterCanvas so the print-out uses the same operations as the chart.
class QtPrintJob : public PrintJob {
 public:
  explicit QtPrintJob(std::unique_ptr<QPrinter> printer) : printer_(std::move(printer)) {}
  // A job dropped between BeginDoc and EndDoc was not completed: abort it
  // rather than let the painter's end send what was drawn so far.
  ~QtPrintJob() override { Abort(); }

  void SetLandscape() override { printer_->setPageOrientation(QPageLayout::Landscape); }
  void BeginDoc() override {
    if (!painter_.begin(printer_.get())) throw std::runtime_error("Printing failed: the printer could not be opened");
    const QRect page = printer_->pageLayout().paintRectPixels(printer_->resolution());
    canvas_ = std::make_unique<PainterCanvas>(painter_, page.width(), page.height(), printer_->resolution());
  }
  int PageWidth() const override { return canvas_ ? canvas_->Width() : 0; }
  int PageHeight() const override { return canvas_ ? canvas_->Height() : 0; }
  ChartCanvas& Page() override {
    if (!canvas_) throw std::logic_error("Printing failed: no document begun");
    return *canvas_;
  }
  void EndDoc() override {
    canvas_.reset();
    if (!painter_.end()) throw std::runtime_error("Printing failed: the page could not be sent to the printer");
  }
  void Abort() noexcept override {
    canvas_.reset();
    if (!painter_.isActive()) return;
    printer_->abort();
    painter_.end();
  }

 private:
  std::unique_ptr<QPrinter> printer_;
  QPainter painter_;
  std::unique_ptr<PainterCanvas> canvas_;
};

}  // namespace

std::optional<std::string> QtDialogs::ExecuteSaveDialog(const FileDialogOptions& options) {
  return RunFileDialog(parent_, options, true);
}

std::optional<std::string> QtDialogs::ExecuteOpenDialog(const FileDialogOptions& options) {
  return RunFileDialog(parent_, options, false);
}

std::unique_ptr<PrintJob> QtDialogs::ExecutePrintDialog() {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  QPrintDialog dialog(printer.get(), parent_);
  if (dialog.exec() != QDialog::Accepted) return nullptr;
  return PrintJobOn(std::move(printer));
}

std::unique_ptr<PrintJob> PrintJobOn(std::unique_ptr<QPrinter> printer) {
  return std::make_unique<QtPrintJob>(std::move(printer));
}
