#include "acceptance/AcceptanceReport.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "recording/PdfReport.h"

namespace {

constexpr int kResolution = 600;  // dots per inch of the PDF's coordinates
constexpr double kMmPerInch = 25.4;
constexpr double kPageWidth = 297;
constexpr double kPageHeight = 210;
constexpr double kMargin = 10;
constexpr double kTextMm = 2.8;  // about 8 pt
constexpr double kRowMm = 4.6;

QString Text(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QColor VerdictColour(Verdict verdict) {
  switch (verdict) {
    case Verdict::Pass: return {0, 120, 0};
    case Verdict::Fail: return {190, 0, 0};
    case Verdict::Error: return {200, 110, 0};
    case Verdict::Sent: return {90, 90, 90};
  }
  return Qt::black;
}

// `text` in the cell (mm) left of its top, `height` mm high, cut with an
// ellipsis where it does not fit.
void Cell(QPainter& painter, const QRectF& cell, double height, const std::string& text, bool bold = false,
          const QColor& colour = Qt::black) {
  painter.save();
  painter.translate(cell.topLeft());
  painter.scale(0.1, 0.1);  // the font's pixels are tenths of a millimetre
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(static_cast<int>(height * 10));
  font.setBold(bold);
  painter.setFont(font);
  painter.setPen(QPen(colour, 0));
  const QRectF box(0, 0, cell.width() * 10, cell.height() * 10);
  const QString shown = QFontMetricsF(font).elidedText(Text(text), Qt::ElideRight, box.width());
  painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  painter.restore();
}

class Pages {
 public:
  explicit Pages(QPdfWriter& writer) : writer_(writer) {}

  // Room for `height` mm more on this page, else a new one.
  double Need(double height) {
    if (y_ + height > kPageHeight - kMargin) New();
    return y_;
  }
  void New() {
    if (!first_) writer_.newPage();
    first_ = false;
    y_ = kMargin;
  }
  void Advance(double mm) { y_ += mm; }
  double Y() const { return y_; }

 private:
  QPdfWriter& writer_;
  bool first_ = true;
  double y_ = kMargin;
};

void DrawHeader(QPainter& painter, Pages& pages, const RunReport& report) {
  const bool passed = ExitCode(report) == 0;
  pages.New();
  Cell(painter, QRectF(kMargin, pages.Y(), 200, 8), 6,
       "Module acceptance test: " + std::string(passed ? "PASS" : "FAIL"), true,
       passed ? VerdictColour(Verdict::Pass) : VerdictColour(Verdict::Fail));
  pages.Advance(10);
  const RunCounts counts = Counts(report);
  const std::array<std::pair<const char*, std::string>, 7> lines{{
      {"Plan", report.planName + (report.planSource.empty() ? "" : "  (" + report.planSource + ")")},
      {"SHA-256", report.planSha256},
      {"Started", report.started.toString("yyyy-MM-dd HH:mm:ss t").toStdString()},
      {"Duration", QString::number(report.seconds, 'f', 1).toStdString() + " s"},
      {"Port", report.port},
      {"Identification", report.identification.empty() ? "none" : report.identification},
      {"Results", std::to_string(counts.tests) + ": " + std::to_string(counts.passed) + " passed, " +
                      std::to_string(counts.failures) + " failed, " + std::to_string(counts.errors) + " errors, " +
                      std::to_string(counts.sent) + " sent (not verifiable)"},
  }};
  for (const auto& [name, value] : lines) {
    Cell(painter, QRectF(kMargin, pages.Y(), 30, kRowMm), kTextMm, name, true);
    Cell(painter, QRectF(kMargin + 30, pages.Y(), kPageWidth - 2 * kMargin - 30, kRowMm), kTextMm, value);
    pages.Advance(kRowMm);
  }
  pages.Advance(3);
}

void DrawVerdictTable(QPainter& painter, Pages& pages, const RunReport& report) {
  // Column widths in mm; the message takes what is left.
  constexpr std::array<double, 5> kWidths{28, 50, 16, 52, 52};
  const double messageWidth = kPageWidth - 2 * kMargin - 198;
  const auto row = [&](const std::array<std::string, 6>& cells, bool bold, const QColor& verdictColour) {
    const double y = pages.Need(kRowMm);
    double x = kMargin;
    for (std::size_t column = 0; column < cells.size(); ++column) {
      const double width = column < kWidths.size() ? kWidths[column] : messageWidth;
      Cell(painter, QRectF(x, y, width - 1.5, kRowMm), kTextMm, cells[column], bold || column == 2,
           column == 2 ? verdictColour : QColor(Qt::black));
      x += width;
    }
    painter.save();
    painter.setPen(QPen(QColor(200, 200, 200), 0.1));
    painter.drawLine(QPointF(kMargin, y + kRowMm), QPointF(kPageWidth - kMargin, y + kRowMm));
    painter.restore();
    pages.Advance(kRowMm);
  };
  row({"Check", "Setting", "Verdict", "Measured", "Limits", "Message"}, true, Qt::black);
  for (const CheckResult& result : report.results) {
    std::string verdict(VerdictName(result.verdict));
    std::transform(verdict.begin(), verdict.end(), verdict.begin(), [](unsigned char c) { return std::toupper(c); });
    row({result.check, result.setting.empty() ? "-" : result.setting, verdict, MeasuredText(result), LimitsText(result),
         result.message},
        false, VerdictColour(result.verdict));
  }
  pages.Advance(4);
}

void DrawRates(QPainter& painter, Pages& pages, const RunReport& report) {
  if (report.rates.empty()) return;
  pages.Need(kRowMm * static_cast<double>(report.rates.size() + 2));
  Cell(painter, QRectF(kMargin, pages.Y(), 100, 6), 4, "Measured rates", true);
  pages.Advance(6);
  constexpr std::array<double, 5> kColumns{0, 30, 60, 90, 120};
  const auto row = [&](const std::array<std::string, 5>& cells, bool bold) {
    for (std::size_t i = 0; i < cells.size(); ++i)
      Cell(painter, QRectF(kMargin + kColumns[i], pages.Y(), 29, kRowMm), kTextMm, cells[i], bold);
    pages.Advance(kRowMm);
  };
  row({"Setting", "Set", "Measured", "Deviation", "Records"}, true);
  for (const RateFigure& rate : report.rates) {
    const auto number = [](double value, int decimals) { return QString::number(value, 'f', decimals).toStdString(); };
    row({rate.setting, number(rate.set, 0) + " / sec", rate.measured ? number(*rate.measured, 2) + " / sec" : "-",
         rate.measured ? number((*rate.measured - rate.set) / rate.set * 100, 2) + " %" : "-",
         std::to_string(rate.records) + " in " + number(rate.seconds, 1) + " s"},
        false);
  }
}

void DrawCalibration(QPainter& painter, QPdfWriter& writer, const CalibrationPlot& plot) {
  writer.newPage();
  Cell(painter, QRectF(kMargin, kMargin, 250, 6), 4,
       "Calibration " + plot.stage + ": the 1 mV rectangle in every lead, 25 mm/s, 10 mm/mV", true);
  if (plot.samplesPerSecond <= 0 || plot.leads.empty()) return;
  const std::size_t rows = (plot.leads.size() + 1) / 2;
  const double top = kMargin + 9;
  const double height = std::min(30.0, std::floor((kPageHeight - kMargin - top) / static_cast<double>(rows)));
  const double columnWidth = (kPageWidth - 2 * kMargin) / 2;
  for (std::size_t i = 0; i < plot.leads.size(); ++i) {
    const CalibrationPlot::Lead& lead = plot.leads[i];
    const std::size_t column = i / rows;  // the first `rows` leads left, the others right
    const double left = kMargin + static_cast<double>(column) * columnWidth + kReportLabelWidth;
    const double width = std::floor(columnWidth - kReportLabelWidth - 3);
    const QRectF area(left, top + static_cast<double>(i % rows) * height, width, height - 2);
    DrawMillimetreGrid(painter, area);
    StripScale scale;
    scale.baseline = lead.zero;
    if (lead.stepsPerMv && *lead.stepsPerMv > 0) {
      scale.mmPerStep = kReportMmPerMv / *lead.stepsPerMv;
      scale.calibrated = true;
      scale.baseline = lead.zero + *lead.stepsPerMv / 2;  // the rectangle about the strip's middle
    }
    const std::size_t shown =
        std::min(lead.samples.size(), static_cast<std::size_t>(width / kReportMmPerSecond * plot.samplesPerSecond));
    DrawLeadStrip(painter, area, std::span(lead.samples).first(shown), plot.samplesPerSecond, scale, {}, lead.name);
    const std::string figure = lead.stepsPerMv ? QString::number(*lead.stepsPerMv, 'f', 1).toStdString() + " steps/mV"
                                               : lead.state + " (2 steps/mm)";
    Cell(painter, QRectF(area.right() - 40, area.top() + 0.5, 39, kRowMm), kTextMm, figure, false,
         lead.stepsPerMv ? QColor(Qt::black) : VerdictColour(Verdict::Fail));
  }
}

}  // namespace

void WriteAcceptancePdf(const RunReport& report, const std::string& path) {
  QSaveFile file(Text(path));
  if (!file.open(QIODevice::WriteOnly)) throw EResultFile(path + ": " + file.errorString().toStdString());
  {
    QPdfWriter writer(&file);
    writer.setResolution(kResolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0)));
    writer.setTitle(Text("Module acceptance test: " + report.planName));
    writer.setCreator(QStringLiteral("ecg-test"));
    QPainter painter;
    if (!painter.begin(&writer)) throw EResultFile(path + ": the PDF writer refused it");
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(kResolution / kMmPerInch, kResolution / kMmPerInch);
    Pages pages(writer);
    DrawHeader(painter, pages, report);
    DrawVerdictTable(painter, pages, report);
    DrawRates(painter, pages, report);
    for (const CalibrationPlot& plot : report.calibrations) DrawCalibration(painter, writer, plot);
    if (!painter.end()) throw EResultFile(path + ": the PDF writer failed");
  }
  if (!file.commit()) throw EResultFile(path + ": " + file.errorString().toStdString());
}
