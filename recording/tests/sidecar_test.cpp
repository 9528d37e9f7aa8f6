// The sidecar NAME.json: what is written is read back unchanged, fields
// older or other writers leave out read as unknown, a field of the wrong
// type is refused with its name.
#include <gtest/gtest.h>

#include "recording/Sidecar.h"
#include "recording_support.h"

namespace {

RecordingSidecar EverythingSet() {
  RecordingSidecar s;
  s.setup = SidecarSetup{300, 2, 50, "Diagnostic", false, true, {"I", "II", "III"}, true, false};
  s.port = "/dev/ttyUSB0";
  s.identification = "Modul V1.3 \xc3\xa4 SN 42";
  s.start = LocalDateTime{{2024, 3, 5}, 50600250};
  s.records = 18000;
  s.measuredRateHz = 299.87;
  s.integrity = SidecarIntegrity{2, {{"chest", 1}, {"sample", 3}}, 1, false, 0};
  s.calibration = SidecarCalibration{2, {{"I", 40.25, 123.5}, {"C6", 39.75, 120}}};
  s.markers = {{1, 1200, LocalDateTime{{2024, 3, 5}, 50604250}, "cough"}, {2, 1500, std::nullopt, ""}};
  s.heartRate = SidecarHeartRate{72.5, 71, 80};
  s.endedAbnormally = false;
  return s;
}

TEST(Sidecar, WhatIsWrittenIsReadBackUnchanged) {
  ScratchFolder folder;
  for (const RecordingSidecar& sidecar : {EverythingSet(), RecordingSidecar{}}) {
    WriteSidecar(folder / "run.json", sidecar);
    EXPECT_EQ(ReadSidecar(folder / "run.json"), sidecar);
  }
  // Replaced in one step: no temporary file is left beside it.
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"run.json"});
}

TEST(Sidecar, MissingFieldsReadAsUnknownAndUnknownFieldsAreLeftAside) {
  const RecordingSidecar sidecar = ParseSidecarJson(
      R"({"version": 1, "setup": {"rate_hz": 150}, "calibration": {"leads": []}, "written_by": "another tool", "extra": [1, 2]})",
      "run.json");
  ASSERT_TRUE(sidecar.setup);
  EXPECT_EQ(sidecar.setup->rateHz, 150);
  EXPECT_EQ(sidecar.setup->amplificationStage, std::nullopt);
  EXPECT_EQ(sidecar.setup->emgFilter, std::nullopt);
  EXPECT_EQ(sidecar.version, kSidecarVersion);
  EXPECT_EQ(sidecar.start, std::nullopt);
  ASSERT_TRUE(sidecar.calibration);
  EXPECT_EQ(sidecar.calibration->stage, std::nullopt);
  EXPECT_EQ(sidecar.integrity, std::nullopt);
  EXPECT_TRUE(sidecar.markers.empty());
  // null is "not known" as well.
  EXPECT_EQ(ParseSidecarJson(R"({"format": "ecg-recording-sidecar", "port": null})", "run.json").port, std::nullopt);
}

struct MalformedCase {
  const char* name;
  const char* json;
  const char* text;  // what the error must say
};

class MalformedSidecar : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedSidecar, IsRefusedNamingTheFileAndTheField) {
  try {
    ParseSidecarJson(GetParam().json, "/rec/run.json");
    ADD_FAILURE() << "read";
  } catch (const ESidecarFormat& error) {
    const std::string what = error.what();
    EXPECT_EQ(what.rfind("/rec/run.json: ", 0), 0u) << what;
    EXPECT_NE(what.find(GetParam().text), std::string::npos) << what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedSidecar,
    ::testing::Values(
        MalformedCase{"NotJson", "{\"port\": ", "not JSON"}, MalformedCase{"AList", "[1]", "not a JSON object"},
        MalformedCase{"RateAsText", R"({"version": 1, "setup": {"rate_hz": "300"}})",
                      "\"setup.rate_hz\" is not a number"},
        MalformedCase{"RateWithFraction", R"({"version": 1, "setup": {"rate_hz": 300.5}})",
                      "\"setup.rate_hz\" is not a whole"},
        MalformedCase{"SetupAsNumber", R"({"version": 1, "setup": 5})", "\"setup\" is not an object"},
        MalformedCase{"FlagAsNumber", R"({"version": 1, "setup": {"emg_filter": 1}})",
                      "\"setup.emg_filter\" is not true or false"},
        MalformedCase{"ChannelAsNumber", R"({"version": 1, "setup": {"channels": ["I", 2]}})",
                      "\"setup.channels[1]\" is not a text"},
        MalformedCase{"MarkersAsObject", R"({"version": 1, "markers": {}})", "\"markers\" is not a list"},
        MalformedCase{"MarkerWithoutNumber", R"({"version": 1, "markers": [{"record": 5}]})",
                      "\"markers[0].number\" is missing"},
        MalformedCase{"MarkerNumberZero", R"({"version": 1, "markers": [{"number": 0, "record": 5}]})",
                      "\"markers[0].number\""},
        MalformedCase{"LeadWithoutZero",
                      R"({"version": 1, "calibration": {"leads": [{"lead": "I", "steps_per_mv": 40}]}})",
                      "\"calibration.leads[0].zero\" is missing"},
        MalformedCase{"RejectedAsText", R"({"version": 1, "integrity": {"rejected_frames": {"sample": "x"}}})",
                      "\"integrity.rejected_frames.sample\""},
        MalformedCase{"StartNotADate", R"({"version": 1, "start": "yesterday"})", "\"start\" is not a date and time"},
        MalformedCase{"IdentificationAsNumber", R"({"version": 1, "identification": 5})",
                      "\"identification\" is not a text"},
        MalformedCase{"NewerVersion", R"({"version": 2})", "version 2"},
        MalformedCase{"ASummaryOfTheSameName", R"({"records": 1500, "rate": 299.9})", "not a recording's sidecar"},
        MalformedCase{"AnotherFormat", R"({"format": "something-else"})", "not a recording's sidecar"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Sidecar, AMissingFileIsNoSidecarAndAFolderIsAnError) {
  ScratchFolder folder;
  EXPECT_EQ(ReadSidecar(folder / "none.json"), std::nullopt);
  EXPECT_THROW(ReadSidecar(folder.Path().string()), ERecordingFile);
}

struct PathCase {
  const char* recording;
  const char* sidecar;
};

class SidecarPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(SidecarPath, ReplacesTheFileNamesOwnExtension) {
  EXPECT_EQ(SidecarPathFor(GetParam().recording), GetParam().sidecar);
}

INSTANTIATE_TEST_SUITE_P(Names, SidecarPath,
                         ::testing::Values(PathCase{"/rec/run.dat", "/rec/run.json"},
                                           PathCase{"/rec/run.log", "/rec/run.json"},
                                           PathCase{"/rec.d/run", "/rec.d/run.json"}, PathCase{"run", "run.json"},
                                           PathCase{"a.b.dat", "a.b.json"}));

struct IsoCase {
  const char* text;
  std::optional<LocalDateTime> when;
};

class IsoDate : public ::testing::TestWithParam<IsoCase> {};

TEST_P(IsoDate, IsReadStrictly) { EXPECT_EQ(ParseIsoDateTime(GetParam().text), GetParam().when); }

INSTANTIATE_TEST_SUITE_P(Texts, IsoDate,
                         ::testing::Values(IsoCase{"2024-03-05T14:03:20.250", LocalDateTime{{2024, 3, 5}, 50600250}},
                                           IsoCase{"2024-03-05T14:03:20", LocalDateTime{{2024, 3, 5}, 50600000}},
                                           IsoCase{"2024-03-05T14:03", LocalDateTime{{2024, 3, 5}, 50580000}},
                                           IsoCase{"2024-03-05T14:03:20.5", LocalDateTime{{2024, 3, 5}, 50600500}},
                                           IsoCase{"2024-13-05T14:03:20", std::nullopt},
                                           IsoCase{"2024-03-05 14:03:20", std::nullopt},
                                           IsoCase{"2024-03-05T24:00:00", std::nullopt},
                                           IsoCase{"2024-03-05T14:03:20.", std::nullopt},
                                           IsoCase{"2024-03-05T14:03:20Z", std::nullopt}, IsoCase{"", std::nullopt}));

}  // namespace
