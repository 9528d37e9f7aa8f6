#include "recording/PrintOut.h"

#include "recording/Utf8Text.h"

std::string PrintedDataFileName(const std::string& currentDataFile) {
  if (Utf8CharCount(currentDataFile) <= kPrintedNameLimit) return currentDataFile;
  return "..." + std::string(Utf8LastChars(currentDataFile, kPrintedNameTail));
}

std::string PrintHeaderText(const std::string& currentDataFile, const std::string& dateTimeText) {
  return "Varnok GmbH  /  " + PrintedDataFileName(currentDataFile) + "  /  " + dateTimeText;
}

namespace {

void DrawPage(PrintJob& job, const ChartCanvas& chart, const std::string& currentDataFile,
              const std::function<std::string()>& nowText) {
  const int pageWidth = job.PageWidth();
  const int pageHeight = job.PageHeight();
  ChartCanvas& page = job.Page();
  // Width and height scale independently: the chart fills the whole page.
  page.CopyRectStretched(TRect{0, 0, pageWidth, pageHeight}, chart, TRect{0, 0, chart.Width(), chart.Height()});
  page.SetFontColor(TColor{0, 0, 0});
  page.SetFontSize(kPrintHeaderFontSize);
  page.PutText(pageWidth / 10, kPrintHeaderTop, PrintHeaderText(currentDataFile, nowText()));
}

}  // namespace

void PrintChartPage(PrintJob& job, const ChartCanvas& chart, const std::string& currentDataFile,
                    const std::function<std::string()>& nowText) {
  job.SetLandscape();
  job.BeginDoc();
  try {
    DrawPage(job, chart, currentDataFile, nowText);
    job.EndDoc();
  } catch (...) {
    // A half-drawn page must not reach the paper.
    job.Abort();
    throw;
  }
}
