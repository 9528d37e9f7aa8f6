#include "recording/PdfReport.h"

#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QString>
#include <algorithm>
#include <cmath>
#include <utility>

#include "analysis/QrsDetector.h"
#include "chart/TracePlot.h"
#include "store/NumberText.h"

namespace {

// A4 landscape, in millimetres.
constexpr double kPageHeight = 210;  // the width (297) follows from the margins
constexpr double kMargin = 10;
constexpr double kHeaderHeight = 22;
constexpr double kMaxBandHeight = 30;
constexpr int kResolution = 600;  // dots per inch of the PDF's coordinates
constexpr double kMmPerInch = 25.4;
constexpr double kTextMm = 2.8;  // the header's letters, about 8 pt

std::string Number(long long value) { return std::to_string(value); }

// "hh:mm:ss" of a time of day in milliseconds, wrapped over midnight.
std::string ClockTime(long long msOfDay) {
  constexpr long long kMsPerDay = 86400000;
  msOfDay = (msOfDay % kMsPerDay + kMsPerDay) % kMsPerDay;
  char text[16];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", msOfDay / 3600000, msOfDay / 60000 % 60,
                msOfDay / 1000 % 60);
  return text;
}

long long MsAfterStart(long long sample, int rate) { return std::llround(static_cast<double>(sample) * 1000.0 / rate); }

std::string SpanText(const ReportSpan& span, int rate, const LocalDateTime& start) {
  const double from = static_cast<double>(span.first) / rate, to = static_cast<double>(span.end) / rate;
  return FixedText(from, 1) + "-" + FixedText(to, 1) + " s (" +
         ClockTime(start.msOfDay + MsAfterStart(span.first, rate)) + "-" +
         ClockTime(start.msOfDay + MsAfterStart(span.end, rate)) + ")";
}

std::string CalibrationText(const ReportPlan& plan) {
  int calibrated = 0;
  for (const auto& lead : plan.calibration) calibrated += lead ? 1 : 0;
  const int leads = static_cast<int>(plan.leads.size());
  std::string text = "Calibration: ";
  if (calibrated == 0) {
    text += "none usable";
  } else {
    // A lead's calibration is used only when it names the recording's stage.
    const int stage = plan.sidecar && plan.sidecar->calibration ? plan.sidecar->calibration->stage.value_or(0) : 0;
    text += "stage " + Number(stage) + ", " + Number(calibrated) + " of " + Number(leads) + " leads in mV";
  }
  text += "   Scale: 25 mm/s";
  if (calibrated > 0) text += ", 10 mm/mV";
  if (calibrated < leads) text += ", uncalibrated leads " + FixedText(kReportStepsPerMm, 0) + " steps/mm";
  return text;
}

std::optional<SidecarLeadCalibration> CalibrationOf(const ExportPlan& plan, ChartChannel channel) {
  for (std::size_t i = 0; i < plan.channels.size(); ++i)
    if (plan.channels[i] == channel) return plan.calibration[i];
  return std::nullopt;
}

QString Text(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Text drawn at (x, y) (the baseline's left end, mm) `height` mm high.
void PutText(QPainter& painter, double x, double y, double height, const std::string& text, bool bold = false) {
  painter.save();
  painter.translate(x, y);
  painter.scale(0.1, 0.1);  // the font's pixels are tenths of a millimetre
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(static_cast<int>(height * 10));
  font.setBold(bold);
  painter.setFont(font);
  painter.setPen(QPen(Qt::black, 0));
  painter.drawText(QPointF(0, 0), Text(text));
  painter.restore();
}

double Median(std::vector<int> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

void DrawPageHeader(QPainter& painter, const std::vector<std::string>& lines) {
  double y = kMargin + kTextMm;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    PutText(painter, kMargin, y, kTextMm, lines[i], i == 0);
    y += kTextMm * 1.45;
  }
}

void DrawStripPage(QPainter& painter, const ReportPlan& plan, std::size_t page,
                   const std::vector<std::vector<int>>& samples) {
  DrawPageHeader(painter, ReportPageHeader(plan, page));
  const int rate = plan.exportPlan.report.rate;
  const ReportSpan& span = plan.pages[page];
  const double gridWidth = kReportPageSeconds * kReportMmPerSecond;
  const double top = kMargin + kHeaderHeight;
  const double available = kPageHeight - kMargin - top;
  const double band = std::min(
      kMaxBandHeight, std::floor(available / static_cast<double>(std::max<std::size_t>(1, plan.leads.size()))));
  const double left = kMargin + kReportLabelWidth;
  const QRectF whole(left, top, gridWidth, band * static_cast<double>(plan.leads.size()));
  DrawMillimetreGrid(painter, whole);

  std::vector<std::int64_t> beats;
  for (std::int64_t beat : plan.beats)
    if (beat >= span.first && beat < span.end) beats.push_back(beat - span.first);
  for (std::size_t lead = 0; lead < plan.leads.size(); ++lead) {
    const QRectF area(left, top + band * static_cast<double>(lead), gridWidth, band);
    const StripScale scale = StripScaleFor(plan.calibration[lead], Median(samples[lead]));
    const bool withBeats = plan.beatLead && *plan.beatLead == plan.leads[lead];
    DrawLeadStrip(painter, area, samples[lead], rate, scale,
                  withBeats ? std::span<const std::int64_t>(beats) : std::span<const std::int64_t>(),
                  std::string(ChannelName(plan.leads[lead])) + (scale.calibrated ? "" : " (steps)"), whole);
  }
  // Markers: a dashed line through every lead, the number and text above.
  painter.save();
  painter.setPen(QPen(QColor(0, 0, 200), 0.3, Qt::DashLine));
  for (const auto& [record, text] : plan.markers) {
    if (record < span.first || record >= span.end) continue;
    const double x = left + static_cast<double>(record - span.first) / rate * kReportMmPerSecond;
    painter.drawLine(QPointF(x, whole.top()), QPointF(x, whole.bottom()));
    PutText(painter, x + 0.5, whole.top() - 0.8, kTextMm * 0.9, text);
  }
  painter.restore();
}

void DrawFiguresPage(QPainter& painter, const ReportPlan& plan, const RecordingSurvey& survey) {
  const std::vector<std::string> lines = ReportFigures(plan, survey);
  double y = kMargin + kTextMm * 1.6;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    PutText(painter, kMargin, y, i == 0 ? kTextMm * 1.6 : kTextMm * 1.2, lines[i], i == 0);
    y += i == 0 ? kTextMm * 3 : kTextMm * 1.9;
  }
}

}  // namespace

StripScale StripScaleFor(const std::optional<SidecarLeadCalibration>& calibration, double baseline) {
  StripScale scale;
  scale.baseline = baseline;
  if (calibration && calibration->stepsPerMv > 0) {
    scale.mmPerStep = kReportMmPerMv / calibration->stepsPerMv;
    scale.calibrated = true;
  }
  return scale;
}

void DrawMillimetreGrid(QPainter& painter, const QRectF& area) {
  painter.save();
  const QColor thin(245, 190, 190), thick(225, 110, 110);
  const int columns = static_cast<int>(std::floor(area.width() + 1e-9));
  const int rows = static_cast<int>(std::floor(area.height() + 1e-9));
  // The thin lines first, so the thick ones lie over them.
  for (int pass = 0; pass < 2; ++pass) {
    painter.setPen(QPen(pass == 0 ? thin : thick, pass == 0 ? 0.08 : 0.2));
    for (int i = 0; i <= columns; ++i) {
      if ((i % 5 == 0) != (pass == 1)) continue;
      const double x = area.left() + i;
      painter.drawLine(QPointF(x, area.top()), QPointF(x, area.top() + rows));
    }
    for (int j = 0; j <= rows; ++j) {
      if ((j % 5 == 0) != (pass == 1)) continue;
      const double y = area.top() + j;
      painter.drawLine(QPointF(area.left(), y), QPointF(area.left() + columns, y));
    }
  }
  painter.restore();
}

void DrawLeadStrip(QPainter& painter, const QRectF& area, std::span<const int> samples, double rate,
                   const StripScale& scale, std::span<const std::int64_t> beats, const std::string& label,
                   const std::optional<QRectF>& clip) {
  painter.save();
  painter.setClipRect(clip.value_or(area));
  const double middle = area.center().y();
  auto xOf = [&](std::size_t i) { return area.left() + static_cast<double>(i) / rate * scale.mmPerSecond; };
  auto yOf = [&](int value) { return middle - (value - scale.baseline) * scale.mmPerStep; };
  if (!samples.empty()) {
    QPainterPath path(QPointF(xOf(0), yOf(samples[0])));
    for (std::size_t i = 1; i < samples.size(); ++i) path.lineTo(xOf(i), yOf(samples[i]));
    painter.setPen(QPen(Qt::black, 0.25, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
  }
  painter.setPen(QPen(QColor(0, 130, 0), 0.35));
  for (std::int64_t beat : beats) {
    if (beat < 0 || static_cast<std::size_t>(beat) >= samples.size()) continue;
    const double x = xOf(static_cast<std::size_t>(beat));
    painter.drawLine(QPointF(x, area.top() + 0.2), QPointF(x, area.top() + 1.5));
  }
  painter.restore();
  PutText(painter, area.left() - kReportLabelWidth + 1, area.top() + kTextMm + 1, kTextMm, label, true);
}

ReportSpan ChooseReportSpan(long long records, int rate, std::optional<double> fromSeconds,
                            std::optional<double> toSeconds) {
  const double length = static_cast<double>(records) / rate;
  const std::string whole = " (the recording lasts " + FixedText(length, 3) + " s)";
  if (fromSeconds && !(*fromSeconds >= 0 && *fromSeconds < length))
    throw EReportSpan("--from " + FixedText(*fromSeconds, 3) + " s is not within the recording" + whole);
  if (toSeconds && !(*toSeconds > fromSeconds.value_or(0)))
    throw EReportSpan("--to " + FixedText(*toSeconds, 3) + " s is not after the span's start" + whole);
  // Seconds written in decimals seldom make whole samples exactly (19.99 s
  // at 300/s is 5996.9999...): within a millionth of one they do.
  constexpr double kSlack = 1e-6;
  ReportSpan span{0, records};
  if (fromSeconds) span.first = std::min(records - 1, static_cast<long long>(std::floor(*fromSeconds * rate + kSlack)));
  if (toSeconds && *toSeconds < length)
    span.end = std::max(span.first + 1, static_cast<long long>(std::ceil(*toSeconds * rate - kSlack)));
  return span;
}

std::vector<ReportSpan> ReportPages(const ReportSpan& span, int rate) {
  const long long perPage = static_cast<long long>(std::llround(kReportPageSeconds * rate));
  std::vector<ReportSpan> pages;
  for (long long first = span.first; first < span.end; first += perPage)
    pages.push_back({first, std::min(span.end, first + perPage)});
  return pages;
}

std::vector<ChartChannel> ReportLeads(const RecordingSurvey& survey) {
  std::vector<ChartChannel> leads;
  for (ChartChannel channel : survey.shape.shown)
    if (channel != ccResp) leads.push_back(channel);
  return leads;
}

std::vector<std::string> ReportPageHeader(const ReportPlan& plan, std::size_t page) {
  const ExportReport& report = plan.exportPlan.report;
  const std::optional<std::string> identification = plan.sidecar ? plan.sidecar->identification : std::nullopt;
  std::string first = identification && !identification->empty() ? *identification : "No identification";
  first += "   Page " + Number(static_cast<long long>(page) + 2) + " of " +
           Number(static_cast<long long>(plan.pages.size()) + 1);
  std::string setup = "Set-up: " + plan.exportPlan.setup;
  if (!plan.exportPlan.filters.empty()) setup += " " + plan.exportPlan.filters;
  return {
      first, setup, CalibrationText(plan),
      "Start: " + IsoDateTime(report.start) + "   This page: " + SpanText(plan.pages[page], report.rate, report.start)};
}

std::vector<std::string> ReportFigures(const ReportPlan& plan, const RecordingSurvey& survey) {
  const ExportReport& report = plan.exportPlan.report;
  const RecordingSidecar* sidecar = plan.sidecar ? &*plan.sidecar : nullptr;
  std::vector<std::string> lines;
  lines.emplace_back("Recording report");
  lines.push_back("Identification: " + (sidecar && sidecar->identification && !sidecar->identification->empty()
                                            ? *sidecar->identification
                                            : std::string("none")));
  lines.push_back("Set-up: " + plan.exportPlan.setup +
                  (plan.exportPlan.filters.empty() ? "" : " " + plan.exportPlan.filters));
  lines.push_back(CalibrationText(plan));
  lines.push_back("Start: " + IsoDateTime(report.start));
  lines.push_back("Records: " + Number(survey.count) + " (" +
                  FixedText(static_cast<double>(survey.count) / report.rate, 1) +
                  " s)   Reported: " + SpanText(plan.span, report.rate, report.start));
  std::string rate = "Rate: " + Number(report.rate) + "/s";
  if (report.measuredRate) rate += " (measured " + FixedText(*report.measuredRate, 1) + "/s)";
  lines.push_back(rate);
  std::string heart = "Heart rate: tool ";
  heart += plan.toolBpm > 0
               ? FixedText(plan.toolBpm, 0) + " bpm over " + Number(static_cast<long long>(plan.beats.size())) +
                     " beats of " + (plan.beatLead ? std::string(ChannelName(*plan.beatLead)) : "")
               : std::string("not found");
  const std::optional<double> module = sidecar && sidecar->heartRate ? sidecar->heartRate->moduleBpm : std::nullopt;
  heart += ", module " + (module ? FixedText(*module, 0) + " bpm" : std::string("not recorded"));
  if (module && plan.toolBpm > 0 && std::abs(*module - plan.toolBpm) > 5)
    heart += "   (they differ by more than 5 bpm)";
  lines.push_back(heart);
  if (sidecar && sidecar->integrity) {
    const SidecarIntegrity& integrity = *sidecar->integrity;
    std::string text = "Integrity:";
    if (integrity.gaps) text += " gaps " + Number(*integrity.gaps) + ",";
    long long rejected = 0;
    for (const auto& [kind, count] : integrity.rejectedFrames) rejected += count;
    text += " rejected frames " + Number(rejected) + ",";
    if (integrity.incompleteRecordsDropped)
      text += " incomplete records dropped " + Number(*integrity.incompleteRecordsDropped) + ",";
    if (integrity.silentSpells) text += " silent spells " + Number(*integrity.silentSpells) + ",";
    if (integrity.rateOff) text += std::string(" rate ") + (*integrity.rateOff ? "off" : "as set");
    lines.push_back(text);
  } else {
    lines.emplace_back("Integrity: not recorded");
  }
  lines.push_back("Marks: " + Number(static_cast<long long>(survey.markers.size())) + " markers, " +
                  Number(static_cast<long long>(survey.chestMissing.size())) + " runs without chest leads, " +
                  Number(static_cast<long long>(survey.dataLost.size())) + " runs after data lost");
  for (const std::string& note : report.notes) lines.push_back("Note: " + note);
  for (const auto& [record, text] : plan.markers)
    lines.push_back("At " + FixedText(static_cast<double>(record) / report.rate, 2) + " s: " + text);
  return lines;
}

ReportPlan PlanReport(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                      const PdfReportOptions& options) {
  ReportPlan plan;
  plan.exportPlan = PlanExport(survey, options.exportOptions, path);
  plan.sidecar = options.exportOptions.sidecar;
  const int rate = plan.exportPlan.report.rate;
  plan.leads = ReportLeads(survey);
  for (ChartChannel lead : plan.leads) plan.calibration.push_back(CalibrationOf(plan.exportPlan, lead));
  plan.span = ChooseReportSpan(survey.count, rate, options.fromSeconds, options.toSeconds);
  plan.pages = ReportPages(plan.span, rate);

  // The beats of lead II, else of the first lead drawn.
  if (std::find(plan.leads.begin(), plan.leads.end(), ccII) != plan.leads.end()) plan.beatLead = ccII;
  else if (!plan.leads.empty()) plan.beatLead = plan.leads.front();
  if (plan.beatLead) {
    std::vector<int> signal;
    signal.reserve(static_cast<std::size_t>(plan.span.end - plan.span.first));
    long long index = 0;
    records.ForEach([&](const SampleRecord& record) {
      if (index >= plan.span.first && index < plan.span.end) signal.push_back(ChannelSample(record, *plan.beatLead));
      ++index;
    });
    const std::vector<std::int64_t> beats = DetectBeats(signal, rate);
    plan.toolBpm = MedianHeartRate(beats, rate).bpm;
    for (std::int64_t beat : beats) plan.beats.push_back(beat + plan.span.first);
  }

  for (const auto& [record, number] : survey.markers) {
    std::string text = "Marker " + Number(number);
    if (plan.sidecar) {
      const SidecarMarker* found = nullptr;
      for (const SidecarMarker& marker : plan.sidecar->markers)
        if (marker.number == number && (!found || marker.record == record + 1)) found = &marker;
      if (found && !found->text.empty()) text += ": " + found->text;
    }
    plan.markers.emplace_back(record, text);
  }
  return plan;
}

ExportReport WritePdfReport(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                            const PdfReportOptions& options) {
  const ReportPlan plan = PlanReport(records, survey, path, options);
  CheckExportTarget(path, options.exportOptions);
  TTemporaryFile out(path, "pdf");
  out.File().Commit();  // the PDF writer writes the file by its name
  {
    QPdfWriter writer(Text(out.Path()));
    writer.setResolution(kResolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0)));
    writer.setTitle(QStringLiteral("ECG recording report"));
    writer.setCreator(QStringLiteral("ecg-tool"));
    QPainter painter;
    if (!painter.begin(&writer)) throw ERecordingFile("Cannot create file \"" + path + "\": the PDF writer refused it");
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(kResolution / kMmPerInch, kResolution / kMmPerInch);
    DrawFiguresPage(painter, plan, survey);

    // The pages in one pass: each page's samples are gathered, then drawn.
    std::size_t page = 0;
    std::vector<std::vector<int>> samples(plan.leads.size());
    long long index = 0;
    auto flush = [&] {
      writer.newPage();
      DrawStripPage(painter, plan, page, samples);
      for (auto& lead : samples) lead.clear();
      ++page;
    };
    records.ForEach([&](const SampleRecord& record) {
      if (page < plan.pages.size() && index >= plan.pages[page].first && index < plan.pages[page].end) {
        for (std::size_t lead = 0; lead < plan.leads.size(); ++lead)
          samples[lead].push_back(ChannelSample(record, plan.leads[lead]));
        if (index + 1 == plan.pages[page].end) flush();
      }
      ++index;
    });
    if (page != plan.pages.size())
      throw ERecordingFile("Cannot write \"" + path + "\": the recording changed while it was read");
    if (!painter.end()) throw ERecordingFile("Cannot write \"" + path + "\": the PDF writer failed");
  }
  SyncFileByName(out.Path());
  PublishExport(out, path, options.exportOptions);
  ExportReport report = plan.exportPlan.report;
  report.notes.push_back(Number(static_cast<long long>(plan.pages.size()) + 1) + " pages; tool heart rate " +
                         (plan.toolBpm > 0 ? FixedText(plan.toolBpm, 0) + " bpm" : std::string("not found")));
  return report;
}
