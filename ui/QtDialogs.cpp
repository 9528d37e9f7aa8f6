#include "ui/QtDialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
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

QString FilterSuffix(const QString& qtFilterEntry) {
  const qsizetype open = qtFilterEntry.lastIndexOf(QLatin1Char('('));
  const qsizetype close = qtFilterEntry.lastIndexOf(QLatin1Char(')'));
  if (open < 0 || close < open) return {};
  const QString first =
      qtFilterEntry.mid(open + 1, close - open - 1).section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
  if (!first.startsWith(QLatin1String("*."))) return {};
  const QString suffix = first.mid(2);
  return suffix.contains(QLatin1Char('*')) ? QString() : suffix;
}

void QtDialogs::ShowMessage(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::NoIcon, DisplayText(caption), DisplayText(text), QMessageBox::Ok, parent_);
  box.exec();
}

bool QtDialogs::Confirm(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, DisplayText(caption), DisplayText(text), QMessageBox::Yes | QMessageBox::No,
                  parent_);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::size_t> QtDialogs::Choose(const std::string& text, const std::string& caption,
                                             const std::vector<std::string>& buttons) {
  QMessageBox box(QMessageBox::Question, DisplayText(caption), DisplayText(text), QMessageBox::NoButton, parent_);
  std::vector<QAbstractButton*> added;
  added.reserve(buttons.size());
  for (const std::string& label : buttons) added.push_back(box.addButton(DisplayText(label), QMessageBox::ActionRole));
  if (!added.empty()) box.setDefaultButton(qobject_cast<QPushButton*>(added.front()));
  box.exec();
  for (std::size_t i = 0; i < added.size(); ++i)
    if (box.clickedButton() == added[i]) return i;
  return std::nullopt;
}

std::optional<long long> QtDialogs::AskNumber(const std::string& text, const std::string& caption, long long minimum,
                                              long long maximum, long long initial) {
  constexpr long long kLargest = std::numeric_limits<int>::max();
  auto field = [&](long long value) { return static_cast<int>(std::clamp(value, 0LL, kLargest)); };
  bool ok = false;
  const int value = QInputDialog::getInt(parent_, DisplayText(caption), DisplayText(text), field(initial),
                                         field(minimum), field(maximum), 1, &ok);
  if (!ok) return std::nullopt;
  return value;
}

std::optional<std::size_t> QtDialogs::ChooseOnTable(const std::string& table, const std::string& caption,
                                                    const std::vector<std::string>& buttons) {
  QDialog dialog(parent_);
  dialog.setObjectName(QStringLiteral("TableDialog"));
  dialog.setWindowTitle(DisplayText(caption));
  auto* text = new QPlainTextEdit(DisplayText(table), &dialog);
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // The whole table when the screen has room, else as much as fits.
  const QFontMetrics metrics(text->font());
  int width = 0;
  const QStringList lines = text->toPlainText().split(QLatin1Char('\n'));
  for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
  const QScreen* screen = parent_ ? parent_->screen() : QGuiApplication::primaryScreen();
  const QSize room = screen ? screen->availableGeometry().size() * 9 / 10 : QSize(1024, 700);
  text->setMinimumSize(std::min(width + 40, room.width() - 40),
                       std::min(metrics.lineSpacing() * static_cast<int>(lines.size() + 1) + 20, room.height() - 80));
  auto* box = new QDialogButtonBox(&dialog);
  std::vector<QAbstractButton*> added;
  added.reserve(buttons.size());
  for (const std::string& label : buttons)
    added.push_back(box->addButton(DisplayText(label), QDialogButtonBox::ActionRole));
  if (!added.empty()) qobject_cast<QPushButton*>(added.front())->setDefault(true);
  std::optional<std::size_t> chosen;
  QObject::connect(box, &QDialogButtonBox::clicked, &dialog, [&](QAbstractButton* button) {
    for (std::size_t i = 0; i < added.size(); ++i)
      if (button == added[i]) chosen = i;
    dialog.accept();
  });
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(text);
  layout->addWidget(box);
  dialog.exec();
  return chosen;
}

namespace {

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

QString QtDialogs::StartFolder() const { return lastFolder_.isEmpty() ? QDir::homePath() : lastFolder_; }

std::optional<FileChoice> QtDialogs::RunFileDialog(const FileDialogOptions& options, bool save) {
  QFileDialog dialog(parent_);
  // Not the folder the program was started from: that is usually the
  // source or build tree, never where recordings belong.
  dialog.setDirectory(StartFolder());
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save || !options.fileMustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QString filters = QtFileFilter(options.filter);
  dialog.setNameFilter(filters);
  QString ext = QString::fromStdString(options.defaultExt);
  while (ext.startsWith(QLatin1Char('*')) || ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
  if (!ext.isEmpty()) dialog.setDefaultSuffix(ext);
  if (save && !ext.isEmpty()) {
    // The suffix added to a bare name follows the filter the user picks.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, ext](const QString& entry) {
      const QString suffix = FilterSuffix(entry);
      dialog.setDefaultSuffix(suffix.isEmpty() ? ext : suffix);
    });
  }
  if (!options.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return FileChoice{};
  lastFolder_ = QFileInfo(files.first()).absolutePath();
  FileChoice choice;
  choice.path = files.first().toLocal8Bit().toStdString();
  const qsizetype index = filters.split(QStringLiteral(";;")).indexOf(dialog.selectedNameFilter());
  choice.filterIndex = index < 0 ? 0 : static_cast<std::size_t>(index);
  return choice;
}

std::optional<std::string> QtDialogs::ExecuteSaveDialog(const FileDialogOptions& options) {
  std::optional<FileChoice> choice = RunFileDialog(options, true);
  if (!choice) return std::nullopt;
  return std::move(choice->path);
}

std::optional<FileChoice> QtDialogs::ExecuteSaveDialogWithFilter(const FileDialogOptions& options) {
  return RunFileDialog(options, true);
}

std::optional<std::string> QtDialogs::ExecuteOpenDialog(const FileDialogOptions& options) {
  std::optional<FileChoice> choice = RunFileDialog(options, false);
  if (!choice) return std::nullopt;
  return std::move(choice->path);
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

std::unique_ptr<PrintJob> PdfPrintJob(const std::string& pdfPath) {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(QString::fromStdString(pdfPath));
  return PrintJobOn(std::move(printer));
}
