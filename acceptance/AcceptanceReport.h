#pragma once
// An acceptance run as a PDF for the module's file: A4 landscape, the
// verdict table first (under the plan's name and checksum, the date and time,
// the port and the module's identification), then the measured rates, then
// one page per amplification stage with the calibration rectangle of every
// lead plotted at 25 mm/s and 10 mm/mV over a millimetre grid (a lead without
// a rectangle at 2 steps per mm, its reason beside it).
//
// Needs a QGuiApplication (fonts). Written whole or not at all.
#include <string>

#include "acceptance/CheckResults.h"
#include "acceptance/ResultWriters.h"

// Raises EResultFile ("PATH: why") when the file cannot be written.
void WriteAcceptancePdf(const RunReport& report, const std::string& path);
