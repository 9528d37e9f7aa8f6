// The window's Export and Print buttons: the dialogs they open, the format an
// export takes, and what a cancel or a failure leaves.
#include <gtest/gtest.h>

#include "flows_support.h"
#include "recording/RecordingExport.h"

namespace {

// `count` records at `rate` per second from 14:03:20.250, I and Resp
// carrying data, the chest leads only when `twelve`.
void FillRecording(SampleStore& store, int count, double rate, bool twelve = false) {
  store.BeginRecording();
  for (int n = 0; n < count; ++n) {
    SampleRecord& record = store.At(store.Append());
    record = SampleRecord{};
    record.time = (14 * 3600 + 3 * 60 + 20.25 + n / rate) / 86400.0;
    record.channels[chI] = static_cast<std::uint8_t>(n % 248);
    record.channels[chResp] = static_cast<std::uint8_t>(100 + n % 7);
    if (twelve) record.chest[4] = static_cast<std::uint8_t>(n % 5 + 1);
  }
}

class Export : public FlowFixture {};

// --- the Export button -------------------------------------------------------------

struct ButtonCase {
  const char* name;
  const char* chosen;
  std::size_t filter;
  const char* starts;  // the written file's first bytes
};

class ExportButton : public Export, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ExportButton, WritesTheFormatOfTheNameOrElseOfTheFilter) {
  FillRecording(store, 30, 300);
  dialogs.saveAnswers = {folder / GetParam().chosen};
  dialogs.filterAnswers = {GetParam().filter};
  ExportButtonClick(context());
  ASSERT_EQ(dialogs.saveDialogs.size(), 1u);
  EXPECT_EQ(dialogs.saveDialogs[0].filter, "EDF+|*.edf|CSV|*.csv|PDF report|*.pdf");
  EXPECT_TRUE(dialogs.saveDialogs[0].overwritePrompt);
  EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages()[0];
  const std::string written = ReadWholeFile(folder / GetParam().chosen);
  EXPECT_EQ(written.rfind(GetParam().starts, 0), 0u) << written.substr(0, 40);
}

INSTANTIATE_TEST_SUITE_P(Choices, ExportButton,
                         ::testing::Values(ButtonCase{"EdfByFilter", "run", 0, "0       "},
                                           ButtonCase{"CsvByFilter", "run", 1, "sample,seconds,time,I,Resp,"},
                                           ButtonCase{"CsvByName", "run.csv", 0, "sample,seconds,time,I,Resp,"},
                                           ButtonCase{"EdfByName", "run.EDF", 1, "0       "},
                                           ButtonCase{"ReportByFilter", "run", 2, "%PDF-"},
                                           ButtonCase{"ReportByName", "run.pdf", 0, "%PDF-"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(Export, TheButtonReportsFailuresAndCancelsQuietly) {
  dialogs.onUnscripted = nullptr;
  ExportButtonClick(context());  // nothing recorded
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{"There are no records to export."});
  EXPECT_TRUE(dialogs.saveDialogs.empty());

  FillRecording(store, 30, 300);
  dialogs.shown.clear();
  dialogs.saveAnswers = {std::nullopt, folder / "gone/run.edf"};
  ExportButtonClick(context());
  EXPECT_TRUE(dialogs.shown.empty());
  ExportButtonClick(context());
  ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
  EXPECT_NE(dialogs.MessageBoxes()[0].text.find("No such file or directory"), std::string::npos);
  EXPECT_EQ(dialogs.MessageBoxes()[0].caption, "12-Kanal Test-Software");
  EXPECT_TRUE(folder.Names().empty());
}

// --- the Print button ---------------------------------------------------------------

class PrintPage : public FlowFixture {};

TEST_F(PrintPage, CancellingTheDialogPrintsNothingAndChangesNothing) {
  currentDataFile = "/home/ecg/run1.dat";
  const QImage before = chart().Image().copy();
  dialogs.printAnswers = {[]() -> std::unique_ptr<PrintJob> { return nullptr; }};
  PrintButtonClick(context());
  EXPECT_EQ(dialogs.printDialogs, 1);
  EXPECT_TRUE(chart().Image() == before);
  EXPECT_EQ(currentDataFile, "/home/ecg/run1.dat");
}

}  // namespace
