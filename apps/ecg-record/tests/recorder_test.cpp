// The recorder's command line and whole runs against the module simulator on
// a pseudo-terminal, in process (the same code the program's main runs).
#include <gtest/gtest.h>

#include <QSettings>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "recording/Repair.h"
#include "recording/Sidecar.h"

#include "Recorder.h"
#include "RecorderOptions.h"
#include "recording/RecordingFiles.h"
#include "simulator/ModuleSimulator.h"
#include "simulator/SyntheticEcg.h"
#include "testsupport/PtyPair.h"

namespace {

namespace fs = std::filesystem;

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  const char* mentions;  // what the message must name
};

class RecorderUsageErrors : public testing::TestWithParam<UsageCase> {};

TEST_P(RecorderUsageErrors, AreRefusedNamingTheArgument) {
  try {
    ParseRecorderOptions(GetParam().args);
    FAIL() << "accepted";
  } catch (const EUsage& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().mentions), std::string::npos) << error.what();
  }
}

const std::vector<std::string> kRun = {"--port", "/dev/null", "--records", "10", "--out", "a.log"};
std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    , RecorderUsageErrors,
    testing::Values(UsageCase{"NoPort", {"--records", "5", "--out", "a.log"}, "--port"},
                    UsageCase{"NothingToDo", {"--port", "/dev/null"}, "nothing to do"},
                    UsageCase{"NoOut", {"--port", "/dev/null", "--seconds", "2"}, "--out"},
                    UsageCase{"OutWithoutRecording", {"--port", "p", "--identify", "--out", "a.log"}, "--out"},
                    UsageCase{"UnknownOption", With(kRun, {"--speed"}), "--speed"},
                    UsageCase{"MissingValue", {"--port"}, "--port needs a value"},
                    UsageCase{"Rate", With(kRun, {"--rate", "200"}), "--rate"},
                    UsageCase{"Amplification", With(kRun, {"--amplification", "5"}), "--amplification"},
                    UsageCase{"Filter", With(kRun, {"--filter", "70"}), "--filter"},
                    UsageCase{"Mode", With(kRun, {"--mode", "fast"}), "--mode"},
                    UsageCase{"Channel", With(kRun, {"--channels", "I,V7"}), "V7"},
                    UsageCase{"ChannelsAndTwelve", With(kRun, {"--channels", "I", "--twelve"}), "--twelve"},
                    UsageCase{"SecondsAndRecords", With(kRun, {"--seconds", "1"}), "exclude"},
                    UsageCase{"ZeroSeconds", {"--port", "p", "--seconds", "0", "--out", "a.log"}, "--seconds"},
                    UsageCase{"RecordsAboveTheRunLimit", {"--port", "p", "--records", "80001", "--out", "a"}, "80000"},
                    UsageCase{"DaysWithoutStream", {"--port", "p", "--seconds", "90000", "--out", "a"}, "--stream"},
                    UsageCase{
                        "StreamPastAWeek", {"--port", "p", "--stream", "--seconds", "700000", "--out", "a"}, "604800"},
                    UsageCase{"StreamWithoutLength", {"--port", "p", "--stream", "--identify"}, "--stream"},
                    UsageCase{"ReconnectWithoutRecording", {"--port", "p", "--reconnect", "--identify"}, "--reconnect"},
                    UsageCase{"RegisterAddress", {"--port", "p", "--register", "26=1"}, "address"},
                    UsageCase{"RegisterValue", {"--port", "p", "--register", "3=256"}, "256"},
                    UsageCase{"RegisterForm", {"--port", "p", "--register", "3"}, "ADDR=VALUE"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(RecorderOptions, DefaultsAreTheWindowsAndValuesMapToTheSetUpIndices) {
  const RecorderOptions defaults = ParseRecorderOptions({"--port", "p", "--identify"});
  const TSetupRequest window;
  EXPECT_EQ(defaults.setup.indices.transmission, window.indices.transmission);
  EXPECT_EQ(defaults.setup.indices.amplification, window.indices.amplification);
  EXPECT_EQ(defaults.setup.indices.filter, window.indices.filter);
  EXPECT_EQ(defaults.setup.indices.mode, window.indices.mode);
  EXPECT_EQ(defaults.setup.channels, ChannelBoxDefaults);
  EXPECT_FALSE(defaults.setup.twelveChannel);

  const RecorderOptions o =
      ParseRecorderOptions({"--port",       "p",          "--rate",  "300",        "--amplification", "4",
                            "--filter",     "OFF",        "--mode",  "diagnostic", "--pacer",         "--emg",
                            "--simulation", "--channels", "ii,Resp", "--register", " 7 =0b10000001",  "--seconds",
                            "1.5",          "--out",      "x.log"});
  EXPECT_EQ(o.setup.indices.transmission, 3);
  EXPECT_EQ(o.setup.indices.amplification, 3);
  EXPECT_EQ(o.setup.indices.filter, 0);
  EXPECT_EQ(o.setup.indices.mode, 0);
  EXPECT_EQ(o.setup.indices.pacer, 1);
  EXPECT_EQ(o.setup.indices.simulation, 1);
  EXPECT_TRUE(o.setup.emg);
  EXPECT_EQ(o.setup.channels, (std::array<bool, 8>{false, true, false, false, false, false, false, true}));
  ASSERT_EQ(o.registerWrites.size(), 1u);
  EXPECT_EQ(o.registerWrites[0].bits, (std::array<bool, 8>{true, false, false, false, false, false, false, true}));
  EXPECT_EQ(o.seconds, 1.5);

  // A relative path is taken from the current folder, a bare name is the port library's.
  EXPECT_EQ(ParseRecorderOptions({"--port", "a/b", "--identify"}).setup.port,
            (std::filesystem::current_path() / "a/b").string());
  EXPECT_EQ(ParseRecorderOptions({"--port", "ttyUSB0", "--identify"}).setup.port, "ttyUSB0");
}

// ---- Runs ---------------------------------------------------------------------

struct RunResult {
  int exit = -1;
  std::string out;
  std::string err;
};

RunResult Record(std::vector<std::string> args, const std::function<void(TRecorder&)>& during = {},
                 std::ostream* summary = nullptr) {
  std::ostringstream out, err;
  TRecorder recorder(ParseRecorderOptions(args), summary ? *summary : out, err, false);
  if (during) during(recorder);
  RunResult run;
  run.exit = recorder.Run();
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A stdout whose reader has gone: every write fails.
class ClosedPipe : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
};

class RecorderRun : public testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("ecg-record-test-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    SimulatorOptions options;
    options.registerLink = false;
    // At the set-up's own rate: a faster module is a fault the recorder
    // reports (exit 6).
    simulator = std::make_unique<ModuleSimulator>(options);
    simulator->Start();
  }
  void TearDown() override {
    simulator->Stop();
    fs::remove_all(folder);
  }
  std::string Out(const char* name) const { return (folder / name).string(); }

  // The data file's records (slot 0, the header, left out).
  static std::vector<SampleRecord> DataRecords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<SampleRecord> records;
    SampleRecord record{};
    while (in.read(reinterpret_cast<char*>(&record), sizeof record)) records.push_back(record);
    EXPECT_FALSE(records.empty());
    if (!records.empty()) {
      EXPECT_EQ(records.front().channels[0], kDataFileMarker);
      records.erase(records.begin());
    }
    return records;
  }

  fs::path folder;
  std::unique_ptr<ModuleSimulator> simulator;
};

TEST_F(RecorderRun, TwelveChannelRecordsAreSavedWholeWithASummary) {
  // Bytes outside any frame (none of them a frame's start byte) go on the
  // line while recording; every stored record must still be a sent sample.
  std::atomic<bool> done = false;
  std::thread noise([&] {
    while (!done) {
      simulator->Inject(std::string("\x01\x7F\xF0\x20", 4));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const RunResult run = Record(
      {"--port", simulator->DevicePath(), "--twelve", "--rate", "300", "--records", "600", "--out", Out("twelve.log")});
  done = true;
  noise.join();
  ASSERT_EQ(run.exit, kExitDone) << run.err;

  const std::vector<SampleRecord> records = DataRecords(Out("twelve.dat"));
  ASSERT_EQ(records.size(), 600u);
  EXPECT_TRUE(fs::exists(Out("twelve.log")));
  std::set<std::array<std::uint8_t, 7>> limbs;
  std::set<std::array<std::uint8_t, 5>> chests;
  ModuleConfig config;
  config.amplification = 1;
  SyntheticEcg ecg;
  double seconds = 0;  // summed as the simulator sums it
  for (std::uint64_t i = 0; i < simulator->SamplesSent() + 10; ++i, seconds += 1.0 / 300) {
    const SampleBytes sent = SyntheticEcg::ToBytes(ecg.At(seconds), config.amplification);
    std::array<std::uint8_t, 7> limb{};
    std::copy_n(sent.channels.begin(), 7, limb.begin());
    limbs.insert(limb);
    chests.insert(sent.chest);
  }
  int whole = 0;
  for (const SampleRecord& r : records) {
    std::array<std::uint8_t, 7> limb{};
    std::copy_n(r.channels.begin(), 7, limb.begin());
    whole += limbs.count(limb) && chests.count(r.chest) && r.channels[7] == 0 ? 1 : 0;
  }
  EXPECT_EQ(whole, 600);

  EXPECT_NE(run.out.find("\"records\": 600"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"port lost\": false"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"settings\": {\"transmission\": \"300 / sec\""), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\"bytes outside frames\": 0,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"identification\": null"), std::string::npos);
}

TEST_F(RecorderRun, StopRequestSavesWhatWasStoredAndExistingFilesAreKept) {
  std::ofstream(Out("kept.log")) << "older";
  const RunResult refused = Record({"--port", simulator->DevicePath(), "--seconds", "30", "--out", Out("kept.log")});
  EXPECT_EQ(refused.exit, kExitUsage);
  EXPECT_NE(refused.err.find("--force"), std::string::npos);

  // Ctrl-C half a second into a 30-second recording.
  const RunResult stopped =
      Record({"--port", simulator->DevicePath(), "--seconds", "30", "--force", "--identify", "--out", Out("kept.log")},
             [](TRecorder& recorder) { QTimer::singleShot(2500, [&recorder] { recorder.RequestStop(); }); });
  ASSERT_EQ(stopped.exit, kExitDone) << stopped.err;
  const std::vector<SampleRecord> records = DataRecords(Out("kept.dat"));
  EXPECT_GT(records.size(), 0u);
  EXPECT_LT(records.size(), 3000u);
  EXPECT_NE(stopped.out.find("\"identification\": \"ECG-SIM"), std::string::npos) << stopped.out;
  EXPECT_EQ(fs::file_size(Out("kept.dat")), (records.size() + 1) * sizeof(SampleRecord));
}

TEST_F(RecorderRun, PortTroubleAndSilenceHaveTheirOwnExitCodes) {
  const RunResult missing = Record({"--port", Out("no-such-port"), "--records", "5", "--out", Out("x.log")});
  EXPECT_EQ(missing.exit, kExitPort);
  EXPECT_NE(missing.err.find("Com-Port not available"), std::string::npos) << missing.err;

  // A line that stays silent: the far end of a pseudo-terminal nobody writes.
  PtyPair quiet;
  const RunResult silent = Record({"--port", quiet.SlavePath(), "--records", "5", "--out", Out("y.log")});
  EXPECT_EQ(silent.exit, kExitSilent);
  EXPECT_NE(silent.err.find("no sample frame within 3 s"), std::string::npos) << silent.err;
  EXPECT_FALSE(fs::exists(Out("y.log")));
  EXPECT_FALSE(fs::exists(Out("y.dat")));
}

// ---- A port that goes away during a recording (--reconnect) ---------------------

struct ReconnectCase {
  const char* name;
  bool comesBack;
  bool stream;
  int exit;
  const char* says;
};

void PrintTo(const ReconnectCase& c, std::ostream* out) { *out << c.name; }

class RecorderReconnect : public RecorderRun, public testing::WithParamInterface<ReconnectCase> {};

TEST_P(RecorderReconnect, GoesOnWithTheGapMarkedOrSavesWhatCameWhenThePortStaysAway) {
  const ReconnectCase& c = GetParam();
  SimulatorOptions options;
  options.name = "ECG-GONE";
  options.directory = (folder / "ports").string();
  ModuleSimulator adapter(options);
  adapter.Start();
  std::thread pulled([&] {
    adapter.WaitFor([](const SimulatorState& s) { return s.samplesSinceSetup >= 100; }, std::chrono::seconds(10));
    adapter.HangUp();
    if (!c.comesBack) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    adapter.Replug();
  });
  std::vector<std::string> args = {"--port", adapter.PortPath(), "--reconnect", "--seconds", "5",
                                   "--out",  Out("gap.log")};
  if (c.stream) args.push_back("--stream");
  const RunResult run = Record(args);
  pulled.join();
  const SimulatorState state = adapter.State();
  adapter.Stop();

  ASSERT_EQ(run.exit, c.exit) << run.err;
  EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("\"port gaps\": 1,"), std::string::npos) << run.out;
  // Neither the absence nor the time without the port reads as the module's fault.
  EXPECT_NE(run.out.find("\"silent spells\": 0,"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\"rate off\": true"), std::string::npos) << run.out;
  const std::vector<SampleRecord> records = DataRecords(Out("gap.dat"));
  ASSERT_GE(records.size(), 50u) << "what came before the loss is saved";
  std::vector<std::size_t> marked;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (RecordFlags(records[i]) & kDataLostBefore) marked.push_back(i);
  if (c.comesBack) {
    ASSERT_EQ(marked.size(), 1u) << "the gap, once";
    EXPECT_GE(marked[0], 50u);
    EXPECT_GE(records.size() - marked[0], 50u) << "the recording went on after the port came back";
    EXPECT_GE(state.setupsAccepted, 2u) << "the set-up was sent again";
  } else {
    EXPECT_TRUE(marked.empty());
  }
  EXPECT_TRUE(fs::exists(Out("gap.log")));
}

INSTANTIATE_TEST_SUITE_P(, RecorderReconnect,
                         testing::Values(ReconnectCase{"BackWhileStreaming", true, true, kExitDataLost, "port is back"},
                                         ReconnectCase{"StaysAwayFromTheStore", false, false, kExitPort,
                                                       "did not come back"}),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- The output name, checked before the module is touched ---------------------

struct OutputCase {
  const char* name;
  std::string out;  // in the scratch folder unless absolute
  const char* mentions;
};

class RecorderOutput : public testing::TestWithParam<OutputCase> {};

TEST_P(RecorderOutput, IsRefusedWithExitTwoBeforeThePortIsOpened) {
  const fs::path folder = fs::temp_directory_path() / ("ecg-record-out-" + std::to_string(::getpid()));
  fs::create_directories(folder / "sub.log");
  std::ofstream(folder / "old.dat") << "older";
  const std::string& out = GetParam().out;
  const std::string path = out.front() == '/' ? out : (folder / out).string();
  // A port that does not exist: refused after the set-up was tried, the
  // exit would be 3.
  const RunResult run = Record({"--port", (folder / "no-such-port").string(), "--records", "5", "--out", path});
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  fs::remove_all(folder);
  EXPECT_EQ(run.exit, kExitUsage) << run.err;
  EXPECT_NE(run.err.find(GetParam().mentions), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Com-Port"), std::string::npos) << run.err;
  EXPECT_EQ(left, (std::vector<std::string>{"old.dat", "sub.log"})) << "nothing written";
}

INSTANTIATE_TEST_SUITE_P(, RecorderOutput,
                         testing::Values(OutputCase{"MissingFolder", "none/z.log", "No such file"},
                                         OutputCase{"AFolder", "sub.log", "is a folder"},
                                         OutputCase{"TheDataFilesName", "x.dat", "the same file"},
                                         OutputCase{"TooLong", std::string(252, 'n') + ".log", "longer than"},
                                         OutputCase{"Taken", "old.log", "--force replaces it"},
                                         OutputCase{"AFolderNothingCanBeWrittenIn", "/proc/ecg.log", "Cannot create"}),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- How a run ends -------------------------------------------------------------

struct OutcomeCase {
  const char* name;
  double moduleRate;  // times the set-up's
  std::vector<std::string> args;
  bool stopAtOnce;
  bool stdoutClosed;
  int exit;
  const char* mentions;  // on stderr
  bool saved;
};

class RecorderOutcome : public RecorderRun, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(RecorderOutcome, HasItsExitCodeAndNeverClaimsWhatWasNotSaved) {
  const OutcomeCase& c = GetParam();
  SimulatorPace pace;
  pace.rateMultiplier = c.moduleRate;
  simulator->SetPace(pace);
  ClosedPipe closed;
  std::ostream brokenStdout(&closed);
  const RunResult run = Record(
      With({"--port", simulator->DevicePath(), "--out", Out("run.log")}, c.args),
      [&](TRecorder& recorder) {
        if (c.stopAtOnce) recorder.RequestStop();
      },
      c.stdoutClosed ? &brokenStdout : nullptr);
  EXPECT_EQ(run.exit, c.exit) << run.err;
  EXPECT_NE(run.err.find(c.mentions), std::string::npos) << run.err;
  for (const char* file : {"run.log", "run.dat", "run.json"}) EXPECT_EQ(fs::exists(Out(file)), c.saved) << file;
  if (!c.stdoutClosed) {
    // Whole unless data were lost; a run that saved nothing lost nothing.
    EXPECT_NE(run.out.find("\"integrity\": {\"whole\": " + std::string(c.exit == kExitDataLost ? "false" : "true")),
              std::string::npos)
        << run.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    , RecorderOutcome,
    testing::Values(
        OutcomeCase{"Whole", 1, {"--records", "250"}, false, false, kExitDone, "", true},
        OutcomeCase{"ModuleTooFast", 1.5, {"--seconds", "3.5"}, false, false, kExitDataLost, "more than 2 % off", true},
        OutcomeCase{"StreamedModuleTooFast",
                    1.5,
                    {"--stream", "--seconds", "3.5"},
                    false,
                    false,
                    kExitDataLost,
                    "more than 2 % off",
                    true},
        OutcomeCase{"StoppedBeforeTheFirstRecord",
                    1,
                    {"--seconds", "5"},
                    true,
                    false,
                    kExitNothingSaved,
                    "nothing saved",
                    false},
        OutcomeCase{"StreamStoppedBeforeTheFirstRecord",
                    1,
                    {"--stream", "--seconds", "5"},
                    true,
                    false,
                    kExitNothingSaved,
                    "nothing saved",
                    false},
        OutcomeCase{
            "SummaryNotWritten", 1, {"--records", "150"}, false, true, kExitSummary, "the files are kept", true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(RecorderRun, ServiceCommandsSayWhatTheySent) {
  const RunResult run =
      Record({"--port", simulator->DevicePath(), "--electrodes", "--calibrate", "--register", "7=0x81", "--identify"});
  ASSERT_EQ(run.exit, kExitDone) << run.err;
  EXPECT_NE(run.err.find("sent the electrode search (71 30)"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("sent the calibration signal (4B)"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("sent register 7 = 129 (72 37 81)"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("ECG-SIM"), std::string::npos) << run.out;
}

TEST_F(RecorderRun, MeasuresTheCalibrationAndHeartRateKeepsMarkersAndFindsTheCalibrationAgainLater) {
  const std::string ini = Out("settings.ini");
  QSettings settings(QString::fromStdString(ini), QSettings::IniFormat);
  int marks[2];
  ASSERT_EQ(::pipe(marks), 0);
  const std::string typed = "mark first one\nnonsense\n";
  ASSERT_EQ(::write(marks[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  ::close(marks[1]);  // and then the input ends

  std::ostringstream out, err;
  RecorderOptions options =
      ParseRecorderOptions({"--port", simulator->DevicePath(), "--amplification", "3", "--calibrate", "--identify",
                            "--seconds", "9", "--out", Out("cal.log")});
  TRecorder recorder(options, out, err, false);
  recorder.UseSettings(&settings);
  recorder.SetMarkInput(marks[0]);
  QTimer::singleShot(6000, [&recorder] { recorder.RequestMark({}); });
  ASSERT_EQ(recorder.Run(), kExitDone) << err.str();
  ::close(marks[0]);
  const std::string summary = out.str();
  // Stage 3 of the simulator: 60 steps per mV in every lead.
  EXPECT_NE(err.str().find("Calibrated, stage 3: 60.0 steps/mV; I..III within 0.0 %"), std::string::npos) << err.str();
  EXPECT_NE(summary.find("\"II\": {\"state\": \"found\", \"steps per mV\": 60.000, \"zero\": 128.000"),
            std::string::npos)
      << summary;
  EXPECT_NE(err.str().find("input not understood (a line \"mark [TEXT]\" adds a marker): nonsense"), std::string::npos);
  const std::optional<RecordingSidecar> sidecar = ReadSidecar(Out("cal.json"));
  ASSERT_TRUE(sidecar);
  ASSERT_TRUE(sidecar->calibration);
  EXPECT_EQ(sidecar->calibration->stage, 3);
  EXPECT_EQ(sidecar->calibration->leads.size(), 3u);
  ASSERT_TRUE(sidecar->heartRate && sidecar->heartRate->toolBpm && sidecar->heartRate->moduleBpm) << summary;
  EXPECT_NEAR(*sidecar->heartRate->toolBpm, 72, 2) << summary;
  EXPECT_EQ(*sidecar->heartRate->moduleBpm, 72);
  ASSERT_EQ(sidecar->markers.size(), 3u) << err.str();
  EXPECT_EQ(sidecar->markers[0].text, "1 mV calibration");
  EXPECT_EQ(sidecar->markers[0].record, 1);
  EXPECT_EQ(sidecar->markers[1].text, "first one");
  EXPECT_NE(summary.find("\"markers\": [{\"number\": 1, \"record\": 1, \"text\": \"1 mV calibration\"}"),
            std::string::npos)
      << summary;
  const std::vector<SampleRecord> records = DataRecords(Out("cal.dat"));
  for (const SidecarMarker& marker : sidecar->markers) {
    ASSERT_GE(marker.record, 1);
    ASSERT_LE(marker.record, static_cast<long long>(records.size()));
    EXPECT_EQ(RecordMarker(records[static_cast<std::size_t>(marker.record - 1)]), marker.number)
        << "the sidecar names the record that carries the marker";
  }
  EXPECT_GT(sidecar->markers[2].record, 400) << "SIGUSR1's way, six seconds in";

  // The same module at the same stage later: the kept calibration; at another, none.
  for (const char* amplification : {"3", "2"}) {
    std::ostringstream laterOut, laterErr;
    TRecorder later(ParseRecorderOptions({"--port", simulator->DevicePath(), "--amplification", amplification,
                                          "--identify", "--seconds", "1", "--force", "--out", Out("later.log")}),
                    laterOut, laterErr, false);
    later.UseSettings(&settings);
    ASSERT_EQ(later.Run(), kExitDone) << laterErr.str();
    const bool kept = laterOut.str().find("\"source\": \"remembered\"") != std::string::npos;
    EXPECT_EQ(kept, std::string(amplification) == "3") << laterOut.str();
    EXPECT_EQ(ReadSidecar(Out("later.json"))->calibration.has_value(), kept);
  }
}

// ---- Streamed recordings ----------------------------------------------------------

// Where `records` lie, one after the other, in what the simulator sent at
// 300/s twelve-channel: every record must be a sent sample, in order, none
// left out.
void ExpectSentInOrder(const std::vector<SampleRecord>& records, std::uint64_t samplesSent) {
  ASSERT_FALSE(records.empty());
  ModuleConfig config;
  config.amplification = 1;
  SyntheticEcg ecg;
  double seconds = 0;  // summed as the simulator sums it
  std::vector<SampleBytes> sent;
  for (std::uint64_t i = 0; i < samplesSent + 10; ++i, seconds += 1.0 / 300)
    sent.push_back(SyntheticEcg::ToBytes(ecg.At(seconds), config.amplification));
  auto same = [](const SampleRecord& r, const SampleBytes& b) {
    return std::equal(r.channels.begin(), r.channels.begin() + 7, b.channels.begin()) && r.chest == b.chest &&
           r.channels[7] == 0 && RecordFlags(r) == 0;
  };
  for (std::size_t from = 0; from + records.size() <= sent.size(); ++from) {
    std::size_t n = 0;
    while (n < records.size() && same(records[n], sent[from + n])) ++n;
    if (n == records.size()) return;
  }
  ADD_FAILURE() << "the " << records.size() << " records are not the samples sent, in order";
}

TEST_F(RecorderRun, StreamedRecordsGoToTheDataFileAsTheyComePastTheStoresSize) {
  const RunResult run = Record({"--port", simulator->DevicePath(), "--twelve", "--rate", "300", "--stream", "--records",
                                "900", "--out", Out("long.log")},
                               [](TRecorder& recorder) {
                                 // The store starts over eight times; hours in an instant.
                                 recorder.SetStreamRewindAt(100);
                                 recorder.SetIntegrityPeriod(std::chrono::seconds(1));
                               });
  ASSERT_EQ(run.exit, kExitDone) << run.err;
  const std::vector<SampleRecord> records = DataRecords(Out("long.dat"));
  ASSERT_EQ(records.size(), 900u);
  ExpectSentInOrder(records, simulator->SamplesSent());

  // The log as a save writes it, the sidecar completed.
  std::ifstream log(Out("long.log"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5 + 900);
  const auto sidecar = ReadSidecar(Out("long.json"));
  ASSERT_TRUE(sidecar);
  EXPECT_EQ(sidecar->records, 900);
  EXPECT_EQ(sidecar->endedAbnormally, false);
  EXPECT_EQ(sidecar->setup->rateHz, 300);
  EXPECT_EQ(sidecar->setup->twelveChannel, true);
  EXPECT_TRUE(sidecar->start);
  EXPECT_NE(run.out.find("\"records\": 900"), std::string::npos) << run.out;
  // Three seconds in stretches of one: each with its records.
  const std::size_t hours = run.out.find("\"per hour\": [");
  ASSERT_NE(hours, std::string::npos) << run.out;
  EXPECT_GE(std::count_if(run.out.begin() + static_cast<std::ptrdiff_t>(hours), run.out.end(),
                          [](char c) { return c == '{'; }),
            3);
}

// The real program in a child process, against the simulator in this one.
class RecorderProcess : public RecorderRun {
 protected:
  pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<std::string> all = {ECG_RECORD_PROGRAM, "--port", simulator->DevicePath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, Out("stdout.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, Out("stderr.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  static int WaitExit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  // Polls a condition the child makes true (no fixed sleep).
  static bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }
};

TEST_F(RecorderProcess, AStreamKilledHalfWayIsRepairedWithEveryRecordSentBeforeTheLastFlush) {
  const pid_t pid = Spawn({"--twelve", "--rate", "300", "--stream", "--seconds", "120", "--out", Out("killed.log")});
  // Two seconds of records handed to the system, then no warning at all.
  ASSERT_TRUE(Eventually([&] {
    std::error_code error;
    const auto size = fs::file_size(Out("killed.dat"), error);
    return !error && size >= 601 * sizeof(SampleRecord);
  }));
  ::kill(pid, SIGKILL);
  EXPECT_EQ(WaitExit(pid), -SIGKILL);
  EXPECT_FALSE(fs::exists(Out("killed.log")));
  const auto begun = ReadSidecar(Out("killed.json"));
  ASSERT_TRUE(begun) << "the sidecar is written at the start";
  EXPECT_EQ(begun->setup->rateHz, 300);
  EXPECT_FALSE(begun->records);

  const CompletedRecording done = RepairRecording(
      Out("killed.dat"), "09.12.2026 23:00:00", [](double) { return std::string("t"); }, false);
  const std::vector<SampleRecord> records = DataRecords(Out("killed.dat"));
  EXPECT_EQ(done.records, static_cast<long long>(records.size()));
  EXPECT_GE(records.size(), 600u);
  ExpectSentInOrder(records, simulator->SamplesSent());
  const auto repaired = ReadSidecar(Out("killed.json"));
  EXPECT_EQ(repaired->records, done.records);
  EXPECT_EQ(repaired->endedAbnormally, true);
  EXPECT_EQ(repaired->port, simulator->DevicePath());
  EXPECT_TRUE(fs::exists(Out("killed.log")));
}

class RecorderSignal : public RecorderProcess, public testing::WithParamInterface<int> {};

TEST_P(RecorderSignal, EndsTheRecordingAndSavesIt) {
  const pid_t pid = Spawn({"--seconds", "120", "--out", Out("signalled.log")});
  ASSERT_TRUE(
      simulator->WaitFor([](const SimulatorState& s) { return s.samplesSinceSetup >= 150; }, std::chrono::seconds(30)));
  ::kill(pid, GetParam());
  EXPECT_EQ(WaitExit(pid), kExitDone);
  EXPECT_GT(DataRecords(Out("signalled.dat")).size(), 0u);
  EXPECT_TRUE(fs::exists(Out("signalled.log")));
  EXPECT_TRUE(fs::exists(Out("signalled.json")));
}

INSTANTIATE_TEST_SUITE_P(, RecorderSignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& test) { return std::string(sigabbrev_np(test.param)); });

}  // namespace
