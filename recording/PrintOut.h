#pragma once
// The printed page: the chart image stretched over one landscape page, with
// a one-line header naming the maker, the data file and the time of printing.
#include <cstddef>
#include <functional>
#include <string>

#include "chart/ChartCanvas.h"
#include "recording/Dialogs.h"

// Longest data-file name printed whole; longer names keep their last
// kPrintedNameTail characters behind "...".
inline constexpr std::size_t kPrintedNameLimit = 65;
inline constexpr std::size_t kPrintedNameTail = 60;
inline constexpr int kPrintHeaderFontSize = 8;
inline constexpr int kPrintHeaderTop = 20;

// The data-file name as the header shows it (never above 65 characters).
std::string PrintedDataFileName(const std::string& currentDataFile);
// "Varnok GmbH  /  <name>  /  <date and time>".
std::string PrintHeaderText(const std::string& currentDataFile, const std::string& dateTimeText);
// Prints one page on a confirmed job: landscape, the whole chart image
// scaled to the page, the header at a tenth of the page width, 20 pixels
// down, black, 8 points. `nowText` is asked once the chart is on the page.
// Printing errors pass through; one raised while the page is drawn aborts
// the job first, so nothing half-drawn is printed.
void PrintChartPage(PrintJob& job, const ChartCanvas& chart, const std::string& currentDataFile,
                    const std::function<std::string()>& nowText);
