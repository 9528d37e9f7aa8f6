// Paging through a recording on the window: the review bar appears after a
// load and after a Stop that stored records, in the strip no other control
// uses; the keys and the wheel move the view, the readout and the chart
// follow, and Read, a new load and an OK that changes the set-up end it.
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>
#include <cstring>
#include <fstream>

#include "chart/ImageCanvas.h"
#include "store/LocaleFormat.h"
#include "ui/ChartView.h"
#include "ui/ReviewBar.h"
#include "window_support.h"

namespace {

constexpr double kStart = (14 * 3600 + 2 * 60) / 86400.0;  // 14:02:00
double TimeOf(int record) { return kStart + (record - 1) / 300.0 / 86400.0; }

// A data file of `count` records at 300 a second from 14:02:00, leads I..III
// with a slow saw tooth each (so every view draws something different).
void WriteDataFile(const std::filesystem::path& path, int count) {
  std::ofstream out(path, std::ios::binary);
  SampleRecord header{};
  header.channels[0] = 5;  // the file-type marker
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  for (int n = 1; n <= count; ++n) {
    SampleRecord record{};
    record.time = TimeOf(n);
    const auto row = static_cast<std::size_t>(n);
    for (std::size_t c = 0; c < 3; ++c) record.channels[c] = static_cast<std::uint8_t>((row / 7 + 40 * c) % 248);
    out.write(reinterpret_cast<const char*>(&record), sizeof record);
  }
}

std::string Readout(int first, int last, int count) {
  return "records " + std::to_string(first) + "-" + std::to_string(last) + " of " + std::to_string(count) + ", " +
         LongTimeText(TimeOf(first)) + " - " + LongTimeText(TimeOf(last));
}

std::vector<unsigned char> Repeat(const std::vector<unsigned char>& frame, int times) {
  std::vector<unsigned char> bytes;
  for (int i = 0; i < times; ++i) bytes.insert(bytes.end(), frame.begin(), frame.end());
  return bytes;
}

class ReviewWindow : public WindowTest {
 protected:
  explicit ReviewWindow(int screenWidth = 1280) : WindowTest(screenWidth) {}
  void LoadRecording(int count) {
    const std::filesystem::path dat = runtime->Path() / "long.dat";
    WriteDataFile(dat, count);
    dialogs.openAnswers = {dat.string()};
    Click("LoadButton");
    ASSERT_EQ(form->Store().Count(), count);
  }
  std::string ReadoutShown() const { return Find<QLabel>("ReviewLabel")->text().toStdString(); }
  // A key as the user types it: to the focused control (a top-row button,
  // which takes the arrows for itself), through the window's shortcuts.
  void Press(int key) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : form.get();
    QTest::keyClick(target, static_cast<Qt::Key>(key));
  }
  void Wheel(int notches) {
    const QPointF at(300, 300);
    QWheelEvent wheel(at, form->ChartView().mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&form->ChartView(), &wheel);
  }
  QImage Chart() const { return form->Canvas().Image().copy(); }
};

class Review : public ReviewWindow {};

TEST_F(Review, ALoadedRecordingIsPagedByTheKeysTheWheelAndTheCompression) {
  SetUpPort();
  LoadRecording(6000);
  ASSERT_TRUE(Shown("ReviewBar"));
  EXPECT_EQ(ReadoutShown(), Readout(4801, 6000, 6000)) << "the review opens at the end";
  std::vector<SampleRecord> before(6001);
  std::memcpy(before.data(), &form->Store().At(0), sizeof(SampleRecord) * before.size());

  struct Move {
    int key;
    int first;
  };
  const Move moves[] = {{Qt::Key_Home, 1},        {Qt::Key_Left, 1},      {Qt::Key_Right, 121},
                        {Qt::Key_PageDown, 1321}, {Qt::Key_PageUp, 121},  {Qt::Key_End, 4801},
                        {Qt::Key_Right, 4801},    {Qt::Key_PageUp, 3601}, {Qt::Key_Left, 3481}};
  QImage chart = Chart();
  int previous = form->Review().First();
  for (const Move& move : moves) {
    Press(move.key);
    EXPECT_EQ(ReadoutShown(), Readout(move.first, move.first + 1199, 6000)) << "key " << move.key;
    EXPECT_EQ(form->Review().First(), move.first);
    EXPECT_EQ(Find<QScrollBar>("ReviewScroll")->value(), move.first);
    const QImage now = Chart();
    // A key that cannot move (Left at the start, Right at the end) leaves the chart.
    EXPECT_EQ(now != chart, move.first != previous) << "key " << move.key;
    previous = move.first;
    chart = now;
  }
  ASSERT_TRUE(WaitUntil([&] { return !form->ChartView().RepaintPending(); }));
  const QImage shown = form->ChartView().grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_TRUE(shown == form->Canvas().Image().convertToFormat(QImage::Format_RGB32)) << "the window shows the view";

  // The wheel on the chart: towards the user goes on, away goes back.
  Wheel(-2);
  EXPECT_EQ(form->Review().First(), 3481 + 240);
  Wheel(1);
  EXPECT_EQ(form->Review().First(), 3481 + 120);

  // Eight records per pixel show the whole recording in one view.
  Find<QComboBox>("ReviewCompression")->setCurrentIndex(3);
  EXPECT_EQ(form->Review().Compression(), 8);
  EXPECT_EQ(ReadoutShown(), Readout(1, 6000, 6000));
  EXPECT_TRUE(Chart() != chart);
  Press(Qt::Key_PageDown);
  EXPECT_EQ(form->Review().First(), 1);

  // The store is as the load left it.
  EXPECT_EQ(form->Store().Count(), 6000);
  EXPECT_EQ(std::memcmp(before.data(), &form->Store().At(0), sizeof(SampleRecord) * before.size()), 0);
}

TEST_F(Review, ReviewIsShownAfterAStopWithRecordsAndEndedByReadAndAChangedSetup) {
  EXPECT_FALSE(Shown("ReviewBar")) << "at start";
  SetUpPort();
  Click("ReadButton");
  Click("ReadButton");
  EXPECT_FALSE(Shown("ReviewBar")) << "stopped with nothing stored";

  Click("ReadButton");
  ModuleSends(Repeat(Bytes({0xF8, 0x00, 0x10, 0x80, 0xF0}), 1500));
  ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == 1500; }));
  EXPECT_FALSE(Shown("ReviewBar")) << "while recording";
  dialogs.confirmAnswers = {false};  // no save
  Click("ReadButton");
  ASSERT_TRUE(Shown("ReviewBar"));
  EXPECT_EQ(form->Review().First(), 301) << "the last view of 1500 records";
  Press(Qt::Key_Home);
  EXPECT_EQ(form->Review().First(), 1);
  EXPECT_EQ(ReadoutShown().rfind("records 1-1200 of 1500, ", 0), 0u) << ReadoutShown();

  Click("ReadButton");
  EXPECT_FALSE(Shown("ReviewBar")) << "a new recording takes the chart";
  const int firstBefore = form->Review().First();
  Press(Qt::Key_End);
  EXPECT_EQ(form->Review().First(), firstBefore) << "keys do nothing once the review ended";
  ModuleSends(Repeat(Bytes({0xF8, 0x00, 0x10, 0x80, 0xF0}), 10));
  ASSERT_TRUE(WaitUntil([&] { return form->Store().Count() == 10; }));
  dialogs.confirmAnswers = {false};
  Click("ReadButton");
  ASSERT_TRUE(Shown("ReviewBar"));
  EXPECT_EQ(Find<QLabel>("ReviewFile")->text().toStdString(), "(not saved)");
  const int placeBefore = form->Review().First();
  Click("SetupButton");
  Click("SetupCancelButton");
  EXPECT_TRUE(Shown("ReviewBar")) << "a cancelled set-up changes nothing";
  SetUpPort();
  ASSERT_TRUE(Shown("ReviewBar")) << "an OK with the same choices keeps the review";
  EXPECT_EQ(form->Review().First(), placeBefore);
  Click("SetupButton");
  ChooseRadio("TransBox", 2);
  Click("SetupOKButton");
  EXPECT_FALSE(Shown("ReviewBar")) << "a changed set-up takes the chart";
}

TEST_F(Review, CalipersAreLaidByDraggingOnALeadAndClearedByEscapeOrAMove) {
  LoadRecording(2000);
  const ChartLayout& layout = form->Layout();
  const BandEntry& band = layout.BandTable[ccI];
  const int y = band.Bottom - band.Height / 3;
  auto drag = [&](int fromX, int toX) {
    QTest::mousePress(&form->ChartView(), Qt::LeftButton, Qt::NoModifier, QPoint(fromX, y));
    QTest::mouseRelease(&form->ChartView(), Qt::LeftButton, Qt::NoModifier, QPoint(toX, y));
  };
  const QImage before = Chart();
  drag(100, 400);
  drag(500, 560);
  const std::vector<std::string> texts = form->Review().CaliperTexts();
  ASSERT_EQ(texts.size(), 2u);
  // 300 records at the loaded file's rate (no sidecar: its header's set-up, 50/s), in steps.
  EXPECT_EQ(texts[0].rfind("I: 6000 ms, ", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find(" steps, 10 bpm"), std::string::npos) << texts[0];
  EXPECT_NE(Chart(), before) << "drawn over the view";
  drag(100, 100 + layout.ColumnSplit + 900);  // off the records: no caliper
  EXPECT_EQ(form->Review().CaliperTexts().size(), 2u);

  Press(Qt::Key_Escape);
  EXPECT_TRUE(form->Review().CaliperTexts().empty());
  EXPECT_EQ(Chart(), before) << "the view as it was";
  drag(100, 400);
  Press(Qt::Key_Home);
  EXPECT_TRUE(form->Review().CaliperTexts().empty()) << "a moved view takes its calipers along";

  // Escape in the set-up panel is the panel's: Setup clears the calipers.
  drag(100, 400);
  Click("SetupButton");
  EXPECT_TRUE(form->Review().CaliperTexts().empty());
  QTest::keyClick(Find<QComboBox>("ComSetupBox"), Qt::Key_Escape);
  EXPECT_FALSE(Shown("SetupBox")) << "cancelled by Escape";
}

TEST_F(Review, TheWholeRecordingFitsOneViewWhateverItsLength) {
  LoadRecording(6000);
  auto* choice = Find<QComboBox>("ReviewCompression");
  choice->setCurrentIndex(choice->findData(TReviewBar::kWholeRecording));
  EXPECT_EQ(form->Review().Compression(), 5) << "6000 records in 1200 columns";
  EXPECT_EQ(ReadoutShown(), Readout(1, 6000, 6000));
  LoadRecording(20000);
  EXPECT_EQ(form->Review().Compression(), 17) << "the choice stays, its compression follows the length";
  EXPECT_EQ(ReadoutShown(), Readout(1, 20000, 20000));
  EXPECT_EQ(choice->currentData().toInt(), TReviewBar::kWholeRecording);
}

TEST_F(Review, APaperSpeedShowsMillimetresAtTheSettingsDpiWithItsGainAndCalipers) {
  const std::filesystem::path ini = runtime->Path() / "ecg-tool.ini";
  {
    QSettings written(QString::fromStdString(ini.string()), QSettings::IniFormat);
    written.setValue("display/dpi", 120);
  }
  form->UseSettings(std::make_unique<QSettings>(QString::fromStdString(ini.string()), QSettings::IniFormat));
  LoadRecording(6000);  // no sidecar: its header's set-up, 50/s
  auto* speed = Find<QComboBox>("ReviewCompression");
  auto* gain = Find<QComboBox>("ReviewGain");
  EXPECT_FALSE(gain->isVisible());
  speed->setCurrentIndex(speed->findText("25 mm/s"));
  EXPECT_EQ(form->Review().PaperSpeed(), 25);
  EXPECT_TRUE(gain->isVisible());
  const PaperScale scale{25, 10, PixelsPerMm(120)};
  const ChartLayout& layout = form->Layout();
  EXPECT_EQ(form->Review().RecordsPerView(), PaperRecordsPerView(layout, false, scale, 50));

  const int first = form->Review().First();
  const ViewColumns columns = PaperColumns(layout, scale, 50, first);
  const BandEntry& band = layout.BandTable[ccI];
  const int y = band.Bottom - band.Height / 2;
  QTest::mousePress(&form->ChartView(), Qt::LeftButton, Qt::NoModifier, QPoint(columns.XOf(first + 10), y));
  QTest::mouseRelease(&form->ChartView(), Qt::LeftButton, Qt::NoModifier, QPoint(columns.XOf(first + 60), y));
  ASSERT_EQ(form->Review().CaliperTexts().size(), 1u);
  EXPECT_EQ(form->Review().CaliperTexts()[0].rfind("I: 1000 ms, ", 0), 0u) << form->Review().CaliperTexts()[0];

  gain->setCurrentIndex(gain->findData(20));
  EXPECT_EQ(form->Review().Gain(), 20);
  EXPECT_TRUE(form->Review().CaliperTexts().empty()) << "laid on the other gain";
  speed->setCurrentIndex(speed->findData(2));
  EXPECT_EQ(form->Review().PaperSpeed(), 0);
  EXPECT_EQ(form->Review().Compression(), 2);
  EXPECT_FALSE(gain->isVisible());
}

TEST_F(Review, InServiceModeTheBarLeavesTestsPlaceFree) {
  SetUpPort();
  form->Guarded([&] { form->ServiceModeKey(); });
  LoadRecording(2000);
  ASSERT_TRUE(Shown("ReviewBar"));
  ASSERT_TRUE(Shown("TestButton"));
  EXPECT_FALSE(Find("ReviewBar")->geometry().intersects(Find("TestButton")->geometry()));
}

TEST_F(Review, ARecordingLoadsWithoutAnyPortAndNamesItsFile) {
  ASSERT_TRUE(Shown("LoadButton")) << "at start, before any set-up";
  LoadRecording(2000);
  ASSERT_TRUE(Shown("ReviewBar"));
  EXPECT_EQ(Find<QLabel>("ReviewFile")->text().toStdString(), "long.dat");
  EXPECT_TRUE(Shown("PrintButton"));
  EXPECT_TRUE(Shown("StatusBar1")) << "the review keeps the status bar";
}

TEST_F(Review, ACancelledLoadKeepsThePlace) {
  SetUpPort();
  LoadRecording(5000);
  Press(Qt::Key_Home);
  Press(Qt::Key_PageDown);
  ASSERT_EQ(form->Review().First(), 1201);
  const QImage chart = Chart();
  dialogs.openAnswers = {std::nullopt};
  Click("LoadButton");
  EXPECT_TRUE(Shown("ReviewBar"));
  EXPECT_EQ(form->Review().First(), 1201);
  EXPECT_TRUE(Chart() == chart);
}

// The bar lies in the top row right of Export; no control of the window
// changes its place or size when it appears, it covers no visible control,
// the chart's time labels or the status bar, and it goes when the review
// ends.
struct StripCase {
  int screenWidth;
  QRect bar;
};

class ReviewStrip : public ReviewWindow, public ::testing::WithParamInterface<StripCase> {
 public:
  ReviewStrip() : ReviewWindow(GetParam().screenWidth) {}
};

TEST_P(ReviewStrip, TheBarTakesTheFreeStripAndMovesNothing) {
  SetUpPort();
  std::vector<std::pair<QWidget*, QRect>> places;
  for (QWidget* child : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (child->objectName() != "ReviewBar") places.emplace_back(child, child->geometry());
  LoadRecording(2000);
  auto* bar = Find("ReviewBar");
  ASSERT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->geometry(), GetParam().bar);
  for (auto [child, place] : places) {
    EXPECT_EQ(child->geometry(), place) << child->objectName().toStdString();
    if (child->isVisible()) {
      EXPECT_FALSE(child->geometry().intersects(bar->geometry())) << child->objectName().toStdString();
    }
  }
  for (const char* name : {"ReviewLabel", "ReviewCompression", "ReviewScroll"}) {
    QWidget* control = Find(name);
    EXPECT_TRUE(QRect(QPoint(0, 0), bar->size()).contains(control->geometry())) << name;
  }
  // At a paper speed the gain choice takes room too: the readout is cut to
  // what is left, never clipped, and whole in its tooltip.
  auto* speed = Find<QComboBox>("ReviewCompression");
  speed->setCurrentIndex(speed->findText("25 mm/s"));
  bar->layout()->activate();
  auto* label = Find<QLabel>("ReviewLabel");
  EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
  EXPECT_EQ(label->toolTip().toStdString(), form->Review().ReadoutText());
  for (const char* name : {"ReviewLabel", "ReviewGain", "ReviewScroll"})
    EXPECT_TRUE(QRect(QPoint(0, 0), bar->size()).contains(Find(name)->geometry())) << name;
  EXPECT_TRUE(Shown("StatusBar1"));
  Click("ReadButton");
  EXPECT_FALSE(bar->isVisible());
}

INSTANTIATE_TEST_SUITE_P(ScreenClasses, ReviewStrip,
                         ::testing::Values(StripCase{1280, QRect(392, 0, 880, 27)},
                                           StripCase{1100, QRect(392, 0, 624, 27)},
                                           StripCase{1000, QRect(392, 0, 400, 27)},
                                           StripCase{1920, QRect(392, 0, 1520, 27)}));

}  // namespace
