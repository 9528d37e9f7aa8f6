#pragma once
// A recording, or a span of it, as a vector PDF on A4 landscape pages: a
// first page of figures, then every lead at 25 mm/s and 10 mm/mV (a stated
// steps-per-mm scale where a lead has no usable calibration) over a
// millimetre grid, ten seconds a page, each page headed with the
// identification, the set-up, the calibration, the start and the page's
// time span, with the markers and the tool's beats drawn.
//
// The records are read through a RecordSource (a data file of any size
// streamed from the disk): one pass for the beats, one for the pages.
// Written like the exports: under a temporary name, then renamed.
// Needs a QGuiApplication (fonts); the thread that owns it, or any thread
// when none draws meanwhile.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <QRectF>

#include "recording/RecordingExport.h"

class QPainter;

inline constexpr double kReportMmPerSecond = 25;
inline constexpr double kReportMmPerMv = 10;
// Leads without a usable calibration: this many of the module's steps per mm.
inline constexpr double kReportStepsPerMm = 2;
inline constexpr double kReportPageSeconds = 10;
inline constexpr double kReportLabelWidth = 16;  // mm, room for "C6 (steps)"

// How one lead's samples map to millimetres: `mmPerStep` from the
// calibration (kReportMmPerMv / steps per mV) or 1 / kReportStepsPerMm;
// `baseline` (in steps) is drawn on the strip's middle line.
struct StripScale {
  double mmPerSecond = kReportMmPerSecond;
  double mmPerStep = 1 / kReportStepsPerMm;
  double baseline = 0;
  bool calibrated = false;
};
// The scale for a lead with this calibration, the baseline at `baseline`.
StripScale StripScaleFor(const std::optional<SidecarLeadCalibration>& calibration, double baseline);

// One lead's span over a millimetre grid (thin lines every 1 mm, thick every
// 5 mm) filling `area`; the painter draws in millimetres. `samples` in the
// module's steps at `rate`, drawn from the area's left edge; `beats` are
// indices into `samples`, each marked by a tick above the trace; `label`
// is written left of the area (kReportLabelWidth). The trace is clipped to
// `clip` (neighbouring strips may share their room, as on paper), to the
// area when none is given.
void DrawMillimetreGrid(QPainter& painter, const QRectF& area);
void DrawLeadStrip(QPainter& painter, const QRectF& area, std::span<const int> samples, double rate,
                   const StripScale& scale, std::span<const std::int64_t> beats, const std::string& label,
                   const std::optional<QRectF>& clip = std::nullopt);

// The span a report covers: samples [first, end) of the recording.
struct ReportSpan {
  long long first = 0;
  long long end = 0;
  friend bool operator==(const ReportSpan&, const ReportSpan&) = default;
};
// A --from/--to that is no span of the recording (negative, not before the
// end, beyond the last sample).
class EReportSpan : public ERecordingFile {
 public:
  using ERecordingFile::ERecordingFile;
};
// Seconds from the recording's start; nothing for the start and the end.
ReportSpan ChooseReportSpan(long long records, int rate, std::optional<double> fromSeconds,
                            std::optional<double> toSeconds);
// The pages of strips: kReportPageSeconds each, the last one shorter.
std::vector<ReportSpan> ReportPages(const ReportSpan& span, int rate);

struct PdfReportOptions {
  ExportOptions exportOptions;
  std::optional<double> fromSeconds, toSeconds;
};

// What is known before a page is drawn.
struct ReportPlan {
  ExportPlan exportPlan;
  std::optional<RecordingSidecar> sidecar;
  std::vector<ChartChannel> leads;                                 // drawn, top to bottom
  std::vector<std::optional<SidecarLeadCalibration>> calibration;  // per lead
  ReportSpan span;
  std::vector<ReportSpan> pages;  // of strips; the figures page comes first
  std::optional<ChartChannel> beatLead;
  std::vector<std::int64_t> beats;                         // samples of the recording, within the span
  double toolBpm = 0;                                      // 0: fewer than two beats
  std::vector<std::pair<long long, std::string>> markers;  // record (0-based), text
};

// The header lines of the strip page `page` (0-based among `plan.pages`).
std::vector<std::string> ReportPageHeader(const ReportPlan& plan, std::size_t page);
// The figures page's lines.
std::vector<std::string> ReportFigures(const ReportPlan& plan, const RecordingSurvey& survey);

// The leads a report draws: all twelve of a twelve-channel recording, the
// recorded ones of an eight-channel one (the channels an export writes,
// without the respiration).
std::vector<ChartChannel> ReportLeads(const RecordingSurvey& survey);

// Plans (reading the records once for the beats), checks the target, and
// writes the PDF. Throws what the exports throw, and EReportSpan.
ExportReport WritePdfReport(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                            const PdfReportOptions& options);
// The planning alone.
ReportPlan PlanReport(const RecordSource& records, const RecordingSurvey& survey, const std::string& path,
                      const PdfReportOptions& options);
