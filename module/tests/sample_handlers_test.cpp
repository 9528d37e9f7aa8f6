// Sample and chest frames: what lands in the store, which records are
// reported ready for the chart and when, and how a recording ends at its
// limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "handlers_support.h"
#include "module/ModuleFramers.h"

namespace {

using module_test::Bytes;
using module_test::HandlerRig;
using module_test::kFixedClock;

using Selection = std::array<bool, kChannelBoxCount>;
using Channels = std::array<std::uint8_t, 8>;
using Chest = std::array<std::uint8_t, 5>;

constexpr Selection kIToIII{true, true, true, false, false, false, false, false};
constexpr Selection kIIAndResp{false, true, false, false, false, false, false, true};
constexpr Selection kNone{};
constexpr int kLimit = TFrameHandlers::kRunLimit;

std::string SampleFrame12(int first) {
  return Bytes({0xF8, 0x00, first, first + 1, first + 2, first + 3, first + 4, first + 5, first + 6});
}
std::string ChestFrame(int first) { return Bytes({0xFE, 0x00, first, first + 1, first + 2, first + 3, first + 4}); }

class SampleFrames : public testing::Test {
 protected:
  void Recording8(const Selection& selection) {
    rig.SetUp8(selection);
    rig.StartRecording();
  }
  void Recording12() {
    rig.SetUp12();
    rig.StartRecording();
  }
  int Count() { return rig.view.count.value_or(-1); }

  HandlerRig rig;
};

// ---- Eight-channel mode -----------------------------------------------------

struct EightChannelCase {
  const char* name;
  Selection selection;
  std::string frame;
  Channels expected;
};

class EightChannelFrame : public SampleFrames, public testing::WithParamInterface<EightChannelCase> {};

TEST_P(EightChannelFrame, SelectedChannelsTakeTheBytesInOrder) {
  Recording8(GetParam().selection);
  // A slot left over from an earlier recording must be overwritten whole.
  SampleRecord& stale = rig.store.At(1);
  stale.time = 0.9;
  stale.channels.fill(0xAA);
  stale.chest.fill(0xBB);

  rig.handlers.Receive(GetParam().frame);

  ASSERT_EQ(rig.store.Count(), 1);
  const SampleRecord& record = rig.store.At(1);
  EXPECT_EQ(record.channels, GetParam().expected);
  EXPECT_EQ(record.chest, Chest{});
  EXPECT_EQ(record.time, kFixedClock);
  EXPECT_EQ(record.reserved, (std::array<std::uint8_t, 3>{}));
}

INSTANTIATE_TEST_SUITE_P(
    , EightChannelFrame,
    testing::Values(EightChannelCase{"IToIII", kIToIII, Bytes({0xF8, 0x99, 0x10, 0x20, 0x30}),
                                     Channels{0x10, 0x20, 0x30, 0, 0, 0, 0, 0}},
                    EightChannelCase{"IIAndResp", kIIAndResp, Bytes({0xF8, 0x99, 0x11, 0x22}),
                                     Channels{0, 0x11, 0, 0, 0, 0, 0, 0x22}},
                    EightChannelCase{"NoneSelected", kNone, Bytes({0xF8, 0x99}), Channels{}},
                    EightChannelCase{"AllSelected", Selection{true, true, true, true, true, true, true, true},
                                     Bytes({0xF8, 0x99, 1, 2, 3, 4, 5, 6, 7, 8}), Channels{1, 2, 3, 4, 5, 6, 7, 8}},
                    // Boxes changed after the set-up: the frame is shorter than the selection; the
                    // channels it does not carry stay 0 instead of reading past the frame.
                    EightChannelCase{"FrameShorterThanSelection", kIToIII, Bytes({0xF8, 0x99, 0x10}),
                                     Channels{0x10, 0, 0, 0, 0, 0, 0, 0}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SampleFrames, EachStoredRecordIsCounted) {
  Recording8(kIToIII);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(Count(), 1);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(Count(), 2);
  EXPECT_FALSE(rig.view.dataLost);
  rig.handlers.SetDataLost(true);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(Count(), 3);
  EXPECT_TRUE(rig.view.dataLost);
}

TEST_F(SampleFrames, EmptySelectionStillMakesRecordsAndSweeps) {
  Recording8(kNone);
  rig.handlers.Receive(Bytes({0xF8, 0}));
  rig.handlers.Receive(Bytes({0xF8, 0}));
  EXPECT_EQ(rig.store.Count(), 2);
  EXPECT_EQ(rig.view.readySlots, (std::vector<int>{1, 2}));
  EXPECT_EQ(Count(), 2);
}

TEST_F(SampleFrames, EachEightChannelRecordIsCountedThenReadyThenStopsAtTheLimit) {
  Recording8(kIToIII);
  rig.store.SetCount(kLimit - 2);
  rig.view.events.clear();
  rig.handlers.Receive(Bytes({0xF8, 0, 128, 0, 0}));
  rig.handlers.Receive(Bytes({0xF8, 0, 128, 0, 0}));
  const std::string last = std::to_string(kLimit), before = std::to_string(kLimit - 1);
  EXPECT_EQ(rig.view.events,
            (std::vector<std::string>{"count " + before, "ready " + before, "count " + last, "ready " + last, "stop"}));
  ASSERT_EQ(rig.view.readyRecords.size(), 2u);
  EXPECT_EQ(rig.view.readyRecords[1].channels[chI], 128) << "stored before it is reported ready";
}

// ---- Twelve-channel mode ----------------------------------------------------

TEST_F(SampleFrames, SampleThenChestFrameMakeOneRecordPlottedOnce) {
  Recording12();
  rig.handlers.Receive(Bytes({0xF8, 0x55, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(rig.Plotted(), 0) << "nothing is ready before the chest frame";
  EXPECT_EQ(rig.store.Count(), 1);
  EXPECT_EQ(Count(), 1);

  rig.handlers.ReceiveCenter(Bytes({0xFE, 0x55, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
  EXPECT_EQ(rig.view.readySlots, std::vector<int>{1});
  EXPECT_EQ(rig.store.Count(), 1);
  const SampleRecord& record = rig.store.At(1);
  EXPECT_EQ(record.channels, (Channels{1, 2, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(record.chest, (Chest{0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
  EXPECT_EQ(record.time, kFixedClock);
}

TEST_F(SampleFrames, ChestFrameOfTheCreatedLengthIgnoresItsLastTwoBytes) {
  Recording12();
  rig.handlers.Receive(SampleFrame12(1));
  rig.handlers.ReceiveCenter(Bytes({0xFE, 0, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x77, 0x78}));
  EXPECT_EQ(rig.store.At(1).chest, (Chest{0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
  EXPECT_EQ(rig.store.At(1).reserved, (std::array<std::uint8_t, 3>{}));
}

TEST_F(SampleFrames, NewSampleFrameClearsStaleChestBytes) {
  Recording12();
  rig.store.At(1).chest.fill(0xBB);
  rig.handlers.Receive(SampleFrame12(1));
  EXPECT_EQ(rig.store.At(1).chest, Chest{});
}

TEST_F(SampleFrames, ChestFrameBeforeTheFirstSampleIsDroppedAndLeavesTheHeaderSlotAlone) {
  Recording12();
  rig.handlers.ReceiveCenter(ChestFrame(0x21));
  EXPECT_EQ(rig.store.Count(), 0);
  EXPECT_EQ(rig.store.At(0).chest, Chest{}) << "slot 0 is the data file's header";
  EXPECT_EQ(rig.Plotted(), 0) << "nothing to plot yet";

  rig.handlers.Receive(SampleFrame12(1));
  ASSERT_EQ(rig.store.Count(), 1);
  EXPECT_EQ(rig.store.At(1).chest, Chest{}) << "its sample frame came before";
  EXPECT_EQ(rig.Plotted(), 0) << "it waits for the chest frame after it";
}

TEST_F(SampleFrames, TwelveChannelRecordsAreReadyOnceInStreamOrder) {
  Recording12();
  rig.handlers.Receive(SampleFrame12(1));
  rig.handlers.Receive(SampleFrame12(2));  // the first lost its chest frame
  EXPECT_EQ(rig.view.readySlots, std::vector<int>{1}) << "given up as the next sample frame came";
  rig.handlers.ReceiveCenter(ChestFrame(2));
  EXPECT_EQ(rig.view.readySlots, (std::vector<int>{1, 2}));
  EXPECT_EQ(rig.view.readyRecords[0].chest, Chest{}) << "given up without chest leads";
  EXPECT_EQ(RecordFlags(rig.view.readyRecords[0]), kChestMissing);
  EXPECT_EQ(rig.view.readyRecords[1].chest, (Chest{2, 3, 4, 5, 6}));
  EXPECT_EQ(RecordFlags(rig.view.readyRecords[1]), 0);
  EXPECT_EQ(rig.handlers.ChestMissingRecords(), 1u);
}

TEST_F(SampleFrames, ChestFramesInEightChannelModeAreIgnored) {
  Recording8(kIToIII);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  rig.handlers.ReceiveCenter(ChestFrame(0x40));
  EXPECT_EQ(rig.store.At(1).chest, Chest{});
  EXPECT_EQ(rig.view.readySlots, std::vector<int>{1});
}

// ---- Pairing of sample and chest frames -------------------------------------------

// Sample n of a test stream (n <= 14, so that no byte is a start byte): limb
// leads 16n .. 16n+6, chest leads 16n+8 .. 16n+12. Byte 2 is 0 throughout:
// the pairing must not rely on it.
std::string SampleOf(int n) { return SampleFrame12(16 * n); }
std::string ChestOf(int n) { return ChestFrame(16 * n + 8); }
std::string PairOf(int n) { return SampleOf(n) + ChestOf(n); }
Chest ChestLeadsOf(int n) {
  const auto first = static_cast<std::uint8_t>(16 * n + 8);
  return Chest{first, static_cast<std::uint8_t>(first + 1), static_cast<std::uint8_t>(first + 2),
               static_cast<std::uint8_t>(first + 3), static_cast<std::uint8_t>(first + 4)};
}
Channels LimbLeadsOf(int n) {
  Channels channels{};
  for (int c = 0; c < 7; ++c) channels[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(16 * n + c);
  return channels;
}

// What a record should hold: the limb leads of sample `sample` and the chest
// leads of sample `chest` (0: none).
struct Holds {
  int sample;
  int chest;
};

// Twelve channels, recording, and the window's seven framers in front of the
// handlers: each Read is one chunk read from the port.
class ChestPairing : public SampleFrames {
 protected:
  ChestPairing() : framers(rig.handlers) {}
  void SetUp() override {
    rig.SetUp12();
    framers.SetTwelveChannelSizes();
    StartRecording();
  }
  void StartRecording() { rig.StartRecording(); }
  void Read(const std::string& chunk) { framers.Feed(chunk); }

  void ExpectRecords(const std::vector<Holds>& expected) {
    ASSERT_EQ(rig.store.Count(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const SampleRecord& record = rig.store.At(static_cast<int>(i) + 1);
      EXPECT_EQ(record.channels, LimbLeadsOf(expected[i].sample)) << "record " << i + 1;
      EXPECT_EQ(record.chest, expected[i].chest ? ChestLeadsOf(expected[i].chest) : Chest{}) << "record " << i + 1;
    }
  }

  // Every record was reported ready exactly once, in order, and only once it
  // held the bytes it holds now (so after its chest leads were known).
  void ExpectEachRecordPlottedOnceInOrder() {
    const int count = rig.store.Count();
    ASSERT_EQ(rig.Plotted(), count);
    for (int slot = 1; slot <= count; ++slot) {
      const std::size_t i = static_cast<std::size_t>(slot - 1);
      EXPECT_EQ(rig.view.readySlots[i], slot);
      EXPECT_EQ(rig.view.readyRecords[i].channels, rig.store.At(slot).channels) << "record " << slot;
      EXPECT_EQ(rig.view.readyRecords[i].chest, rig.store.At(slot).chest) << "record " << slot;
    }
  }

  TModuleFramers framers;
};

TEST_F(ChestPairing, OneReadOfThreeSamplesGivesEachRecordItsOwnChestLeads) {
  Read(PairOf(1) + PairOf(2) + PairOf(3));
  ExpectRecords({{1, 1}, {2, 2}, {3, 3}});
  ExpectEachRecordPlottedOnceInOrder();
}

TEST_F(ChestPairing, SampleFrameWaitsForTheChestFrameOfALaterRead) {
  Read(PairOf(1) + SampleOf(2));
  ExpectRecords({{1, 1}, {2, 0}});
  EXPECT_EQ(rig.Plotted(), 1) << "record 2 waits for its chest leads";
  Read(ChestOf(2) + PairOf(3));
  ExpectRecords({{1, 1}, {2, 2}, {3, 3}});
  ExpectEachRecordPlottedOnceInOrder();
}

TEST_F(ChestPairing, InfoFramesBetweenTheSamplesChangeNothing) {
  const std::string pulse = Bytes({0xF9, 0x00, 72});
  const std::string status = Bytes({0xFC, 0x00, 0x5F, 0x00, 0x25, 0x01});
  Read(PairOf(1) + pulse + SampleOf(2) + status + ChestOf(2) + PairOf(3) + pulse);
  ExpectRecords({{1, 1}, {2, 2}, {3, 3}});
  ExpectEachRecordPlottedOnceInOrder();
  EXPECT_EQ(rig.view.pulse, 72);
}

// However the port cuts the stream into reads, the records are the same.
class ChestPairingSplit : public ChestPairing, public testing::WithParamInterface<std::size_t> {};

TEST_P(ChestPairingSplit, GivesTheSameRecordsAtEverySecondCut) {
  const std::string stream = PairOf(1) + PairOf(2) + PairOf(3);
  const std::size_t first = GetParam();
  // The second cut anywhere after the first, or none (stream.size()).
  for (std::size_t second = first + 1; second <= stream.size(); ++second) {
    SCOPED_TRACE("reads cut at " + std::to_string(first) + " and " + std::to_string(second));
    StartRecording();
    Read(stream.substr(0, first));
    Read(stream.substr(first, second - first));
    if (second < stream.size()) Read(stream.substr(second));
    ExpectRecords({{1, 1}, {2, 2}, {3, 3}});
    ExpectEachRecordPlottedOnceInOrder();
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(FirstCut, ChestPairingSplit, testing::Range<std::size_t>(1, 48));

TEST_F(ChestPairing, RecordingStartedBetweenASampleFrameAndItsChestFrameBeginsWithTheNextSample) {
  rig.store.Settings().state = AcquisitionState::Idle;
  Read(PairOf(1) + SampleOf(2));  // before Read: not stored
  StartRecording();
  Read(ChestOf(2) + PairOf(3) + PairOf(4));
  ExpectRecords({{3, 3}, {4, 4}});
  ExpectEachRecordPlottedOnceInOrder();
}

TEST_F(ChestPairing, StopBetweenASampleFrameAndItsChestFrameLeavesTheStoppedRecordingAsItWas) {
  Read(PairOf(1) + SampleOf(2));
  rig.store.Settings().state = AcquisitionState::Idle;  // Stop
  Read(ChestOf(2) + PairOf(3) + SampleOf(4));
  ExpectRecords({{1, 1}, {2, 0}});
  EXPECT_EQ(rig.Plotted(), 1);

  StartRecording();
  Read(ChestOf(4) + PairOf(5) + PairOf(6));
  ExpectRecords({{5, 5}, {6, 6}});
  ExpectEachRecordPlottedOnceInOrder();
}

TEST_F(ChestPairing, ChestFramesOfTheStoppedRecordingNeverReachTheNextOne) {
  // The count is reset under records still waiting (a Read right after a
  // Stop, with no frame in between).
  Read(PairOf(1) + SampleOf(2));
  StartRecording();
  Read(ChestOf(2) + PairOf(3));
  ExpectRecords({{3, 3}});
  EXPECT_EQ(rig.store.At(2).chest, Chest{});
}

// Lost frames, on a line where bytes go missing: the pairing is right again
// from the first read that shows the loss (see TFrameHandlers::ReceiveCenter).
struct LossCase {
  const char* name;
  std::vector<std::string> reads;
  std::vector<Holds> records;
};

void PrintTo(const LossCase& lossCase, std::ostream* os) { *os << lossCase.name; }

class ChestPairingLoss : public ChestPairing, public testing::WithParamInterface<LossCase> {};

TEST_P(ChestPairingLoss, NeverGiveARecordTheChestLeadsOfAnother) {
  for (const std::string& read : GetParam().reads) Read(read);
  ExpectRecords(GetParam().records);
  ExpectEachRecordPlottedOnceInOrder();
  for (int slot = 1; slot <= rig.store.Count(); ++slot) {
    const bool missing = GetParam().records[static_cast<std::size_t>(slot - 1)].chest == 0;
    EXPECT_EQ(RecordFlags(rig.store.At(slot)), missing ? kChestMissing : 0) << "record " << slot;
  }
}

INSTANTIATE_TEST_SUITE_P(
    , ChestPairingLoss,
    testing::Values(LossCase{"ChestFrameLostInALongRead",
                             {PairOf(1) + PairOf(2) + SampleOf(3) + PairOf(4) + PairOf(5) + PairOf(6) + SampleOf(7),
                              ChestOf(7) + PairOf(8)},
                             {{1, 1}, {2, 2}, {3, 0}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}}},
                    LossCase{"ChestFrameLostBetweenReadsOfWholeSamples",
                             {PairOf(1), SampleOf(2), PairOf(3), PairOf(4), SampleOf(5), ChestOf(5) + PairOf(6)},
                             {{1, 1}, {2, 0}, {3, 3}, {4, 4}, {5, 5}, {6, 6}}},
                    LossCase{"SampleFrameLost",
                             {PairOf(1) + PairOf(2) + ChestOf(3) + PairOf(4) + PairOf(5), PairOf(6) + PairOf(7)},
                             {{1, 1}, {2, 2}, {4, 4}, {5, 5}, {6, 6}, {7, 7}}},
                    LossCase{"SampleFrameLostAtTheEndOfARead",
                             {PairOf(1) + PairOf(2) + ChestOf(3), PairOf(4)},
                             {{1, 1}, {2, 2}, {4, 4}}},
                    LossCase{"ChestFrameLostWithTheNextChestFrameInTheSameRead",
                             {PairOf(1) + SampleOf(2) + PairOf(3)},
                             {{1, 1}, {2, 0}, {3, 3}}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ChestPairing, SampleFramesWithoutChestFramesAreEachPlottedAndMarkedAtTheNext) {
  constexpr int kFrames = 100;
  for (int i = 0; i < kFrames; ++i) rig.handlers.Receive(SampleOf(1));
  EXPECT_EQ(rig.store.Count(), kFrames);
  EXPECT_EQ(rig.Plotted(), kFrames - 1) << "all but the newest, which may still get its chest frame";
  rig.handlers.ReceiveCenter(ChestOf(2));
  EXPECT_EQ(rig.store.At(kFrames).chest, ChestLeadsOf(2));
  EXPECT_EQ(RecordFlags(rig.store.At(kFrames - 1)), kChestMissing);
  EXPECT_EQ(rig.handlers.ChestMissingRecords(), static_cast<std::uint64_t>(kFrames - 1));
  ExpectEachRecordPlottedOnceInOrder();
}

TEST_F(ChestPairing, ChestFramesWithoutASampleFrameRightBeforeThemAreDropped) {
  Read(PairOf(1) + ChestOf(2) + ChestOf(3) + SampleOf(4));
  ExpectRecords({{1, 1}, {4, 0}});
  EXPECT_EQ(rig.Plotted(), 1) << "record 2 waits for the chest frame after it";
  Read(ChestOf(4));
  ExpectRecords({{1, 1}, {4, 4}});
  ExpectEachRecordPlottedOnceInOrder();
}

// Refused frames and gaps: the stream broke before the next record.
struct BreakCase {
  const char* name;
  std::string stream;
  std::vector<Holds> records;
  std::vector<std::uint8_t> flags;
};

void PrintTo(const BreakCase& row, std::ostream* os) { *os << row.name; }

class ChestPairingBreak : public ChestPairing, public testing::WithParamInterface<BreakCase> {};

TEST_P(ChestPairingBreak, MarksTheRecordsAroundIt) {
  Read(GetParam().stream);
  ExpectRecords(GetParam().records);
  ExpectEachRecordPlottedOnceInOrder();
  std::vector<std::uint8_t> flags;
  for (int slot = 1; slot <= rig.store.Count(); ++slot) flags.push_back(RecordFlags(rig.store.At(slot)));
  EXPECT_EQ(flags, GetParam().flags);
}

// A sample frame of which two bytes were lost runs into the chest frame after it.
std::string BrokenSampleOf(int n) { return SampleOf(n).substr(0, 7); }
// A chest frame of which a byte was lost runs into the next sample frame.
std::string BrokenChestOf(int n) { return ChestOf(n).substr(0, 6); }

INSTANTIATE_TEST_SUITE_P(, ChestPairingBreak,
                         testing::Values(BreakCase{"RefusedSampleFrame",
                                                   PairOf(1) + BrokenSampleOf(2) + ChestOf(2) + PairOf(3),
                                                   {{1, 1}, {3, 3}},
                                                   {0, kDataLostBefore}},
                                         BreakCase{"RefusedChestFrame",
                                                   PairOf(1) + SampleOf(2) + BrokenChestOf(2) + PairOf(3) + PairOf(4),
                                                   {{1, 1}, {2, 0}, {3, 3}, {4, 4}},
                                                   {0, kChestMissing, kDataLostBefore, 0}},
                                         BreakCase{"RefusedSampleFrameBetweenASampleAndAChestFrame",
                                                   PairOf(1) + SampleOf(2) + BrokenSampleOf(3) + ChestOf(3) + PairOf(4),
                                                   {{1, 1}, {2, 0}, {4, 4}},
                                                   {0, kChestMissing, kDataLostBefore}}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ChestPairing, AGapInTheStreamMarksTheRecordAfterIt) {
  Read(PairOf(1) + SampleOf(2));
  framers.Clear();
  rig.handlers.StreamBroken();  // as the session does at an input-queue gap
  Read(ChestOf(2) + PairOf(3));
  ExpectRecords({{1, 1}, {2, 0}, {3, 3}});
  EXPECT_EQ(RecordFlags(rig.store.At(2)), kChestMissing);
  EXPECT_EQ(RecordFlags(rig.store.At(3)), kDataLostBefore);
  ExpectEachRecordPlottedOnceInOrder();
}

// The run limit with the framers' order: the limit record's chest frame may
// come in the same read (handled before it) or in the next one.
class ChestPairingAtTheLimit : public ChestPairing, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ChestPairing::SetUp();
    rig.view.stopSetsIdle = GetParam();
    rig.store.SetCount(kLimit - 2);
  }
};

TEST_P(ChestPairingAtTheLimit, LimitRecordIsCompletedFromTheSameRead) {
  int countAtStop = -1;
  Chest chestAtStop{};
  rig.view.onStop = [&] {
    countAtStop = rig.store.Count();
    chestAtStop = rig.store.At(kLimit).chest;
  };
  Read(PairOf(1) + PairOf(2) + PairOf(3) + PairOf(4));
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(countAtStop, kLimit);
  EXPECT_EQ(chestAtStop, ChestLeadsOf(2)) << "completed before the stop";
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.store.At(kLimit - 1).chest, ChestLeadsOf(1));
  EXPECT_EQ(rig.store.At(kLimit + 1).time, 0.0);
  EXPECT_EQ(rig.Plotted(), 2);
}

TEST_P(ChestPairingAtTheLimit, LimitRecordWaitsForItsChestFrameInTheNextRead) {
  Read(PairOf(1) + SampleOf(2));
  EXPECT_EQ(rig.view.stopCalls, 0);
  EXPECT_EQ(rig.store.Count(), kLimit);
  Read(ChestOf(2) + PairOf(3));
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.At(kLimit).chest, ChestLeadsOf(2));
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.Plotted(), 2);
  Read(PairOf(4) + PairOf(5));
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.At(kLimit).chest, ChestLeadsOf(2));
}

INSTANTIATE_TEST_SUITE_P(, ChestPairingAtTheLimit, testing::Bool(),
                         [](const auto& row) { return row.param ? "StopSetsIdle" : "StateLeftReceiving"; });

// ---- Idle ---------------------------------------------------------------------

class IdleFrames : public SampleFrames, public testing::WithParamInterface<bool> {};

TEST_P(IdleFrames, ChangeNothing) {
  if (GetParam()) {
    rig.SetUp12();
  } else {
    rig.SetUp8(kIToIII);
  }
  rig.store.SetCount(5);
  const SampleRecord before = rig.store.At(5);
  rig.handlers.Receive(SampleFrame12(1));
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  rig.handlers.ReceiveCenter(ChestFrame(1));
  EXPECT_EQ(rig.store.Count(), 5);
  EXPECT_EQ(rig.store.At(5).channels, before.channels);
  EXPECT_EQ(rig.store.At(5).chest, before.chest);
  EXPECT_EQ(rig.store.At(6).time, 0.0);
  EXPECT_EQ(rig.Plotted(), 0);
  EXPECT_EQ(rig.view.countsTold, 0);
}

INSTANTIATE_TEST_SUITE_P(, IdleFrames, testing::Bool(),
                         [](const auto& row) { return row.param ? "TwelveChannels" : "EightChannels"; });

// ---- Run limit ------------------------------------------------------------------

// Whether the view's stop leaves the state Idle (as the window does) or not: the
// limit must hold either way, with one offer to save.
class RunLimit : public SampleFrames, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { rig.view.stopSetsIdle = GetParam(); }
  void NearLimit(int count) { rig.store.SetCount(count); }
};

TEST_P(RunLimit, EightChannelRecordingStopsRightAfterTheLimitRecord) {
  Recording8(kIToIII);
  NearLimit(kLimit - 2);
  int countAtStop = -1;
  rig.view.onStop = [&] { countAtStop = rig.store.Count(); };
  for (int i = 0; i < 10; ++i) rig.handlers.Receive(Bytes({0xF8, 0, i, i, i}));
  EXPECT_EQ(countAtStop, kLimit);
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.store.At(kLimit).channels[chI], 1) << "the limit record is stored";
  EXPECT_EQ(rig.store.At(kLimit + 1).time, 0.0);
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_TRUE(rig.view.errors.empty());
}

TEST_P(RunLimit, TwelveChannelRecordingStopsWhenTheLimitRecordIsComplete) {
  Recording12();
  NearLimit(kLimit - 1);
  rig.handlers.Receive(SampleFrame12(1));
  EXPECT_EQ(rig.view.stopCalls, 0) << "the limit record still waits for its chest bytes";
  rig.handlers.ReceiveCenter(ChestFrame(0x30));
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.At(kLimit).chest[0], 0x30);
  for (int i = 0; i < 4; ++i) {
    rig.handlers.Receive(SampleFrame12(0x50));
    rig.handlers.ReceiveCenter(ChestFrame(0x60));
  }
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.store.At(kLimit).chest[0], 0x30) << "the finished recording's last record is kept";
  EXPECT_EQ(rig.view.stopCalls, 1);
}

TEST_P(RunLimit, ALimitRecordWhoseChestFrameNeverCameIsReplacedByTheNextSample) {
  Recording12();
  NearLimit(kLimit - 2);
  for (int i = 1; i <= 4; ++i) rig.handlers.Receive(SampleFrame12(i));
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.view.stopCalls, 0) << "the recording never ends on a record without chest leads";
  EXPECT_EQ(rig.store.At(kLimit + 1).time, 0.0);
  rig.handlers.ReceiveCenter(ChestFrame(0x70));
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.store.At(kLimit).channels[chI], 4);
  EXPECT_EQ(rig.store.At(kLimit).chest[0], 0x70);
  EXPECT_EQ(RecordFlags(rig.store.At(kLimit)), kDataLostBefore);
  EXPECT_EQ(RecordFlags(rig.store.At(kLimit - 1)), kChestMissing);
  EXPECT_EQ(rig.handlers.IncompleteRecordsDropped(), 2u);
}

TEST_P(RunLimit, SwitchingModeAtTheLimitStillStops) {
  // A set-up OK during a recording can leave a twelve-channel recording at the
  // limit and hand the next sample frame to the eight-channel path.
  Recording12();
  NearLimit(kLimit - 1);
  rig.handlers.Receive(SampleFrame12(1));
  rig.handlers.SetDecoding(false, kIToIII);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.view.stopCalls, 1);
}

TEST_P(RunLimit, EveryRecordingGetsItsOwnStop) {
  Recording8(kIToIII);
  NearLimit(kLimit - 1);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  ASSERT_EQ(rig.view.stopCalls, 1);
  rig.StartRecording();
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(rig.store.Count(), 1);
  NearLimit(kLimit - 1);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(rig.view.stopCalls, 2);
}

INSTANTIATE_TEST_SUITE_P(, RunLimit, testing::Bool(),
                         [](const auto& row) { return row.param ? "StopSetsIdle" : "StateLeftReceiving"; });

TEST(RunLimitFullSweep, EightyThousandFramesFillTheStoreExactlyOnce) {
  HandlerRig rig;
  rig.StartRecording();
  const std::string frame = Bytes({0xF8, 0, 0x10, 0x20, 0x30});
  for (int i = 0; i < kLimit + 500; ++i) rig.handlers.Receive(frame);
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.Settings().state, AcquisitionState::Idle);
  EXPECT_EQ(rig.view.count, kLimit);
}

TEST(RunLimitFullSweep, TwelveChannelPairsFillTheStoreExactlyOnce) {
  HandlerRig rig;
  rig.SetUp12();
  rig.StartRecording();
  const std::string sample = SampleFrame12(0x10);
  const std::string chest = ChestFrame(0x20);
  for (int i = 0; i < kLimit + 500; ++i) {
    rig.handlers.Receive(sample);
    rig.handlers.ReceiveCenter(chest);
  }
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.At(kLimit).chest, (Chest{0x20, 0x21, 0x22, 0x23, 0x24}));
}

// ---- Failures at the stop ---------------------------------------------------------

TEST_F(SampleFrames, FailedSaveAtTheLimitIsReportedAndReceptionGoesOn) {
  Recording8(kIToIII);
  rig.store.SetCount(kLimit - 1);
  rig.view.onStop = [] { throw std::runtime_error("Cannot create file \"/nope/x.log\""); };
  EXPECT_NO_THROW(rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3})));
  ASSERT_EQ(rig.view.errors.size(), 1u);
  EXPECT_EQ(rig.view.errors[0], "Cannot create file \"/nope/x.log\"");
  EXPECT_NO_THROW(rig.handlers.ReceivePulse(Bytes({0xF9, 0, 72})));
  EXPECT_EQ(rig.view.pulse, 72);
  EXPECT_EQ(rig.view.stopCalls, 1);
}

TEST_F(SampleFrames, FailedSaveInTwelveChannelModeIsReportedToo) {
  Recording12();
  rig.store.SetCount(kLimit - 1);
  rig.view.onStop = [] { throw std::runtime_error("disk full"); };
  rig.handlers.Receive(SampleFrame12(1));
  EXPECT_NO_THROW(rig.handlers.ReceiveCenter(ChestFrame(1)));
  EXPECT_EQ(rig.view.errors, std::vector<std::string>{"disk full"});
}

TEST_F(SampleFrames, ForeignExceptionAtTheStopIsReportedWithAGenericText) {
  Recording8(kIToIII);
  rig.store.SetCount(kLimit - 1);
  rig.view.onStop = [] { throw 42; };
  EXPECT_NO_THROW(rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3})));
  ASSERT_EQ(rig.view.errors.size(), 1u);
  EXPECT_FALSE(rig.view.errors[0].empty());
}

TEST_F(SampleFrames, FailingErrorReportStillDoesNotEndReception) {
  Recording8(kIToIII);
  rig.store.SetCount(kLimit - 1);
  rig.view.onStop = [] { throw std::runtime_error("disk full"); };
  rig.view.reportThrows = true;
  EXPECT_NO_THROW(rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3})));
  EXPECT_EQ(rig.view.errors.size(), 1u);
}

}  // namespace
