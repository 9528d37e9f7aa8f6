#pragma once
// The review at the scales of ECG paper: a paper speed of 25 or 50 mm/s and
// a gain of 5, 10 or 20 mm/mV at the screen's physical size, over a grid of
// 1 mm and 5 mm squares, each calibrated lead starting with its 1 mV pulse.
// A lead without a calibration is drawn as if 20 of the module's steps were
// 1 mV (2 steps a millimetre at 10 mm/mV, as the PDF report draws it),
// labelled "(steps)" and without a pulse.
//
// The bands, columns and labels are the chart's own (ChartLayout), so the
// calipers, beat ticks and record marks find their leads as on the sweep;
// only the time and value scales differ. Each lead's trace is centred on
// its band at the median of its values in the view and may reach into its
// neighbours' room, as on paper.
#include <array>
#include <optional>

#include "chart/ChartCanvas.h"
#include "chart/ChartLayout.h"
#include "chart/ChartReview.h"
#include "chart/ChartSweep.h"
#include "store/LocaleFormat.h"
#include "store/SampleStore.h"

inline constexpr std::array<int, 2> kPaperSpeeds{25, 50};    // mm/s
inline constexpr std::array<int, 3> kPaperGains{5, 10, 20};  // mm/mV
inline constexpr double kUncalibratedStepsPerMv = 20;
// What a screen that reports nothing sensible is taken to have.
inline constexpr double kFallbackDotsPerInch = 96;

struct PaperScale {
  int mmPerSecond = 25;
  int mmPerMv = 10;
  double pixelsPerMm = kFallbackDotsPerInch / 25.4;
};

// Pixels per millimetre of a screen of `dotsPerInch`; the fallback's for a
// figure no screen has (0, negative, below 30 or above 1200).
double PixelsPerMm(double dotsPerInch);

// The width of the 1 mV pulse at the start of each strip: 0.2 s of paper.
int PaperPulseWidth(const PaperScale& scale);
// The records of a paper view from `first` at `sampleRate` records a second:
// where they lie across the plotting area, the traces beginning right of
// the pulse.
ViewColumns PaperColumns(const ChartLayout& layout, const PaperScale& scale, double sampleRate, int first);
// Records one paper view shows (at least 1).
int PaperRecordsPerView(const ChartLayout& layout, bool twelveChannel, const PaperScale& scale, double sampleRate);

// How one lead's values map to y: `baseline` (steps) on `baselineY`, and
// nothing drawn above `top` or below `bottom` (the column's bands).
struct PaperLead {
  double baseline = 0;
  double pixelsPerStep = 0;
  bool calibrated = false;
  int baselineY = 0;
  int top = 0, bottom = 0;
  int Y(int steps) const;
};

// One view's plan, shared by the drawing and the calipers.
struct PaperView {
  PaperScale scale;
  double sampleRate = 0;
  ViewColumns columns;
  int last = 0;                                      // last record shown
  std::array<std::optional<PaperLead>, 13> leads{};  // by ChartChannel; the shown leads
};
// The view from `first` (clamped): the baselines are the medians of each
// lead's values in it, put on the 5 mm line nearest to their band's middle.
PaperView PlanPaperView(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, int first,
                        double sampleRate, const PaperScale& scale, const MvScales& mvScales);

// Wipes `canvas` and draws the view: the chart's background, the paper
// with its grid over every column, each lead's label, pulse and trace,
// a time label at every whole second of the recording and the records'
// marks.
void DrawPaperReview(const SampleStore& store, const ChartLayout& layout, bool twelveChannel, ChartCanvas& canvas,
                     const PaperView& view, const TimeFormatter& formatTime);

inline constexpr TColor kPaperColor{255, 255, 255};
inline constexpr TColor kPaperFineLine{250, 208, 208};
inline constexpr TColor kPaperBoldLine{235, 150, 150};
