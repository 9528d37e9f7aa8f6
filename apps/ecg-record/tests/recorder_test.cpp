// The recorder's command line and whole runs against the module simulator on
// a pseudo-terminal, in process (the same code the program's main runs).
#include <gtest/gtest.h>

#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

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

RunResult Record(std::vector<std::string> args, const std::function<void(TRecorder&)>& during = {}) {
  std::ostringstream out, err;
  TRecorder recorder(ParseRecorderOptions(args), out, err, false);
  if (during) during(recorder);
  RunResult run;
  run.exit = recorder.Run();
  run.out = out.str();
  run.err = err.str();
  return run;
}

class RecorderRun : public testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("ecg-record-test-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    SimulatorOptions options;
    options.registerLink = false;
    options.pace.rateMultiplier = 4;  // quicker runs; the line's rate still caps it
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

  // A folder that cannot be written: nothing partial is left.
  const RunResult unsaved = Record({"--port", simulator->DevicePath(), "--records", "5", "--out", Out("none/z.log")});
  EXPECT_EQ(unsaved.exit, kExitSave);
  EXPECT_NE(unsaved.err.find("saving failed"), std::string::npos) << unsaved.err;
}

}  // namespace
