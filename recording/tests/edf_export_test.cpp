// The exports as other programs read them: EDF+ read back with EDFlib's own
// reader (values in µV from the calibration, annotations), CSV with mV,
// flags and markers; the survey of the time stamps; the rate's and the
// start date's sources; the names an export refuses to write; files larger
// than the store.
#include <edflib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "chart/TracePlot.h"
#include "recording/DataFileReader.h"
#include "recording/RecordingExport.h"
#include "recording/RecordingFiles.h"
#include "recording_support.h"

namespace {

constexpr double kStartSeconds = 14 * 3600 + 3 * 60 + 20.25;
const std::vector<std::string> kLeads = {"I", "II", "III", "aVR", "aVL", "aVF", "C1", "C2", "C3", "C4", "C5", "C6"};

// A twelve-channel recording at 300/s with every lead and Resp varying.
void FillTwelve(SampleStore& store, int count) {
  store.BeginRecording();
  for (int n = 0; n < count; ++n) {
    SampleRecord& record = store.At(store.Append());
    record = SampleRecord{};
    record.time = (kStartSeconds + n / 300.0) / 86400.0;
    for (std::size_t c = 0; c < 8; ++c) record.channels[c] = static_cast<std::uint8_t>((n * (c + 3) + 7 * c) % 248);
    for (std::size_t c = 0; c < 5; ++c) record.chest[c] = static_cast<std::uint8_t>((n * (c + 5) + 11 * c + 1) % 248);
  }
}

// Steps per mV and zero of every lead, all different.
SidecarCalibration Calibration(int stage) {
  SidecarCalibration calibration{stage, {}};
  for (std::size_t k = 0; k < kLeads.size(); ++k)
    calibration.leads.push_back({kLeads[k], 38.5 + 0.37 * static_cast<double>(k), 110 + 1.3 * static_cast<double>(k)});
  return calibration;
}

RecordingSidecar SidecarAtStage(int stage, std::optional<int> calibratedStage) {
  RecordingSidecar sidecar;
  sidecar.setup = SidecarSetup{300, stage, 50, "Diagnostic", false, false, {}, true, false};
  sidecar.identification = "Modul V1.3";
  sidecar.start = LocalDateTime{{2024, 3, 5}, static_cast<long long>(kStartSeconds * 1000)};
  if (calibratedStage) sidecar.calibration = Calibration(*calibratedStage);
  sidecar.markers = {{1, 401, std::nullopt, "cough"}};
  return sidecar;
}

// An EDF+ file opened with EDFlib's reader, closed at the end.
class EdfFile {
 public:
  explicit EdfFile(const std::string& path) : header_(std::make_unique<edf_hdr_struct>()) {
    opened_ = edfopen_file_readonly(path.c_str(), header_.get(), EDFLIB_READ_ALL_ANNOTATIONS) == 0;
  }
  ~EdfFile() {
    if (opened_) edfclose_file(header_->handle);
  }
  EdfFile(const EdfFile&) = delete;
  EdfFile& operator=(const EdfFile&) = delete;
  bool Opened() const { return opened_; }
  const edf_hdr_struct& Header() const { return *header_; }
  std::vector<double> Physical(int signal) const {
    std::vector<double> values(static_cast<std::size_t>(header_->signalparam[signal].smp_in_file));
    edfread_physical_samples(header_->handle, signal, static_cast<int>(values.size()), values.data());
    return values;
  }
  // Text and onset (seconds) of every annotation.
  std::multimap<std::string, double> Annotations() const {
    std::multimap<std::string, double> all;
    for (long long i = 0; i < header_->annotations_in_file; ++i) {
      edf_annotation_struct annotation{};
      edf_get_annotation(header_->handle, static_cast<int>(i), &annotation);
      all.emplace(annotation.annotation, static_cast<double>(annotation.onset) / EDFLIB_TIME_DIMENSION);
    }
    return all;
  }

 private:
  std::unique_ptr<edf_hdr_struct> header_;
  bool opened_ = false;
};

// A header text without the spaces that pad it to its field's width.
std::string Trimmed(const char* text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
  return trimmed;
}

class EdfExport : public RecordingFixture {};

TEST_F(EdfExport, EdflibReadsEveryLeadInMicrovoltsWithinHalfAStepAndEveryMark) {
  constexpr int kCount = 1234;
  FillTwelve(store, kCount);
  RecordFlags(store.At(301)) = kChestMissing;
  RecordFlags(store.At(351)) = kDataLostBefore;
  RecordMarker(store.At(401)) = 1;
  ExportOptions options;
  options.sidecar = SidecarAtStage(2, 2);
  options.sidecar->markers.push_back({2, 501, std::nullopt, "only in the sidecar"});
  const ExportReport report = ExportEdf(store, folder / "run.edf", options);
  EXPECT_EQ(report.rateSource, RateSource::Sidecar);
  EXPECT_EQ(report.calibratedSignals, 12);

  const EdfFile edf(folder / "run.edf");
  ASSERT_TRUE(edf.Opened());
  const edf_hdr_struct& h = edf.Header();
  EXPECT_EQ(h.filetype, EDFLIB_FILETYPE_EDFPLUS);
  ASSERT_EQ(h.edfsignals, 13);
  EXPECT_EQ(h.datarecord_duration, EDFLIB_TIME_DIMENSION / 10);
  EXPECT_EQ(h.datarecords_in_file, (kCount + 29) / 30);
  EXPECT_EQ((std::vector<int>{h.startdate_year, h.startdate_month, h.startdate_day, h.starttime_hour,
                              h.starttime_minute, h.starttime_second}),
            (std::vector<int>{2024, 3, 5, 14, 3, 20}));
  EXPECT_EQ(h.starttime_subsecond, EDFLIB_TIME_DIMENSION / 4);
  // EDFlib's reader gives the spaces back that the header holds as '_'.
  EXPECT_EQ(Trimmed(h.equipment), "Modul V1.3");
  EXPECT_EQ(Trimmed(h.recording_additional), "300/s stage2 Diagnostic 12ch");

  const SidecarCalibration calibration = Calibration(2);
  for (int signal = 0; signal < 13; ++signal) {
    const edf_param_struct& param = h.signalparam[signal];
    const bool resp = signal == 12;
    EXPECT_EQ(param.smp_in_datarecord, 30);
    EXPECT_EQ(Trimmed(param.prefilter), "N:50Hz EMG:off");
    EXPECT_EQ(Trimmed(param.physdimension), resp ? "steps" : "uV") << param.label;
    const std::vector<double> values = edf.Physical(signal);
    ASSERT_EQ(values.size(), static_cast<std::size_t>(h.datarecords_in_file * 30));
    const ChartChannel channel = resp ? ccResp : static_cast<ChartChannel>(signal);
    for (int n = 0; n < kCount; ++n) {
      // The chest leads of the record without them hold the value before.
      const bool held = n == 300 && channel >= ccC2 && channel <= ccC6;
      const double raw = ChannelSample(store.At(held ? n : n + 1), channel);
      double expected = raw, halfStep = 0.5;
      if (!resp) {
        const SidecarLeadCalibration& lead = calibration.leads[static_cast<std::size_t>(signal)];
        expected = (raw - lead.zero) / lead.stepsPerMv * 1000;
        halfStep = 0.5 / lead.stepsPerMv * 1000;
      }
      ASSERT_NEAR(values[static_cast<std::size_t>(n)], expected, halfStep) << param.label << " sample " << n;
    }
    EXPECT_EQ(values.back(), values[kCount - 1]) << "padding of " << param.label;
  }

  const auto annotations = edf.Annotations();
  auto onsetOf = [&](const std::string& text) {
    const auto it = annotations.find(text);
    return it == annotations.end() ? -1.0 : it->second;
  };
  EXPECT_DOUBLE_EQ(onsetOf("Recording starts"), 0);
  EXPECT_NEAR(onsetOf("Recording ends"), kCount / 300.0, 1e-4);
  EXPECT_NEAR(onsetOf("Padding, not recorded"), kCount / 300.0, 1e-4);
  EXPECT_NEAR(onsetOf("Chest leads missing"), 300 / 300.0, 1e-4);
  EXPECT_NEAR(onsetOf("Data lost"), 350 / 300.0, 1e-4);
  EXPECT_NEAR(onsetOf("Marker 1: cough"), 400 / 300.0, 1e-4);
  EXPECT_EQ(annotations.count("Marker 1: cough"), 1u);
  EXPECT_NEAR(onsetOf("Marker 2: only in the sidecar"), 500 / 300.0, 1e-4);
}

struct UnitCase {
  const char* name;
  int stage;
  std::optional<int> calibratedStage;
  const char* dimension;
  const char* note;
};

class EdfUnits : public EdfExport, public ::testing::WithParamInterface<UnitCase> {};

TEST_P(EdfUnits, AreMicrovoltsOnlyForACalibrationOfTheRecordingsStage) {
  FillTwelve(store, 100);
  ExportOptions options;
  options.sidecar = SidecarAtStage(GetParam().stage, GetParam().calibratedStage);
  const ExportReport report = ExportEdf(store, folder / "run.edf", options);
  const EdfFile edf(folder / "run.edf");
  ASSERT_TRUE(edf.Opened());
  EXPECT_EQ(Trimmed(edf.Header().signalparam[0].physdimension), GetParam().dimension);
  std::string notes;
  for (const std::string& note : report.notes) notes += note + "\n";
  EXPECT_NE(notes.find(GetParam().note), std::string::npos) << notes;
}

INSTANTIATE_TEST_SUITE_P(Calibrations, EdfUnits,
                         ::testing::Values(UnitCase{"SameStage", 3, 3, "uV", "12 of 13 signals calibrated"},
                                           UnitCase{"OtherStage", 2, 3, "steps", "of stage 3 is not one"},
                                           UnitCase{"None", 2, std::nullopt, "steps", "no calibration"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(EdfExport, KeepsEveryAnnotationWhenThereAreMoreThanDataRecords) {
  // 60 records: two data records, and 31 marks that each need a place.
  FillTwelve(store, 60);
  for (int slot = 1; slot <= 60; slot += 2) RecordFlags(store.At(slot)) = kDataLostBefore;
  RecordMarker(store.At(60)) = 7;
  ExportEdf(store, folder / "run.edf", {});
  const EdfFile edf(folder / "run.edf");
  ASSERT_TRUE(edf.Opened());
  const auto annotations = edf.Annotations();
  EXPECT_EQ(annotations.count("Data lost"), 30u);
  EXPECT_EQ(annotations.count("Marker 7"), 1u);
  EXPECT_EQ(annotations.count("Recording ends"), 1u);
}

struct LayoutCase {
  int rate;
  EdfDataRecord record;
};

class EdfDataRecords : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(EdfDataRecords, LastATenthOfASecondWhereTheRateAllows) {
  EXPECT_EQ(EdfDataRecordFor(GetParam().rate), GetParam().record);
}

INSTANTIATE_TEST_SUITE_P(Rates, EdfDataRecords,
                         ::testing::Values(LayoutCase{50, {5, 10000}}, LayoutCase{150, {15, 10000}},
                                           LayoutCase{300, {30, 10000}}, LayoutCase{1000, {100, 10000}},
                                           LayoutCase{64, {6, 9375}}, LayoutCase{7, {7, 100000}},
                                           LayoutCase{1, {1, 100000}}));

// --- CSV ---------------------------------------------------------------------

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = line.find(',', start);
      fields.push_back(line.substr(start, comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    rows.push_back(fields);
  }
  return rows;
}

TEST_F(EdfExport, CsvHasMillivoltsFlagsAndMarkersWithADecimalPointInEveryLocale) {
  FillTwelve(store, 50);
  RecordFlags(store.At(11)) = kChestMissing | kDataLostBefore;
  RecordMarker(store.At(21)) = 3;
  ExportOptions options;
  options.sidecar = SidecarAtStage(2, 2);
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  ExportCsv(store, folder / "run.csv", options);
  std::setlocale(LC_ALL, previous.c_str());

  const auto rows = CsvRows(ReadWholeFile(folder / "run.csv"));
  ASSERT_EQ(rows.size(), 51u);
  ASSERT_EQ(rows[0].size(), 3u + 12 * 2 + 1 + 2);
  EXPECT_EQ(rows[0][3], "I");
  EXPECT_EQ(rows[0][4], "I_mV");
  EXPECT_EQ(rows[0][27], "Resp");
  EXPECT_EQ(rows[0][28], "flags");
  const SidecarLeadCalibration lead = Calibration(2).leads[0];
  for (std::size_t n = 0; n < 50; ++n) {
    const auto& row = rows[n + 1];
    const SampleRecord& record = store.At(static_cast<int>(n) + 1);
    EXPECT_EQ(std::stoi(row[3]), record.channels[chI]);
    EXPECT_EQ(row[4].find(','), std::string::npos);
    EXPECT_NEAR(std::stod(row[4]), (record.channels[chI] - lead.zero) / lead.stepsPerMv, 5e-5);
  }
  // C2 of the record without chest leads: no value rather than a 0.
  EXPECT_EQ(rows[11][17], "");
  EXPECT_EQ(rows[11][18], "");
  EXPECT_EQ(rows[11][28], "chest_missing|data_lost");
  EXPECT_EQ(rows[21][29], "3");
  EXPECT_EQ(rows[1][29], "0");
}

// --- the time stamps -----------------------------------------------------------

struct StampCase {
  const char* name;
  int count;
  std::function<double(int)> seconds;  // of record n, since midnight
  int rate;                            // EstimateSampleRate
  std::size_t pauses, backward;
  long long bad;
};

class TimeStamps : public EdfExport, public ::testing::WithParamInterface<StampCase> {};

TEST_P(TimeStamps, GiveTheRateFromTheMedianIntervalAndTheirIrregularities) {
  store.BeginRecording();
  for (int n = 0; n < GetParam().count; ++n) store.At(store.Append()).time = GetParam().seconds(n) / 86400.0;
  const RecordingSurvey survey = SurveyRecording(StoreRecords(store));
  EXPECT_EQ(EstimateSampleRate(store), GetParam().rate);
  EXPECT_EQ(survey.pauses.size(), GetParam().pauses);
  EXPECT_EQ(survey.backwardSteps.size(), GetParam().backward);
  EXPECT_EQ(survey.badTimes, GetParam().bad);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, TimeStamps,
    ::testing::Values(
        // A 300/s recording with a 6 s pause is not a 150/s one.
        StampCase{"PauseOfSixSeconds", 3000, [](int n) { return 50000 + n / 300.0 + (n >= 1500 ? 6 : 0); }, 300, 1, 0,
                  0},
        // Records read ten at a time carry nearly one time stamp.
        StampCase{"Bursts", 3000, [](int n) { return 50000 + (n / 10) * 10 / 300.0 + n % 10 * 1e-6; }, 300, 0, 0, 0},
        StampCase{"ClockSetBack", 3000, [](int n) { return 50000 + n / 100.0 - (n >= 900 ? 2 : 0); }, 100, 0, 1, 0},
        StampCase{"OverMidnight", 600, [](int n) { return std::fmod(86399.0 + n / 150.0, 86400.0); }, 150, 0, 0, 0},
        StampCase{"NotATimeOfDay", 600,
                  [](int n) {
                    if (n == 10) return std::nan("");
                    if (n == 20) return HUGE_VAL;
                    if (n == 30) return 86400.0 * 1.5;
                    return 50000 + n / 50.0;
                  },
                  50, 0, 0, 3}),
    [](const auto& test) { return std::string(test.param.name); });

struct RateCase {
  const char* name;
  std::optional<int> sidecarRate;
  std::optional<int> given;
  bool badTimes;
  std::optional<int> rate;  // nothing: refused for want of a clock
  RateSource source;
};

class RateChoice : public EdfExport, public ::testing::WithParamInterface<RateCase> {};

TEST_P(RateChoice, TakesTheSidecarThenTheGivenRateThenTheTimeStamps) {
  FillTwelve(store, 300);  // 300/s by its time stamps
  if (GetParam().badTimes) store.At(5).time = std::nan("");
  ExportOptions options;
  options.sampleRate = GetParam().given;
  if (GetParam().sidecarRate) {
    options.sidecar = RecordingSidecar{};
    options.sidecar->setup = SidecarSetup{};
    options.sidecar->setup->rateHz = GetParam().sidecarRate;
  }
  if (!GetParam().rate) {
    EXPECT_THROW(ExportCsv(store, folder / "run.csv", options), ENoClock);
    EXPECT_TRUE(folder.Names().empty());
    return;
  }
  const ExportReport report = ExportCsv(store, folder / "run.csv", options);
  EXPECT_EQ(report.rate, *GetParam().rate);
  EXPECT_EQ(report.rateSource, GetParam().source);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, RateChoice,
    ::testing::Values(RateCase{"Sidecar", 150, 100, false, 150, RateSource::Sidecar},
                      RateCase{"Given", std::nullopt, 100, false, 100, RateSource::Given},
                      RateCase{"Estimated", std::nullopt, std::nullopt, false, 300, RateSource::Estimated},
                      RateCase{"SidecarRateOutOfRange", 5000, 50, false, 50, RateSource::Given},
                      RateCase{"NoClock", std::nullopt, std::nullopt, true, std::nullopt, RateSource::Assumed},
                      RateCase{"GivenClock", std::nullopt, 300, true, 300, RateSource::Given},
                      RateCase{"SidecarClock", 300, std::nullopt, true, 300, RateSource::Sidecar}),
    [](const auto& test) { return std::string(test.param.name); });

std::int64_t LocalMs(int year, int month, int day, int hour, int minute) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&local)) * 1000;
}

struct DateCase {
  const char* name;
  long long startMs;
  std::int64_t around;
  CalendarDate date;
};

class StartDate : public ::testing::TestWithParam<DateCase> {};

TEST_P(StartDate, IsTheDayThatPutsTheStartNearestTheMomentGiven) {
  EXPECT_EQ(StartDateNear(GetParam().startMs, GetParam().around), GetParam().date);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, StartDate,
    ::testing::Values(DateCase{"SameDay", 50600000, LocalMs(2024, 3, 5, 14, 10), {2024, 3, 5}},
                      DateCase{"StartedBeforeMidnight", 86000000, LocalMs(2024, 3, 1, 0, 5), {2024, 2, 29}},
                      DateCase{"StartedAfterMidnight", 60000, LocalMs(2024, 12, 31, 23, 58), {2025, 1, 1}}),
    [](const auto& test) { return std::string(test.param.name); });

// --- the output name -----------------------------------------------------------

struct TargetCase {
  const char* name;
  // Makes what the output name names in the folder; returns the output path.
  std::function<std::string(const ScratchFolder&)> make;
  bool replace;
  bool refused;
};

class ExportTarget : public EdfExport, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(ExportTarget, IsRefusedUnlessItIsANewOrAgreedRegularFileOtherThanTheInput) {
  FillTwelve(store, 20);
  WriteWholeFile(folder / "run.dat", "the recording");
  const std::string target = GetParam().make(folder);
  ExportOptions options;
  options.replaceExisting = GetParam().replace;
  options.inputs = {folder / "run.dat", folder / "run.json"};
  if (GetParam().refused) {
    EXPECT_THROW(ExportCsv(store, target, options), EExportRefused);
  } else {
    ExportCsv(store, target, options);
    EXPECT_EQ(ReadWholeFile(target).rfind("sample,", 0), 0u);
  }
  EXPECT_EQ(ReadWholeFile(folder / "run.dat"), "the recording");
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExportTarget,
    ::testing::Values(TargetCase{"New", [](const ScratchFolder& f) { return f / "out.csv"; }, false, false},
                      TargetCase{"Existing",
                                 [](const ScratchFolder& f) {
                                   WriteWholeFile(f / "out.csv", "x");
                                   return f / "out.csv";
                                 },
                                 false, true},
                      TargetCase{"ExistingAgreed",
                                 [](const ScratchFolder& f) {
                                   WriteWholeFile(f / "out.csv", "x");
                                   return f / "out.csv";
                                 },
                                 true, false},
                      TargetCase{"Folder", [](const ScratchFolder& f) { return f.Path().string(); }, true, true},
                      TargetCase{"NamedPipe",
                                 [](const ScratchFolder& f) {
                                   ::mkfifo((f / "pipe").c_str(), 0600);
                                   return f / "pipe";
                                 },
                                 true, true},
                      TargetCase{"Device", [](const ScratchFolder&) { return std::string("/dev/null"); }, true, true},
                      TargetCase{"TheInput", [](const ScratchFolder& f) { return f / "run.dat"; }, true, true},
                      TargetCase{"TheInputByAnotherName",
                                 [](const ScratchFolder& f) { return f.Path().string() + "/./run.dat"; }, true, true},
                      TargetCase{"TheInputThroughALink",
                                 [](const ScratchFolder& f) {
                                   ::symlink((f / "run.dat").c_str(), (f / "link.csv").c_str());
                                   return f / "link.csv";
                                 },
                                 true, true},
                      TargetCase{"TheInputsSidecarName", [](const ScratchFolder& f) { return f / "run.json"; }, true,
                                 true}),
    [](const auto& test) { return std::string(test.param.name); });

// --- the data file and the window's options ------------------------------------

void WriteDataFile(const std::string& path, const SampleStore& store, long long count) {
  std::string bytes = RecordBytes(DataHeaderRecord(store.At(0)));
  for (long long n = 0; n < count; ++n) bytes += RecordBytes(store.At(static_cast<int>(n % store.Count()) + 1));
  WriteWholeFile(path, bytes);
}

TEST_F(EdfExport, ADataFileLargerThanTheStoreIsReadWhole) {
  FillTwelve(store, 300);
  const long long count = SampleStore::kLastSlot + 7;
  WriteDataFile(folder / "big.dat", store, count);
  const DataFileRecords records(folder / "big.dat");
  const RecordingSurvey survey = SurveyRecording(records);
  EXPECT_EQ(survey.count, count);
  ExportOptions options;
  options.sampleRate = 300;
  ExportEdf(records, survey, folder / "big.edf", options);
  const EdfFile edf(folder / "big.edf");
  ASSERT_TRUE(edf.Opened());
  EXPECT_EQ(edf.Header().datarecords_in_file, (count + 29) / 30);

  // A file that grows between the survey and the write is not exported.
  WriteDataFile(folder / "big.dat", store, count + 1);
  EXPECT_THROW(ExportCsv(records, survey, folder / "big.csv", options), ERecordingFile);
  EXPECT_FALSE(PathExists(folder / "big.csv"));
}

TEST_F(EdfExport, TheWindowUsesTheDataFilesSidecarOnlyWhenTheFileHoldsTheseRecords) {
  FillTwelve(store, 40);
  WriteDataFile(folder / "run.dat", store, 40);
  WriteSidecar(folder / "run.json", SidecarAtStage(2, 2));
  ExportOptions options = ExportOptionsForStore(store, folder / "run.dat");
  EXPECT_TRUE(options.sidecar);
  EXPECT_TRUE(options.endedAroundMs);
  EXPECT_TRUE(options.replaceExisting);
  EXPECT_EQ(options.inputs, (std::vector<std::string>{folder / "run.dat", folder / "run.json"}));

  store.At(40).channels[chI] ^= 1;  // a recording made since
  options = ExportOptionsForStore(store, folder / "run.dat");
  EXPECT_FALSE(options.sidecar);
  EXPECT_FALSE(options.endedAroundMs);
  EXPECT_EQ(options.inputs.size(), 2u);
}

}  // namespace
