// A recorded ECG played as the leads: which signal feeds which lead, the
// scale, the interpolation, the pulse value from the beats.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "sim_stream_support.h"
#include "simulator/RecordPlayer.h"
#include "simulator/SimulatorError.h"

namespace {
struct TestSignal {
  std::string name;
  std::vector<int> samples;
  std::string gain = "1000(0)/mV";  // steps per unit, the zero, the units
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A record "rec" in `folder` at `frequency`, one format-16 file per signal.
std::string WriteRecord(const std::string& folder, int frequency, const std::vector<TestSignal>& signals) {
  std::string header = "rec " + std::to_string(signals.size()) + " " + std::to_string(frequency) + "\n";
  for (std::size_t k = 0; k < signals.size(); ++k) {
    const std::string file = "rec_" + std::to_string(k) + ".dat";
    std::string bytes;
    for (const int value : signals[k].samples) {
      bytes.push_back(static_cast<char>(value & 0xFF));
      bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
    }
    WriteBytes(folder + "/" + file, bytes);
    header += file + " 16 " + signals[k].gain + " 16 0 0 0 0 " + signals[k].name + "\n";
  }
  WriteBytes(folder + "/rec.hea", header);
  return folder + "/rec.hea";
}

// Normal beats (code 1) at the given samples, in the MIT format.
void WriteBeats(const std::string& folder, const std::vector<int>& samples) {
  std::string bytes;
  int previous = 0;
  for (const int sample : samples) {
    const int word = 1 << 10 | (sample - previous);
    bytes.push_back(static_cast<char>(word & 0xFF));
    bytes.push_back(static_cast<char>(word >> 8));
    previous = sample;
  }
  bytes.append(2, '\0');
  WriteBytes(folder + "/rec.atr", bytes);
}

std::vector<int> Constant(int value, std::size_t count = 10) { return std::vector<int>(count, value); }

struct InterpolationCase {
  double position;
  double expected;
};

class Interpolation : public testing::TestWithParam<InterpolationCase> {};

TEST_P(Interpolation, IsLinearAndLoops) {
  EXPECT_DOUBLE_EQ(InterpolateLooped({0, 10, 20, 30}, GetParam().position), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Positions, Interpolation,
                         testing::Values(InterpolationCase{0, 0}, InterpolationCase{2, 20}, InterpolationCase{1.5, 15},
                                         InterpolationCase{3.5, 15}, InterpolationCase{4, 0},
                                         InterpolationCase{5.25, 12.5}, InterpolationCase{-0.5, 15}));

TEST(Interpolation, OfNothingIsZero) { EXPECT_EQ(InterpolateLooped({}, 3), 0); }

class RecordPlayerTest : public testing::Test {
 protected:
  ScratchDir scratch_;
};

TEST_F(RecordPlayerTest, TwoSignalsMakeLeadIIAndTheRestFollowsFromThem) {
  // The second signal in µV around a zero of 100 steps, at 2 steps per µV.
  const std::string header =
      WriteRecord(scratch_.Path(), 100, {{"MLII", {0, 500, 1000, -250}}, {"V5", {100, 700, 1100, 100}, "2(100)/uV"}});
  const RecordPlayer player(header);
  const double ii[] = {0, 0.5, 1.0, -0.25};
  const double i[] = {0, 0.3, 0.5, 0};
  for (std::size_t k = 0; k < 4; ++k) {
    const LeadVoltages leads = player.At(static_cast<double>(k) / 100);
    SCOPED_TRACE(k);
    EXPECT_DOUBLE_EQ(leads.mV[slII], ii[k]);
    EXPECT_DOUBLE_EQ(leads.mV[slI], i[k]);
    EXPECT_DOUBLE_EQ(leads.mV[slIII], ii[k] - i[k]);
    EXPECT_DOUBLE_EQ(leads.mV[slAVF], ii[k] - i[k] / 2);
    for (std::size_t chest = slC1; chest <= slC6; ++chest) EXPECT_DOUBLE_EQ(leads.mV[chest], i[k]);
  }
}

// Signal k of a twelve-signal record reads k + 1 mV.
std::vector<TestSignal> TwelveSignals(const std::vector<std::string>& names) {
  std::vector<TestSignal> signals;
  for (std::size_t k = 0; k < names.size(); ++k) {
    signals.push_back({names[k], Constant(static_cast<int>(1000 * (k + 1)))});
  }
  return signals;
}

struct TwelveLeadCase {
  const char* name;
  std::vector<std::string> names;  // of the record's signals, in file order
  std::vector<double> expected;    // mV of I..C6
};

void PrintTo(const TwelveLeadCase& c, std::ostream* os) { *os << c.name; }

class TwelveLeadRecords : public RecordPlayerTest, public testing::WithParamInterface<TwelveLeadCase> {};

TEST_P(TwelveLeadRecords, PlayEachLeadFromItsOwnSignal) {
  const RecordPlayer player(WriteRecord(scratch_.Path(), 500, TwelveSignals(GetParam().names)));
  const LeadVoltages leads = player.At(0.002);
  for (std::size_t lead = 0; lead < 12; ++lead) EXPECT_DOUBLE_EQ(leads.mV[lead], GetParam().expected[lead]) << lead;
}

INSTANTIATE_TEST_SUITE_P(Records, TwelveLeadRecords,
                         testing::Values(TwelveLeadCase{"ByNameInAnotherOrderWithMore",
                                                        {"vx", "V6", "v5", "V4", "V3", "V2", "V1", "AVF", "AVL", "AVR",
                                                         "III", "II", "I", "vz"},
                                                        {13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2}},
                                         TwelveLeadCase{"ByPositionWhenALeadIsNotNamed",
                                                        {"V6", "V5", "V4", "V3", "V2", "V1", "aVF", "aVL", "aVR", "III",
                                                         "II", "X"},
                                                        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(RecordPlayerTest, PulseValueFollowsTheAnnotatedBeats) {
  // 60 s at 250 samples per second: a beat every 0.8 s (75 per minute) for
  // 30 s, then every 0.5 s (120 per minute).
  std::vector<int> beats;
  for (int sample = 200; sample <= 7500; sample += 200) beats.push_back(sample);
  for (int sample = 7625; sample < 15000; sample += 125) beats.push_back(sample);
  const std::string header = WriteRecord(scratch_.Path(), 250, {{"MLII", Constant(0, 15000)}});
  EXPECT_EQ(RecordPlayer(header).HeartRate(20), std::nullopt) << "no annotations";
  WriteBeats(scratch_.Path(), beats);
  const RecordPlayer player(header);
  EXPECT_EQ(player.HeartRate(20), 75);
  EXPECT_EQ(player.HeartRate(50), 120);
  EXPECT_EQ(player.HeartRate(80), 75) << "the second pass";
  const double span = (beats.back() - beats.front()) / 250.0;
  const int mean = static_cast<int>(std::lround(60.0 * static_cast<double>(beats.size() - 1) / span));
  EXPECT_EQ(player.HeartRate(0.5), mean) << "before two beats have played";
}

TEST_F(RecordPlayerTest, PlaysAtTheSetRateWithoutFoldingFastWavesBack) {
  // 10 Hz and 90 Hz in equal parts at 360 samples per second: at 100 per
  // second only the 10 Hz wave may remain (90 Hz would fold onto 10 Hz).
  std::vector<int> samples;
  for (int n = 0; n < 3600; ++n) {
    const double t = n / 360.0;
    samples.push_back(static_cast<int>(
        std::lround(1000 * (std::sin(2 * std::numbers::pi * 10 * t) + std::sin(2 * std::numbers::pi * 90 * t)))));
  }
  RecordPlayer player(WriteRecord(scratch_.Path(), 360, {{"MLII", samples}}));
  player.PlayAt(100);
  for (int n = 200; n < 800; n += 7) {
    const double t = n / 100.0;
    ASSERT_NEAR(player.At(t).mV[slII], std::sin(2 * std::numbers::pi * 10 * t), 0.02) << n;
  }
}

TEST_F(RecordPlayerTest, ASignalThatIsNoVoltageIsRefused) {
  const std::string header =
      WriteRecord(scratch_.Path(), 250, {{"ECG", Constant(0)}, {"ABP", Constant(0), "100(0)/mmHg"}});
  try {
    const RecordPlayer player(header);
    ADD_FAILURE() << "played";
  } catch (const ESimulator& error) {
    EXPECT_NE(std::string(error.what()).find("ABP is in \"mmHg\", not a voltage"), std::string::npos) << error.what();
  }
}
}  // namespace
