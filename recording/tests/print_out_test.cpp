// The print-out: the header text, the page's drawing steps, and a real page
// printed to a PDF file.
#include <gtest/gtest.h>

#include <QImage>
#include <cctype>
#include <cstdio>

#include "recording/PrintOut.h"
#include "recording_support.h"

namespace {

// --- header text ---------------------------------------------------------------------

std::string NameOfLength(std::size_t length) {
  std::string name = "/home/ecg/";
  while (name.size() < length - 4) name += static_cast<char>('a' + name.size() % 26);
  return name + ".dat";
}

TEST(PrintHeader, AnEmptyFileNameLeavesTheSeparatorsSideBySide) {
  EXPECT_EQ(PrintHeaderText("", "05.03.2024 14:05:33"), "Varnok GmbH  /    /  05.03.2024 14:05:33");
}

TEST(PrintHeader, NamesTheFileBetweenTheMakerAndTheTime) {
  EXPECT_EQ(PrintHeaderText("/home/ecg/run1.dat", "05.03.2024 14:05:33"),
            "Varnok GmbH  /  /home/ecg/run1.dat  /  05.03.2024 14:05:33");
}

struct NameCase {
  std::size_t length;
  bool shownWhole;
};

class PrintedName : public ::testing::TestWithParam<NameCase> {};

TEST_P(PrintedName, LongNamesKeepTheirLastSixtyCharacters) {
  const std::string name = NameOfLength(GetParam().length);
  ASSERT_EQ(name.size(), GetParam().length);
  const std::string shown = PrintedDataFileName(name);
  if (GetParam().shownWhole) {
    EXPECT_EQ(shown, name);
  } else {
    EXPECT_EQ(shown, "..." + name.substr(name.size() - 60));
    EXPECT_EQ(shown.size(), 63u);
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, PrintedName,
                         ::testing::Values(NameCase{20, true}, NameCase{64, true}, NameCase{65, true},
                                           NameCase{66, false}, NameCase{67, false}, NameCase{300, false}));

TEST(PrintHeader, LengthsCountCharactersNotBytes) {
  // 65 characters, 130 bytes: shown whole.
  std::string umlauts;
  for (int i = 0; i < 65; ++i) umlauts += "\xC3\xA4";
  EXPECT_EQ(PrintedDataFileName(umlauts), umlauts);
  // 66 characters: cut between whole characters.
  EXPECT_EQ(PrintedDataFileName(umlauts + "\xC3\xA4"), "..." + umlauts.substr(0, 120));
}

// --- the page -------------------------------------------------------------------------

class PrintPage : public RecordingFixture {
 protected:
  // The chart printed on the job the scripted print dialog hands out, as the
  // window's Print button does once the dialog is confirmed.
  void Print() {
    std::unique_ptr<PrintJob> job = dialogs.ExecutePrintDialog();
    ASSERT_TRUE(job);
    PrintChartPage(*job, chart(), currentDataFile, nowText);
  }

  std::function<std::unique_ptr<PrintJob>()> PageOf(int width, int height) {
    return [this, width, height] {
      pageCanvas = std::make_unique<RecordingCanvas>(width, height);
      page = pageCanvas.get();
      return std::make_unique<RecordingPrintJob>(*pageCanvas, jobSteps);
    };
  }

  std::vector<std::string> jobSteps;
  std::unique_ptr<RecordingCanvas> pageCanvas;
  RecordingCanvas* page = nullptr;
};

TEST_F(PrintPage, StretchesTheWholeChartOverTheLandscapePageThenWritesTheHeader) {
  currentDataFile = "/home/ecg/run1.dat";
  dialogs.printAnswers = {PageOf(6600, 5100)};
  Print();
  EXPECT_EQ(jobSteps, (std::vector<std::string>{"SetLandscape", "BeginDoc", "EndDoc"}));
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(page->calls.size(), 4u);
  EXPECT_EQ(page->calls[0].op, "CopyRectStretched");
  EXPECT_EQ(page->calls[0].rect, (TRect{0, 0, 6600, 5100}));
  EXPECT_EQ(page->calls[0].source, &chart());
  EXPECT_EQ(page->calls[0].sourceRect, (TRect{0, 0, 1260, 920}));
  EXPECT_EQ(page->calls[1].op, "SetFontColor");
  EXPECT_EQ(page->calls[1].color, (TColor{0, 0, 0}));
  EXPECT_EQ(page->calls[2].op, "SetFontSize");
  EXPECT_EQ(page->calls[2].value, 8);
  EXPECT_EQ(page->calls[3].op, "PutText");
  EXPECT_EQ(page->calls[3].y, 20);
  EXPECT_EQ(page->calls[3].text, std::string("Varnok GmbH  /  /home/ecg/run1.dat  /  ") + kTestNow);
}

class HeaderPosition : public PrintPage, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(HeaderPosition, StartsAtATenthOfThePageWidthRoundedDown) {
  dialogs.printAnswers = {PageOf(GetParam().first, 4000)};
  Print();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->calls.back().x, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Widths, HeaderPosition,
                         ::testing::Values(std::pair{6600, 660}, std::pair{6599, 659}, std::pair{9, 0},
                                           std::pair{3508, 350}));

TEST_F(PrintPage, PrintingErrorsReachTheCaller) {
  class FailingJob : public RecordingPrintJob {
   public:
    using RecordingPrintJob::RecordingPrintJob;
    void BeginDoc() override { throw std::runtime_error("printer is offline"); }
  };
  RecordingCanvas failingPage(100, 100);
  dialogs.printAnswers = {[&] { return std::make_unique<FailingJob>(failingPage, jobSteps); }};
  EXPECT_THROW(Print(), std::runtime_error);
}

// Failures part-way through the page: the job is aborted, never ended, and
// the error reaches the caller.
struct PartWayFailure {
  const char* name;
  const char* failingStep;  // the page operation or job step that throws
};

class PrintFailingPartWay : public PrintPage, public ::testing::WithParamInterface<PartWayFailure> {};

TEST_P(PrintFailingPartWay, AbortsTheJobInsteadOfSendingTheHalfPage) {
  class FailingCanvas : public RecordingCanvas {
   public:
    FailingCanvas(std::string failing) : RecordingCanvas(6600, 5100), failing_(std::move(failing)) {}
    void CopyRectStretched(const TRect& dest, const ChartCanvas& source, const TRect& rect) override {
      if (failing_ == "CopyRectStretched") throw std::runtime_error("out of printer memory");
      RecordingCanvas::CopyRectStretched(dest, source, rect);
    }
    void PutText(int x, int y, std::string_view text) override {
      if (failing_ == "PutText") throw std::runtime_error("out of printer memory");
      RecordingCanvas::PutText(x, y, text);
    }

   private:
    std::string failing_;
  };
  class FailingEnd : public RecordingPrintJob {
   public:
    FailingEnd(RecordingCanvas& page, std::vector<std::string>& log, bool fail)
        : RecordingPrintJob(page, log), fail_(fail) {}
    void EndDoc() override {
      if (fail_) throw std::runtime_error("out of printer memory");
      RecordingPrintJob::EndDoc();
    }

   private:
    bool fail_;
  };
  const std::string failing = GetParam().failingStep;
  FailingCanvas failingPage(failing);
  dialogs.printAnswers = {[&] { return std::make_unique<FailingEnd>(failingPage, jobSteps, failing == "EndDoc"); }};
  try {
    Print();
    FAIL() << "the failure was swallowed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "out of printer memory");
  }
  EXPECT_EQ(jobSteps, (std::vector<std::string>{"SetLandscape", "BeginDoc", "Abort"}));
}

INSTANTIATE_TEST_SUITE_P(Steps, PrintFailingPartWay,
                         ::testing::Values(PartWayFailure{"ChartCopy", "CopyRectStretched"},
                                           PartWayFailure{"Header", "PutText"}, PartWayFailure{"End", "EndDoc"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(PrintPage, AClockThatFailsAbortsTheJob) {
  nowText = []() -> std::string { throw std::runtime_error("no clock"); };
  dialogs.printAnswers = {PageOf(6600, 5100)};
  EXPECT_THROW(Print(), std::runtime_error);
  EXPECT_EQ(jobSteps, (std::vector<std::string>{"SetLandscape", "BeginDoc", "Abort"}));
}

// --- a real page: PDF ------------------------------------------------------------------

// Text extraction turns runs of spaces into whatever width it guesses.
std::string Squeezed(const std::string& text) {
  std::string squeezed;
  for (char c : text) {
    const bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (!space) {
      squeezed += c;
    } else if (squeezed.empty() || squeezed.back() != ' ') {
      squeezed += ' ';
    }
  }
  return squeezed;
}

// The value after "<key>:" on its line of pdfinfo's output.
std::string InfoField(const std::string& info, const std::string& key) {
  const auto at = info.find(key + ":");
  if (at == std::string::npos) return {};
  const auto end = info.find('\n', at);
  return Squeezed(info.substr(at + key.size() + 1, end - at - key.size() - 1));
}

class PdfPage : public PrintPage, public ::testing::WithParamInterface<std::size_t> {
 protected:
  void SetUp() override {
    if (!CommandOutput("pdfinfo -v") && !CommandOutput("command -v pdfinfo")) GTEST_SKIP() << "poppler-utils missing";
  }
};

TEST_P(PdfPage, OneLandscapePageWithTheHeaderOverTheChart) {
  // Left half of the chart red, so the page shows where the chart went.
  chart().SetBrushColor(TColor{255, 0, 0});
  chart().FillRect(TRect{0, 0, 630, 920});
  currentDataFile = NameOfLength(GetParam());
  const std::string pdf = folder / "page.pdf";
  dialogs.printAnswers = {[pdf] { return MakePdfPrintJob(pdf); }};
  Print();

  const auto info = CommandOutput("pdfinfo '" + pdf + "'");
  ASSERT_TRUE(info) << "pdfinfo failed";
  EXPECT_EQ(InfoField(*info, "Pages"), " 1");
  double width = 0, height = 0;
  ASSERT_EQ(std::sscanf(InfoField(*info, "Page size").c_str(), " %lf x %lf", &width, &height), 2) << *info;
  EXPECT_GT(width, height) << "landscape";

  const auto text = CommandOutput("pdftotext -layout '" + pdf + "' -");
  ASSERT_TRUE(text);
  EXPECT_NE(Squeezed(*text).find(Squeezed(PrintHeaderText(currentDataFile, kTestNow))), std::string::npos) << *text;
  if (GetParam() > 65) {
    EXPECT_EQ(text->find(currentDataFile.substr(0, 15)), std::string::npos) << "the name is cut";
  }

  ASSERT_TRUE(CommandOutput("pdftoppm -r 20 -png -singlefile '" + pdf + "' '" + folder / "page" + "'"));
  const QImage picture(QString::fromStdString(folder / "page.png"));
  ASSERT_FALSE(picture.isNull());
  EXPECT_GT(picture.width(), picture.height());
  const QColor left = picture.pixelColor(picture.width() / 4, picture.height() / 2);
  const QColor right = picture.pixelColor(picture.width() * 3 / 4 + 3, picture.height() / 2 + 3);
  EXPECT_GT(left.red(), 200);
  EXPECT_LT(left.green(), 60);
  EXPECT_LT(right.red() - right.green(), 40) << "the right half is the chart's grey, not red";
  EXPECT_GT(right.green(), 150);
}

INSTANTIATE_TEST_SUITE_P(NameLengths, PdfPage, ::testing::Values(std::size_t{65}, std::size_t{66}));

TEST_F(PrintPage, AnEmptyFileNameIsPrintedAsSuch) {
  if (!CommandOutput("command -v pdftotext")) GTEST_SKIP() << "poppler-utils missing";
  const std::string pdf = folder / "empty-name.pdf";
  dialogs.printAnswers = {[pdf] { return MakePdfPrintJob(pdf); }};
  Print();
  const auto text = CommandOutput("pdftotext -layout '" + pdf + "' -");
  ASSERT_TRUE(text);
  EXPECT_NE(Squeezed(*text).find("Varnok GmbH / / " + std::string(kTestNow)), std::string::npos) << *text;
}

}  // namespace
