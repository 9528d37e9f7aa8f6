// The thirteen channels read from the right bytes of a record, whose own
// order (I..C1, Resp, then C2..C6) differs from the band table's.
#include <gtest/gtest.h>

#include <utility>

#include "store/ChartChannel.h"

namespace {

TEST(ChannelSample, ReadsEachChannelsByteOfTheRecord) {
  SampleRecord record{};
  for (int i = 0; i < 8; ++i) record.channels[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(10 + i);
  for (int i = 0; i < 5; ++i) record.chest[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(30 + i);
  const std::pair<ChartChannel, int> expected[] = {{ccI, 10},   {ccII, 11}, {ccIII, 12}, {ccAVR, 13}, {ccAVL, 14},
                                                   {ccAVF, 15}, {ccC1, 16}, {ccC2, 30},  {ccC3, 31},  {ccC4, 32},
                                                   {ccC5, 33},  {ccC6, 34}, {ccResp, 17}};
  for (auto [channel, value] : expected) EXPECT_EQ(ChannelSample(record, channel), value) << "channel " << channel;
}

}  // namespace
