// A recording as a user makes one, against the module simulator: set-up
// through the panel, Read, a few seconds of streaming, Stop, the offer to save
// answered Yes with a file name; then the store and both files checked
// against what the simulator sent.
#include <QRegularExpression>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "e2e_support.h"
#include "recording/Sidecar.h"
#include "store/LocaleFormat.h"
#include "ui/ReviewBar.h"

namespace {

constexpr std::uint8_t kI = 0x01;
constexpr std::uint8_t kII = 0x02;
constexpr std::uint8_t kIII = 0x04;
constexpr std::uint8_t kResp = 0x80;

// Samples the simulator may have written that the tool has not handled yet,
// at a click, in seconds of the stream: only a stalled reception should get
// there (under sanitizers on a busy machine a second's backlog was seen).
constexpr double kInFlightSeconds = 5.0;

class EndToEndRecording : public EndToEnd {
 protected:
  struct Run {
    Around read;
    Around stop;
    double dayAtRead = 0;
    double dayAtStop = 0;
    std::filesystem::path log;
    std::filesystem::path dat;
  };

  // Read, wait until `records` are stored, Stop; the offer to save is
  // answered Yes and the save dialog with <scratch>/<name>.log.
  Run RecordAndSave(int records, const std::string& name) {
    Run run;
    run.log = Scratch() / (name + ".log");
    run.dat = Scratch() / (name + ".dat");
    run.dayAtRead = NowAsDayFraction();
    run.read = ClickAndCount("ReadButton");
    EXPECT_EQ(Caption("ReadButton"), "Stop");
    EXPECT_TRUE(WaitUntil([&] { return Count() >= records; }))
        << "only " << Count() << " records after " << kDeadline.count() << " s";
    dialogs.confirmAnswers = {true};
    dialogs.saveAnswers = {run.log.string()};
    run.stop = ClickAndCount("ReadButton");
    run.dayAtStop = NowAsDayFraction();
    EXPECT_EQ(Caption("ReadButton"), "Read");
    EXPECT_EQ(dialogs.ConfirmCount(), 1);
    EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{}) << "the save went through without a message";
    EXPECT_EQ(form->CurrentDataFile(), run.dat.string());
    return run;
  }

  // What every recording must show, whatever the mode.
  StreamMatch ExpectRecordingMatchesStream(const Run& run) {
    const SampleStore& store = form->Store();
    const int count = store.Count();
    const std::optional<ModuleConfig> config = sim->Configuration();
    EXPECT_TRUE(config);
    if (!config) return {};

    const StreamMatch match = MatchStoreWithStream(store, *tap, *config);
    EXPECT_EQ(match.mismatches, 0);
    EXPECT_EQ(match.lastFrame - match.firstFrame + 1, count) << "one record per sample, no gaps";

    // The records are exactly the sample frames handled between the clicks:
    // the first whole one sent after Read (those waiting at the click are
    // dropped), up to the last one before Stop.
    EXPECT_GE(match.firstFrame, static_cast<long long>(run.read.handled));
    EXPECT_LE(match.firstFrame, static_cast<long long>(run.read.sentAfter) + 1);
    EXPECT_EQ(match.lastFrame + 1, static_cast<long long>(run.stop.handled));
    // Nothing the simulator sent up to the Stop is lost on the way: the frames
    // still on their way at the click arrive afterwards.
    const auto sentAtRead = static_cast<long long>(run.read.sentBefore);
    const auto sentAtStop = static_cast<long long>(run.stop.sentBefore);
    EXPECT_TRUE(WaitUntil([&] { return static_cast<long long>(tap->NextSampleNumber()) >= sentAtStop; }))
        << tap->NextSampleNumber() << " sample frames arrived of " << sentAtStop << " sent";
    ExpectUnbrokenSequence(tap->Samples(), "sample");
    if (config->TwelveChannel()) ExpectUnbrokenSequence(tap->Chests(), "chest");
    // So the records are what the simulator sent between the clicks, give or
    // take what was on its way at each click.
    const long long onWayAtRead = sentAtRead - static_cast<long long>(run.read.handled);
    const long long onWayAtStop = sentAtStop - static_cast<long long>(run.stop.handled);
    const auto allowed = static_cast<long long>(config->NominalRate() * kInFlightSeconds);
    for (long long onWay : {onWayAtRead, onWayAtStop}) {
      EXPECT_LE(onWay, allowed) << "samples sent but not handled at a click";
      // The simulator counts a write's samples once the write has returned.
      EXPECT_GE(onWay, -allowed) << "samples handled that the simulator had not sent";
    }
    std::printf(
        "[ recording ] %d records = sample frames %lld..%lld; the simulator sent %lld between Read and Stop; "
        "on their way at Read %lld, at Stop %lld\n",
        count, match.firstFrame, match.lastFrame, sentAtStop - sentAtRead, onWayAtRead, onWayAtStop);

    // Each record stamped with the time it arrived (unless midnight passed).
    if (run.dayAtStop >= run.dayAtRead) {
      const double slack = 2.0 / 86400;
      for (int slot = 1; slot <= count; ++slot) {
        const double t = store.At(slot).time;
        if (t < run.dayAtRead - slack || t > run.dayAtStop + slack || (slot > 1 && t < store.At(slot - 1).time)) {
          ADD_FAILURE() << "record " << slot << " has the time " << LongTimeText(t);
          break;
        }
      }
    }

    ExpectFilesHoldStore(run.log, run.dat, store);
    return match;
  }
};

TEST_F(EndToEndRecording, EightChannelRecordingOfThreeChannelsIsSavedAsSent) {
  SetUpModule({.channelMask = kI | kIII | kResp, .items = {}});
  EXPECT_EQ(form->SampleFramer().Size(), 5);
  const Run run = RecordAndSave(250, "eight");
  ExpectRecordingMatchesStream(run);

  // In the data file the unselected channels stay 0, the others vary as an
  // ECG does.
  const std::vector<SampleRecord> records = ReadDataFile(run.dat);
  std::array<int, 8> lowest{255, 255, 255, 255, 255, 255, 255, 255};
  std::array<int, 8> highest{};
  for (std::size_t r = 1; r < records.size(); ++r) {
    for (std::size_t c = 0; c < 8; ++c) {
      lowest[c] = std::min<int>(lowest[c], records[r].channels[c]);
      highest[c] = std::max<int>(highest[c], records[r].channels[c]);
    }
    EXPECT_EQ(records[r].chest, (std::array<std::uint8_t, 5>{})) << "record " << r;
  }
  for (std::size_t c : {1u, 3u, 4u, 5u, 6u}) EXPECT_EQ(highest[c], 0) << "channel " << c << " was not selected";
  for (std::size_t c : {0u, 2u, 7u}) EXPECT_GT(highest[c] - lowest[c], 10) << "channel " << c << " is flat";

  // Every value lies within what the simulator reports having sent.
  const SimulatorState state = sim->State();
  for (std::size_t c : {0u, 2u, 7u}) {
    EXPECT_GE(lowest[c], state.minByte[c]) << "channel " << c;
    EXPECT_LE(highest[c], state.maxByte[c]) << "channel " << c;
  }
}

TEST_F(EndToEndRecording, TwelveChannelRecordingFillsLimbAndChestLeads) {
  SetUpModule({.twelveChannels = true, .items = {{"TransBox", "300 / sec"}}});
  EXPECT_EQ(form->SampleFramer().Size(), 9);
  EXPECT_EQ(form->ChestFramer().Size(), 7);
  ASSERT_EQ(sim->Configuration()->NominalRate(), 300);
  const Run run = RecordAndSave(750, "twelve");
  // Limb leads exactly as sent; chest leads those of a chest frame the
  // simulator sent.
  const StreamMatch match = ExpectRecordingMatchesStream(run);
  std::printf(
      "[ twelve-channel ] chest leads of the record's own sample: %d, of the next: %d, of a later one: %d, "
      "none: %d\n",
      match.chestOwnSample, match.chestNextSample, match.chestLaterSample, match.chestMissing);

  const int count = Count();
  const std::vector<SampleRecord> records = ReadDataFile(run.dat);
  int filled = 0;
  for (int slot = 1; slot <= count; ++slot) {
    const SampleRecord& record = records[static_cast<std::size_t>(slot)];
    EXPECT_EQ(record.channels[chResp], 0) << "no respiration in twelve-channel mode, record " << slot;
    filled += record.chest != std::array<std::uint8_t, 5>{};
  }
  EXPECT_GT(filled, 0) << "no record has chest leads";
}

// What a user of the tool needs: C2..C6 of a record measured with its limb
// leads, none left out.
TEST_F(EndToEndRecording, ChestLeadsAreStoredWithTheirOwnSample) {
  SetUpModule({.twelveChannels = true, .items = {{"TransBox", "300 / sec"}}});
  const Run run = RecordAndSave(750, "twelve");
  const StreamMatch match = ExpectRecordingMatchesStream(run);
  EXPECT_GE(match.chestOwnSample, Count() - 1);
  EXPECT_LE(match.chestMissing, 1) << "only the newest record may miss its chest frame at the Stop";
  for (int slot = 1; slot < Count(); ++slot) {
    ASSERT_NE(form->Store().At(slot).chest, (std::array<std::uint8_t, 5>{})) << "record " << slot;
  }
}

TEST_F(EndToEndRecording, StatusFramesOfTheSimulatorFillThePanels) {
  SetUpModule({.channelMask = kI | kIII | kResp, .items = {{"AmpBox", "Stage 3"}, {"FilterBox", "60 Hz"}}});
  // Once a second the module reports the settings in use.
  EXPECT_TRUE(WaitUntil([&] { return Panel(3) == "Filter: 60 Hz"; })) << Panel(3);
  EXPECT_EQ(Panel(1), "Transmission: 100 / sec");
  EXPECT_EQ(Panel(2), "Amplification: Stage 3");
  EXPECT_EQ(Panel(4), "Mode: Normal");
  Click("ReadButton");
  EXPECT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 72"; })) << Caption("PulsePanel");
  EXPECT_TRUE(WaitUntil([&] { return Caption("RespPanel") == "Resp.: 15"; })) << Caption("RespPanel");
  // Identify is answered with the module's text in its box.
  Click("IdentButton");
  EXPECT_TRUE(WaitUntil([&] { return Shown("IdentBox"); }));
  EXPECT_NE(Caption("IdentLabel").find("ECG-SIM 1.0"), std::string::npos) << Caption("IdentLabel");
  EXPECT_TRUE(WaitUntil([&] { return Count() > 0; }));
  dialogs.confirmAnswers = {false};
  Click("ReadButton");
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
}

// The window as an instrument: Calibrate measures the module's rectangle,
// the tool counts the heart rate beside the module's Pulse, a marker goes
// into its record, and the sidecar keeps all three; the calibration is
// kept for the module.
TEST_F(EndToEndRecording, CalibrationHeartRateAndMarkersAreMeasuredShownAndSaved) {
  const std::filesystem::path ini = Scratch() / "settings.ini";
  form->UseSettings(std::make_unique<QSettings>(QString::fromStdString(ini.string()), QSettings::IniFormat));
  SetUpModule({.channelMask = kI | kII | kIII, .items = {{"AmpBox", "Stage 3"}}});
  EXPECT_EQ(Caption("CalibrationLabel"), "Uncalibrated: values in steps");
  Click("ReadButton");
  ASSERT_TRUE(Shown("MarkerButton"));
  ASSERT_TRUE(Shown("HeartPanel"));
  Click("IdentButton");
  ASSERT_TRUE(WaitUntil([&] { return Shown("IdentBox"); }));
  Click("IdentHideButton");
  Click("CalButton");
  EXPECT_EQ(Caption("CalibrationLabel"), "Calibration: measuring the 1 mV rectangle...");
  ASSERT_TRUE(WaitUntil([&] { return Caption("CalibrationLabel").rfind("Calibrated", 0) == 0; }))
      << Caption("CalibrationLabel");
  EXPECT_EQ(Caption("CalibrationLabel"), "Calibrated, stage 3: 60.0 steps/mV; I..III within 0.0 %");
  EXPECT_TRUE(Shown("StatusBox")) << "opened to say what was found";
  Click("MarkerButton");
  const int markedAt = Count() + 1;
  const QRegularExpression heart(QStringLiteral("^HR: 7[123] \\(module 72\\)$"));
  EXPECT_TRUE(WaitUntil([&] { return heart.match(QString::fromStdString(Caption("HeartPanel"))).hasMatch(); },
                        std::chrono::seconds(20)))
      << Caption("HeartPanel");

  const std::filesystem::path log = Scratch() / "measured.log";
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {log.string()};
  Click("ReadButton");
  EXPECT_FALSE(Shown("MarkerButton"));
  // The review marks the tool's beats: about one every 0.83 s at 100/s.
  const std::vector<int>& beats = form->Review().Beats();
  ASSERT_GE(beats.size(), 3u);
  EXPECT_NEAR(beats.back() - beats[beats.size() - 2], 83, 3);
  const std::optional<RecordingSidecar> sidecar = ReadSidecar((Scratch() / "measured.json").string());
  ASSERT_TRUE(sidecar);
  ASSERT_EQ(sidecar->markers.size(), 2u);
  EXPECT_EQ(sidecar->markers[0].text, "1 mV calibration") << "the rectangle is annotated";
  EXPECT_GE(sidecar->markers[1].record, markedAt);
  EXPECT_EQ(RecordMarker(form->Store().At(static_cast<int>(sidecar->markers[1].record))), 2);
  ASSERT_TRUE(sidecar->calibration);
  EXPECT_EQ(sidecar->calibration->stage, 3);
  ASSERT_EQ(sidecar->calibration->leads.size(), 3u);
  EXPECT_DOUBLE_EQ(sidecar->calibration->leads[1].stepsPerMv, 60);
  ASSERT_TRUE(sidecar->heartRate && sidecar->heartRate->toolBpm);
  EXPECT_NEAR(*sidecar->heartRate->toolBpm, 72, 2);
  EXPECT_EQ(sidecar->heartRate->moduleBpm, 72);
  // Kept for this module at this stage: the settings file names it.
  std::ostringstream kept;
  kept << std::ifstream(ini).rdbuf();
  EXPECT_NE(kept.str().find("stage3=\"I=60.000@128.000"), std::string::npos);
}

}  // namespace
