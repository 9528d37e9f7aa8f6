#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "simulator/SyntheticEcg.h"

namespace {
constexpr double kSampleRate = 300.0;

TEST(SyntheticEcg, LimbLeadsFollowEinthovenAndGoldberger) {
  const SyntheticEcg ecg(72);
  for (double t = 0; t < 5.0; t += 0.001) {
    const LeadVoltages v = ecg.At(t);
    const double i = v.mV[slI], ii = v.mV[slII];
    ASSERT_NEAR(v.mV[slII], i + v.mV[slIII], 1e-12) << "at " << t;
    ASSERT_NEAR(v.mV[slAVR], -(i + ii) / 2, 1e-12);
    ASSERT_NEAR(v.mV[slAVL], i - ii / 2, 1e-12);
    ASSERT_NEAR(v.mV[slAVF], ii - i / 2, 1e-12);
  }
}

TEST(SyntheticEcg, LimbLeadBytesAgreeWithinRounding) {
  const SyntheticEcg ecg(72);
  for (int stage = 0; stage < 4; ++stage) {
    for (double t = 0; t < 3.0; t += 1 / kSampleRate) {
      const SampleBytes b = SyntheticEcg::ToBytes(ecg.At(t), stage);
      auto mv = [&](int channel) { return b.channels[static_cast<std::size_t>(channel)] - 128.0; };
      ASSERT_LE(std::abs(mv(slII) - (mv(slI) + mv(slIII))), 1.0) << "stage " << stage << " at " << t;
      ASSERT_LE(std::abs(mv(slAVR) + (mv(slI) + mv(slII)) / 2), 1.5);
      ASSERT_LE(std::abs(mv(slAVL) - (mv(slI) - mv(slII) / 2)), 1.5);
      ASSERT_LE(std::abs(mv(slAVF) - (mv(slII) - mv(slI) / 2)), 1.5);
    }
  }
}

class HeartRates : public testing::TestWithParam<int> {};

TEST_P(HeartRates, BytesStayClearOfFrameStartsAtTheDefaultStage) {
  const SyntheticEcg ecg(GetParam());
  for (double t = 0; t < 10.0; t += 1 / kSampleRate) {
    const SampleBytes b = SyntheticEcg::ToBytes(ecg.At(t), 1);
    for (std::uint8_t value : b.channels) ASSERT_TRUE(value >= 40 && value <= 215) << int(value) << " at " << t;
    for (std::uint8_t value : b.chest) ASSERT_TRUE(value >= 40 && value <= 215) << int(value) << " at " << t;
  }
}

TEST_P(HeartRates, OneRWavePerBeat) {
  const SyntheticEcg ecg(GetParam());
  int peaks = 0;
  double before = 0, previous = 0;
  for (double t = 0; t < 60.0; t += 1 / kSampleRate) {
    const double now = ecg.At(t).mV[slII];
    if (previous > 0.6 && previous >= before && previous > now) ++peaks;
    before = previous;
    previous = now;
  }
  EXPECT_NEAR(peaks, GetParam(), 1);
}

INSTANTIATE_TEST_SUITE_P(Rates, HeartRates, testing::Values(30, 60, 72, 120, 180, 240));

TEST(SyntheticEcg, HigherStagesAmplifyMore) {
  const SyntheticEcg ecg(72);
  int previousSwing = 0;
  for (int stage = 0; stage < 4; ++stage) {
    int low = 255, high = 0;
    for (double t = 0; t < 2.0; t += 1 / kSampleRate) {
      const int value = SyntheticEcg::ToBytes(ecg.At(t), stage).channels[slII];
      low = std::min(low, value);
      high = std::max(high, value);
    }
    EXPECT_GT(high - low, previousSwing) << "stage " << stage + 1;
    previousSwing = high - low;
  }
}

TEST(SyntheticEcg, StrongSignalsClampToTheByteRange) {
  EXPECT_EQ(SyntheticEcg::ToByte(0.0, 1), 128);
  EXPECT_EQ(SyntheticEcg::ToByte(1.0, 1), 128 + SyntheticEcg::Gain(1));
  EXPECT_EQ(SyntheticEcg::ToByte(10.0, 3), 255);
  EXPECT_EQ(SyntheticEcg::ToByte(-10.0, 3), 0);
}

TEST(SyntheticEcg, ChestLeadsProgressFromDeepSToTallR) {
  const SyntheticEcg ecg(72);
  std::array<double, 6> low{}, high{};
  for (double t = 0; t < 2.0; t += 0.001) {
    const LeadVoltages v = ecg.At(t);
    for (std::size_t c = 0; c < 6; ++c) {
      low[c] = std::min(low[c], v.mV[slC1 + c]);
      high[c] = std::max(high[c], v.mV[slC1 + c]);
    }
  }
  EXPECT_LT(low[0], -0.5);  // C1: deep S
  EXPECT_LT(high[0], std::abs(low[0]));
  EXPECT_GT(high[4], 1.0);  // C5: tall R
  EXPECT_GT(high[4], std::abs(low[4]));
  for (int c = 1; c < 4; ++c) EXPECT_GT(high[static_cast<std::size_t>(c)], high[0]);
}

TEST(SyntheticEcg, RespirationBreathesAtItsRate) {
  const SyntheticEcg ecg(72, 15);
  int breaths = 0;
  double previous = ecg.At(0).respiration;
  for (double t = 1 / kSampleRate; t < 60.0; t += 1 / kSampleRate) {
    const double now = ecg.At(t).respiration;
    if (previous < 0 && now >= 0) ++breaths;
    previous = now;
  }
  EXPECT_NEAR(breaths, 15, 1);
  const SampleBytes b = SyntheticEcg::ToBytes(ecg.At(1.0), 1);  // a quarter breath: the top
  EXPECT_EQ(b.channels[7], 128 + SyntheticEcg::kRespirationSwing);
}

TEST(SyntheticEcg, CalibrationPutsOneMillivoltOnEveryLead) {
  const SyntheticEcg ecg(72);
  const LeadVoltages normal = ecg.At(0.3);
  const SampleBytes b = SyntheticEcg::ToBytes(SyntheticEcg::Calibration(normal), 1);
  const int oneMillivolt = 128 + static_cast<int>(SyntheticEcg::Gain(1));
  for (int c = 0; c < 7; ++c) EXPECT_EQ(b.channels[static_cast<std::size_t>(c)], oneMillivolt);
  for (std::uint8_t value : b.chest) EXPECT_EQ(value, oneMillivolt);
  EXPECT_EQ(b.channels[7], SyntheticEcg::ToBytes(normal, 1).channels[7]);
}

TEST(SyntheticEcg, RatesAreKeptPlausible) {
  SyntheticEcg ecg(72);
  ecg.SetHeartRate(1000);
  EXPECT_EQ(ecg.HeartRate(), 250);
  ecg.SetHeartRate(0);
  EXPECT_EQ(ecg.HeartRate(), 20);
  ecg.SetRespirationRate(0);
  EXPECT_EQ(ecg.RespirationRate(), 1);
}
}  // namespace
