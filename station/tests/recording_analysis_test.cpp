// What the station measures in recorded records: which leads a set-up
// records, the calibration found after "K" and the tool's heart rate against
// the module's.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QSettings>
#include <cmath>
#include <cstdio>
#include <memory>

#include "station/CalibrationMemory.h"
#include "station/LiveHeartRate.h"
#include "station/RecordingAnalysis.h"
#include "station/RecordingMeasures.h"

namespace {

std::vector<std::string> Names(const std::vector<LeadTrace>& leads) {
  std::vector<std::string> names;
  for (const LeadTrace& lead : leads) names.push_back(lead.name);
  return names;
}

// Records at 100/s: every lead at 100 steps, then 1 mV (40 steps) above it
// for 2 s from 0.5 s on, in twelve-channel mode; lead II `gainII` times as high.
std::unique_ptr<SampleStore> Rectangle(double gainII) {
  auto store = std::make_unique<SampleStore>();
  for (int n = 0; n < 300; ++n) {
    const bool high = n >= 50 && n < 250;
    SampleRecord& r = store->At(store->Append());
    for (std::size_t c = 0; c < 7; ++c)
      r.channels[c] = static_cast<std::uint8_t>(100 + (high ? std::lround(40 * (c == 1 ? gainII : 1.0)) : 0));
    for (std::uint8_t& chest : r.chest) chest = static_cast<std::uint8_t>(high ? 140 : 100);
  }
  return store;
}

TEST(RecordingAnalysis, TheLeadsOfTheSetUpInTheModulesOrderWithoutTheRespirationChannel) {
  const auto store = Rectangle(1.0);
  EXPECT_EQ(Names(RecordedLeads(*store, 1, 3, true, {})),
            (std::vector<std::string>{"I", "II", "III", "aVR", "aVL", "aVF", "C1", "C2", "C3", "C4", "C5", "C6"}));
  const std::vector<LeadTrace> some =
      RecordedLeads(*store, 50, 52, false, {true, false, true, false, false, false, false, true});
  EXPECT_EQ(Names(some), (std::vector<std::string>{"I", "III"}));
  EXPECT_EQ(some[0].samples, (std::vector<int>{100, 140, 140})) << "slots 50..52";
  EXPECT_EQ(BeatLead(some)->name, "I") << "without II, the first lead";
  EXPECT_EQ(BeatLead(RecordedLeads(*store, 1, 3, true, {}))->name, "II");
  EXPECT_EQ(BeatLead({}), nullptr);
}

TEST(RecordingAnalysis, TheCalibrationFoundIsWordedAndKeptPerLeadAtItsStage) {
  const auto store = Rectangle(1.1);
  const CalibrationResult found = FindCalibration(AsLeadSamples(RecordedLeads(*store, 1, 300, true, {})), 100);
  const std::string text = CalibrationText(found, 2);
  EXPECT_EQ(text.rfind("Calibrated, stage 2: ", 0), 0u) << text;
  EXPECT_NE(text.find("II 10.0 % off the others"), std::string::npos) << text;
  const SidecarCalibration kept = SidecarCalibrationOf(found, 2);
  EXPECT_EQ(kept.stage, 2);
  ASSERT_EQ(kept.leads.size(), 12u);
  EXPECT_EQ(kept.leads[1].lead, "II");
  EXPECT_DOUBLE_EQ(kept.leads[1].stepsPerMv, 44);
  EXPECT_DOUBLE_EQ(kept.leads[0].zero, 100);

  const auto flat = std::make_unique<SampleStore>();
  for (int n = 0; n < 300; ++n) flat->Append();
  const CalibrationResult none = FindCalibration(AsLeadSamples(RecordedLeads(*flat, 1, 300, true, {})), 100);
  EXPECT_EQ(CalibrationText(none, 3), "Calibration, stage 3: No rectangle found");
  EXPECT_TRUE(SidecarCalibrationOf(none, 3).leads.empty()) << "no figure is guessed";
}

TEST(RecordingAnalysis, TheToolAndTheModuleDisagreeOnlyBeyondFiveBeatsPerMinute) {
  const ToolHeartRate tool{"II", 80.0, 20};
  EXPECT_EQ(HeartRateDisagreement(tool, 75.0), std::nullopt);
  EXPECT_EQ(HeartRateDisagreement(tool, 72.0), "the tool counts 80 bpm in II, the module says 72 bpm");
  EXPECT_EQ(HeartRateDisagreement(tool, std::nullopt), std::nullopt);
  EXPECT_EQ(HeartRateDisagreement(ToolHeartRate{"II", std::nullopt, 1}, 72.0), std::nullopt);

  EXPECT_EQ(MedianOf({}), std::nullopt);
  EXPECT_EQ(MedianOf({72, 90, 71}), 72.0);
  EXPECT_EQ(MedianOf({70, 74, 0, 200}), 72.0);
  const SidecarHeartRate heart = SidecarHeartRateOf(tool, 72.0);
  EXPECT_EQ(heart.toolBpm, 80.0);
  EXPECT_EQ(heart.moduleBpm, 72.0);
  EXPECT_EQ(heart.beats, 20);
  EXPECT_EQ(SidecarHeartRateOf(ToolHeartRate{}, std::nullopt).beats, std::nullopt) << "no lead, no count";
}

}  // namespace

namespace {

// A QRS-like spike (40 ms up, 40 ms down, 60 steps high) every `interval` s.
SampleRecord SpikeRecord(long long n, double rate, double interval) {
  const double t = std::fmod(static_cast<double>(n) / rate, interval);
  const double height = t < 0.04 ? t / 0.04 : (t < 0.08 ? (0.08 - t) / 0.04 : 0.0);
  SampleRecord record{};
  record.channels.fill(100);
  record.channels[1] = static_cast<std::uint8_t>(100 + std::lround(60 * height));
  return record;
}

TEST(LiveHeartRate, CountsTheBeatLeadAsRecordsComeAndForgetsARateWhenTheBeatsStop) {
  EXPECT_EQ(LiveHeartRate(150, true, {}).Lead(), "II");
  EXPECT_EQ(LiveHeartRate(150, false, {true, false, true, false, false, false, false, false}).Lead(), "I");
  LiveHeartRate respirationOnly(150, false, {false, false, false, false, false, false, false, true});
  EXPECT_EQ(respirationOnly.Lead(), "");
  respirationOnly.Add(SpikeRecord(0, 150, 0.8));
  EXPECT_EQ(respirationOnly.Finish().bpm, std::nullopt);

  for (const double rate : {50.0, 150.0, 300.0}) {
    LiveHeartRate live(rate, true, {});
    long long n = 0;
    for (; n < static_cast<long long>(20 * rate); ++n) live.Add(SpikeRecord(n, rate, 0.8));
    ASSERT_TRUE(live.RecentBpm()) << rate;
    EXPECT_NEAR(*live.RecentBpm(), 75, 1) << rate;
    SampleRecord flat{};
    flat.channels.fill(100);
    for (const long long end = n + static_cast<long long>(5 * rate); n < end; ++n) live.Add(flat);
    EXPECT_EQ(live.RecentBpm(), std::nullopt) << "no beat for 5 s at " << rate;
    const ToolHeartRate whole = live.Finish();
    ASSERT_TRUE(whole.bpm) << rate;
    EXPECT_NEAR(*whole.bpm, 75, 1) << rate;
    EXPECT_NEAR(static_cast<double>(whole.beats), 25, 2) << rate;
  }
}

}  // namespace

namespace {

TEST(CalibrationMemory, KeepsEachModulesStageApartAndRefusesAFigureEditedIntoNonsense) {
  const std::string path = testing::TempDir() + "calibration-memory-" + std::to_string(::getpid()) + ".ini";
  QSettings settings(QString::fromStdString(path), QSettings::IniFormat);
  const SidecarCalibration stage2{2, {{"I", 40.0, 128.0}, {"II", 44.5, 127.25}}};
  const std::string module = "ECG-SIM 1.0\x01/[x]";  // free text with bytes no key may hold
  RememberCalibration(settings, module, stage2);
  RememberCalibration(settings, "", stage2);
  RememberCalibration(settings, "other", SidecarCalibration{3, {}});

  EXPECT_EQ(RememberedCalibration(settings, module, 2), stage2);
  EXPECT_EQ(RememberedCalibration(settings, module, 3), std::nullopt) << "no figure from another stage";
  EXPECT_EQ(RememberedCalibration(settings, "other module", 2), std::nullopt);
  EXPECT_EQ(RememberedCalibration(settings, "other", 3), std::nullopt) << "nothing found, nothing kept";
  EXPECT_EQ(RememberedCalibration(settings, "", 2), std::nullopt);

  const QStringList keys = settings.allKeys();
  ASSERT_EQ(keys.size(), 1);
  for (const char* broken : {"I=forty@128", "I=-40@128", "I=40", "=40@128"}) {
    settings.setValue(keys.front(), QString::fromLatin1(broken));
    EXPECT_EQ(RememberedCalibration(settings, module, 2), std::nullopt) << broken;
  }
  std::remove(path.c_str());
}

}  // namespace

namespace {

TEST(RecordingMeasures, TheRectangleIsMeasuredOnceItsSecondsCameOrAtTheEndAndMarkersStopAt255) {
  const auto store = Rectangle(1.0);  // 300 records at 100/s
  RecordingMeasures waiting(100, true, {}, 2);
  waiting.CalibrationSent(1);
  for (int slot = 1; slot <= 300; ++slot) EXPECT_FALSE(waiting.Add(*store, slot)) << "4 s are 400 records";
  EXPECT_TRUE(waiting.CalibrationPending());
  EXPECT_TRUE(waiting.End(*store, 300)) << "a recording that ended sooner is measured as it is";
  EXPECT_FALSE(waiting.End(*store, 300));
  ASSERT_TRUE(waiting.FoundCalibration());
  EXPECT_EQ(waiting.FoundCalibration()->stage, 2);

  auto longer = std::make_unique<SampleStore>();
  for (int slot = 1; slot <= 300; ++slot) longer->At(longer->Append()) = store->At(slot);
  for (int slot = 1; slot <= 200; ++slot) longer->At(longer->Append()) = store->At(1);
  RecordingMeasures measures(100, true, {}, 2);
  measures.CalibrationSent(1);
  int measuredAt = 0;
  for (int slot = 1; slot <= 500 && !measuredAt; ++slot) measuredAt = measures.Add(*longer, slot) ? slot : 0;
  EXPECT_EQ(measuredAt, 400);
  EXPECT_FALSE(measures.CalibrationPending());

  for (int n = 1; n <= 255; ++n) ASSERT_EQ(measures.AddMarker(n * 10, "m")->number, n);
  EXPECT_EQ(measures.AddMarker(9999, "one too many"), std::nullopt);
  measures.PulseReceived(70);
  measures.PulseReceived(74);
  measures.End(*longer, 500);
  RecordingSidecar sidecar;
  measures.FillSidecar(sidecar, measures.FoundCalibration());
  EXPECT_EQ(sidecar.markers.size(), 255u);
  EXPECT_EQ(sidecar.markers[2].record, 30);
  EXPECT_EQ(sidecar.heartRate->moduleBpm, 72.0);
  EXPECT_TRUE(sidecar.calibration);
}

}  // namespace
