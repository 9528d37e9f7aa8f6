// Sample and chest frames: what lands in the store, what is drawn, and how a
// recording ends at the run limit.
#include <gtest/gtest.h>

#include <stdexcept>

#include "TracePlot.h"
#include "handlers_support.h"

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
  std::string Status() { return rig.view.panels[spStatus]; }

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
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SampleFrames, StatusCountsStoredPacketsWithoutSingular) {
  Recording8(kIToIII);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(Status(), "Status: Receiving... 1 packets");
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(Status(), "Status: Receiving... 2 packets");
}

TEST_F(SampleFrames, EmptySelectionStillMakesRecordsAndSweeps) {
  Recording8(kNone);
  const int start = rig.layout.CursorX;
  rig.handlers.Receive(Bytes({0xF8, 0}));
  rig.handlers.Receive(Bytes({0xF8, 0}));
  EXPECT_EQ(rig.store.Count(), 2);
  EXPECT_EQ(rig.layout.CursorX, start + 2);
  EXPECT_EQ(Status(), "Status: Receiving... 2 packets");
}

TEST_F(SampleFrames, EachEightChannelFrameIsPlottedOneColumnFurther) {
  Recording8(kIToIII);
  const int start = rig.layout.CursorX;
  EXPECT_EQ(start, rig.layout.Margin + 1);
  rig.handlers.Receive(Bytes({0xF8, 0, 128, 0, 0}));
  rig.handlers.Receive(Bytes({0xF8, 0, 128, 0, 0}));
  EXPECT_EQ(rig.layout.CursorX, start + 2);
  EXPECT_EQ(rig.layout.PrevX, start + 1);
  const int y = MapSampleToY(128, rig.layout.BandTable[ccI], rig.layout.BandTopPad);
  EXPECT_EQ(rig.layout.LastY[ccI], y);
  // The segment from the first to the second record starts on the first column.
  EXPECT_EQ(rig.canvas.PixelAt(start, y), ChannelColor(ccI));
}

TEST_F(SampleFrames, SweepPastTheRightEdgeRedrawsBeforeStoring) {
  Recording8(kIToIII);
  rig.layout.CursorX = rig.layout.RightEdge;
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));  // plotted at the right edge itself
  EXPECT_EQ(rig.layout.CursorX, rig.layout.RightEdge + 1);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  EXPECT_EQ(rig.layout.CursorX, rig.layout.Margin + 2);
  EXPECT_EQ(rig.layout.PrevX, rig.layout.Margin + 1);
  EXPECT_EQ(rig.store.Count(), 2);
}

// ---- Twelve-channel mode ----------------------------------------------------

TEST_F(SampleFrames, SampleThenChestFrameMakeOneRecordPlottedOnce) {
  Recording12();
  const int start = rig.layout.CursorX;
  rig.handlers.Receive(Bytes({0xF8, 0x55, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(rig.layout.CursorX, start) << "nothing is plotted before the chest frame";
  EXPECT_EQ(rig.store.Count(), 1);
  EXPECT_EQ(Status(), "Status: Receiving... 1 packets");

  rig.handlers.ReceiveCenter(Bytes({0xFE, 0x55, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
  EXPECT_EQ(rig.layout.CursorX, start + 1);
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

TEST_F(SampleFrames, ChestFrameBeforeTheFirstSampleFillsTheHeaderSlot) {
  Recording12();
  const int start = rig.layout.CursorX;
  rig.handlers.ReceiveCenter(ChestFrame(0x21));
  EXPECT_EQ(rig.store.Count(), 0);
  EXPECT_EQ(rig.store.At(0).chest, (Chest{0x21, 0x22, 0x23, 0x24, 0x25}));
  EXPECT_EQ(rig.layout.CursorX, start + 1);
}

TEST_F(SampleFrames, TwelveChannelSweepWrapsAtTheLeftColumn) {
  Recording12();
  rig.layout.CursorX = rig.layout.LeftColumnRight + 1;
  rig.handlers.Receive(SampleFrame12(1));
  EXPECT_EQ(rig.layout.CursorX, rig.layout.Margin + 1);
  rig.handlers.ReceiveCenter(ChestFrame(1));
  EXPECT_EQ(rig.layout.CursorX, rig.layout.Margin + 2);
}

TEST_F(SampleFrames, ChestFramesInEightChannelModeAreIgnored) {
  Recording8(kIToIII);
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  const int cursor = rig.layout.CursorX;
  rig.handlers.ReceiveCenter(ChestFrame(0x40));
  EXPECT_EQ(rig.store.At(1).chest, Chest{});
  EXPECT_EQ(rig.layout.CursorX, cursor);
}

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
  const int cursor = rig.layout.CursorX;
  rig.handlers.Receive(SampleFrame12(1));
  rig.handlers.Receive(Bytes({0xF8, 0, 1, 2, 3}));
  rig.handlers.ReceiveCenter(ChestFrame(1));
  EXPECT_EQ(rig.store.Count(), 5);
  EXPECT_EQ(rig.store.At(5).channels, before.channels);
  EXPECT_EQ(rig.store.At(5).chest, before.chest);
  EXPECT_EQ(rig.store.At(6).time, 0.0);
  EXPECT_EQ(rig.layout.CursorX, cursor);
  EXPECT_EQ(rig.view.panelWrites, 0);
}

INSTANTIATE_TEST_SUITE_P(, IdleFrames, testing::Bool(),
                         [](const auto& info) { return info.param ? "TwelveChannels" : "EightChannels"; });

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

TEST_P(RunLimit, SampleFramesAheadOfTheirChestFramesNeverPassTheLimit) {
  Recording12();
  NearLimit(kLimit - 2);
  // One received chunk: its sample frames are handled after its chest frames.
  for (int i = 0; i < 6; ++i) rig.handlers.Receive(SampleFrame12(i));
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.At(kLimit + 1).time, 0.0);
  rig.handlers.ReceiveCenter(ChestFrame(0x70));
  EXPECT_EQ(rig.store.At(kLimit).chest, Chest{});
  EXPECT_EQ(rig.view.stopCalls, 1);
}

TEST_P(RunLimit, SwitchingModeAtTheLimitStillStops) {
  // A set-up OK during a recording can leave a twelve-channel recording at the
  // limit and hand the next sample frame to the eight-channel path.
  Recording12();
  NearLimit(kLimit - 1);
  rig.handlers.Receive(SampleFrame12(1));
  rig.view.twelveChannels = false;
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
                         [](const auto& info) { return info.param ? "StopSetsIdle" : "StateLeftReceiving"; });

TEST(RunLimitFullSweep, EightyThousandFramesFillTheStoreExactlyOnce) {
  HandlerRig rig;
  rig.StartRecording();
  const std::string frame = Bytes({0xF8, 0, 0x10, 0x20, 0x30});
  for (int i = 0; i < kLimit + 500; ++i) rig.handlers.Receive(frame);
  EXPECT_EQ(rig.store.Count(), kLimit);
  EXPECT_EQ(rig.view.stopCalls, 1);
  EXPECT_EQ(rig.store.Settings().state, AcquisitionState::Idle);
  EXPECT_EQ(rig.view.panels[spStatus], "Status: Receiving... 80000 packets");
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
  EXPECT_EQ(rig.view.texts[ViewText::PulsePanel], "Pulse: 72");
  EXPECT_EQ(rig.view.stopCalls, 1);
}

TEST_F(SampleFrames, FailedSaveInTwelveChannelModeIsReportedToo) {
  Recording12();
  rig.store.SetCount(kLimit);
  rig.view.onStop = [] { throw std::runtime_error("disk full"); };
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
