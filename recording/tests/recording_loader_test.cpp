// The loader's rules without a window: what a data file puts into the store
// and what the load reports, and the shape of a recording (its mode and the
// channels that hold data) decided from its records.
#include <gtest/gtest.h>

#include <cstring>

#include "recording/RecordingFiles.h"
#include "recording/RecordingLoader.h"
#include "recording/RecordingShape.h"
#include "recording_support.h"

namespace {

// A data file: the header (with the marker unless `marker` says otherwise),
// then `count` records, record n carrying n in its chest bytes, then `tail`.
std::string DataFileBytes(int count, std::uint8_t marker = kDataFileMarker, const std::string& tail = {}) {
  std::string bytes;
  SampleRecord header{};
  header.channels[0] = marker;
  bytes += RecordBytes(header);
  for (int n = 1; n <= count; ++n) {
    SampleRecord record{};
    record.time = n / 86400.0;
    std::memcpy(record.chest.data(), &n, 4);
    bytes += RecordBytes(record);
  }
  return bytes + tail;
}

struct LoadCase {
  const char* name;
  std::string bytes;
  bool headerValid;
  int records;
};

class LoadRules : public ::testing::TestWithParam<LoadCase> {
 protected:
  ScratchFolder folder;
  std::unique_ptr<SampleStore> store = std::make_unique<SampleStore>();
};

TEST_P(LoadRules, TakeWholeRecordsAfterAValidHeaderAndCountThem) {
  store->SetCount(7);  // an earlier recording
  WriteWholeFile(folder / "run.dat", GetParam().bytes);
  std::vector<int> told;
  const TLoadResult result = LoadRecordingFile(folder / "run.dat", *store, [&](int count) { told.push_back(count); });
  EXPECT_EQ(result.headerValid, GetParam().headerValid);
  EXPECT_FALSE(result.moreThanStoreHolds);
  EXPECT_FALSE(result.readError);
  EXPECT_EQ(store->Count(), GetParam().records);
  ASSERT_EQ(told.size(), static_cast<std::size_t>(GetParam().records));
  for (std::size_t i = 0; i < told.size(); ++i) EXPECT_EQ(told[i], static_cast<int>(i) + 1);
  const std::size_t headerBytes = std::min<std::size_t>(GetParam().bytes.size(), 24);
  EXPECT_EQ(RecordBytes(store->At(0)).substr(0, headerBytes), GetParam().bytes.substr(0, headerBytes))
      << "the header slot holds what was read";
}

INSTANTIATE_TEST_SUITE_P(Files, LoadRules,
                         ::testing::Values(LoadCase{"ThreeRecords", DataFileBytes(3), true, 3},
                                           LoadCase{"HeaderAlone", DataFileBytes(0), true, 0},
                                           LoadCase{"ATrailingPieceIsNoRecord",
                                                    DataFileBytes(2, kDataFileMarker, std::string(10, 'x')), true, 2},
                                           LoadCase{"WrongMarker", DataFileBytes(3, 4), false, 0},
                                           LoadCase{"ShorterThanAHeader", "0123456789", false, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(LoadRules, MoreRecordsThanTheStoreHoldsAreReportedAndTheFirstKeptOrTheAskedPart) {
  ScratchFolder folder;
  WriteWholeFile(folder / "big.dat", DataFileBytes(SampleStore::kLastSlot + 1, kDataFileMarker, "piece"));
  EXPECT_EQ(DataFileRecordCount(folder / "big.dat"), SampleStore::kLastSlot + 1) << "the piece is no record";
  auto store = std::make_unique<SampleStore>();
  const TLoadResult result = LoadRecordingFile(folder / "big.dat", *store);
  EXPECT_TRUE(result.moreThanStoreHolds);
  EXPECT_EQ(store->Count(), SampleStore::kLastSlot);
  auto numberIn = [&](int slot) {
    int n = 0;
    std::memcpy(&n, store->At(slot).chest.data(), 4);
    return n;
  };
  EXPECT_EQ(numberIn(SampleStore::kLastSlot), SampleStore::kLastSlot);

  // Records skipped, within what was read ahead and past it.
  for (const int skip : {1, 60000}) {
    const TLoadResult part = LoadRecordingFile(folder / "big.dat", *store, {}, skip);
    EXPECT_FALSE(part.moreThanStoreHolds);
    EXPECT_EQ(store->Count(), SampleStore::kLastSlot + 1 - skip);
    EXPECT_EQ(numberIn(1), skip + 1);
    EXPECT_EQ(numberIn(store->Count()), SampleStore::kLastSlot + 1);
    EXPECT_EQ(store->At(0).channels[0], kDataFileMarker) << "the header is the file's";
  }

  WriteWholeFile(folder / "other.dat", DataFileBytes(3, 4));
  EXPECT_EQ(DataFileRecordCount(folder / "other.dat"), std::nullopt);
  EXPECT_EQ(DataFileRecordCount(folder / "missing.dat"), std::nullopt);
}

TEST(LoadRules, AFileThatCannotBeOpenedThrowsAndChangesNothing) {
  ScratchFolder folder;
  auto store = std::make_unique<SampleStore>();
  store->SetCount(5);
  EXPECT_THROW(LoadRecordingFile(folder / "missing.dat", *store), ERecordingFile);
  EXPECT_EQ(store->Count(), 5);
}

// The mode and the channels from the records' bytes.
struct ShapeCase {
  const char* name;
  std::vector<std::pair<int, int>> setBytes;  // (byte offset 8..20 in the record, value) in record 2
  RecordingMode mode;
  std::vector<ChartChannel> shown;
  std::vector<ChartChannel> withData;
};

class RecordingShapeOf : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(RecordingShapeOf, FollowsFromTheBytesThatAreNotZero) {
  auto store = std::make_unique<SampleStore>();
  store->At(0).chest = {1, 1, 1, 1, 1};  // the header slot does not count
  for (int i = 0; i < 3; ++i) store->At(store->Append()) = SampleRecord{};
  for (const auto& [offset, value] : GetParam().setBytes)
    reinterpret_cast<std::uint8_t*>(&store->At(2))[offset] = static_cast<std::uint8_t>(value);
  const RecordingShape shape = DetectRecordingShape(*store);
  EXPECT_EQ(shape.mode, GetParam().mode);
  EXPECT_EQ(shape.shown, GetParam().shown);
  EXPECT_EQ(shape.withData, GetParam().withData);
}

const std::vector<ChartChannel> kAllEight(kEightChannelOrder.begin(), kEightChannelOrder.end());
const std::vector<ChartChannel> kTwelve{ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1, ccC2, ccC3, ccC4, ccC5, ccC6};

INSTANTIATE_TEST_SUITE_P(
    Records, RecordingShapeOf,
    ::testing::Values(
        ShapeCase{"AllZero", {}, RecordingMode::EightChannel, kAllEight, {}},
        ShapeCase{"LeadIOnly", {{8, 1}}, RecordingMode::EightChannel, {ccI}, {ccI}},
        ShapeCase{"IIIAndResp", {{10, 200}, {15, 3}}, RecordingMode::EightChannel, {ccIII, ccResp}, {ccIII, ccResp}},
        ShapeCase{"C1IsAnEightChannelLead", {{14, 9}}, RecordingMode::EightChannel, {ccC1}, {ccC1}},
        ShapeCase{"C2MakesTwelve", {{16, 1}}, RecordingMode::TwelveChannel, kTwelve, {ccC2}},
        ShapeCase{"C6MakesTwelve", {{8, 5}, {20, 255}}, RecordingMode::TwelveChannel, kTwelve, {ccI, ccC6}},
        ShapeCase{"TwelveWithResp", {{15, 7}, {17, 7}}, RecordingMode::TwelveChannel, kTwelve, {ccC3, ccResp}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(EightChannelBoxes, CheckTheBoxesOfTheShownChannels) {
  RecordingShape shape;
  shape.shown = {ccII, ccC1, ccResp};
  EXPECT_EQ(EightChannelBoxes(shape), (std::array<bool, 8>{false, true, false, false, false, false, true, true}));
}

TEST(ChannelNames, AreTheLeadNamesWithRespLast) {
  std::string names;
  for (ChartChannel channel : {ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1, ccC2, ccC3, ccC4, ccC5, ccC6, ccResp})
    names += std::string(ChannelName(channel)) + " ";
  EXPECT_EQ(names, "I II III aVR aVL aVF C1 C2 C3 C4 C5 C6 Resp ");
}

}  // namespace
