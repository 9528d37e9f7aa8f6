#pragma once
// The thirteen channels of a sample record by name, in the order the chart's
// band table and every export list them, and the byte each one reads. The
// record keeps them in another order (SampleRecord: I..C1, Resp, then
// C2..C6): ChannelSample reads the right byte.
#include <array>
#include <cstdint>

#include "store/SampleStore.h"

// Band-table order.
enum ChartChannel { ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1, ccC2, ccC3, ccC4, ccC5, ccC6, ccResp };
inline constexpr int kChartChannelCount = 13;

// The eight eight-channel check boxes in their order (CH_I .. CH_RE) and the
// channel each one selects.
inline constexpr std::array<ChartChannel, 8> kEightChannelOrder{ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF, ccC1, ccResp};
// The two columns of twelve-channel mode.
inline constexpr std::array<ChartChannel, 6> kLimbLeads{ccI, ccII, ccIII, ccAVR, ccAVL, ccAVF};
inline constexpr std::array<ChartChannel, 6> kChestLeads{ccC1, ccC2, ccC3, ccC4, ccC5, ccC6};

// The byte of `channel` in a record.
constexpr std::uint8_t ChannelSample(const SampleRecord& record, ChartChannel channel) {
  switch (channel) {
    case ccI: return record.channels[chI];
    case ccII: return record.channels[chII];
    case ccIII: return record.channels[chIII];
    case ccAVR: return record.channels[chAVR];
    case ccAVL: return record.channels[chAVL];
    case ccAVF: return record.channels[chAVF];
    case ccC1: return record.channels[chC1];
    case ccC2: return record.chest[0];
    case ccC3: return record.chest[1];
    case ccC4: return record.chest[2];
    case ccC5: return record.chest[3];
    case ccC6: return record.chest[4];
    case ccResp: return record.channels[chResp];
  }
  return 0;
}
