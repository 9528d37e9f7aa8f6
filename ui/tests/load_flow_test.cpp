// The Load button: a data file back into the store and onto the chart, what
// panel 5 and the messages say, and what the window is told came of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "chart/ChartFrame.h"
#include "chart/ChartSweep.h"
#include "flows_support.h"
#include "recording/FileIO.h"
#include "recording/RecordingFiles.h"
#include "recording/RecordingLoader.h"
#include "recording/RecordingShape.h"

namespace {

const ShownMessage kInvalidFile{"Invalid File Type", " Error reading File"};

class LoaderTest : public FlowFixture {
 protected:
  // A data file as a save writes it, of `count` records from `source`.
  // Eight-channel unless `twelve`: the chest bytes C2..C6 are then all 0.
  std::string SavedFile(const std::string& name, int count, unsigned seed = 3, bool twelve = false) {
    auto source = std::make_unique<SampleStore>();
    FillStore(*source, count, seed);
    if (!twelve)
      for (int slot = 1; slot <= count; ++slot) source->At(slot).chest = {};
    saved.clear();
    for (int slot = 0; slot <= count; ++slot)
      saved.push_back(slot == 0 ? DataHeaderRecord(source->At(0)) : source->At(slot));
    const std::string log = folder / (name + ".log");
    WriteRecordingFiles(*source, log, DataNameForLogName(log), kTestNow, LocaleTimeFormatter());
    return DataNameForLogName(log);
  }

  LoadOutcome Load(const std::string& path) {
    dialogs.openAnswers = {path};
    return LoadButtonClick(context());
  }

  // The chart as the eight-channel frame leaves it, nothing plotted.
  QImage EmptyFrame() {
    ChartLayout copy = layout;
    ImageCanvas canvas(layout.ChartWidth, layout.ChartHeight);
    PrepareChart(copy, canvas);
    DrawBasic(copy, canvas);
    return canvas.Image();
  }

  // A recording already on the chart and in the store, as after a stop.
  void PreviousRecording() {
    FillStore(store, 50, 11);
    ChartSweep sweep(layout, chart(), LocaleTimeFormatter());
    sweep.Frame();
    for (int n = 1; n <= 50; ++n) sweep.Plot(store, n);
    currentDataFile = "/earlier/run.dat";
  }

  bool TraceColourInColumn(int x, TColor colour, int top, int bottom) {
    for (int y = top; y <= bottom; ++y)
      if (chart().PixelAt(x, y) == colour) return true;
    return false;
  }

  std::vector<SampleRecord> saved;
};

TEST_F(LoaderTest, TheOpenDialogOffersDataFilesThatMustExist) {
  dialogs.openAnswers = {std::nullopt};
  LoadButtonClick(context());
  ASSERT_EQ(dialogs.openDialogs.size(), 1u);
  EXPECT_EQ(dialogs.openDialogs[0].filter, "ECG Data Files|*.dat");
  EXPECT_TRUE(dialogs.openDialogs[0].fileMustExist);
  EXPECT_TRUE(dialogs.openDialogs[0].pathMustExist);
}

TEST_F(LoaderTest, ThreeRecordsCountUpInTheStatusBarAndShowPrint) {
  const std::string path = SavedFile("run1", 3);
  const LoadOutcome loaded = Load(path);
  EXPECT_EQ(store.Count(), 3);
  EXPECT_EQ(panel5, (std::vector<std::string>{"Status: Loading... 1 packets", "Status: Loading... 2 packets",
                                              "Status: Loading... 3 packets", "Status: Idle"}));
  EXPECT_TRUE(loaded.chosen);
  EXPECT_EQ(loaded.records, 3);
  EXPECT_FALSE(loaded.twelveChannel);
  EXPECT_EQ(currentDataFile, path);
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
}

TEST_F(LoaderTest, TheStoreHoldsTheFileByteForByte) {
  Load(SavedFile("run1", 3));
  for (int slot = 0; slot <= 3; ++slot)
    EXPECT_EQ(RecordBytes(store.At(slot)), RecordBytes(saved[static_cast<std::size_t>(slot)])) << "slot " << slot;
}

TEST_F(LoaderTest, RecordsAreDrawnAsDuringEightChannelAcquisition) {
  Load(SavedFile("run1", 40));
  // The same records plotted one by one after a fresh frame.
  ChartLayout expectedLayout = layout;
  ImageCanvas expected(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(expectedLayout, expected);
  ChartSweep sweep(expectedLayout, expected, LocaleTimeFormatter());
  sweep.Frame();
  auto replay = std::make_unique<SampleStore>();
  replay->BeginRecording();
  for (int slot = 1; slot <= 40; ++slot) {
    replay->At(replay->Append()) = saved[static_cast<std::size_t>(slot)];
    sweep.Plot(*replay, slot);
  }
  EXPECT_TRUE(chart().Image() == expected.Image());
  EXPECT_EQ(layout.CursorX, layout.Margin + 1 + 40);
  EXPECT_NE(chart().Image(), EmptyFrame());
}

TEST_F(LoaderTest, ATwelveChannelRecordingIsDrawnWithTheTwelveChannelFrame) {
  LayoutBands(layout, {true, false, false, false, false, false, true, true});  // a stale eight-channel set-up
  EXPECT_TRUE(Load(SavedFile("twelve", 1500, 5, true)).twelveChannel);
  ChartLayout twelve = layout;
  LayoutBands12C(twelve);
  for (ChartChannel channel : kLimbLeads) EXPECT_EQ(layout.BandTable[channel], twelve.BandTable[channel]);
  for (ChartChannel channel : kChestLeads) EXPECT_EQ(layout.BandTable[channel], twelve.BandTable[channel]);

  // The same records as twelve-channel acquisition draws them, wrapping at
  // the left column's end.
  ChartLayout expectedLayout = layout;
  ImageCanvas expected(layout.ChartWidth, layout.ChartHeight);
  PrepareChart(expectedLayout, expected);
  ChartSweep sweep(expectedLayout, expected, LocaleTimeFormatter(), true);
  sweep.Frame();
  auto replay = std::make_unique<SampleStore>();
  replay->BeginRecording();
  for (int slot = 1; slot <= 1500; ++slot) {
    replay->At(replay->Append()) = saved[static_cast<std::size_t>(slot)];
    sweep.Plot(*replay, slot);
  }
  EXPECT_TRUE(chart().Image() == expected.Image());
  EXPECT_EQ(store.Count(), 1500);
  // C6's label in teal in the right column: the chest leads are drawn.
  const BandEntry c6 = layout.BandTable[ccC6];
  EXPECT_TRUE(TraceColourInColumn(layout.ColumnSplit + layout.Margin + 2, clTeal, c6.Bottom - c6.Height + 4,
                                  c6.Bottom - c6.Height + 20));
}

TEST_F(LoaderTest, AnEightChannelRecordingShowsOnlyTheChannelsThatHoldData) {
  auto source = std::make_unique<SampleStore>();
  FillStore(*source, 30, 9);
  for (int slot = 1; slot <= 30; ++slot) {
    SampleRecord& record = source->At(slot);
    record.chest = {};
    record.channels = {record.channels[chI], 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(record.channels[chResp] | 1)};
  }
  const std::string log = folder / "two.log";
  WriteRecordingFiles(*source, log, DataNameForLogName(log), kTestNow, LocaleTimeFormatter());
  Load(DataNameForLogName(log));
  ChartLayout onlyTwo = layout;
  LayoutBands(onlyTwo, {true, false, false, false, false, false, false, true});
  EXPECT_EQ(layout.BandTable, onlyTwo.BandTable);
  EXPECT_EQ(layout.BandTable[ccII].Height, 0);
}

TEST_F(LoaderTest, AFileWithItsHeaderAloneLoadsNothingQuietly) {
  WriteWholeFile(folder / "empty.dat", std::string(8, '\0') + '\x05' + std::string(15, '\0'));
  EXPECT_EQ(Load(folder / "empty.dat").records, 0);
  EXPECT_EQ(store.Count(), 0);
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
  EXPECT_EQ(panel5, std::vector<std::string>{"Status: Idle"});
  EXPECT_TRUE(chart().Image() == EmptyFrame());
}

TEST_F(LoaderTest, AWrongMarkerIsAnInvalidFileType) {
  PreviousRecording();
  std::string bytes = ReadWholeFile(SavedFile("run1", 3));
  bytes[8] = 4;
  WriteWholeFile(folder / "wrong.dat", bytes);
  const LoadOutcome loaded = Load(folder / "wrong.dat");
  EXPECT_EQ(dialogs.MessageBoxes(), std::vector<ShownMessage>{kInvalidFile});
  EXPECT_EQ(store.Count(), 0);
  EXPECT_TRUE(chart().Image() == EmptyFrame());
  EXPECT_EQ(currentDataFile, folder / "wrong.dat");
  EXPECT_EQ(panel5, std::vector<std::string>{"Status: Idle"});
  EXPECT_EQ(loaded.records, 0);
  EXPECT_EQ(RecordBytes(store.At(0)), bytes.substr(0, 24)) << "the header slot holds what was read";
}

TEST_F(LoaderTest, AFileShorterThanAHeaderIsAnInvalidFileType) {
  PreviousRecording();
  const std::string before = RecordBytes(store.At(0));
  WriteWholeFile(folder / "short.dat", "0123456789");
  Load(folder / "short.dat");
  EXPECT_EQ(dialogs.MessageBoxes(), std::vector<ShownMessage>{kInvalidFile});
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(RecordBytes(store.At(0)), "0123456789" + before.substr(10));
}

TEST_F(LoaderTest, ATrailingPieceIsIgnored) {
  std::string bytes = ReadWholeFile(SavedFile("run1", 3));
  bytes += std::string(10, '\x7F');
  WriteWholeFile(folder / "tail.dat", bytes);
  store.At(4).channels[0] = 201;  // the slot above the recording keeps what it held
  const std::string slot4 = RecordBytes(store.At(4));
  Load(folder / "tail.dat");
  EXPECT_EQ(store.Count(), 3);
  EXPECT_EQ(RecordBytes(store.At(4)), slot4);
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
  EXPECT_EQ(panel5.back(), "Status: Idle");
}

class CancelledLoad : public LoaderTest, public ::testing::WithParamInterface<std::optional<std::string>> {};

TEST_P(CancelledLoad, ChangesNothing) {
  PreviousRecording();
  const QImage chartBefore = chart().Image().copy();
  const std::string slotBytes = RecordBytes(store.At(0)) + RecordBytes(store.At(50));
  const int cursor = layout.CursorX;
  dialogs.openAnswers = {GetParam()};
  EXPECT_FALSE(LoadButtonClick(context()).chosen);
  EXPECT_EQ(store.Count(), 50);
  EXPECT_EQ(RecordBytes(store.At(0)) + RecordBytes(store.At(50)), slotBytes);
  EXPECT_TRUE(chart().Image() == chartBefore);
  EXPECT_EQ(layout.CursorX, cursor);
  EXPECT_EQ(currentDataFile, "/earlier/run.dat");
  EXPECT_TRUE(panel5.empty());
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, CancelledLoad, ::testing::Values(std::nullopt, std::string()));

TEST_F(LoaderTest, AFileThatCannotBeOpenedThrowsAndChangesNothing) {
  PreviousRecording();
  const QImage chartBefore = chart().Image().copy();
  dialogs.openAnswers = {folder / "missing.dat"};
  try {
    LoadButtonClick(context());
    FAIL() << "no error";
  } catch (const ERecordingFile& error) {
    EXPECT_NE(std::string(error.what()).find("missing.dat"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos) << error.what();
  }
  EXPECT_EQ(store.Count(), 50);
  EXPECT_TRUE(chart().Image() == chartBefore);
  EXPECT_EQ(currentDataFile, "/earlier/run.dat");
  EXPECT_TRUE(panel5.empty());
}

// Not a regular file: refused before anything changes, and the open never
// waits (a named pipe without a writer would block a plain open for ever).
enum class Special { Folder, NamedPipe, Device };

class NotARegularFile : public LoaderTest, public ::testing::WithParamInterface<Special> {};

TEST_P(NotARegularFile, IsRefusedAtOnceAndChangesNothing) {
  std::string path;
  switch (GetParam()) {
    case Special::Folder: path = folder.Path().string(); break;
    case Special::NamedPipe:
      path = folder / "pipe.dat";
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      break;
    case Special::Device: path = "/dev/zero"; break;
  }
  PreviousRecording();
  dialogs.openAnswers = {path};
  auto load = std::async(std::launch::async, [&] {
    try {
      LoadButtonClick(context());
      return std::string("no error");
    } catch (const ERecordingFile& error) {
      return std::string(error.what());
    }
  });
  if (load.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "the open is waiting";
    // Give the blocked open its writer, so the test can end.
    const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    load.wait();
    if (writer >= 0) ::close(writer);
  }
  const std::string outcome = load.get();
  EXPECT_NE(outcome.find(path), std::string::npos) << outcome;
  EXPECT_EQ(store.Count(), 50);
  EXPECT_EQ(currentDataFile, "/earlier/run.dat");
  EXPECT_TRUE(panel5.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotARegularFile,
                         ::testing::Values(Special::Folder, Special::NamedPipe, Special::Device));

TEST_F(LoaderTest, ARecordingLongerThanTheChartWraps) {
  // Wide: records at x 31..1230, 1200 per sweep.
  Load(SavedFile("long", 1500));
  EXPECT_EQ(store.Count(), 1500);
  EXPECT_EQ(layout.CursorX, layout.Margin + 1 + 300);
  const BandEntry& bandI = layout.BandTable[ccI];
  const int top = bandI.Bottom - bandI.Height + layout.BandTopPad - 30, bottom = bandI.Bottom;
  // The second sweep's trace reaches x 330; right of it the frame is empty again.
  EXPECT_TRUE(TraceColourInColumn(200, clBlue, top, bottom));
  EXPECT_FALSE(TraceColourInColumn(400, clBlue, top, bottom));
  EXPECT_FALSE(TraceColourInColumn(1100, clBlue, top, bottom));
}

TEST_F(LoaderTest, SaveLoadSaveGivesTheSameDataFile) {
  FillStore(store, 1000, 5);
  dialogs.confirmAnswers = {true, true};
  dialogs.saveAnswers = {folder / "first.log", folder / "second.log"};
  FileSave(context());
  store.BeginRecording();
  FillStore(store, 20, 6);  // something else in between
  Load(folder / "first.dat");
  ASSERT_EQ(store.Count(), 1000);
  FileSave(context());
  EXPECT_EQ(ReadWholeFile(folder / "first.dat"), ReadWholeFile(folder / "second.dat"));
  // The logs differ only in the name on their first line.
  const std::string first = ReadWholeFile(folder / "first.log"), second = ReadWholeFile(folder / "second.log");
  EXPECT_EQ(first.substr(first.find("\r\n")), second.substr(second.find("\r\n")));
}

// --- more records than the store holds -------------------------------------------------

class LargeFile : public LoaderTest {
 protected:
  // A data file of `count` records after its header, record n carrying n.
  std::string FileOf(int count) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(count + 1) * 24);
    SampleRecord header{};
    header.channels[0] = 5;
    bytes += RecordBytes(header);
    for (int n = 1; n <= count; ++n) {
      SampleRecord record{};
      record.time = n / 86400.0;
      std::memcpy(record.chest.data(), &n, 4);
      bytes += RecordBytes(record);
    }
    const std::string path = folder / ("big" + std::to_string(count) + ".dat");
    WriteWholeFile(path, bytes);
    return path;
  }

  int NumberIn(int slot) {
    int n;
    std::memcpy(&n, store.At(slot).chest.data(), 4);
    return n;
  }
};

struct PartCase {
  const char* name;
  std::optional<std::size_t> answer;             // First, Last, From record..., Cancel; nothing: the box closed
  int firstNumber;                               // the file's record in slot 1; 0: nothing loaded
  std::optional<long long> from = std::nullopt;  // the number given after "From record..."
};

class LargeFileParts : public LargeFile, public testing::WithParamInterface<PartCase> {};

TEST_P(LargeFileParts, AskWhichPartToLoadAndACancelChangesNothing) {
  const int inFile = SampleStore::kLastSlot + 2;
  const std::string path = FileOf(inFile);
  FillStore(store, 20, 6);
  const SampleRecord before = store.At(20);
  dialogs.chooseAnswers = {GetParam().answer};
  dialogs.numberAnswers = {GetParam().from};
  const LoadOutcome loaded = Load(path);

  ASSERT_EQ(dialogs.Choices().size(), 1u);
  EXPECT_EQ(dialogs.Choices()[0].caption, "12-Kanal Test-Software");
  EXPECT_NE(dialogs.Choices()[0].text.find(std::to_string(inFile)), std::string::npos) << dialogs.Choices()[0].text;
  EXPECT_TRUE(dialogs.MessageBoxes().empty()) << "the choice said it all";
  if (GetParam().answer == 2u) {
    EXPECT_EQ(dialogs.shown.back().kind, "number") << "asked from which record";
  }
  if (GetParam().firstNumber == 0) {
    EXPECT_FALSE(loaded.chosen);
    ASSERT_EQ(store.Count(), 20);
    EXPECT_EQ(std::memcmp(&store.At(20), &before, sizeof before), 0);
    return;
  }
  EXPECT_EQ(loaded.records, SampleStore::kLastSlot);
  EXPECT_EQ(NumberIn(1), GetParam().firstNumber);
  EXPECT_EQ(NumberIn(SampleStore::kLastSlot), GetParam().firstNumber + SampleStore::kLastSlot - 1);
  EXPECT_EQ(loaded.span.skipped, GetParam().firstNumber - 1);
  EXPECT_EQ(loaded.span.fileRecords, inFile);
  EXPECT_EQ(panel5.back(), "Status: Idle");
}

INSTANTIATE_TEST_SUITE_P(, LargeFileParts,
                         testing::Values(PartCase{"First", 0, 1}, PartCase{"Last", 1, 3}, PartCase{"From", 2, 2, 2},
                                         PartCase{"FromCancelled", 2, 0, std::nullopt}, PartCase{"Cancel", 3, 0},
                                         PartCase{"Closed", std::nullopt, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(LargeFile, ExactlyAFullStoreLoadsWithoutAMessage) {
  Load(FileOf(SampleStore::kLastSlot));
  EXPECT_EQ(store.Count(), SampleStore::kLastSlot);
  EXPECT_TRUE(dialogs.MessageBoxes().empty());
}

}  // namespace
