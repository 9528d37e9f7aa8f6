#include "recording/PdfReport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <string>
#include <vector>

#include "recording/DataFileReader.h"
#include "recording_support.h"

namespace {

struct PagesCase {
  const char* name;
  long long records;
  int rate;
  std::optional<double> from, to;
  ReportSpan span;
  std::size_t pages;
  ReportSpan last;
};

class ReportPagesTest : public ::testing::TestWithParam<PagesCase> {};

TEST_P(ReportPagesTest, CoverTheSpanInTenSecondPages) {
  const PagesCase& c = GetParam();
  const ReportSpan span = ChooseReportSpan(c.records, c.rate, c.from, c.to);
  EXPECT_EQ(span, c.span);
  const std::vector<ReportSpan> pages = ReportPages(span, c.rate);
  ASSERT_EQ(pages.size(), c.pages);
  EXPECT_EQ(pages.front().first, span.first);
  EXPECT_EQ(pages.back(), c.last);
  for (std::size_t i = 1; i < pages.size(); ++i) {
    EXPECT_EQ(pages[i].first, pages[i - 1].end) << "page " << i;
    EXPECT_EQ(pages[i - 1].end - pages[i - 1].first, std::llround(kReportPageSeconds * c.rate));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ReportPagesTest,
    ::testing::Values(PagesCase{"OneRecord", 1, 300, {}, {}, {0, 1}, 1, {0, 1}},
                      PagesCase{"ExactlyOnePage", 3000, 300, {}, {}, {0, 3000}, 1, {0, 3000}},
                      PagesCase{"OneRecordMore", 3001, 300, {}, {}, {0, 3001}, 2, {3000, 3001}},
                      PagesCase{"ShortAtFiftyPerSecond", 3, 50, {}, {}, {0, 3}, 1, {0, 3}},
                      PagesCase{"AMinuteAndAHalf", 150 * 95, 150, {}, {}, {0, 14250}, 10, {13500, 14250}},
                      PagesCase{"ASpan", 10000, 100, 12.5, 31.0, {1250, 3100}, 2, {2250, 3100}},
                      PagesCase{"ASpanToBeyondTheEnd", 1000, 100, 2.0, 50.0, {200, 1000}, 1, {200, 1000}},
                      PagesCase{"FromAlone", 6000, 300, 19.99, {}, {5997, 6000}, 1, {5997, 6000}}),
    [](const auto& test) { return std::string(test.param.name); });

struct RefusedSpan {
  const char* name;
  std::optional<double> from, to;
  const char* says;
};

class RefusedSpanTest : public ::testing::TestWithParam<RefusedSpan> {};

TEST_P(RefusedSpanTest, SaysWhatIsWrong) {
  const RefusedSpan& c = GetParam();
  try {
    ChooseReportSpan(300, 300, c.from, c.to);  // one second
    FAIL() << "accepted";
  } catch (const EReportSpan& error) {
    EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("lasts 1.000 s"), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Spans, RefusedSpanTest,
                         ::testing::Values(RefusedSpan{"Negative", -0.5, {}, "not within"},
                                           RefusedSpan{"AtTheEnd", 1.0, {}, "not within"},
                                           RefusedSpan{"NaN", NAN, {}, "not within"},
                                           RefusedSpan{"EndBeforeStart", 0.5, 0.25, "not after"},
                                           RefusedSpan{"EmptySpan", 0.5, 0.5, "not after"},
                                           RefusedSpan{"EndAtZero", {}, 0.0, "not after"}),
                         [](const auto& test) { return std::string(test.param.name); });

// A recording of a beat every 0.8 s (75 bpm) at 300/s: the chosen channels
// carry it, the others stay 0 (no data).
void WriteRecording(const std::string& path, long long records, bool twelve, const std::vector<int>& eightInUse,
                    long long markerAt = -1) {
  SampleRecord header{};
  header.channels[0] = 5;  // offset 8: the file-type marker
  std::string bytes = RecordBytes(header);
  for (long long i = 0; i < records; ++i) {
    const double t = static_cast<double>(i) / 300;
    const double phase = std::fmod(t, 0.8) / 0.8;
    const double wave = 20 * std::exp(-std::pow((phase - 0.3) / 0.012, 2)) + 5 * std::exp(-std::pow((phase - 0.55) / 0.05, 2));
    const auto value = static_cast<std::uint8_t>(120 + std::lround(wave));
    SampleRecord record{};
    record.time = (50000 + t) / 86400;
    for (int channel : eightInUse) record.channels[static_cast<std::size_t>(channel)] = value;
    if (twelve) record.chest.fill(value);
    if (i == markerAt) RecordMarker(record) = 3;
    bytes += RecordBytes(record);
  }
  WriteWholeFile(path, bytes);
}

RecordingSidecar TwelveChannelSidecar() {
  RecordingSidecar sidecar;
  sidecar.identification = "Module 4.2 serial 17";
  sidecar.start = LocalDateTime{{2024, 3, 5}, 50000000};
  sidecar.setup = SidecarSetup{};
  sidecar.setup->rateHz = 300;
  sidecar.setup->amplificationStage = 2;
  sidecar.setup->mode = "Diagnostic";
  sidecar.setup->twelveChannel = true;
  sidecar.setup->mainsFilterHz = 50;
  sidecar.calibration = SidecarCalibration{2, {{"I", 20, 120}, {"II", 20, 120}, {"C6", 40, 120}}};
  sidecar.markers.push_back({3, 3001, std::nullopt, "patient moved"});
  sidecar.heartRate = SidecarHeartRate{75, 90, 30};
  return sidecar;
}

class PdfReportTest : public ::testing::Test {
 protected:
  ScratchFolder folder;
  std::string data = folder / "rec.dat";
};

TEST_F(PdfReportTest, PageHeaderNamesTheModuleSetupCalibrationStartAndSpan) {
  WriteRecording(data, 300 * 25, true, {0, 1, 2, 3, 4, 5, 6}, 3000);
  const DataFileRecords records(data);
  const RecordingSurvey survey = SurveyRecording(records);
  PdfReportOptions options;
  options.exportOptions.sidecar = TwelveChannelSidecar();
  const ReportPlan plan = PlanReport(records, survey, folder / "out.pdf", options);
  ASSERT_EQ(plan.pages.size(), 3u);
  EXPECT_EQ(ReportPageHeader(plan, 1),
            (std::vector<std::string>{
                "Module 4.2 serial 17   Page 3 of 4", "Set-up: 300/s stage2 Diagnostic 12ch N:50Hz",
                "Calibration: stage 2, 3 of 12 leads in mV   Scale: 25 mm/s, 10 mm/mV, uncalibrated leads 2 steps/mm",
                "Start: 2024-03-05T13:53:20.000   This page: 10.0-20.0 s (13:53:30-13:53:40)"}));
  // The figures: the tool's rate against the module's, the marker's text.
  const std::vector<std::string> figures = ReportFigures(plan, survey);
  auto has = [&](const std::string& text) {
    for (const std::string& line : figures)
      if (line.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has("Heart rate: tool 75 bpm over 31 beats of II, module 90 bpm   (they differ by more than 5 bpm)"));
  EXPECT_TRUE(has("At 10.00 s: Marker 3: patient moved"));
  EXPECT_TRUE(has("Records: 7500 (25.0 s)"));
}

struct LeadsCase {
  const char* name;
  bool twelve;
  std::vector<int> eightInUse;  // SampleRecord::channels indices
  std::vector<ChartChannel> leads;
  std::optional<ChartChannel> beatLead;
};

class ReportLeadsTest : public ::testing::TestWithParam<LeadsCase> {};

TEST_P(ReportLeadsTest, DrawsTheRecordedLeadsAndFindsBeatsOnIIElseTheFirst) {
  const LeadsCase& c = GetParam();
  ScratchFolder folder;
  WriteRecording(folder / "rec.dat", 300 * 8, c.twelve, c.eightInUse);
  const DataFileRecords records(folder / "rec.dat");
  const RecordingSurvey survey = SurveyRecording(records);
  PdfReportOptions options;
  options.exportOptions.sampleRate = 300;
  const ReportPlan plan = PlanReport(records, survey, folder / "out.pdf", options);
  EXPECT_EQ(plan.leads, c.leads);
  EXPECT_EQ(plan.beatLead, c.beatLead);
  EXPECT_NEAR(plan.toolBpm, 75, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, ReportLeadsTest,
    ::testing::Values(LeadsCase{"TwelveChannel",
                                true,
                                {0, 1, 2, 3, 4, 5, 6},
                                {ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1, ccC2, ccC3, ccC4, ccC5, ccC6},
                                ccII},
                      LeadsCase{"EightChannelTwoLeads", false, {0, 1}, {ccI, ccII}, ccII},
                      LeadsCase{"EightChannelWithoutII", false, {0, 6}, {ccI, ccC1}, ccI}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(PdfReportTest, WritesAPdfThatRendersWithTheTraceOnTheGrid) {
  WriteRecording(data, 300 * 12, false, {0, 1});
  const DataFileRecords records(data);
  const RecordingSurvey survey = SurveyRecording(records);
  PdfReportOptions options;
  options.exportOptions.sampleRate = 300;
  const std::string pdf = folder / "out.pdf";
  const ExportReport report = WritePdfReport(records, survey, pdf, options);
  EXPECT_EQ(report.records, 300 * 12);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"out.pdf", "rec.dat"}));  // no temporary file left

  const std::optional<std::string> info = CommandOutput("pdfinfo '" + pdf + "'");
  if (!info) GTEST_SKIP() << "pdfinfo (poppler-utils) missing";
  EXPECT_NE(info->find("Pages:           3"), std::string::npos) << *info;
  ASSERT_TRUE(CommandOutput("pdftoppm -r 30 -f 2 -l 2 -png '" + pdf + "' '" + (folder / "page") + "'"));
  const QImage page(QString::fromStdString(folder / "page-2.png"));
  ASSERT_FALSE(page.isNull());
  int black = 0, red = 0;
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x) {
      const QColor color = page.pixelColor(x, y);
      if (color.red() < 90 && color.green() < 90) ++black;
      if (color.red() > 180 && color.green() < 200 && color.blue() < 200) ++red;
    }
  EXPECT_GT(black, 200);  // the traces and the header
  EXPECT_GT(red, 2000);   // the grid
}

TEST_F(PdfReportTest, RefusesAnExistingFileAndKeepsIt) {
  WriteRecording(data, 300, false, {1});
  WriteWholeFile(folder / "out.pdf", "earlier");
  const DataFileRecords records(data);
  PdfReportOptions options;
  options.exportOptions.sampleRate = 300;
  EXPECT_THROW(WritePdfReport(records, SurveyRecording(records), folder / "out.pdf", options), EExportRefused);
  EXPECT_EQ(ReadWholeFile(folder / "out.pdf"), "earlier");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"out.pdf", "rec.dat"}));
}

}  // namespace
