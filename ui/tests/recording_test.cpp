// Read and Stop against the pseudo-terminal: samples landing in the store in
// both modes, the window's states, the run limit with its one offer to save,
// and the Save, Load and Print buttons going through the dialogs.
#include <QComboBox>
#include <filesystem>
#include <fstream>

#include "chart/ImageCanvas.h"
#include "module/SetupCommand.h"
#include "ui/ChartView.h"
#include "ui/QtDialogs.h"
#include "window_support.h"

namespace {

std::vector<unsigned char> Repeat(const std::vector<unsigned char>& frame, int times) {
  std::vector<unsigned char> bytes;
  for (int i = 0; i < times; ++i) bytes.insert(bytes.end(), frame.begin(), frame.end());
  return bytes;
}

class Recording : public WindowTest {
 protected:
  void SetUpPortIn(bool twelveChannels) {
    Click("SetupButton");
    SetChecked("CheckBox12C", twelveChannels);
    ASSERT_EQ(SetUpPort().size(), 18u);
  }
  int Count() const { return form->Store().Count(); }
  const SampleRecord& Slot(int i) { return form->Store().At(i); }

  // Visibility of the top row, in the order of the state table.
  std::string TopRow() const {
    // Export is shown exactly where Print is.
    EXPECT_EQ(Shown("ExportButton"), Shown("PrintButton"));
    std::string row;
    for (const char* name : {"SetupButton", "ReadButton", "SaveButton", "LoadButton", "PrintButton", "PulsePanel",
                             "RespPanel", "StatusButton", "IdentButton", "CalButton", "ElecButton", "RegisterButton"}) {
      row += Shown(name) ? '+' : '-';
    }
    return row;
  }

  std::filesystem::path Scratch() const { return runtime->Path(); }
};

// Setup Read Save Load Print Pulse Resp Status Ident Cal Elec Register
constexpr const char* kOpened = "++-+--------";
constexpr const char* kRecording = "-+---+++++--";
constexpr const char* kStoppedWithRecords = "++-++-------";
constexpr const char* kStoppedWithRecordsSaveOffered = "+++++-------";
constexpr const char* kStoppedEmpty = "++-+--------";  // Setup stays: another port may be chosen

TEST_F(Recording, WindowStatesFromReadToStopWithoutRecords) {
  SetUpPortIn(false);
  EXPECT_EQ(TopRow(), kOpened);
  Click("ReadButton");
  EXPECT_EQ(TopRow(), kRecording);
  EXPECT_EQ(Caption("ReadButton"), "Stop");
  EXPECT_EQ(Panel(5), "Status: Receiving... ");
  Click("ReadButton");
  EXPECT_EQ(TopRow(), kStoppedEmpty);
  EXPECT_EQ(Caption("ReadButton"), "Read");
  EXPECT_EQ(Panel(5), "Status: Idle");
  EXPECT_EQ(dialogs.ConfirmCount(), 0);
  EXPECT_TRUE(ModuleReceives(1, std::chrono::milliseconds(100)).empty()) << "Read and Stop send nothing";
}

TEST_F(Recording, EightChannelSamplesLandInTheStoreAndStopOffersToSave) {
  SetUpPortIn(false);
  Click("ReadButton");
  ModuleSends(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30, 0xF8, 0x01, 0x11, 0x21, 0x31}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 2; }));
  EXPECT_EQ(Slot(1).channels, (std::array<std::uint8_t, 8>{0x10, 0x20, 0x30, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Slot(2).channels[chIII], 0x31);
  EXPECT_EQ(Panel(5), "Status: Receiving... 2 packets");
  EXPECT_EQ(form->Layout().CursorX, form->Layout().Margin + 3);

  std::string rowWhileAsked;
  dialogs.whileOpen = [&](const FakeDialogs::Shown&) { rowWhileAsked = TopRow(); };
  dialogs.confirmAnswers = {false};
  Click("ReadButton");
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
  EXPECT_EQ(dialogs.shown.back().text, "Do you want to save te actual Data?");
  // The offer comes before the vital-value controls are hidden.
  EXPECT_EQ(rowWhileAsked, "++-+++++++--");
  EXPECT_EQ(TopRow(), kStoppedWithRecordsSaveOffered);
  EXPECT_EQ(Panel(5), "Status: Idle");

  // Frames while idle change nothing.
  ModuleSends(Bytes({0xF8, 0x02, 0x12, 0x22, 0x32, 0xF9, 0x00, 0x50}));
  ASSERT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 80"; }));
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Panel(5), "Status: Idle");
}

TEST_F(Recording, SecondRecordingStartsAgainFromAnEmptyChart) {
  SetUpPortIn(false);
  Click("ReadButton");
  ModuleSends(Repeat(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}), 5));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 5; }));
  dialogs.confirmAnswers = {false};
  Click("ReadButton");
  Click("ReadButton");
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(form->Layout().CursorX, form->Layout().Margin + 1);
  ModuleSends(Bytes({0xF8, 0x00, 0x40, 0x50, 0x60}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
  EXPECT_EQ(Panel(5), "Status: Receiving... 1 packets");
}

TEST_F(Recording, TwelveChannelSampleAndChestFramesMakeOneRecord) {
  SetUpPortIn(true);
  Click("ReadButton");
  ModuleSends(Bytes({0xF8, 0x00, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
  const int cursorBefore = form->Layout().CursorX;
  ModuleSends(Bytes({0xFE, 0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
  ASSERT_TRUE(WaitUntil([&] { return form->Layout().CursorX == cursorBefore + 1; }));
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Slot(1).channels, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(Slot(1).chest, (std::array<std::uint8_t, 5>{0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
}

TEST_F(Recording, StopWithRecordsShowsPrintLoadAndSetupAndHidesSaveAfterASave) {
  SetUpPortIn(false);
  Click("ReadButton");
  ModuleSends(Repeat(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}), 3));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 3; }));
  const std::string log = (Scratch() / "run1.log").string();
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {log};
  Click("ReadButton");
  EXPECT_EQ(TopRow(), kStoppedWithRecords);
  EXPECT_TRUE(std::filesystem::exists(log));
  EXPECT_EQ(std::filesystem::file_size(Scratch() / "run1.dat"), 24u * 4);
  EXPECT_EQ(form->CurrentDataFile(), (Scratch() / "run1.dat").string());
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{});

  // Load it back, then print the chart to a PDF.
  dialogs.openAnswers = {(Scratch() / "run1.dat").string()};
  Click("LoadButton");
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Panel(5), "Status: Idle");
  const std::string pdf = (Scratch() / "chart.pdf").string();
  dialogs.printAnswers = {[pdf] { return PdfPrintJob(pdf); }};
  Click("PrintButton");
  EXPECT_GT(std::filesystem::file_size(pdf), 1000u);
  EXPECT_TRUE(dialogs.shown.size() == 1u) << "only the offer to save was shown";
}

TEST_F(Recording, SaveButtonSavesAfterTheOfferWasDeclined) {
  SetUpPortIn(false);
  Click("ReadButton");
  ModuleSends(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
  dialogs.confirmAnswers = {false, true};
  Click("ReadButton");
  ASSERT_TRUE(Shown("SaveButton"));
  dialogs.saveAnswers = {(Scratch() / "later.log").string()};
  Click("SaveButton");
  EXPECT_TRUE(std::filesystem::exists(Scratch() / "later.dat"));
  EXPECT_FALSE(Shown("SaveButton"));
}

TEST_F(Recording, ACancelledSaveDialogAtStopKeepsSaveShownUntilASave) {
  SetUpPortIn(false);
  Click("ReadButton");
  ModuleSends(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
  dialogs.confirmAnswers = {true, true};
  dialogs.saveAnswers = {std::nullopt};
  Click("ReadButton");
  ASSERT_TRUE(Shown("SaveButton")) << "one misclick must not lose the recording";
  dialogs.saveAnswers = {std::nullopt};
  Click("SaveButton");
  ASSERT_TRUE(Shown("SaveButton"));
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {(Scratch() / "kept.log").string()};
  Click("SaveButton");
  EXPECT_TRUE(std::filesystem::exists(Scratch() / "kept.dat"));
  EXPECT_FALSE(Shown("SaveButton"));
}

TEST_F(Recording, CancelledPrintDialogPrintsNothing) {
  SetUpPortIn(false);
  Click("ReadButton");
  ModuleSends(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
  dialogs.confirmAnswers = {false};
  Click("ReadButton");
  dialogs.printAnswers = {nullptr};
  Click("PrintButton");
  EXPECT_EQ(dialogs.shown.size(), 1u);
}

// ---- The run limit --------------------------------------------------------

TEST_F(Recording, EightChannelRunLimitStoresTheLastRecordThenStopsOnce) {
  SetUpPortIn(false);
  Click("ReadButton");
  form->Store().SetCount(SampleStore::kRunLimit - 2);
  dialogs.confirmAnswers = {false};
  // Three frames in one chunk: the second reaches the limit, the third finds Idle.
  ModuleSends(Repeat(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}), 3));
  ASSERT_TRUE(WaitUntil([&] { return dialogs.ConfirmCount() == 1; }));
  DrainEvents();
  EXPECT_EQ(Count(), SampleStore::kRunLimit);
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
  EXPECT_EQ(form->Store().Settings().state, AcquisitionState::Idle);
  EXPECT_EQ(Caption("ReadButton"), "Read");
  EXPECT_EQ(TopRow(), kStoppedWithRecordsSaveOffered);
  EXPECT_EQ(Slot(SampleStore::kRunLimit).channels[chI], 0x10);
  // The offer says why the recording stopped.
  EXPECT_EQ(dialogs.shown.back().text,
            "The limit of 80000 records per recording was reached.\nDo you want to save te actual Data?");
}

TEST_F(Recording, TwelveChannelRunLimitIsNeverPassedBySampleFramesInARow) {
  SetUpPortIn(true);
  Click("ReadButton");
  form->Store().SetCount(SampleStore::kRunLimit - 2);
  dialogs.confirmAnswers = {false};
  const auto sample = Bytes({0xF8, 0x00, 1, 2, 3, 4, 5, 6, 7});
  const auto chest = Bytes({0xFE, 0x00, 8, 9, 10, 11, 12});
  // Four sample frames before the next chest frame: the chest framer's
  // packets are handled first, the sample frames after them.
  std::vector<unsigned char> chunk = Repeat(sample, 4);
  chunk.insert(chunk.end(), chest.begin(), chest.end());
  ModuleSends(chunk);
  ASSERT_TRUE(WaitUntil([&] { return dialogs.ConfirmCount() >= 1; }));
  ModuleSends(Repeat(sample, 3));
  ModuleSends(chest);
  ModuleSends(Bytes({0xF9, 0x00, 0x41}));
  ASSERT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 65"; }));
  DrainEvents();
  EXPECT_EQ(Count(), SampleStore::kRunLimit);
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
  EXPECT_EQ(form->Store().Settings().state, AcquisitionState::Idle);
}

TEST_F(Recording, FailedSaveAtTheRunLimitIsReportedAndReceptionGoesOn) {
  SetUpPortIn(false);
  Click("ReadButton");
  form->Store().SetCount(SampleStore::kRunLimit - 1);
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {(Scratch() / "no-such-folder" / "run.log").string(), std::nullopt};
  ModuleSends(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}));
  ASSERT_TRUE(WaitUntil([&] { return dialogs.ConfirmCount() == 1 && !dialogs.Messages().empty(); }));
  EXPECT_EQ(dialogs.shown.back().caption, "12-Kanal Test-Software");
  EXPECT_EQ(Count(), SampleStore::kRunLimit);
  // The recording is kept for another try.
  EXPECT_TRUE(Shown("SaveButton"));
  // The port still delivers.
  ModuleSends(Bytes({0xF9, 0x00, 0x48}));
  EXPECT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 72"; }));
}

TEST_F(Recording, OfferToSaveInsideReceptionHoldsLaterFramesUntilAnswered) {
  SetUpPortIn(false);
  Click("ReadButton");
  form->Store().SetCount(SampleStore::kRunLimit - 1);
  // While the question is open the module goes on sending; those frames find
  // the recording stopped when they are handled.
  dialogs.whileOpen = [&](const FakeDialogs::Shown& shown) {
    if (shown.kind == "confirm") ModuleSends(Repeat(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}), 10));
  };
  dialogs.confirmAnswers = {false};
  ModuleSends(Bytes({0xF8, 0x00, 0x10, 0x20, 0x30}));
  ASSERT_TRUE(WaitUntil([&] { return dialogs.ConfirmCount() == 1; }));
  ModuleSends(Bytes({0xFA, 0x00, 0x0C}));
  ASSERT_TRUE(WaitUntil([&] { return Caption("RespPanel") == "Resp.: 12"; }));
  EXPECT_EQ(Count(), SampleStore::kRunLimit);
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
}

// ---- The chart on the window ----------------------------------------------

TEST_F(Recording, ChartRepaintsAreCoalescedWhileSamplesStream) {
  SetUpPortIn(false);
  auto* chart = Find<TChartView>("Grafik");
  Click("ReadButton");
  ASSERT_TRUE(WaitUntil([&] { return !chart->RepaintPending(); }));
  const long long paintsBefore = chart->PaintCount();
  ModuleSends(Repeat(Bytes({0xF8, 0x00, 0x10, 0x80, 0xF0}), 600));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 600 && !chart->RepaintPending(); }));
  const long long paints = chart->PaintCount() - paintsBefore;
  EXPECT_GE(paints, 1);
  EXPECT_LT(paints, 600) << "one repaint per sample";
  // What the window shows is what the chart image holds.
  const QImage shown = chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage& image = form->Canvas().Image();
  const int x = form->Layout().CursorX - 1;
  for (int y = 0; y < image.height(); y += 7) ASSERT_EQ(shown.pixel(x, y), image.pixel(x, y)) << "y " << y;
}

TEST_F(Recording, LostLineWithoutARecordingLeavesSetupAsTheWayBack) {
  SetUpPortIn(false);
  Click("ReadButton");
  Click("ReadButton");  // stopped with nothing stored
  pty->HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !form->Port().Connected(); }));
  EXPECT_EQ(dialogs.ConfirmCount(), 0);
  EXPECT_TRUE(Shown("SetupButton"));
  Click("SetupButton");
  EXPECT_TRUE(Shown("SetupBox"));
}

TEST_F(Recording, ClosingTheWindowWhileSamplesPourInReturns) {
  SetUpPortIn(true);
  Click("ReadButton");
  std::vector<unsigned char> burst;
  for (int i = 0; i < 2000; ++i) {
    for (int b : {0xF8, i & 0x7F, 1, 2, 3, 4, 5, 6, 7, 0xFE, i & 0x7F, 8, 9, 10, 11, 12}) {
      burst.push_back(static_cast<unsigned char>(b));
    }
  }
  ModuleSends(burst);
  ASSERT_TRUE(WaitUntil([&] { return Count() > 0; }));
  form.reset();  // deliveries still queued; closing the port must not wait on them forever
  SUCCEED();
}

}  // namespace
