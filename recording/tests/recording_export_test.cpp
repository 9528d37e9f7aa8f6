// Export of a recording as CSV and EDF+: contents, the estimated rate, and
// failures that leave nothing behind. The Export button's flow is the
// window's (ui/tests/recording_flows_test.cpp).
#include <gtest/gtest.h>

#include <clocale>
#include <sstream>

#include "recording/RecordingExport.h"
#include "recording/RecordingFiles.h"
#include "recording/RecordingLoader.h"
#include "recording_support.h"

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

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, ',')) fields.push_back(cell);
    rows.push_back(fields);
  }
  return rows;
}

class Export : public RecordingFixture {};

TEST_F(Export, CsvHasAHeaderAndOneLinePerRecordWithMillisecondsAndChannelsThatHoldData) {
  // A locale with a decimal comma must not change a thing.
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  FillRecording(store, 600, 300, true);
  ExportCsv(store, folder / "run.csv", {});
  std::setlocale(LC_ALL, previous.c_str());

  const auto rows = ParseCsv(ReadWholeFile(folder / "run.csv"));
  ASSERT_EQ(rows.size(), 601u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"sample", "seconds", "time", "I", "C6", "Resp", "flags", "marker"}));
  for (int n = 0; n < 600; ++n) {
    const auto& row = rows[static_cast<std::size_t>(n) + 1];
    ASSERT_EQ(row.size(), 8u);
    const SampleRecord& record = store.At(n + 1);
    EXPECT_EQ(std::stoi(row[0]), n);
    EXPECT_NEAR(std::stod(row[1]), n / 300.0, 1e-6);
    EXPECT_EQ(row[2], IsoTimeOfDay(record.time));
    EXPECT_EQ(std::stoi(row[3]), record.channels[chI]);
    EXPECT_EQ(std::stoi(row[4]), record.chest[4]);
    EXPECT_EQ(std::stoi(row[5]), record.channels[chResp]);
    EXPECT_EQ(row[6], "");
    EXPECT_EQ(row[7], "0");
  }
  EXPECT_EQ(rows[1][2], "14:03:20.250");
  EXPECT_EQ(rows[2][2], "14:03:20.253");
  EXPECT_EQ(rows[2][1], "0.003333");
}

struct TimeCase {
  double seconds;
  const char* iso;
};

class IsoTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(IsoTime, IsTheTimeOfDayWithMilliseconds) {
  EXPECT_EQ(IsoTimeOfDay(GetParam().seconds / 86400.0), GetParam().iso);
}

INSTANTIATE_TEST_SUITE_P(Times, IsoTime,
                         ::testing::Values(TimeCase{0, "00:00:00.000"}, TimeCase{43200, "12:00:00.000"},
                                           TimeCase{50600.0015, "14:03:20.002"}, TimeCase{86399.999, "23:59:59.999"},
                                           TimeCase{86399.9996, "00:00:00.000"}));

struct RateCase {
  double recordsPerSecond;
  int estimated;
};

class EstimatedRate : public Export, public ::testing::WithParamInterface<RateCase> {};

TEST_P(EstimatedRate, IsTheNearestModuleRate) {
  FillRecording(store, 900, GetParam().recordsPerSecond);
  EXPECT_EQ(EstimateSampleRate(store), GetParam().estimated);
}

INSTANTIATE_TEST_SUITE_P(Rates, EstimatedRate,
                         ::testing::Values(RateCase{50, 50}, RateCase{47, 50}, RateCase{100, 100}, RateCase{130, 150},
                                           RateCase{150, 150}, RateCase{240, 300}, RateCase{300, 300},
                                           RateCase{500, 300}, RateCase{10, 50}));

TEST_F(Export, ARateAcrossMidnightIsStillEstimated) {
  store.BeginRecording();
  for (int n = 0; n < 600; ++n) store.At(store.Append()).time = std::fmod(86399.0 + n / 150.0, 86400.0) / 86400.0;
  EXPECT_EQ(EstimateSampleRate(store), 150);
}

// The fixed-width header fields of the EDF+ file.
std::string HeaderField(const std::string& file, std::size_t offset, std::size_t width) {
  std::string field = file.substr(offset, width);
  while (!field.empty() && field.back() == ' ') field.pop_back();
  return field;
}

TEST_F(Export, EdfHeaderNamesTheChannelsTheRangeInStepsAndTenthOfASecondRecords) {
  FillRecording(store, 700, 300);
  ExportOptions options;
  options.sidecar = RecordingSidecar{};
  options.sidecar->start = LocalDateTime{{2024, 3, 5}, (14 * 3600 + 3 * 60 + 20) * 1000LL + 250};
  ExportEdf(store, folder / "run.edf", options);
  const std::string file = ReadWholeFile(folder / "run.edf");
  const std::size_t signalCount = 3;  // I, Resp, annotations
  ASSERT_GE(file.size(), 256 * (signalCount + 1));
  EXPECT_EQ(HeaderField(file, 0, 8), "0");
  EXPECT_EQ(HeaderField(file, 88, 80).substr(0, 21), "Startdate 05-MAR-2024");
  EXPECT_EQ(HeaderField(file, 168, 8), "05.03.24");
  EXPECT_EQ(HeaderField(file, 176, 8), "14.03.20");
  EXPECT_EQ(HeaderField(file, 184, 8), "1024");
  EXPECT_EQ(HeaderField(file, 192, 44).substr(0, 5), "EDF+C");
  EXPECT_EQ(HeaderField(file, 236, 8), "24");  // 700 records at 300/s: 24 data records of 30
  EXPECT_EQ(HeaderField(file, 244, 8), "0.1");
  EXPECT_EQ(HeaderField(file, 252, 4), "3");
  auto signalField = [&](std::size_t start, std::size_t width, std::size_t signal) {
    return HeaderField(file, 256 + start * signalCount + width * signal, width);
  };
  EXPECT_EQ(signalField(0, 16, 0), "I");
  EXPECT_EQ(signalField(0, 16, 1), "Resp");
  EXPECT_EQ(signalField(0, 16, 2), "EDF Annotations");
  // Uncalibrated: the values as they are, labelled as steps.
  EXPECT_EQ(signalField(96, 8, 0), "steps");
  EXPECT_EQ(signalField(104, 8, 0), "0");
  EXPECT_EQ(signalField(112, 8, 0), "247");
  EXPECT_EQ(signalField(120, 8, 0), "0");
  EXPECT_EQ(signalField(128, 8, 0), "247");
  EXPECT_EQ(signalField(216, 8, 0), "30");
  // The last record is padded with the last sample of each channel.
  const std::size_t recordBytes = (file.size() - 1024) / 24;
  const std::size_t lastRecord = 1024 + 23 * recordBytes;
  const std::uint8_t lastI = store.At(700).channels[chI];
  EXPECT_EQ(static_cast<std::uint8_t>(file[lastRecord + 2 * 9]), lastI);
  EXPECT_EQ(static_cast<std::uint8_t>(file[lastRecord + 2 * 29]), lastI);
}

struct FailureCase {
  const char* name;
  int records;
  std::optional<int> rate;
  const char* text;
};

class ExportRefusal : public Export, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExportRefusal, SaysWhyAndLeavesNoFile) {
  FillRecording(store, GetParam().records, 300);
  ExportOptions options;
  options.sampleRate = GetParam().rate;
  for (bool edf : {true, false}) {
    try {
      edf ? ExportEdf(store, folder / "out", options) : ExportCsv(store, folder / "out", options);
      ADD_FAILURE() << "exported";
    } catch (const ERecordingFile& error) {
      EXPECT_NE(std::string(error.what()).find(GetParam().text), std::string::npos) << error.what();
    }
    EXPECT_TRUE(folder.Names().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, ExportRefusal,
                         ::testing::Values(FailureCase{"Empty", 0, std::nullopt, "no records"},
                                           FailureCase{"RateZero", 10, 0, "outside 1..1000"},
                                           FailureCase{"RateTooHigh", 10, 1001, "outside 1..1000"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(Export, AFailedWriteLeavesThePreviousFileAndNoPartialOne) {
  FillRecording(store, 20000, 300, true);
  WriteWholeFile(folder / "run.csv", "the earlier export");
  for (bool edf : {true, false}) {
    const std::string path = folder / (edf ? "run.edf" : "run.csv");
    try {
      ScopedFileSizeLimit limit(64 * 1024);
      ExportOptions replacing;
      replacing.replaceExisting = true;
      edf ? ExportEdf(store, path, replacing) : ExportCsv(store, path, replacing);
      ADD_FAILURE() << "the write went through";
    } catch (const ERecordingFile& error) {
      EXPECT_NE(std::string(error.what()).find("File too large"), std::string::npos) << error.what();
      EXPECT_EQ(std::string(error.what()).find(".part"), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"run.csv"});
  EXPECT_EQ(ReadWholeFile(folder / "run.csv"), "the earlier export");
}

TEST_F(Export, ALoadedRecordingExportsTheFilesRecords) {
  FillRecording(store, 50, 300);
  const std::string log = folder / "run.log";
  WriteRecordingFiles(store, log, DataNameForLogName(log), kTestNow, LocaleTimeFormatter());
  auto read = std::make_unique<SampleStore>();
  ReadRecordingRecords(folder / "run.dat", *read);
  ASSERT_EQ(read->Count(), 50);
  ExportCsv(*read, folder / "a.csv", {});
  ExportCsv(store, folder / "b.csv", {});
  EXPECT_EQ(ReadWholeFile(folder / "a.csv"), ReadWholeFile(folder / "b.csv"));
  WriteWholeFile(folder / "bad.dat", std::string(48, '\0'));
  EXPECT_THROW(ReadRecordingRecords(folder / "bad.dat", *read), ENotARecording);
}

TEST(ExportDate, IsTheDataFilesModificationDate) {
  ScratchFolder folder;
  WriteWholeFile(folder / "run.dat", "x");
  const std::optional<CalendarDate> date = ModificationDate(folder / "run.dat");
  ASSERT_TRUE(date);
  EXPECT_EQ(*date, Today());
  EXPECT_EQ(ModificationDate(folder / "missing.dat"), std::nullopt);
  EXPECT_EQ(ModificationDate(""), std::nullopt);
}

}  // namespace
