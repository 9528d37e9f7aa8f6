// A recording that runs into the limit of 80000 records, with the simulator
// streaming back to back at the full rate of the 115200-baud line: the
// recording stops by itself with exactly one offer to save, the files hold
// the 80000 records, and the tool goes on receiving afterwards. (Faster than
// the line the tool's input queue would rightly overflow, as a real port's.)
#include <cstdio>

#include "e2e_support.h"
#include "simulator/ModuleFrames.h"

namespace {

constexpr std::uint8_t kI = 0x01;

using EndToEndRunLimit = EndToEnd;

TEST_F(EndToEndRunLimit, EightChannelRunStopsAtTheLimitSavesOnceAndKeepsReceiving) {
  // One channel: three bytes a sample, 80000 samples 240 kB, some 23 s of
  // a full line.
  SetUpModule({.channelMask = kI, .items = {}});
  const std::filesystem::path log = Scratch() / "limit.log";
  const std::filesystem::path dat = Scratch() / "limit.dat";
  dialogs.confirmAnswers = {true};
  dialogs.saveAnswers = {log.string()};

  Click("ReadButton");
  SimulatorPace fullLine;
  fullLine.samplesPerSecond = SimulatorPace::kUnpaced;
  fullLine.capAtLineRate = true;
  sim->SetPace(fullLine);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return dialogs.ConfirmCount() >= 1; }, std::chrono::seconds(240)))
      << "the recording did not stop by itself; " << Count() << " records";
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("[ run limit ] %d records stored in %.1f s (%.0f per second)\n", Count(), seconds, Count() / seconds);

  EXPECT_EQ(Count(), SampleStore::kRunLimit);
  EXPECT_EQ(form->Store().Settings().state, AcquisitionState::Idle);
  EXPECT_EQ(Caption("ReadButton"), "Read");
  EXPECT_TRUE(Shown("SetupButton"));
  EXPECT_TRUE(Shown("PrintButton"));
  EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{}) << "the save at the limit went through";
  EXPECT_EQ(std::filesystem::file_size(dat), 24u * (SampleStore::kRunLimit + 1));

  // The stream goes on after the stop: more sample frames are handled, the
  // status frames still change what the window shows, and nothing is stored
  // or offered again.
  const std::size_t framesAtStop = tap->Samples().size();
  ASSERT_TRUE(WaitUntil([&] { return tap->Samples().size() >= framesAtStop + 5000; }))
      << "reception ended with the recording";
  const std::string raBefore = Caption("RALabel");
  sim->SetConnectionFlags(kAllLimbElectrodes & static_cast<std::uint8_t>(~cfRA), kAllChestElectrodes);
  sim->SetHeartRate(90);
  EXPECT_TRUE(WaitUntil([&] { return Caption("RALabel") != raBefore; })) << "RA still reads " << raBefore;
  EXPECT_TRUE(WaitUntil([&] { return Caption("PulsePanel") == "Pulse: 90"; })) << Caption("PulsePanel");
  sim->SetPace(SimulatorPace{});
  EXPECT_EQ(dialogs.ConfirmCount(), 1);
  EXPECT_EQ(Count(), SampleStore::kRunLimit);

  // What was stored and saved is the simulator's stream without a gap.
  ExpectUnbrokenSequence(tap->Samples(), "sample");
  const StreamMatch match = MatchStoreWithStream(form->Store(), *tap, *sim->Configuration());
  EXPECT_EQ(match.mismatches, 0);
  EXPECT_EQ(match.lastFrame - match.firstFrame + 1, SampleStore::kRunLimit);
  ExpectFilesHoldStore(log, dat, form->Store());
}

}  // namespace
