// The acquisition session over a pseudo-terminal and fed by hand: what a
// set-up confirms is what frames are decoded with, the line figures, how
// recordings end, and what line trouble reports.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>
#include <utility>

#include "module/AcquisitionSession.h"
#include "module/QtMainThreadDispatcher.h"
#include "testsupport/PtyPair.h"
#include "testsupport/QtWait.h"

namespace {

class Shown : public TSessionView {
 public:
  void PulseReceived(int value) override { pulse = value; }
  void SweepRestart(bool twelveChannel, const std::array<bool, kChannelBoxCount>& channels) override {
    sweeps.emplace_back(twelveChannel, channels);
  }
  void RecordCount(int told, bool lostData) override {
    count = told;
    dataLost = lostData;
  }
  void RecordReady(int slot) override { events.push_back("ready " + std::to_string(slot)); }
  void RecordingStopped(bool stored) override { events.push_back(stored ? "stopped" : "stopped empty"); }
  void RunLimitReached() override { events.push_back("run limit"); }
  void PortLost(bool recording, int c) override {
    lost.push_back(recording);
    lostCount = c;
  }
  void PortNotAvailable(const std::string& error) override { notAvailable = error; }
  void Reconnected(bool recording) override { reconnected.push_back(recording); }
  void ReportError(const std::string& text) override { errors.push_back(text); }
  void RateOff(double measured, int expected) override { rateOffs.emplace_back(measured, expected); }

  std::vector<std::pair<double, int>> rateOffs;
  std::optional<int> pulse;
  std::vector<std::pair<bool, std::array<bool, kChannelBoxCount>>> sweeps;
  int count = -1;
  bool dataLost = false;
  std::vector<std::string> events;
  std::vector<bool> lost;
  std::vector<bool> reconnected;
  int lostCount = -1;
  std::string notAvailable;
  std::vector<std::string> errors;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

class Session : public testing::Test {
 protected:
  Session() : session(dispatcher, shown) {}

  TSetupRequest Eight(std::array<bool, 8> channels) {
    TSetupRequest request;
    request.port = pty.SlavePath();
    request.channels = channels;
    return request;
  }
  int Count() { return session.Store().Count(); }

  PtyPair pty;
  QtMainThreadDispatcher dispatcher;
  Shown shown;
  AcquisitionSession session;
};

TEST_F(Session, SetUpSendsTheCommandAndFramesAreDecodedWithTheConfirmedChannels) {
  const std::array<bool, 8> channels{true, false, true, false, false, false, false, true};
  ASSERT_TRUE(session.ApplySetup(Eight(channels)).opened);
  ASSERT_EQ(shown.sweeps.size(), 1u);
  EXPECT_EQ(shown.sweeps[0], std::make_pair(false, channels)) << "the sweep in the confirmed mode";
  const std::vector<unsigned char> command = pty.Read(18, std::chrono::seconds(5));
  ASSERT_EQ(command.size(), 18u);
  EXPECT_EQ(command[13], 0x85) << "channel mask I, III, Resp";

  session.StartRecording();
  pty.Write(Bytes({0xF8, 0, 11, 33, 77}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
  EXPECT_EQ(session.Store().At(1).channels, (std::array<std::uint8_t, 8>{11, 0, 33, 0, 0, 0, 0, 77}));

  // A second set-up during the recording switches what is decoded at once.
  TSetupRequest twelve = Eight({});
  twelve.twelveChannel = true;
  ASSERT_TRUE(session.ApplySetup(twelve).recording);
  pty.Write(Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7}) + Bytes({0xFE, 0, 21, 22, 23, 24, 25}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 2 && session.NewestRecordComplete(); }));
  EXPECT_EQ(session.Store().At(2).channels, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(session.Store().At(2).chest, (std::array<std::uint8_t, 5>{21, 22, 23, 24, 25}));
}

TEST_F(Session, APortThatCannotBeOpenedIsToldAndLeavesTheSessionClosed) {
  TSetupRequest request = Eight(ChannelBoxDefaults);
  request.port = pty.SlavePath() + "-missing";
  const TSetupResult result = session.ApplySetup(request);
  EXPECT_FALSE(result.opened);
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(shown.notAvailable, result.error);
  EXPECT_FALSE(session.Port().Connected());
  EXPECT_TRUE(shown.sweeps.empty()) << "nothing was set up";
}

TEST_F(Session, LineFiguresCountFramesBytesOutsideFramesAndTheRate) {
  auto now = std::chrono::steady_clock::time_point{};
  session.SetClock([&] { return now; });
  session.Tick();
  TSetupRequest request = Eight({true, true, true, false, false, false, false, false});
  session.Configure(request);
  session.StartRecording();
  std::string chunk = Bytes({0xF8, 0, 1, 0xFB});  // a broken frame, then a byte of none
  for (int i = 0; i < 30; ++i) chunk += Bytes({0xF8, 0, 1, 2, 3});
  chunk += Bytes({0x10, 0x20, 0x30});                // between frames: belongs to none
  chunk += Bytes({0xF9, 0, 72}) + Bytes({0xF8, 0});  // a pulse frame, a sample frame arriving
  session.Feed(chunk);
  now += std::chrono::milliseconds(500);
  session.Tick();

  const TLineQuality q = session.LineQuality();
  EXPECT_EQ(q.SampleFrames(), 30u);
  EXPECT_EQ(q.frames[1], 1u) << "pulse frames";
  EXPECT_EQ(q.bytesReceived, chunk.size());
  EXPECT_EQ(q.bytesOutsideFrames, 4u);
  EXPECT_EQ(q.framesRejected[TModuleFramers::kSampleKind], 1u);
  EXPECT_EQ(q.RejectedFrames(), 1u);
  EXPECT_DOUBLE_EQ(q.recordsPerSecond, 60.0);
  EXPECT_EQ(q.framerOverflows, 0u);
  EXPECT_EQ(q.LineErrors(), 0u) << "a noisy stream is not a line error";
  session.Port().OnError(session.Port(), TComErrors{erParity, erFraming, erRxOverflow});
  EXPECT_EQ(session.LineQuality().LineErrors(), 2u) << "a gap is counted where it is, not here";
}

TEST_F(Session, InputQueueOverflowIsToldOncePerRecordingWithoutStoppingIt) {
  session.Configure(Eight({true, true, true, false, false, false, false, false}));
  session.StartRecording();
  session.Feed(Bytes({0xF8, 0, 1, 2, 3}));
  // As the port tells it at a gap in its input queue.
  auto overflow = [&] { session.Port().OnRxOverflow(session.Port()); };
  overflow();
  EXPECT_EQ(shown.count, 1);
  EXPECT_TRUE(shown.dataLost);
  session.Feed(Bytes({0xF8, 0, 1, 2, 3}));
  overflow();
  EXPECT_TRUE(session.Recording());
  EXPECT_EQ(session.LineQuality().inputOverflows, 2u);
  EXPECT_TRUE(session.DataLostInRecording());

  session.StopRecording();
  session.StartRecording();
  EXPECT_FALSE(session.DataLostInRecording());
  session.Feed(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(shown.count, 1);
  EXPECT_FALSE(shown.dataLost);
}

TEST_F(Session, ALostPortIsToldWithTheRecordingItLeaves) {
  ASSERT_TRUE(session.ApplySetup(Eight(ChannelBoxDefaults)).opened);
  session.StartRecording();
  pty.Write(Bytes({0xF8, 0, 1, 2, 3}) + Bytes({0xF9, 0, 72}) + Bytes({0xF8, 0, 1, 2, 3}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 2; }));
  EXPECT_EQ(shown.pulse, 72);

  pty.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !shown.lost.empty(); }));
  EXPECT_EQ(shown.lost, std::vector<bool>{true});
  EXPECT_EQ(shown.lostCount, 2);
  EXPECT_FALSE(session.Port().Connected());
  EXPECT_TRUE(session.Recording()) << "the recording is kept for Stop to save";
}

// ---- How recordings end ----------------------------------------------------------

std::string Pairs(int count) {
  std::string chunk;
  for (int i = 0; i < count; ++i) chunk += Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7}) + Bytes({0xFE, 0, 8, 9, 10, 11, 12});
  return chunk;
}

struct LimitCase {
  const char* name;
  bool twelve;
  int limit;
};

class RecordLimit : public Session, public testing::WithParamInterface<LimitCase> {};

TEST_P(RecordLimit, EndsTheRecordingAtExactlyThatManyWholeRecords) {
  TSetupRequest request = Eight({true, true, true, false, false, false, false, false});
  request.twelveChannel = GetParam().twelve;
  session.Configure(request);
  session.SetRecordLimit(GetParam().limit);
  session.StartRecording();
  // More than enough in one chunk, and again after the stop.
  const std::string chunk = GetParam().twelve ? Pairs(GetParam().limit + 5) : [] {
    std::string eight;
    for (int i = 0; i < 700; ++i) eight += Bytes({0xF8, 0, 1, 2, 3});
    return eight;
  }();
  session.Feed(chunk);
  session.Feed(chunk);
  EXPECT_EQ(Count(), GetParam().limit);
  EXPECT_FALSE(session.Recording());
  ASSERT_FALSE(shown.events.empty());
  EXPECT_EQ(shown.events.back(), "stopped");
  EXPECT_EQ(shown.events[shown.events.size() - 2], "ready " + std::to_string(GetParam().limit));
  EXPECT_EQ(std::count(shown.events.begin(), shown.events.end(), "run limit"), 0);
  if (GetParam().twelve) {
    EXPECT_EQ(session.Store().At(GetParam().limit).chest[4], 12) << "the last record is whole";
  }
}

INSTANTIATE_TEST_SUITE_P(, RecordLimit,
                         testing::Values(LimitCase{"EightChannels", false, 600}, LimitCase{"TwelveChannels", true, 37},
                                         LimitCase{"One", true, 1}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Session, TheRunLimitIsToldRightAfterTheStopAndOnlyThere) {
  session.Configure(Eight({true, true, true, false, false, false, false, false}));
  session.StartRecording();
  session.Store().SetCount(SampleStore::kRunLimit - 1);
  session.Feed(Bytes({0xF8, 0, 1, 2, 3}) + Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(shown.events, (std::vector<std::string>{"ready 80000", "stopped", "run limit"}));
  session.StartRecording();
  session.StopRecording();
  EXPECT_EQ(shown.events.back(), "stopped empty");
}

class StopWhole : public Session, public testing::WithParamInterface<bool> {};

TEST_P(StopWhole, LeavesOutTheRecordStillWaitingForItsChestFrame) {
  TSetupRequest twelve = Eight({});
  twelve.twelveChannel = true;
  session.Configure(twelve);
  session.StartRecording();
  session.Feed(Pairs(3) + Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_EQ(Count(), 4);
  ASSERT_FALSE(session.NewestRecordComplete());
  if (GetParam()) {
    session.StopRecording();
  } else {
    session.StopAtCompleteRecord();
  }
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(shown.count, 3) << "the count told again";
  EXPECT_FALSE(session.Recording());
  EXPECT_EQ(shown.events.back(), "stopped");
  EXPECT_EQ(session.LineQuality().incompleteRecordsDropped, 1u);
  session.StopAtCompleteRecord();  // not recording: nothing more
  EXPECT_EQ(Count(), 3);
  for (int slot = 1; slot <= 3; ++slot) EXPECT_EQ(RecordFlags(session.Store().At(slot)), 0);
}

INSTANTIATE_TEST_SUITE_P(, StopWhole, testing::Bool(),
                         [](const auto& row) { return row.param ? "Stop" : "StopAtCompleteRecord"; });

TEST_F(Session, RecordsAroundAGapAndALostChestFrameAreMarkedAndCounted) {
  TSetupRequest twelve = Eight({});
  twelve.twelveChannel = true;
  session.Configure(twelve);
  session.StartRecording();
  session.Feed(Pairs(1) + Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7}));
  session.Port().OnRxOverflow(session.Port());  // as the port tells a gap in its input queue
  session.Feed(Pairs(1) + Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7}) + Pairs(1));
  ASSERT_EQ(Count(), 5);
  std::vector<int> flags;
  for (int slot = 1; slot <= Count(); ++slot) flags.push_back(RecordFlags(session.Store().At(slot)));
  EXPECT_EQ(flags, (std::vector<int>{0, kChestMissing, kDataLostBefore, kChestMissing, 0}));
  const TLineQuality q = session.LineQuality();
  EXPECT_EQ(q.chestMissingRecords, 2u);
  EXPECT_EQ(q.inputGaps, 1u);
  EXPECT_EQ(q.RejectedFrames(), 0u);
}

TEST_F(Session, ALostPortComesBackWithTheSetUpAndTheRecordingGoesOnMarked) {
  // The port's name stays; the device behind it goes and comes back.
  const std::string directory = testing::TempDir() + "session-reconnect-" + std::to_string(::getpid());
  auto link = std::make_optional<ScopedVirtualPort>(directory, "ECG0", pty.SlavePath());
  TSetupRequest twelve = Eight({});
  twelve.port = link->Path();
  twelve.twelveChannel = true;
  ASSERT_TRUE(session.ApplySetup(twelve).opened);
  const std::vector<unsigned char> command = pty.Read(18, std::chrono::seconds(5));
  ASSERT_EQ(command.size(), 18u);
  EXPECT_FALSE(session.TryReconnect()) << "nothing was lost";
  std::atomic<std::chrono::steady_clock::time_point> now{std::chrono::steady_clock::now()};
  session.SetClock([&] { return now.load(); });

  session.StartRecording();
  pty.Write(Pairs(2) + Bytes({0xF8, 0, 1, 2, 3, 4, 5, 6, 7}));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 3; }));
  pty.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !shown.lost.empty(); }));
  EXPECT_EQ(Count(), 2) << "the record cut off from its chest frame is left out";
  EXPECT_EQ(session.LineQuality().incompleteRecordsDropped, 1u);

  link.reset();
  EXPECT_FALSE(session.TryReconnect()) << "not back yet";
  EXPECT_TRUE(session.PortLostNow());
  EXPECT_TRUE(shown.reconnected.empty());
  now = now.load() + std::chrono::seconds(5);
  session.Tick();
  EXPECT_EQ(session.LineQuality().silentSpells, 0u) << "a lost port is not a silent module";

  PtyPair back;
  link.emplace(directory, "ECG0", back.SlavePath());
  ASSERT_TRUE(session.TryReconnect());
  EXPECT_EQ(shown.reconnected, std::vector<bool>{true});
  EXPECT_FALSE(session.PortLostNow());
  EXPECT_EQ(back.Read(18, std::chrono::seconds(5)), command) << "the confirmed set-up again";
  back.Write(Pairs(2));
  ASSERT_TRUE(WaitUntil([&] { return Count() == 4 && session.NewestRecordComplete(); }));
  session.Tick();
  EXPECT_EQ(session.LineQuality().silentSpells, 0u) << "the silence is measured from the reconnection";
  EXPECT_TRUE(session.Recording());
  EXPECT_EQ(RecordFlags(session.Store().At(2)), 0);
  EXPECT_EQ(RecordFlags(session.Store().At(3)), kDataLostBefore);
  EXPECT_EQ(RecordFlags(session.Store().At(4)), 0);
  link.reset();
  std::filesystem::remove_all(directory);
}

// ---- Every set-up and every recording starts from an empty stream ----------------

class FreshStart : public Session, public testing::WithParamInterface<bool> {};

TEST_P(FreshStart, AHalfFrameFromBeforeNeverBeginsTheFirstRecord) {
  const TSetupRequest request = Eight({true, true, true, false, false, false, false, false});
  session.Configure(request);
  session.StartRecording();
  session.Feed(Bytes({0xF8, 0, 1}));  // the rest of it never comes
  if (GetParam()) {
    session.StopRecording();
    session.StartRecording();
  } else {
    session.Configure(request);  // the same lengths: only emptying helps
  }
  session.Feed(Bytes({2, 3, 0xF8, 0, 4, 5, 6}));
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(session.Store().At(1).channels[0], 4);
}

INSTANTIATE_TEST_SUITE_P(, FreshStart, testing::Bool(), [](const auto& row) { return row.param ? "Read" : "SetUpOk"; });

// ---- What a recording is measured and marked with ------------------------------------

struct RateCase {
  const char* name;
  int transmission;  // index of the set-up's item
  int sentPerSecond;
  int seconds;  // fed in one-second steps after the first chunk
  bool off;
};

class RateCheck : public Session, public testing::WithParamInterface<RateCase> {};

TEST_P(RateCheck, ComparesTheSampleFramesSentWithTheConfirmedRateAfterTwoSeconds) {
  const RateCase& row = GetParam();
  auto now = std::chrono::steady_clock::time_point{};
  session.SetClock([&] { return now; });
  TSetupRequest request = Eight({true, false, false, false, false, false, false, false});
  request.indices.transmission = static_cast<std::uint8_t>(row.transmission);
  session.Configure(request);
  EXPECT_EQ(session.ConfirmedSetup().indices.transmission, row.transmission);
  session.StartRecording();
  std::string second;
  for (int i = 0; i < row.sentPerSecond; ++i) second += Bytes({0xF8, 0, 100});
  session.Feed(second);  // its frames start the measure
  for (int s = 0; s < row.seconds; ++s) {
    now += std::chrono::seconds(1);
    session.Feed(second);
  }
  session.Tick();
  EXPECT_EQ(session.RateIsOff(), row.off);
  EXPECT_NEAR(session.MeasuredRate(), row.sentPerSecond, 0.01);
  ASSERT_EQ(shown.rateOffs.size(), row.off ? 1u : 0u);
  if (row.off) {
    EXPECT_EQ(shown.rateOffs[0].second, session.ExpectedRate());
    for (int s = 0; s < 2; ++s) {
      now += std::chrono::seconds(1);
      session.Feed(second);
    }
    EXPECT_EQ(shown.rateOffs.size(), 1u) << "told once, however long it lasts";
  }
}

INSTANTIATE_TEST_SUITE_P(
    , RateCheck,
    testing::Values(RateCase{"AtTheSetRate", 3, 300, 3, false}, RateCase{"TwiceTheSetRate", 1, 200, 3, true},
                    RateCase{"WithinTwoPercent", 3, 295, 2, false}, RateCase{"AboveTwoPercent", 3, 307, 2, true},
                    RateCase{"BelowTwoPercent", 0, 48, 2, true}, RateCase{"TooEarlyToTell", 3, 600, 1, false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(Session, ASilentLineDuringARecordingIsCountedOncePerSpell) {
  auto now = std::chrono::steady_clock::time_point{};
  session.SetClock([&] { return now; });
  session.Configure(Eight({true, false, false, false, false, false, false, false}));
  session.Tick();
  now += std::chrono::seconds(5);
  session.Tick();
  EXPECT_EQ(session.LineQuality().silentSpells, 0u) << "no recording";

  session.StartRecording();
  session.Feed(Bytes({0xF8, 0, 1}));
  now += std::chrono::milliseconds(900);
  session.Feed(Bytes({0xF8, 0, 1}));
  session.Tick();
  EXPECT_EQ(session.LineQuality().silentSpells, 0u);
  now += std::chrono::milliseconds(1100);
  session.Tick();
  now += std::chrono::seconds(1);
  session.Tick();
  EXPECT_EQ(session.LineQuality().silentSpells, 1u) << "one spell, however many ticks it lasts";
  session.Feed(Bytes({0xF8, 0, 1}));
  now += std::chrono::milliseconds(1500);  // no tick in between: the next bytes find it
  session.Feed(Bytes({0xF8, 0, 1}));
  EXPECT_EQ(session.LineQuality().silentSpells, 2u);
  EXPECT_EQ(session.RecordingLineQuality().silentSpells, 2u);
  session.StopRecording();
  session.StartRecording();
  EXPECT_EQ(session.RecordingLineQuality().silentSpells, 0u) << "the figures of this recording alone";
  EXPECT_EQ(session.RecordingLineQuality().SampleFrames(), 0u);
}

TEST_F(Session, KeepsTheIdentificationTheStartAndAMarkerForTheNextRecord) {
  session.Configure(Eight({true, false, false, false, false, false, false, false}));
  EXPECT_FALSE(session.RecordingStartedAt());
  EXPECT_EQ(session.Identification(), "");
  const auto before = std::chrono::system_clock::now();
  session.StartRecording();
  ASSERT_TRUE(session.RecordingStartedAt());
  EXPECT_GE(*session.RecordingStartedAt(), before);

  session.Feed(Bytes({0xFD}) + "ECG 12 v3.1" + Bytes({0x00}));
  EXPECT_EQ(session.Identification(), "ECG 12 v3.1");
  session.Feed(Bytes({0xF8, 0, 1}));
  session.AddMarker(7);
  session.Feed(Bytes({0xF8, 0, 2}) + Bytes({0xF8, 0, 3}));
  ASSERT_EQ(Count(), 3);
  EXPECT_EQ(RecordMarker(session.Store().At(1)), 0);
  EXPECT_EQ(RecordMarker(session.Store().At(2)), 7);
  EXPECT_EQ(RecordMarker(session.Store().At(3)), 0) << "a marker marks one record";
}

}  // namespace
