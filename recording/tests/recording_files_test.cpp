// The log and data files: their exact bytes, the derived data name, writes
// that fail part-way, and a pair replaced as a whole.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "recording/FileIO.h"
#include "recording/RecordingFiles.h"
#include "recording_support.h"

namespace {

const TimeFormatter kClock = [](double dayFraction) {
  return dayFraction == 0.5 ? std::string("12:00:00") : std::string("10:00:00");
};

SampleRecord Record(double time, std::array<std::uint8_t, 8> channels, std::array<std::uint8_t, 5> chest) {
  SampleRecord record{};
  record.time = time;
  record.channels = channels;
  record.chest = chest;
  return record;
}

std::string LineOf(const SampleRecord& record, const TimeFormatter& formatTime = kClock) {
  std::string line;
  AppendLogRecordLine(line, record, formatTime);
  return line;
}

// --- log text -------------------------------------------------------------------

TEST(LogText, HeaderHasFiveLinesEndingInCrLfWithFourSpacesAfterTime) {
  EXPECT_EQ(LogHeaderText("/data/run1.log", "05.03.2024 14:05:33"),
            "VARNOK ECG Data : /data/run1.log\r\n"
            "File created: 05.03.2024 14:05:33\r\n"
            "\r\n"
            "TIME    \tI\tII\tIII\tVR\tVL\tVF\tC1\tC2\tC3\tC4\tC5\tC6\tRESP\r\n"
            "\r\n");
}

TEST(LogText, NoonWithRespAtFullScaleUsesTheUsersLongTimeFormat) {
  // The tests run in the C locale, whose long time format is a 24-hour
  // hh:mm:ss.
  const SampleRecord record = Record(0.5, {0, 0, 0, 0, 0, 0, 0, 255}, {0, 0, 0, 0, 0});
  EXPECT_EQ(LineOf(record, LocaleTimeFormatter()), "12:00:00\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t255\t\r\n");
}

TEST(LogText, RespComesAfterTheChestLeads) {
  const SampleRecord record = Record(0.5, {1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13});
  EXPECT_EQ(LineOf(record), "12:00:00\t1\t2\t3\t4\t5\t6\t7\t9\t10\t11\t12\t13\t8\t\r\n");
}

TEST(LogText, ValuesAreUnsignedDecimalWithoutPadding) {
  const SampleRecord record = Record(0.5, {0, 9, 10, 99, 100, 127, 128, 200}, {254, 255, 1, 0, 50});
  EXPECT_EQ(LineOf(record), "12:00:00\t0\t9\t10\t99\t100\t127\t128\t254\t255\t1\t0\t50\t200\t\r\n");
}

TEST(LogText, RecordsOfTheSameSecondShowTheSameTime) {
  const double second = (14 * 3600.0 + 5 * 60 + 33) / 86400.0;
  const TimeFormatter locale = LocaleTimeFormatter();
  EXPECT_EQ(LineOf(Record(second, {}, {}), locale).substr(0, 9), "14:05:33\t");
  EXPECT_EQ(LineOf(Record(second + 0.4 / 86400.0, {}, {}), locale).substr(0, 9), "14:05:33\t");
}

// --- names and header record -------------------------------------------------------

struct NameCase {
  std::string log;
  std::string data;
};

class DataName : public ::testing::TestWithParam<NameCase> {};

TEST_P(DataName, ReplacesTheFileNamesExtensionWithDat) {
  EXPECT_EQ(DataNameForLogName(GetParam().log), GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DataName,
    ::testing::Values(
        NameCase{"C:\\rec\\run1.log", "C:\\rec\\run1.dat"}, NameCase{"/home/ecg/run1.log", "/home/ecg/run1.dat"},
        NameCase{"/home/ecg/run1.txt", "/home/ecg/run1.dat"}, NameCase{"/home/ecg/run1.LOG", "/home/ecg/run1.dat"},
        NameCase{"run1.log", "run1.dat"}, NameCase{"/home/ecg/.log", "/home/ecg/.dat"},
        // Other extensions are replaced whatever their length.
        NameCase{"/home/ecg/a.b", "/home/ecg/a.dat"}, NameCase{"/home/ecg/run.tar.gz", "/home/ecg/run.tar.dat"},
        NameCase{"/home/ecg/run1.", "/home/ecg/run1.dat"},
        // Without an extension the name is kept whole.
        NameCase{"/home/ecg/run12345", "/home/ecg/run12345.dat"}, NameCase{"ab", "ab.dat"},
        NameCase{"/home/ecg/Messung-\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F",
                 "/home/ecg/Messung-\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F.dat"},
        // A dot in a folder's name is not the file's extension.
        NameCase{"dir/sub/a.b", "dir/sub/a.dat"}, NameCase{"dir/sub.d/run", "dir/sub.d/run.dat"},
        NameCase{"/home/ecg.v2/run1", "/home/ecg.v2/run1.dat"}));

TEST(DataHeader, CarriesTheMarkerAtOffsetEightAndTheSlotsOtherBytes) {
  SampleRecord slot{};
  slot.time = 42.0;
  slot.channels = {9, 8, 7, 6, 5, 4, 3, 2};
  slot.chest = {1, 2, 3, 4, 5};
  slot.reserved = {0xAA, 0xBB, 0xCC};
  const std::string bytes = RecordBytes(DataHeaderRecord(slot));
  std::string expected = RecordBytes(slot);
  expected[8] = 5;
  EXPECT_EQ(bytes, expected);
}

// --- writing both files ----------------------------------------------------------

class WriteFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    store.At(0).channels[0] = 77;
    store.At(0).reserved = {1, 2, 3};
    store.BeginRecording();
    store.At(store.Append()) = Record(0.5, {0, 0, 0, 0, 0, 0, 0, 255}, {0, 0, 0, 0, 0});
    store.At(store.Append()) = Record(0.25, {1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13});
    store.At(store.Append()) = Record(0.5, {128, 128, 128, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0});
    store.At(3).reserved = {7, 0, 9};
  }

  std::unique_ptr<SampleStore> storePtr = std::make_unique<SampleStore>();
  SampleStore& store = *storePtr;
  ScratchFolder folder;
  std::string log = folder / "run1.log";
  std::string data = folder / "run1.dat";
};

TEST_F(WriteFiles, ThreeRecordsGiveA96ByteDataFileWithTheMarker) {
  WriteRecordingFiles(store, log, data, kTestNow, kClock);
  const std::string bytes = ReadWholeFile(data);
  ASSERT_EQ(bytes.size(), 96u);
  EXPECT_EQ(bytes[8], 5);
  std::string expected = RecordBytes(DataHeaderRecord(store.At(0)));
  for (int slot = 1; slot <= 3; ++slot) expected += RecordBytes(store.At(slot));
  EXPECT_EQ(bytes, expected);
}

TEST_F(WriteFiles, ThreeRecordsGiveAnEightLineLog) {
  WriteRecordingFiles(store, log, data, kTestNow, kClock);
  EXPECT_EQ(ReadWholeFile(log), "VARNOK ECG Data : " + log +
                                    "\r\n"
                                    "File created: 2024-03-05 14:05:33\r\n"
                                    "\r\n"
                                    "TIME    \tI\tII\tIII\tVR\tVL\tVF\tC1\tC2\tC3\tC4\tC5\tC6\tRESP\r\n"
                                    "\r\n"
                                    "12:00:00\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t255\t\r\n"
                                    "10:00:00\t1\t2\t3\t4\t5\t6\t7\t9\t10\t11\t12\t13\t8\t\r\n"
                                    "12:00:00\t128\t128\t128\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n");
}

TEST_F(WriteFiles, LeavesOnlyTheTwoFilesAndReadsTheStoreOnly) {
  const std::string before = RecordBytes(store.At(0)) + RecordBytes(store.At(1));
  WriteRecordingFiles(store, log, data, kTestNow, kClock);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.dat", "run1.log"}));
  EXPECT_EQ(RecordBytes(store.At(0)) + RecordBytes(store.At(1)), before);
  EXPECT_EQ(store.Count(), 3);
}

TEST_F(WriteFiles, AnEmptyRecordingIsTheHeaderAlone) {
  store.BeginRecording();
  WriteRecordingFiles(store, log, data, kTestNow, kClock);
  EXPECT_EQ(ReadWholeFile(data).size(), 24u);
  EXPECT_EQ(ReadWholeFile(log), LogHeaderText(log, kTestNow));
}

TEST_F(WriteFiles, PastTheFileSizeLimitLeavesNoFileBehind) {
  FillStore(store, 5000);
  try {
    ScopedFileSizeLimit limit(16 * 1024);
    WriteRecordingFiles(store, log, data, kTestNow, kClock);
    FAIL() << "the write went through";
  } catch (const ERecordingFile& error) {
    EXPECT_NE(std::string(error.what()).find("File too large"), std::string::npos) << error.what();
    // The user's names, not the temporary ones, appear in the message.
    EXPECT_NE(std::string(error.what()).find("run1."), std::string::npos) << error.what();
    EXPECT_EQ(std::string(error.what()).find(".part"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(WriteFiles, AFolderThatDoesNotExistIsReported) {
  const std::string missing = folder / "no-such-folder/run1.log";
  EXPECT_THROW(WriteRecordingFiles(store, missing, DataNameForLogName(missing), kTestNow, kClock), ERecordingFile);
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(WriteFiles, ANameTakenMeanwhileIsNeitherReplacedNorHalfWritten) {
  WriteWholeFile(data, "someone else's recording");
  EXPECT_THROW(WriteRecordingFiles(store, log, data, kTestNow, kClock), ERecordingFile);
  EXPECT_EQ(ReadWholeFile(data), "someone else's recording");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.dat"}));
}

// --- replacing a pair (ecg-record --force) -------------------------------------------

struct ReplaceCase {
  const char* name;
  bool oldLog;
  bool oldData;
};

class ReplacePair : public WriteFiles, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplacePair, PutsTheNewPairInPlaceOfWhateverWasThere) {
  if (GetParam().oldLog) WriteWholeFile(log, "old log");
  if (GetParam().oldData) WriteWholeFile(data, "old data");
  WriteRecordingFiles(store, log, data, kTestNow, kClock, ExistingFiles::Replace);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.dat", "run1.log"})) << "no temporary is left";
  EXPECT_EQ(ReadWholeFile(data).size(), 96u);
  EXPECT_EQ(ReadWholeFile(data)[8], 5);
  EXPECT_EQ(ReadWholeFile(log).rfind("VARNOK ECG Data : ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Existing, ReplacePair,
                         ::testing::Values(ReplaceCase{"Both", true, true}, ReplaceCase{"LogOnly", true, false},
                                           ReplaceCase{"DataOnly", false, true}, ReplaceCase{"Neither", false, false}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(WriteFiles, AReplaceThatFailsAtTheDataFileLeavesTheOldPairAsItWas) {
  WriteWholeFile(log, "old log");
  // A folder of the data file's name: the second rename cannot replace it.
  std::filesystem::create_directory(data);
  WriteWholeFile(data + "/inside", "kept");
  EXPECT_THROW(WriteRecordingFiles(store, log, data, kTestNow, kClock, ExistingFiles::Replace), ERecordingFile);
  EXPECT_EQ(ReadWholeFile(log), "old log") << "the previous log is back in place";
  EXPECT_EQ(ReadWholeFile(data + "/inside"), "kept");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.dat", "run1.log"})) << "no temporary is left";
}

TEST_F(WriteFiles, AReplaceNeverMovesAFolderOfTheLogsNameAside) {
  std::filesystem::create_directory(log);
  WriteWholeFile(log + "/inside", "kept");
  EXPECT_THROW(WriteRecordingFiles(store, log, data, kTestNow, kClock, ExistingFiles::Replace), ERecordingFile);
  EXPECT_EQ(ReadWholeFile(log + "/inside"), "kept");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"run1.log"}));
}

TEST_F(WriteFiles, ALogNameThatIsItsOwnDataNameIsRefused) {
  const std::string both = folder / "x.dat";
  EXPECT_THROW(WriteRecordingFiles(store, both, both, kTestNow, kClock), ERecordingFile);
  EXPECT_TRUE(folder.Names().empty());
}

// --- the buffered file ------------------------------------------------------------

TEST(OutputFile, AFullDeviceIsReportedWithTheSystemsText) {
  TOutputFile file = TOutputFile::OpenExisting("/dev/full");
  const std::string chunk(64 * 1024, 'x');
  try {
    for (int i = 0; i < 8; ++i) file.Write(chunk);
    file.Commit();
    FAIL() << "writing to /dev/full succeeded";
  } catch (const ERecordingFile& error) {
    EXPECT_NE(std::string(error.what()).find("No space left on device"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("/dev/full"), std::string::npos) << error.what();
  }
}

TEST(OutputFile, CreateNewRefusesAnExistingFile) {
  ScratchFolder folder;
  WriteWholeFile(folder / "taken", "x");
  EXPECT_THROW(TOutputFile::CreateNew(folder / "taken", folder / "taken"), ERecordingFile);
  EXPECT_EQ(ReadWholeFile(folder / "taken"), "x");
}

TEST(InputFile, DeliversShortOnlyAtTheEnd) {
  ScratchFolder folder;
  const std::string bytes(300000, '\x5A');
  WriteWholeFile(folder / "f", bytes);
  TInputFile file = TInputFile::Open(folder / "f");
  std::vector<std::byte> piece(24);
  std::size_t total = 0, got = 0;
  while ((got = file.Read(piece)) == piece.size()) total += got;
  EXPECT_EQ(total + got, bytes.size());
  EXPECT_EQ(got, bytes.size() % 24);
}

TEST(InputFile, AFolderCannotBeOpened) {
  ScratchFolder folder;
  EXPECT_THROW(TInputFile::Open(folder.Path().string()), ERecordingFile);
}

}  // namespace
