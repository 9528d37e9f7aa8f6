// The sidecar's fields from what the session knows of a recording.
#include <gtest/gtest.h>

#include "station/SessionSidecar.h"

namespace {

TEST(SessionSidecar, TheConfirmedSetUpIsWrittenInTheFilesOwnTerms) {
  RecordingFacts facts;
  facts.setup.port = "/dev/ttyUSB1";
  facts.setup.indices.transmission = 3;
  facts.setup.indices.amplification = 0;
  facts.setup.indices.filter = 2;
  facts.setup.indices.mode = 0;
  facts.setup.indices.pacer = 1;
  facts.setup.emg = true;
  facts.setup.channels = {false, true, false, false, false, false, false, true};
  facts.records = 1200;
  facts.measuredRateHz = 299.5;
  facts.quality.inputGaps = 2;
  facts.quality.silentSpells = 1;
  facts.quality.incompleteRecordsDropped = 1;
  facts.quality.framesRejected[TModuleFramers::kSampleKind] = 7;
  facts.identification = std::string("ECG-SIM \xB5V", 10);

  const RecordingSidecar s = SidecarFromFacts(facts);
  ASSERT_TRUE(s.setup);
  EXPECT_EQ(s.setup->rateHz, 300);
  EXPECT_EQ(s.setup->amplificationStage, 1);
  EXPECT_EQ(s.setup->mainsFilterHz, 60);
  EXPECT_EQ(s.setup->mode, "Diagnostic");
  EXPECT_EQ(s.setup->pacer, true);
  EXPECT_EQ(s.setup->emgFilter, true);
  EXPECT_EQ(s.setup->simulation, false);
  EXPECT_EQ(s.setup->twelveChannel, false);
  EXPECT_EQ(s.setup->channels, (std::vector<std::string>{"II", "Resp"}));
  EXPECT_EQ(s.port, "/dev/ttyUSB1");
  EXPECT_EQ(s.identification, "ECG-SIM \xC2\xB5V");
  EXPECT_EQ(s.records, 1200);
  EXPECT_EQ(s.measuredRateHz, 299.5);
  ASSERT_TRUE(s.integrity);
  EXPECT_EQ(s.integrity->gaps, 2);
  EXPECT_EQ(s.integrity->rejectedFrames.at("sample"), 7);
  EXPECT_EQ(s.integrity->rejectedFrames.at("chest"), 0);
  EXPECT_EQ(s.integrity->rateOff, false);
  EXPECT_EQ(s.integrity->silentSpells, 1);
  EXPECT_EQ(s.integrity->incompleteRecordsDropped, 1);
  EXPECT_FALSE(s.start);
  // What the file says reads back as it was built.
  EXPECT_EQ(ParseSidecarJson(SidecarJson(s), "test"), s);
}

TEST(SessionSidecar, TwelveChannelsNameEveryLeadAndNothingUnknownIsClaimed) {
  RecordingFacts facts;
  facts.setup.twelveChannel = true;
  const RecordingSidecar s = SidecarFromFacts(facts);
  EXPECT_EQ(s.setup->channels,
            (std::vector<std::string>{"I", "II", "III", "aVR", "aVL", "aVF", "C1", "C2", "C3", "C4", "C5", "C6"}));
  EXPECT_FALSE(s.identification);
  EXPECT_FALSE(s.measuredRateHz);
  EXPECT_FALSE(s.port);
}

TEST(SessionSidecar, TheStartIsTheLocalDateAndTimeToTheMillisecond) {
  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 5;
  local.tm_hour = 14;
  local.tm_min = 3;
  local.tm_sec = 20;
  local.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(250);
  EXPECT_EQ(LocalDateTimeOf(when), (LocalDateTime{{2024, 3, 5}, (14 * 3600 + 3 * 60 + 20) * 1000LL + 250}));
}

}  // namespace
