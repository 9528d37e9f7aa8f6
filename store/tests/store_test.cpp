#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "store/SampleStore.h"

namespace {

std::array<std::uint8_t, 24> BytesOf(const SampleRecord& record) {
  std::array<std::uint8_t, 24> bytes{};
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

bool IsZero(const SampleRecord& record) {
  const auto bytes = BytesOf(record);
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// What a sample frame does to the slot it creates: every field but the reserved bytes.
void WriteSample(SampleRecord& record, double time, std::uint8_t value) {
  record.time = time;
  record.channels.fill(value);
  record.chest.fill(value);
}

// ---- The record is the data file's record --------------------------------

TEST(SampleRecordLayout, BytesLieAsInTheDataFile) {
  SampleRecord record{};
  record.time = 0.5;  // IEEE-754 0x3FE0000000000000, little-endian
  for (int i = 0; i < 8; ++i) record.channels[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x10 + i);
  for (int i = 0; i < 5; ++i) record.chest[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x20 + i);
  record.reserved = {0xA1, 0xA2, 0xA3};
  const std::array<std::uint8_t, 24> expected{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x3F,  // time
                                              0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,  // I..Resp
                                              0x20, 0x21, 0x22, 0x23, 0x24,                    // C2..C6
                                              0xA1, 0xA2, 0xA3};
  EXPECT_EQ(BytesOf(record), expected);
}

TEST(SampleRecordLayout, ChannelIndicesFollowTheRecordOrder) {
  EXPECT_EQ(chI, 0);
  EXPECT_EQ(chAVF, 5);
  EXPECT_EQ(chC1, 6);
  EXPECT_EQ(chResp, 7);
}

TEST(AcquisitionStateCodes, IdleIsZeroAndReceivingIsThree) {
  EXPECT_EQ(static_cast<int>(AcquisitionState::Idle), 0);
  EXPECT_EQ(static_cast<int>(AcquisitionState::Receiving), 3);
}

// ---- A fresh store -----------------------------------------------------------

class SampleStoreTest : public ::testing::Test {
 protected:
  SampleStore store;
};

TEST_F(SampleStoreTest, StartsEmptyIdleAndZeroFilled) {
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.Settings().state, AcquisitionState::Idle);
  const AcquisitionSettings& s = store.Settings();
  EXPECT_EQ(s.transmission + s.amplification + s.filter + s.mode + s.pacer + s.simulation, 0);
  for (int i = 0; i <= SampleStore::kLastSlot; ++i) ASSERT_TRUE(IsZero(store.At(i))) << "slot " << i;
}

TEST_F(SampleStoreTest, SlotsAreOneContiguousArray) {
  EXPECT_EQ(&store.At(SampleStore::kLastSlot) - &store.At(0), SampleStore::kLastSlot);
  EXPECT_EQ(SampleStore::kSlotCount * sizeof(SampleRecord), 2400024u);
}

// ---- Appending -----------------------------------------------------------------

TEST_F(SampleStoreTest, AppendCreatesTheNextSlotAndItBecomesTheNewest) {
  for (int expected = 1; expected <= 5; ++expected) {
    const int index = store.Append();
    EXPECT_EQ(index, expected);
    EXPECT_EQ(store.Count(), expected);
    EXPECT_EQ(&store.Newest(), &store.At(expected));
  }
}

TEST_F(SampleStoreTest, WithNothingRecordedTheNewestIsTheHeaderSlot) {
  EXPECT_EQ(&store.Newest(), &store.At(0));
  const SampleStore& constStore = store;
  EXPECT_EQ(&constStore.Newest(), &constStore.At(0));
}

TEST_F(SampleStoreTest, ARestartedRecordingOverwritesSlotOneCompletely) {
  store.Append();
  WriteSample(store.At(1), 0.75, 0xEE);
  store.Append();
  WriteSample(store.At(2), 0.76, 0xDD);
  store.Settings().state = AcquisitionState::Receiving;

  store.BeginRecording();
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.At(1).channels[chI], 0xEE) << "slots keep their contents until overwritten";

  ASSERT_EQ(store.Append(), 1);
  WriteSample(store.Newest(), 0.25, 0x01);
  SampleRecord expected{};
  WriteSample(expected, 0.25, 0x01);
  EXPECT_EQ(BytesOf(store.At(1)), BytesOf(expected)) << "nothing of the old record survives";
  EXPECT_EQ(store.At(2).channels[chI], 0xDD);
}

TEST_F(SampleStoreTest, ARecordingStoppedAtOnceHasNoRecords) {
  store.Append();
  store.BeginRecording();
  EXPECT_EQ(store.Count(), 0);
}

TEST_F(SampleStoreTest, TheRunLimitFitsWellInsideTheStore) {
  EXPECT_EQ(SampleStore::kRunLimit, 80000);
  for (int i = 0; i < SampleStore::kRunLimit; ++i) store.Append();
  EXPECT_EQ(store.Count(), 80000);
  EXPECT_EQ(&store.Newest(), &store.At(80000));
}

// ---- Nothing passes the last slot --------------------------------------------

TEST_F(SampleStoreTest, AppendRefusesToPassTheLastSlot) {
  int last = 0;
  for (int i = 0; i < SampleStore::kLastSlot; ++i) last = store.Append();
  EXPECT_EQ(last, 100000);
  EXPECT_THROW(store.Append(), EStoreFull);
  EXPECT_EQ(store.Count(), 100000) << "a refused append changes nothing";
  EXPECT_THROW(store.Append(), EStoreFull);
}

TEST_F(SampleStoreTest, AppendAfterALoadedFullStoreIsRefused) {
  store.SetCount(SampleStore::kLastSlot);
  EXPECT_THROW(store.Append(), EStoreFull);
  store.SetCount(SampleStore::kLastSlot - 1);
  EXPECT_EQ(store.Append(), SampleStore::kLastSlot);
}

const char* const kIndexNames[] = {"MinusOne", "FarBelow", "OnePastTheLastSlot", "IntMax", "IntMin"};

class OutOfRangeIndex : public ::testing::TestWithParam<int> {};

TEST_P(OutOfRangeIndex, AccessOutsideTheSlotsIsRefused) {
  SampleStore store;
  const SampleStore& constStore = store;
  EXPECT_THROW(store.At(GetParam()), std::out_of_range);
  EXPECT_THROW(constStore.At(GetParam()), std::out_of_range);
  EXPECT_THROW(store.SetCount(GetParam()), std::out_of_range);
  EXPECT_EQ(store.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Indices, OutOfRangeIndex, ::testing::Values(-1, -100000, 100001, 2147483647, -2147483647 - 1),
                         [](const auto& row) { return std::string(kIndexNames[row.index]); });

TEST_F(SampleStoreTest, SetCountAcceptsTheWholeRange) {
  for (int count : {0, 1, 80000, 80001, 100000}) {
    store.SetCount(count);
    EXPECT_EQ(store.Count(), count);
  }
}

// ---- Reserved bytes ------------------------------------------------------------

TEST_F(SampleStoreTest, AcquisitionLeavesTheReservedBytesZero) {
  for (int i = 0; i < 1000; ++i) WriteSample(store.At(store.Append()), i / 86400.0, static_cast<std::uint8_t>(i));
  store.BeginRecording();
  for (int i = 0; i < 10; ++i) WriteSample(store.At(store.Append()), 0.9, 0xFF);
  for (int i = 0; i <= SampleStore::kLastSlot; ++i) {
    const auto& reserved = store.At(i).reserved;
    ASSERT_TRUE(reserved[0] == 0 && reserved[1] == 0 && reserved[2] == 0) << "slot " << i;
  }
}

// ---- Settings --------------------------------------------------------------------

TEST_F(SampleStoreTest, SettingsKeepWhatWasWritten) {
  store.Settings() = AcquisitionSettings{3, 2, 1, 1, 1, 1, AcquisitionState::Receiving};
  const SampleStore& constStore = store;
  EXPECT_EQ(constStore.Settings().transmission, 3);
  EXPECT_EQ(constStore.Settings().amplification, 2);
  EXPECT_EQ(constStore.Settings().filter, 1);
  EXPECT_EQ(constStore.Settings().state, AcquisitionState::Receiving);
  store.BeginRecording();
  EXPECT_EQ(constStore.Settings().transmission, 3) << "a new recording keeps the set-up";
}

}  // namespace
